// The equalizer's inner loop: a cascade of biquads over interleaved frames.  Written once
// for any vector width and compiled per instruction set: equalizer.cpp instantiates it for
// the baseline (SSE2, 4 lanes), equalizerkernel_avx2.cpp for AVX2 (8 lanes) and
// equalizerkernel_avx512.cpp for AVX-512VL (8 lanes, more registers).  All do the same
// float operations in the same order, unfused, so they give the same samples bit for bit.  The templates live in an
// unnamed namespace so that each file keeps its own copy.
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
// nullptr unless built for x86-64 and the processor has AVX2 (AVX-512F and VL).
CascadeKernel avx2Cascade();
CascadeKernel avx512Cascade();

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
// {left k, right k, left k+1, right k+1, ...}); at step n band j filters sample n - S j,
// taking what band j - 1 made of that sample at step n - S.  Within a step no band waits
// for another, so the vector units work on all bands at once, and every band still sees
// every sample once and in order: the result is that of the plain cascade, not delayed.
// Bands are padded with identities (b0 = 1: y = x exactly) to whole vectors.
//
// What bounds the speed is the recursion through y: every band waits for its own last
// output, so the sum is ordered to leave one multiplication and one subtraction after y
// (b1 x + s2 is ready before y is).  With S = 1 every vector would also wait for the
// shuffle of its neighbours' last outputs; S >= 2 gives that shuffle a step of its own,
// at the price of S generations of outputs in registers (S = 3 wants AVX-512's 32).
template <int L, int V, int S> struct Cascade {
    using F = typename Lanes<L>::V;
    using M = typename Lanes<L>::M;
    static constexpr int kPerVector = L / 2;
    static constexpr int kBands = V * kPerVector;
    static constexpr size_t kSkew = S;
    static constexpr size_t kLast = kSkew * (kBands - 1); // the step the last band starts

    F b0[V], b1[V], b2[V], a1[V], a2[V];
    F s1[V], s2[V];
    // What each band made at the last kSkew steps (step n's in out[n % kSkew]).
    F out[kSkew][V] = {};

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
    // Unrolled by kSkew so that every generation of outputs has a register of its own.
    void fullSteps(size_t from, size_t to, float *data, int channels)
    {
        F ls1[V], ls2[V], y[kSkew][V];
#pragma GCC unroll 8
        for (int v = 0; v < V; ++v) {
            ls1[v] = s1[v], ls2[v] = s2[v];
#pragma GCC unroll 4
            for (size_t g = 0; g < kSkew; ++g)
                y[g][v] = out[(from + g) % kSkew][v];
        }
        for (size_t n = from; n < to; n += kSkew) {
#pragma GCC unroll 4
            for (size_t g = 0; g < kSkew; ++g) {
                F x[V];
                inputs(x, y[g], data, n + g, channels);
#pragma GCC unroll 8
                for (int v = 0; v < V; ++v)
                    y[g][v] = filter(x[v], ls1[v], ls2[v], b0[v], b1[v], b2[v], a1[v], a2[v]);
                store(data, n + g - kLast, channels, y[g][V - 1]);
            }
        }
#pragma GCC unroll 8
        for (int v = 0; v < V; ++v) {
            s1[v] = ls1[v], s2[v] = ls2[v];
#pragma GCC unroll 4
            for (size_t g = 0; g < kSkew; ++g)
                out[(from + g) % kSkew][v] = y[g][v];
        }
    }

    // A step at the start or end of the block: bands without a sample keep their memory.
    void partialStep(size_t n, size_t frames, float *data, int channels)
    {
        F x[V];
        F *y = out[n % kSkew];
        inputs(x, y, data, n < frames ? n : 0, channels);
        for (int v = 0; v < V; ++v) {
            M busy;
            for (int i = 0; i < L; ++i) {
                const auto band = static_cast<size_t>(kSkew * (v * kPerVector + i / 2));
                busy[i] = n >= band && n - band < frames ? -1 : 0;
            }
            F ns1 = s1[v];
            F ns2 = s2[v];
            const F r = filter(x[v], ns1, ns2, b0[v], b1[v], b2[v], a1[v], a2[v]);
            s1[v] = busy ? ns1 : s1[v];
            s2[v] = busy ? ns2 : s2[v];
            y[v] = busy ? r : y[v];
        }
        if (n >= kLast && n - kLast < frames)
            store(data, n - kLast, channels, y[V - 1]);
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
        // Full steps from the first where the last band has a sample, in whole rounds of
        // kSkew, to the last where the first band has one.
        const size_t fullFrom = kLast < frames ? kLast : frames;
        const size_t rounds = frames > fullFrom ? (frames - fullFrom) / kSkew : 0;
        const size_t fullTo = fullFrom + rounds * kSkew;
        for (size_t n = 0; n < fullFrom; ++n)
            partialStep(n, frames, data, channels);
        if (fullTo > fullFrom)
            fullSteps(fullFrom, fullTo, data, channels);
        for (size_t n = fullTo; n < frames + kLast; ++n)
            partialStep(n, frames, data, channels);
        for (int j = 0; j < count; ++j) {
            const int v = j / kPerVector;
            const int i = 2 * (j % kPerVector);
            for (int c = 0; c < channels; ++c)
                bands[j]->s1[c] = s1[v][i + c], bands[j]->s2[c] = s2[v][i + c];
        }
    }
};

template <int L, int V, int S> void cascade(BiquadState **bands, int count, float *data, size_t frames, int channels)
{
    Cascade<L, V, S> c;
    c.run(bands, count, data, frames, channels);
}

// The narrowest cascade that holds count bands, with bands S steps apart.
template <int L, int S> void cascadeAny(BiquadState **bands, int count, float *data, size_t frames, int channels)
{
    constexpr int per = L / 2;
    switch ((count + per - 1) / per) {
    case 1:
        return cascade<L, 1, S>(bands, count, data, frames, channels);
    case 2:
        return cascade<L, 2, S>(bands, count, data, frames, channels);
    case 3:
        return cascade<L, 3, S>(bands, count, data, frames, channels);
    case 4:
        return cascade<L, 4, S>(bands, count, data, frames, channels);
    case 5:
        return cascade<L, 5, S>(bands, count, data, frames, channels);
    default:
        return cascade<L, 6, S>(bands, count, data, frames, channels);
    }
}

} // namespace

} // namespace vbmp3
