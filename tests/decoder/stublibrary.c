/* A decoder library that lacks most of its functions, for the loader's test. */
#include <stdint.h>

__attribute__((visibility("default"))) int32_t vbmp3_init(void)
{
    return 1;
}
