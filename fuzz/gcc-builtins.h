// Force-included into the fuzz build of the engine: clang lacks GCC's two-vector
// __builtin_shuffle, which the equalizer uses.
#pragma once
#if defined(__clang__) && defined(__cplusplus)
template <typename V, typename M> inline V __builtin_shuffle(V a, V b, M mask)
{
    constexpr int n = sizeof(V) / sizeof(a[0]);
    V out;
    for (int i = 0; i < n; ++i)
        out[i] = mask[i] < n ? a[mask[i]] : b[mask[i] - n];
    return out;
}
#endif
