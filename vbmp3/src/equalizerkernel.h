// The equalizer's inner loop: a cascade of biquads over interleaved frames.  Written once
// for any vector width and compiled per instruction set: equalizer.cpp instantiates it for
// the baseline (SSE2, 4 lanes), equalizerkernel_avx2.cpp for AVX2 (8 lanes).  Both do the
// same float operations in the same order, unfused, so they give the same samples bit for
// bit.  The templates live in an unnamed namespace so that each file keeps its own copy.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vbmp3
{

// One band as the kernel runs it: coefficients (a0 = 1) and the transposed-direct-form-II
// memory of each channel.
struct BiquadState {
    float b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    float s1[2] = { 0, 0 };
    float s2[2] = { 0, 0 };
};

// Filters `frames` interleaved frames of 1 or 2 channels in place through bands[0..count)
// in order (count <= 12).
using CascadeKernel = void (*)(BiquadState **bands, int count, float *data, size_t frames, int channels);

CascadeKernel baselineCascade();
// nullptr unless built for x86-64 and the processor has AVX2.
CascadeKernel avx2Cascade();

namespace
{

// Floats per vector -> vector types.
template <int L> struct Lanes;
// shift: lanes of (previous, this) that make a vector's input; first: lanes of (frame, this)
// that make the first vector's (see Cascade::inputs).
template <> struct Lanes<4> {
    typedef float V __attribute__((vector_size(16)));
    typedef int32_t M __attribute__((vector_size(16)));
    static constexpr M shift = { 2, 3, 4, 5 };
    static constexpr M first = { 0, 1, 4, 5 };
};
template <> struct Lanes<8> {
    typedef float V __attribute__((vector_size(32)));
    typedef int32_t M __attribute__((vector_size(32)));
    static constexpr M shift = { 6, 7, 8, 9, 10, 11, 12, 13 };
    static constexpr M first = { 0, 1, 8, 9, 10, 11, 12, 13 };
};

// The cascade as a systolic array: a vector holds L/2 bands of both channels (lanes
// {left k, right k, left k+1, right k+1, ...}); at step n band j filters sample n - j,
// taking what band j - 1 made of that sample at step n - 1.  Within a step no band waits
// for another, so the vector units work on all bands at once, and every band still sees
// every sample once and in order: the result is that of the plain cascade, not delayed.
// Bands are padded with identities (b0 = 1: y = x exactly) to whole vectors.
//
// What bounds the speed is the recursion through y (every band waits for its own last
// output, and every vector for its own last outputs through the shift), so the sum is
// ordered to leave one multiplication and one subtraction after y: b1 x + s2 is ready
// before y is.
template <int L, int V> struct Cascade {
    using F = typename Lanes<L>::V;
    using M = typename Lanes<L>::M;
    static constexpr int kPerVector = L / 2;
    static constexpr int kBands = V * kPerVector;

    F b0[V], b1[V], b2[V], a1[V], a2[V];
    F s1[V], s2[V];
    F out[V] = {}; // what each band made at the last step

    static inline F filter(F x, F &s1, F &s2, F b0, F b1, F b2, F a1, F a2)
    {
        const F y = b0 * x + s1;
        s1 = (b1 * x + s2) - a1 * y;
        s2 = b2 * x - a2 * y;
        return y;
    }

    // What each vector takes at a step: the previous vector's last band and this one's
    // bands but the last, as they came out at the step before; the frame for vector 0.
    // (Built by shuffles of whole vectors: element insertions would go through memory.)
    static inline void inputs(F *x, const F *y, const float *data, size_t frame, int channels)
    {
        F in = {};
        if (channels == 2) {
            in[0] = data[2 * frame];
            in[1] = data[2 * frame + 1];
        } else {
            in[0] = data[frame];
        }
        x[0] = __builtin_shuffle(in, y[0], Lanes<L>::first);
#pragma GCC unroll 8
        for (int v = 1; v < V; ++v)
            x[v] = __builtin_shuffle(y[v - 1], y[v], Lanes<L>::shift);
    }

    static inline void store(float *data, size_t frame, int channels, F y)
    {
        if (channels == 2) {
            data[2 * frame] = y[L - 2];
            data[2 * frame + 1] = y[L - 1];
        } else {
            data[frame] = y[L - 2];
        }
    }

    // Steps where every band has a sample: no masks; the memory and the outputs stay in
    // registers, the coefficients are read where they are (not on the critical path).
    void fullSteps(size_t from, size_t to, float *data, int channels)
    {
        F ls1[V], ls2[V], y[V];
#pragma GCC unroll 8
        for (int v = 0; v < V; ++v)
            ls1[v] = s1[v], ls2[v] = s2[v], y[v] = out[v];
        for (size_t n = from; n < to; ++n) {
            F x[V];
            inputs(x, y, data, n, channels);
#pragma GCC unroll 8
            for (int v = 0; v < V; ++v)
                y[v] = filter(x[v], ls1[v], ls2[v], b0[v], b1[v], b2[v], a1[v], a2[v]);
            store(data, n - static_cast<size_t>(kBands - 1), channels, y[V - 1]);
        }
#pragma GCC unroll 8
        for (int v = 0; v < V; ++v)
            s1[v] = ls1[v], s2[v] = ls2[v], out[v] = y[v];
    }

    // A step at the start or end of the block: bands without a sample keep their memory.
    void partialStep(size_t n, size_t frames, float *data, int channels)
    {
        F x[V];
        inputs(x, out, data, n < frames ? n : 0, channels);
        for (int v = 0; v < V; ++v) {
            M busy;
            for (int i = 0; i < L; ++i) {
                const auto band = static_cast<size_t>(v * kPerVector + i / 2);
                busy[i] = n >= band && n - band < frames ? -1 : 0;
            }
            F ns1 = s1[v];
            F ns2 = s2[v];
            const F y = filter(x[v], ns1, ns2, b0[v], b1[v], b2[v], a1[v], a2[v]);
            s1[v] = busy ? ns1 : s1[v];
            s2[v] = busy ? ns2 : s2[v];
            out[v] = busy ? y : out[v];
        }
        const auto last = static_cast<size_t>(kBands - 1);
        if (n >= last && n - last < frames)
            store(data, n - last, channels, out[V - 1]);
    }

    void run(BiquadState **bands, int count, float *data, size_t frames, int channels)
    {
        const BiquadState identity;
        for (int v = 0; v < V; ++v) {
            for (int i = 0; i < L; ++i) {
                const int j = v * kPerVector + i / 2;
                const BiquadState &s = j < count ? *bands[j] : identity;
                const int c = i % 2;
                b0[v][i] = s.b0, b1[v][i] = s.b1, b2[v][i] = s.b2, a1[v][i] = s.a1, a2[v][i] = s.a2;
                s1[v][i] = s.s1[c], s2[v][i] = s.s2[c];
            }
        }
        const auto last = static_cast<size_t>(kBands - 1);
        const size_t fullFrom = last < frames ? last : frames;
        const size_t fullTo = frames > fullFrom ? frames : fullFrom;
        for (size_t n = 0; n < fullFrom; ++n)
            partialStep(n, frames, data, channels);
        if (fullTo > fullFrom)
            fullSteps(fullFrom, fullTo, data, channels);
        for (size_t n = fullTo; n < frames + last; ++n)
            partialStep(n, frames, data, channels);
        for (int j = 0; j < count; ++j) {
            const int v = j / kPerVector;
            const int i = 2 * (j % kPerVector);
            for (int c = 0; c < channels; ++c)
                bands[j]->s1[c] = s1[v][i + c], bands[j]->s2[c] = s2[v][i + c];
        }
    }
};

template <int L, int V> void cascade(BiquadState **bands, int count, float *data, size_t frames, int channels)
{
    Cascade<L, V> c;
    c.run(bands, count, data, frames, channels);
}

// The narrowest cascade that holds count bands.
template <int L> void cascadeAny(BiquadState **bands, int count, float *data, size_t frames, int channels)
{
    constexpr int per = L / 2;
    switch ((count + per - 1) / per) {
    case 1:
        return cascade<L, 1>(bands, count, data, frames, channels);
    case 2:
        return cascade<L, 2>(bands, count, data, frames, channels);
    case 3:
        return cascade<L, 3>(bands, count, data, frames, channels);
    case 4:
        return cascade<L, 4>(bands, count, data, frames, channels);
    case 5:
        return cascade<L, 5>(bands, count, data, frames, channels);
    default:
        return cascade<L, 6>(bands, count, data, frames, channels);
    }
}

} // namespace

} // namespace vbmp3
