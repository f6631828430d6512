#pragma once
// Three registers of eight doubles each (red, green and blue of eight
// pixels) woven into pixel order: out[q] holds values 8q .. 8q + 7 of the
// 24, red, green and blue of each pixel in turn. The first permute puts red
// (index j: pixel j) and green (8 + j) in their lanes, the second blue
// (8 + j) and keeps the rest (index = lane). For x86-64 processors with
// AVX-512; the caller checks that the processor has it.
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

namespace ocu::simd {

__attribute__((target("avx512f"))) inline void weave_rgb(__m512d r, __m512d g, __m512d b, __m512d out[3]) {
    const __m512i rg0 = _mm512_setr_epi64(0, 8, 0, 1, 9, 0, 2, 10);
    const __m512i b0 = _mm512_setr_epi64(0, 1, 8, 3, 4, 9, 6, 7);
    const __m512i rg1 = _mm512_setr_epi64(0, 3, 11, 0, 4, 12, 0, 5);
    const __m512i b1 = _mm512_setr_epi64(10, 1, 2, 11, 4, 5, 12, 7);
    const __m512i rg2 = _mm512_setr_epi64(13, 0, 6, 14, 0, 7, 15, 0);
    const __m512i b2 = _mm512_setr_epi64(0, 13, 2, 3, 14, 5, 6, 15);
    out[0] = _mm512_permutex2var_pd(_mm512_permutex2var_pd(r, rg0, g), b0, b);
    out[1] = _mm512_permutex2var_pd(_mm512_permutex2var_pd(r, rg1, g), b1, b);
    out[2] = _mm512_permutex2var_pd(_mm512_permutex2var_pd(r, rg2, g), b2, b);
}

}  // namespace ocu::simd
#endif
