#pragma once
// Column-major planes of doubles -> rows of pixels with each pixel's planes
// together (the layout NumPy and most imaging libraries keep images in):
// element (r, c, p) goes from src[p * plane_stride + c * col_stride + r] to
// dst[r * row_stride + c * Planes + p]. For x86-64 processors with AVX-512
// (has_avx512 tells); others convert element by element.
#include <cstddef>
#include <cstdint>

#include "toolkit/avx512_weave.hpp"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

// GCC 12 takes the deliberately undefined lanes inside some AVX-512
// intrinsics for uninitialised variables.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace ocu::simd {

inline bool has_avx512() {
    static const bool yes = __builtin_cpu_supports("avx512f");
    return yes;
}

// The 8 x 8 block of doubles whose column i is v[i] (8 rows of one
// column-major column), transposed in place: v[j] becomes row j.
__attribute__((target("avx512f"))) inline void transpose8(__m512d v[8]) {
    __m512d t[8], u[8];
    for (int i = 0; i < 8; i += 2) {
        t[i] = _mm512_unpacklo_pd(v[i], v[i + 1]);
        t[i + 1] = _mm512_unpackhi_pd(v[i], v[i + 1]);
    }
    for (int i = 0; i < 8; i += 4) {
        u[i] = _mm512_shuffle_f64x2(t[i], t[i + 2], 0x88);
        u[i + 1] = _mm512_shuffle_f64x2(t[i + 1], t[i + 3], 0x88);
        u[i + 2] = _mm512_shuffle_f64x2(t[i], t[i + 2], 0xDD);
        u[i + 3] = _mm512_shuffle_f64x2(t[i + 1], t[i + 3], 0xDD);
    }
    for (int i = 0; i < 4; ++i) {
        v[i] = _mm512_shuffle_f64x2(u[i], u[i + 4], 0x88);
        v[i + 4] = _mm512_shuffle_f64x2(u[i], u[i + 4], 0xDD);
    }
}

// Eight rows of eight pixels, row j of plane p in v[p][j], to dst and the
// seven rows after it (row_stride elements apart), each pixel's planes
// together. Rows starting on a cache line are written with streaming stores
// (not read first, not kept in the cache); the caller fences them.
template <std::size_t Planes>
__attribute__((target("avx512f"))) inline void store_rows(const __m512d (&v)[Planes][8], double* dst,
                                                          std::size_t row_stride) {
    static_assert(Planes == 1 || Planes == 3);
    for (std::size_t j = 0; j < 8; ++j) {
        double* d = dst + j * row_stride;
        const bool aligned = (reinterpret_cast<std::uintptr_t>(d) & 63) == 0;
        if constexpr (Planes == 1) {
            if (aligned) _mm512_stream_pd(d, v[0][j]);
            else _mm512_storeu_pd(d, v[0][j]);
        } else {
            __m512d o[3];
            weave_rgb(v[0][j], v[1][j], v[2][j], o);
            for (std::size_t q = 0; q < 3; ++q) {
                if (aligned) _mm512_stream_pd(d + 8 * q, o[q]);
                else _mm512_storeu_pd(d + 8 * q, o[q]);
            }
        }
    }
}

// Rows r0 .. r1 - 1 of columns 0 .. c1 - 1 (both extents multiples of 8),
// Planes 1 or 3, in blocks of 8 x 8: each column of a block is one load, and
// a row's three planes are woven into pixel order with two permutes per
// output register. The blocks go down eight columns at a time, so that each
// column is read in one run.
template <std::size_t Planes>
__attribute__((target("avx512f"))) void to_pixel_rows(const double* src, std::size_t col_stride,
                                                      std::size_t plane_stride, std::size_t r0, std::size_t r1,
                                                      std::size_t c1, double* dst, std::size_t row_stride) {
    static_assert(Planes == 1 || Planes == 3);
    for (std::size_t c = 0; c < c1; c += 8) {
        for (std::size_t rb = r0; rb < r1; rb += 8) {
            __m512d v[Planes][8];
            for (std::size_t p = 0; p < Planes; ++p) {
                const double* s = src + p * plane_stride + c * col_stride + rb;
                for (std::size_t i = 0; i < 8; ++i) v[p][i] = _mm512_loadu_pd(s + i * col_stride);
                transpose8(v[p]);
            }
            store_rows<Planes>(v, dst + rb * row_stride + c * Planes, row_stride);
        }
    }
    _mm_sfence();  // the streamed stores are seen before the threads join
}

}  // namespace ocu::simd

#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#else
namespace ocu::simd {
inline bool has_avx512() { return false; }
template <std::size_t Planes>
void to_pixel_rows(const double*, std::size_t, std::size_t, std::size_t, std::size_t, std::size_t, double*,
                   std::size_t) {}
}  // namespace ocu::simd
#endif
