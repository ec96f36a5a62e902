// The equalizer's cascade for processors with AVX2: eight lanes (four bands of two
// channels) per vector.  This file alone is compiled with -mavx2 (vbmp3/CMakeLists.txt),
// and without fused multiply-adds, so that it rounds as the baseline does; avx2Cascade()
// checks the processor.
#include "equalizerkernel.h"

namespace vbmp3
{

CascadeKernel avx2Cascade()
{
#if defined(__x86_64__) && defined(__AVX2__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2"))
        return &cascadeAny<8, 2>;
#endif
    return nullptr;
}

} // namespace vbmp3
