#include "colour/srgb.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <limits>

#include "colour/kernels.hpp"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define OCU_COLOUR_AVX512 1
#define OCU_AVX512 __attribute__((target("avx512f")))
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

namespace {

inline double clip01(double v) { return std::min(std::max(v, 0.0), 1.0); }

void mix_encode_plain(const std::array<double, 9>& m, const double* const in[3],
                      double* const out[3], std::size_t n, bool one_row) {
    const std::size_t rows = one_row ? 1 : 3;
    for (std::size_t p = 0; p < rows; ++p) {
        const double a = m[3 * p], b = m[3 * p + 1], c = m[3 * p + 2];
        for (std::size_t i = 0; i < n; ++i) {
            out[p][i] = srgb_encode(clip01((a * in[0][i] + b * in[1][i]) + c * in[2][i]));
        }
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
//   x^y = 2^(e y) c^y (1 + t)^y,
// the first two factors from 16-entry tables as double-double numbers (high
// part plus low part, exact to about 2^-64), the last as 1 + P(t) with P the
// binomial series to t^10, which leaves out less than 2^-61. m - c is exact
// and t carries one rounding of 1/c and one of the product, P a few roundings
// in its last bits: apart from the final addition the error stays below 2^-57
// relative, so the result is within 0.6 units in the last place of the exact
// power and within one unit of std::pow (itself within 0.52).
struct alignas(64) PowTables {
    double ch[16], cl[16];  // c^y, high and low part
    double cinv[16];        // 1 / c
    double eh[16], el[16];  // 2^(e y), high and low part, e = -9..0 at 0..9
    double coef[16];        // binomial coefficients (y over k), k = 1..10 at 1..10
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
            t.ch[j] = static_cast<double>(v);
            t.cl[j] = static_cast<double>(v - static_cast<long double>(t.ch[j]));
            t.cinv[j] = 1.0 / c;
        }
        for (int e = -9; e <= 0; ++e) {
            // e y is exact in long double (53 + 4 bits).
            const long double v = std::exp2(static_cast<long double>(e) * y);
            t.eh[e + 9] = static_cast<double>(v);
            t.el[e + 9] = static_cast<double>(v - static_cast<long double>(t.eh[e + 9]));
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

struct PowRegs {
    __m512d ch0, ch1, cl0, cl1, ci0, ci1, eh0, eh1, el0, el1;
    __m512d coef[11];
};

OCU_AVX512 inline PowRegs load_regs(const PowTables& t) {
    PowRegs r;
    r.ch0 = _mm512_load_pd(t.ch);
    r.ch1 = _mm512_load_pd(t.ch + 8);
    r.cl0 = _mm512_load_pd(t.cl);
    r.cl1 = _mm512_load_pd(t.cl + 8);
    r.ci0 = _mm512_load_pd(t.cinv);
    r.ci1 = _mm512_load_pd(t.cinv + 8);
    r.eh0 = _mm512_load_pd(t.eh);
    r.eh1 = _mm512_load_pd(t.eh + 8);
    r.el0 = _mm512_load_pd(t.el);
    r.el1 = _mm512_load_pd(t.el + 8);
    for (int k = 0; k <= 10; ++k) r.coef[k] = _mm512_set1_pd(t.coef[k]);
    return r;
}

// x in [2^-9, 1].
OCU_AVX512 inline __m512d pow_core(__m512d x, const PowRegs& r) {
    const __m512i one = _mm512_set1_epi64(0x3FF0000000000000);
    const __m512i u = _mm512_castpd_si512(x);
    // Table indices: the permutes read the low four bits of each lane.
    const __m512i e = _mm512_sub_epi64(_mm512_srli_epi64(u, 52), _mm512_set1_epi64(1023 - 9));
    const __m512i j = _mm512_srli_epi64(u, 48);  // top four bits of the mantissa
    const __m512d m = _mm512_castsi512_pd(
        _mm512_or_si512(_mm512_and_si512(u, _mm512_set1_epi64(0x000FFFFFFFFFFFFF)), one));
    const __m512d c = _mm512_castsi512_pd(_mm512_or_si512(
        _mm512_and_si512(u, _mm512_set1_epi64(0x000F000000000000)),
        _mm512_or_si512(one, _mm512_set1_epi64(std::int64_t{1} << 47))));
    const __m512d t = _mm512_mul_pd(_mm512_sub_pd(m, c), _mm512_permutex2var_pd(r.ci0, j, r.ci1));
    __m512d p = r.coef[10];
    for (int k = 9; k >= 1; --k) p = _mm512_fmadd_pd(p, t, r.coef[k]);
    p = _mm512_mul_pd(p, t);  // (1 + t)^y - 1
    const __m512d mh = _mm512_permutex2var_pd(r.ch0, j, r.ch1);
    const __m512d ml = _mm512_permutex2var_pd(r.cl0, j, r.cl1);
    const __m512d eh = _mm512_permutex2var_pd(r.eh0, e, r.eh1);
    const __m512d el = _mm512_permutex2var_pd(r.el0, e, r.el1);
    // (eh + el)(mh + ml) as kh + kl; then (kh + kl)(1 + p).
    const __m512d kh = _mm512_mul_pd(eh, mh);
    __m512d kl = _mm512_add_pd(_mm512_fmsub_pd(eh, mh, kh),
                               _mm512_fmadd_pd(eh, ml, _mm512_mul_pd(el, mh)));
    kl = _mm512_fmadd_pd(kl, p, kl);
    return _mm512_add_pd(kh, _mm512_fmadd_pd(kh, p, kl));
}

// The encoder of min(max(v, 0), 1), with the operations of srgb_encode.
OCU_AVX512 inline __m512d encode_clipped(__m512d v, const PowRegs& r) {
    const __m512d brk = _mm512_set1_pd(kEncodeBreak);
    v = _mm512_min_pd(_mm512_max_pd(v, _mm512_setzero_pd()), _mm512_set1_pd(1.0));
    const __mmask8 linear = _mm512_cmp_pd_mask(v, brk, _CMP_LE_OQ);
    const __m512d p = pow_core(_mm512_max_pd(v, brk), r);
    const __m512d curve = _mm512_sub_pd(_mm512_mul_pd(_mm512_set1_pd(1.055), p), _mm512_set1_pd(0.055));
    return _mm512_mask_blend_pd(linear, curve, _mm512_mul_pd(_mm512_set1_pd(12.92), v));
}

// Lanes i..i+7 that lie below n.
inline __mmask8 lanes(std::size_t i, std::size_t n) {
    return n - i >= 8 ? __mmask8{0xFF} : static_cast<__mmask8>((1u << (n - i)) - 1u);
}

OCU_AVX512 void mix_encode_avx512(const std::array<double, 9>& m, const double* const in[3],
                                  double* const out[3], std::size_t n, bool one_row) {
    const PowRegs r = load_regs(pow_tables());
    const std::size_t rows = one_row ? 1 : 3;
    for (std::size_t i = 0; i < n; i += 8) {
        const __mmask8 k = lanes(i, n);
        const __m512d red = _mm512_maskz_loadu_pd(k, in[0] + i);
        const __m512d green = _mm512_maskz_loadu_pd(k, in[1] + i);
        const __m512d blue = _mm512_maskz_loadu_pd(k, in[2] + i);
        for (std::size_t p = 0; p < rows; ++p) {
            const __m512d v = _mm512_add_pd(
                _mm512_add_pd(_mm512_mul_pd(_mm512_set1_pd(m[3 * p]), red),
                              _mm512_mul_pd(_mm512_set1_pd(m[3 * p + 1]), green)),
                _mm512_mul_pd(_mm512_set1_pd(m[3 * p + 2]), blue));
            _mm512_mask_storeu_pd(out[p] + i, k, encode_clipped(v, r));
        }
    }
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
    static const bool yes = __builtin_cpu_supports("avx512f");
    return yes;
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
    mix_encode_plain(m, in, out, n, one_row);
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
