// The equalizer's cascade for processors with AVX-512VL: the AVX2 cascade's eight-lane
// vectors, but with 32 vector registers, enough for three generations of outputs (bands
// three steps apart).  Compiled with -mavx512f -mavx512vl and without fused multiply-adds
// (vbmp3/CMakeLists.txt), so it rounds as the baseline does; avx512Cascade() checks the
// processor.
#include "equalizerkernel.h"

namespace vbmp3
{

CascadeKernel avx512Cascade()
{
#if defined(__x86_64__) && defined(__AVX512VL__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl"))
        return &cascadeAny<8, 3>;
#endif
    return nullptr;
}

} // namespace vbmp3
