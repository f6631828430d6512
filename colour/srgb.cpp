#include "colour/srgb.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "colour/kernels.hpp"
#include "toolkit/avx512_weave.hpp"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define OCU_COLOUR_AVX512 1
#define OCU_AVX512 __attribute__((target("avx512f")))
#define OCU_AVX512_BW __attribute__((target("avx512f,avx512bw,avx512vl")))
#else
#define OCU_COLOUR_AVX512 0
#endif

namespace ocu::colour {

double srgb_decode(double c) {
    return c <= kDecodeBreak ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double srgb_encode(double l) {
    return l <= kEncodeBreak ? 12.92 * l : 1.055 * std::pow(l, kInverseGamma) - 0.055;
}

const std::array<double, 256>& srgb_decode_u8() {
    static const std::array<double, 256> table = [] {
        std::array<double, 256> t{};
        for (std::size_t v = 0; v < t.size(); ++v) t[v] = srgb_decode(static_cast<double>(v) / 255.0);
        return t;
    }();
    return table;
}

const std::array<double, 65536>& srgb_decode_u16() {
    static std::array<double, 65536> table;
    static const bool built = [] {
        for (std::size_t v = 0; v < table.size(); ++v) {
            table[v] = srgb_decode(static_cast<double>(v) / 65535.0);
        }
        return true;
    }();
    (void)built;
    return table;
}

bool& plain_form_override() {
    static bool plain = false;
    return plain;
}

namespace {

inline double clip01(double v) { return std::min(std::max(v, 0.0), 1.0); }

template <class Decode>
void mix_encode_plain(const std::array<double, 9>& m, Decode decode, double* const out[3],
                      std::size_t n, bool one_row) {
    for (std::size_t i = 0; i < n; ++i) {
        const double r = decode(0, i), g = decode(1, i), b = decode(2, i);
        for (std::size_t p = 0; p < (one_row ? 1 : 3); ++p) {
            out[p][i] = srgb_encode(clip01((m[3 * p] * r + m[3 * p + 1] * g) + m[3 * p + 2] * b));
        }
        if (one_row) out[1][i] = out[2][i] = out[0][i];
    }
}

#if OCU_COLOUR_AVX512

// GCC 12 takes the deliberately undefined lanes inside some AVX-512 intrinsics
// for uninitialised variables.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// x ^ y for x in [2^-9, 1] and y = 1 / 2.4 (the double nearest to it, as
// std::pow(x, 1.0 / 2.4) uses), eight values at a time.
//
// x = 2^e m with e in -9..0 and m in [1, 2); c is the centre of the sixteenth
// of [1, 2) that m lies in, and m = c (1 + t) with |t| < 1/32. Then
//   x^y = 2^(e y) c^y (1 + t)^y = E (1 + dE) M (1 + dM) (1 + P(t)),
// E and M being 2^(e y) and c^y rounded to doubles, dE and dM their relative
// rounding errors and P the binomial series of (1 + t)^y - 1 up to t^10, which
// leaves out less than 2^-61. E M is split exactly into K + Kerr, and
//   x^y = K + (K (P + dM + dE) + Kerr)
// leaves out terms below 2^-58 relative (P dM, P dE, Kerr P). m - c is exact
// and t carries one rounding of 1/c and one of the product. Apart from the
// final addition the error stays below 2^-57 relative, so the result is within
// 0.6 units in the last place of the exact power and within one unit of
// std::pow (itself within 0.52).
struct alignas(64) PowTables {
    double m[16], dm[16];  // c^y and its relative rounding error, by the top 4 bits of m
    double cinv[16];       // 1 / c
    double e[16], de[16];  // 2^(e y) and its relative rounding error, by the low 4 bits
                           // of the biased exponent (6..15 for e = -9..0)
    double coef[11];       // binomial coefficients (y over k), k = 1..10
};

const PowTables& pow_tables() {
    static const PowTables tables = [] {
        static_assert(std::numeric_limits<long double>::digits >= 64,
                      "the tables are worked out in 64-bit long double");
        PowTables t{};
        const long double y = kInverseGamma;  // exactly the double
        for (int j = 0; j < 16; ++j) {
            const double c = 1.0 + (2 * j + 1) / 32.0;
            const long double v = std::pow(static_cast<long double>(c), y);
            t.m[j] = static_cast<double>(v);
            t.dm[j] = static_cast<double>((v - t.m[j]) / t.m[j]);
            t.cinv[j] = 1.0 / c;
        }
        for (int e = -9; e <= 0; ++e) {
            // e y is exact in long double (53 + 4 bits).
            const long double v = std::exp2(static_cast<long double>(e) * y);
            const int i = (1023 + e) & 15;
            t.e[i] = static_cast<double>(v);
            t.de[i] = static_cast<double>((v - t.e[i]) / t.e[i]);
        }
        long double b = 1;
        for (int k = 1; k <= 10; ++k) {
            b = b * (y - static_cast<long double>(k - 1)) / static_cast<long double>(k);
            t.coef[k] = static_cast<double>(b);
        }
        return t;
    }();
    return tables;
}

// The tables in registers: a 16-entry table is two registers, looked up with
// one permute by the low four bits of each lane's index.
struct PowRegs {
    __m512d m0, m1, dm0, dm1, ci0, ci1, e0, e1, de0, de1;
    __m512d coef[11];
};

OCU_AVX512 inline PowRegs load_regs(const PowTables& t) {
    PowRegs r;
    r.m0 = _mm512_load_pd(t.m);
    r.m1 = _mm512_load_pd(t.m + 8);
    r.dm0 = _mm512_load_pd(t.dm);
    r.dm1 = _mm512_load_pd(t.dm + 8);
    r.ci0 = _mm512_load_pd(t.cinv);
    r.ci1 = _mm512_load_pd(t.cinv + 8);
    r.e0 = _mm512_load_pd(t.e);
    r.e1 = _mm512_load_pd(t.e + 8);
    r.de0 = _mm512_load_pd(t.de);
    r.de1 = _mm512_load_pd(t.de + 8);
    for (int k = 1; k <= 10; ++k) r.coef[k] = _mm512_set1_pd(t.coef[k]);
    return r;
}

// x in [2^-9, 1].
OCU_AVX512 inline __m512d pow_core(__m512d x, const PowRegs& r) {
    const __m512i u = _mm512_castpd_si512(x);
    const __m512i ei = _mm512_srli_epi64(u, 52);  // biased exponent
    const __m512i j = _mm512_srli_epi64(u, 48);   // ... and the top four bits of the mantissa
    // m - c = (1 + the mantissa's lower 48 bits) - (1 + 1/32), exactly:
    // (u & lower 48 bits) | bits of 1.0 in one logic operation.
    const __m512d low = _mm512_castsi512_pd(_mm512_ternarylogic_epi64(
        u, _mm512_set1_epi64(0x0000FFFFFFFFFFFF), _mm512_set1_epi64(0x3FF0000000000000), 0xEA));
    const __m512d t = _mm512_mul_pd(_mm512_sub_pd(low, _mm512_set1_pd(1.0 + 1.0 / 32)),
                                    _mm512_permutex2var_pd(r.ci0, j, r.ci1));
    __m512d p = r.coef[10];
    for (int k = 9; k >= 1; --k) p = _mm512_fmadd_pd(p, t, r.coef[k]);
    p = _mm512_fmadd_pd(p, t, _mm512_permutex2var_pd(r.dm0, j, r.dm1));  // P + dM
    p = _mm512_add_pd(p, _mm512_permutex2var_pd(r.de0, ei, r.de1));      // ... + dE
    const __m512d e = _mm512_permutex2var_pd(r.e0, ei, r.e1);
    const __m512d m = _mm512_permutex2var_pd(r.m0, j, r.m1);
    const __m512d k = _mm512_mul_pd(e, m);
    const __m512d kerr = _mm512_fmsub_pd(e, m, k);
    return _mm512_add_pd(k, _mm512_fmadd_pd(k, p, kerr));
}

// The encoder of min(max(v, 0), 1), with the operations of srgb_encode: values
// up to the break point give 12.92 max(v, 0), the others
// 1.055 min(v, 1)^y - 0.055.
OCU_AVX512 inline __m512d encode_clipped(__m512d v, const PowRegs& r) {
    const __m512d brk = _mm512_set1_pd(kEncodeBreak);
    const __mmask8 linear = _mm512_cmp_pd_mask(v, brk, _CMP_LE_OQ);
    const __m512d x = _mm512_min_pd(_mm512_max_pd(v, brk), _mm512_set1_pd(1.0));
    const __m512d curve =
        _mm512_sub_pd(_mm512_mul_pd(_mm512_set1_pd(1.055), pow_core(x, r)), _mm512_set1_pd(0.055));
    return _mm512_mask_mul_pd(curve, linear, _mm512_set1_pd(12.92),
                              _mm512_max_pd(v, _mm512_setzero_pd()));
}

// Lanes i..i+7 that lie below n.
inline __mmask8 lanes(std::size_t i, std::size_t n) {
    return n - i >= 8 ? __mmask8{0xFF} : static_cast<__mmask8>((1u << (n - i)) - 1u);
}

// One output vector: row p of the matrix (already broadcast) times the pixels.
OCU_AVX512 inline __m512d mix_row(const __m512d* row, __m512d red, __m512d green, __m512d blue) {
    return _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(row[0], red), _mm512_mul_pd(row[1], green)),
                         _mm512_mul_pd(row[2], blue));
}

OCU_AVX512 void mix_encode_avx512(const std::array<double, 9>& mat, const double* const in[3],
                                  double* const out[3], std::size_t n, bool one_row) {
    const PowRegs r = load_regs(pow_tables());
    __m512d m[9];
    for (int i = 0; i < 9; ++i) m[i] = _mm512_set1_pd(mat[i]);
    for (std::size_t i = 0; i < n; i += 8) {
        const __mmask8 k = lanes(i, n);
        const __m512d red = _mm512_maskz_loadu_pd(k, in[0] + i);
        const __m512d green = _mm512_maskz_loadu_pd(k, in[1] + i);
        const __m512d blue = _mm512_maskz_loadu_pd(k, in[2] + i);
        if (one_row) {
            const __m512d v = encode_clipped(mix_row(m, red, green, blue), r);
            for (int p = 0; p < 3; ++p) _mm512_mask_storeu_pd(out[p] + i, k, v);
        } else {
            for (int p = 0; p < 3; ++p) {
                _mm512_mask_storeu_pd(out[p] + i, k, encode_clipped(mix_row(m + 3 * p, red, green, blue), r));
            }
        }
    }
}

// 8-bit samples, decoded by gathering from the 256-entry table.
OCU_AVX512_BW __m512d decode_u8(const std::uint8_t* s, __mmask8 k, const double* table) {
    const __m256i idx = _mm256_cvtepu8_epi32(_mm_maskz_loadu_epi8(k, s));
    return _mm512_mask_i32gather_pd(_mm512_setzero_pd(), k, idx, table, 8);
}

// Stores lanes k of v at p. A whole vector at a 64-byte boundary of a large
// result goes past the caches (a streaming store): the line is not read
// first only to be overwritten, and the result does not push out what the
// caches hold.
OCU_AVX512 inline void store(double* p, __mmask8 k, __m512d v, bool stream) {
    if (stream && k == 0xFF && (reinterpret_cast<std::uintptr_t>(p) & 63) == 0) {
        _mm512_stream_pd(p, v);
    } else {
        _mm512_mask_storeu_pd(p, k, v);
    }
}

OCU_AVX512_BW void mix_encode_u8_avx512(const std::array<double, 9>& mat,
                                        const std::uint8_t* const in[3], double* const out[3],
                                        std::size_t n, bool one_row, bool stream) {
    const PowRegs r = load_regs(pow_tables());
    const double* table = srgb_decode_u8().data();
    __m512d m[9];
    for (int i = 0; i < 9; ++i) m[i] = _mm512_set1_pd(mat[i]);
    // A first, shorter vector brings the first plane's stores to 64-byte
    // boundaries (the others share them when the plane size is a multiple of 8).
    const std::size_t head = ((64 - (reinterpret_cast<std::uintptr_t>(out[0]) & 63)) & 63) / sizeof(double);
    for (std::size_t i = 0; i < n;) {
        const std::size_t step = i == 0 && head != 0 ? head : 8;
        const __mmask8 k = static_cast<__mmask8>(lanes(i, n) & ((1u << step) - 1u));
        const __m512d red = decode_u8(in[0] + i, k, table);
        const __m512d green = decode_u8(in[1] + i, k, table);
        const __m512d blue = decode_u8(in[2] + i, k, table);
        if (one_row) {
            const __m512d v = encode_clipped(mix_row(m, red, green, blue), r);
            for (int p = 0; p < 3; ++p) store(out[p] + i, k, v, stream);
        } else {
            for (int p = 0; p < 3; ++p) store(out[p] + i, k, encode_clipped(mix_row(m + 3 * p, red, green, blue), r), stream);
        }
        i += step;
    }
    if (stream) _mm_sfence();  // the streamed stores are seen before the threads join
}

// The decoded samples picked by `pick` (indexes 0..23 of the 24 bytes widened
// into lo, hi), lanes k.
OCU_AVX512_BW inline __m512d decode_picked(__m512i lo, __m512i hi, __m512i pick, __mmask8 k, const double* table) {
    const __m256i idx = _mm512_castsi512_si256(_mm512_permutex2var_epi32(lo, pick, hi));
    return _mm512_mask_i32gather_pd(_mm512_setzero_pd(), k, idx, table, 8);
}

// Output register q of 24 samples at `at`, of which `samples` are wanted.
OCU_AVX512 inline void store_part(double* at, std::size_t samples, std::size_t q, __m512d v, bool stream) {
    const std::size_t first = 8 * q;
    if (samples <= first) return;
    const std::size_t len = std::min<std::size_t>(8, samples - first);
    store(at + first, static_cast<__mmask8>((1u << len) - 1u), v, stream);
}

// Pixels stored red, green, blue, red, ...: eight at a time, 24 bytes in and
// 24 doubles out. The bytes are widened and sorted into one register of
// table indexes per colour, and the three results are woven back into pixel
// order with two permutes per output register.
OCU_AVX512_BW void mix_encode_u8_interleaved_avx512(const std::array<double, 9>& mat, const std::uint8_t* in,
                                                    double* out, std::size_t n, bool one_row, bool stream) {
    const PowRegs r = load_regs(pow_tables());
    const double* table = srgb_decode_u8().data();
    __m512d m[9];
    for (int i = 0; i < 9; ++i) m[i] = _mm512_set1_pd(mat[i]);
    // Sample s of the 24 is lane s of `lo` (s < 16) or lane s - 16 of `hi`:
    // index s of a two-register permute.
    const __m512i pick_r = _mm512_setr_epi32(0, 3, 6, 9, 12, 15, 18, 21, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m512i pick_g = _mm512_setr_epi32(1, 4, 7, 10, 13, 16, 19, 22, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m512i pick_b = _mm512_setr_epi32(2, 5, 8, 11, 14, 17, 20, 23, 0, 0, 0, 0, 0, 0, 0, 0);
    for (std::size_t i = 0; i < n; i += 8) {
        const std::size_t count = std::min<std::size_t>(8, n - i);
        const __mmask8 k = lanes(i, n);
        const __m256i bytes = _mm256_maskz_loadu_epi8(static_cast<__mmask32>((std::uint64_t{1} << (3 * count)) - 1u),
                                                      in + 3 * i);
        const __m512i lo = _mm512_cvtepu8_epi32(_mm256_castsi256_si128(bytes));
        const __m512i hi = _mm512_cvtepu8_epi32(_mm256_extracti128_si256(bytes, 1));
        const __m512d red = decode_picked(lo, hi, pick_r, k, table);
        const __m512d green = decode_picked(lo, hi, pick_g, k, table);
        const __m512d blue = decode_picked(lo, hi, pick_b, k, table);
        __m512d o[3];
        if (one_row) {
            const __m512d v = encode_clipped(mix_row(m, red, green, blue), r);
            o[0] = o[1] = o[2] = v;
        } else {
            for (int p = 0; p < 3; ++p) o[p] = encode_clipped(mix_row(m + 3 * p, red, green, blue), r);
        }
        double* at = out + 3 * i;
        const std::size_t samples = 3 * count;
        __m512d woven[3];
        simd::weave_rgb(o[0], o[1], o[2], woven);
        for (std::size_t q = 0; q < 3; ++q) store_part(at, samples, q, woven[q], stream);
    }
    if (stream) _mm_sfence();
}

OCU_AVX512 void encode_clipped_avx512(const double* lin, double* out, std::size_t n) {
    const PowRegs r = load_regs(pow_tables());
    for (std::size_t i = 0; i < n; i += 8) {
        const __mmask8 k = lanes(i, n);
        _mm512_mask_storeu_pd(out + i, k, encode_clipped(_mm512_maskz_loadu_pd(k, lin + i), r));
    }
}

OCU_AVX512 void pow_avx512(const double* x, double* y, std::size_t n) {
    const PowRegs r = load_regs(pow_tables());
    const __m512d lo = _mm512_set1_pd(1.0 / 512), hi = _mm512_set1_pd(1.0);
    for (std::size_t i = 0; i < n; i += 8) {
        const __mmask8 k = lanes(i, n);
        const __m512d v = _mm512_min_pd(_mm512_max_pd(_mm512_maskz_loadu_pd(k, x + i), lo), hi);
        _mm512_mask_storeu_pd(y + i, k, pow_core(v, r));
    }
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

bool use_avx512() {
    static const bool yes = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                            __builtin_cpu_supports("avx512vl");
    return yes && !plain_form_override();
}

#else

bool use_avx512() { return false; }

#endif

}  // namespace

bool encoder_pow_vectorised() { return use_avx512(); }

void mix_encode(const std::array<double, 9>& m, const double* const in[3], double* const out[3],
                std::size_t n, bool one_row) {
#if OCU_COLOUR_AVX512
    if (use_avx512()) return mix_encode_avx512(m, in, out, n, one_row);
#endif
    mix_encode_plain(m, [in](std::size_t p, std::size_t i) { return in[p][i]; }, out, n, one_row);
}

void mix_encode_u8(const std::array<double, 9>& m, const std::uint8_t* const in[3],
                   double* const out[3], std::size_t n, bool one_row, bool stream) {
#if OCU_COLOUR_AVX512
    if (use_avx512()) return mix_encode_u8_avx512(m, in, out, n, one_row, stream);
#endif
    const double* table = srgb_decode_u8().data();
    mix_encode_plain(m, [in, table](std::size_t p, std::size_t i) { return table[in[p][i]]; }, out, n,
                     one_row);
}

void mix_encode_u8_interleaved(const std::array<double, 9>& m, const std::uint8_t* in, double* out,
                               std::size_t n, bool one_row, bool stream) {
#if OCU_COLOUR_AVX512
    if (use_avx512()) return mix_encode_u8_interleaved_avx512(m, in, out, n, one_row, stream);
#endif
    (void)stream;
    const double* table = srgb_decode_u8().data();
    for (std::size_t i = 0; i < n; ++i) {
        const double r = table[in[3 * i]], g = table[in[3 * i + 1]], b = table[in[3 * i + 2]];
        double* o = out + 3 * i;
        for (std::size_t p = 0; p < (one_row ? 1 : 3); ++p) {
            o[p] = srgb_encode(clip01((m[3 * p] * r + m[3 * p + 1] * g) + m[3 * p + 2] * b));
        }
        if (one_row) o[1] = o[2] = o[0];
    }
}

void srgb_encode_clipped(std::span<const double> lin, std::span<double> out) {
    assert(lin.size() == out.size());
#if OCU_COLOUR_AVX512
    if (use_avx512()) return encode_clipped_avx512(lin.data(), out.data(), lin.size());
#endif
    for (std::size_t i = 0; i < lin.size(); ++i) out[i] = srgb_encode(clip01(lin[i]));
}

void encoder_pow(std::span<const double> x, std::span<double> y) {
    assert(x.size() == y.size());
    std::size_t done = 0;
#if OCU_COLOUR_AVX512
    if (use_avx512()) {
        pow_avx512(x.data(), y.data(), x.size());
        done = x.size();
    }
#endif
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (i >= done || !(x[i] >= kEncodeBreak && x[i] <= 1.0)) y[i] = std::pow(x[i], kInverseGamma);
    }
}

}  // namespace ocu::colour
