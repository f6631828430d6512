#include "fixindep/symfilter.hpp"

#include <algorithm>
#include <cstdlib>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "toolkit/parallel.hpp"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define OCU_FIXINDEP_HAVE_AVX2 1
#endif

namespace ocu::fixindep {

namespace {

// Every output is h[0]*c[s] followed by one addition of h[k]*(lo + hi) per k
// in increasing k. The plain form rounds the product and the sum separately;
// the AVX2 form fuses them. A run uses one form throughout, so results do not
// depend on how the work is split; the two forms agree up to rounding.

void taps_plain(const double* c, std::ptrdiff_t stride, std::size_t len, const double* h,
                std::size_t w, double* out) {
    for (std::size_t s = 0; s < len; ++s) {
        const double* cs = c + s;
        double a = h[0] * cs[0];
        for (std::size_t k = 1; k <= w; ++k) {
            const std::ptrdiff_t off = static_cast<std::ptrdiff_t>(k) * stride;
            const double t = cs[-off] + cs[off];
            const double p = h[k] * t;
            a = a + p;
        }
        out[s] = a;
    }
}

#if OCU_FIXINDEP_HAVE_AVX2
// The same sums with fused multiply-adds: a = fma(h[k], lo + hi, a). Every
// element goes through this one formula (the tail included), so the result
// does not depend on where a block starts.
__attribute__((target("avx2,fma"))) void taps_avx2(const double* c, std::ptrdiff_t stride,
                                                   std::size_t len, const double* h, std::size_t w,
                                                   double* out) {
    std::size_t s = 0;
    const __m256d h0 = _mm256_broadcast_sd(h);
    for (; s + 16 <= len; s += 16) {
        const double* cs = c + s;
        __m256d a0 = _mm256_mul_pd(h0, _mm256_loadu_pd(cs));
        __m256d a1 = _mm256_mul_pd(h0, _mm256_loadu_pd(cs + 4));
        __m256d a2 = _mm256_mul_pd(h0, _mm256_loadu_pd(cs + 8));
        __m256d a3 = _mm256_mul_pd(h0, _mm256_loadu_pd(cs + 12));
        for (std::size_t k = 1; k <= w; ++k) {
            const std::ptrdiff_t off = static_cast<std::ptrdiff_t>(k) * stride;
            const double* lo = cs - off;
            const double* hi = cs + off;
            const __m256d hk = _mm256_broadcast_sd(h + k);
            a0 = _mm256_fmadd_pd(hk, _mm256_add_pd(_mm256_loadu_pd(lo), _mm256_loadu_pd(hi)), a0);
            a1 = _mm256_fmadd_pd(hk, _mm256_add_pd(_mm256_loadu_pd(lo + 4), _mm256_loadu_pd(hi + 4)), a1);
            a2 = _mm256_fmadd_pd(hk, _mm256_add_pd(_mm256_loadu_pd(lo + 8), _mm256_loadu_pd(hi + 8)), a2);
            a3 = _mm256_fmadd_pd(hk, _mm256_add_pd(_mm256_loadu_pd(lo + 12), _mm256_loadu_pd(hi + 12)), a3);
        }
        _mm256_storeu_pd(out + s, a0);
        _mm256_storeu_pd(out + s + 4, a1);
        _mm256_storeu_pd(out + s + 8, a2);
        _mm256_storeu_pd(out + s + 12, a3);
    }
    for (; s + 4 <= len; s += 4) {
        const double* cs = c + s;
        __m256d a0 = _mm256_mul_pd(h0, _mm256_loadu_pd(cs));
        for (std::size_t k = 1; k <= w; ++k) {
            const std::ptrdiff_t off = static_cast<std::ptrdiff_t>(k) * stride;
            const __m256d hk = _mm256_broadcast_sd(h + k);
            a0 = _mm256_fmadd_pd(hk, _mm256_add_pd(_mm256_loadu_pd(cs - off), _mm256_loadu_pd(cs + off)), a0);
        }
        _mm256_storeu_pd(out + s, a0);
    }
    for (; s < len; ++s) {
        const double* cs = c + s;
        __m128d a = _mm_mul_sd(_mm_load_sd(h), _mm_load_sd(cs));
        for (std::size_t k = 1; k <= w; ++k) {
            const std::ptrdiff_t off = static_cast<std::ptrdiff_t>(k) * stride;
            a = _mm_fmadd_sd(_mm_load_sd(h + k), _mm_add_sd(_mm_load_sd(cs - off), _mm_load_sd(cs + off)), a);
        }
        _mm_store_sd(out + s, a);
    }
}

// Three profiles over the same contiguous data (stride 1), with
// w0 <= w1 <= w2: each pair lo + hi is loaded and added once for all the
// profiles that reach it. Per element the operations are those of taps_avx2.
__attribute__((target("avx2,fma"))) std::size_t taps3_avx2(const double* c, std::size_t len,
                                                           const double* const h[3],
                                                           const std::size_t w[3], double* const out[3]) {
    std::size_t s = 0;
    for (; s + 8 <= len; s += 8) {
        const double* cs = c + s;
        const __m256d x0 = _mm256_loadu_pd(cs), x1 = _mm256_loadu_pd(cs + 4);
        __m256d a[3][2];
        for (int b = 0; b < 3; ++b) {
            const __m256d hb = _mm256_broadcast_sd(h[b]);
            a[b][0] = _mm256_mul_pd(hb, x0);
            a[b][1] = _mm256_mul_pd(hb, x1);
        }
        std::size_t k = 1;
        for (; k <= w[0]; ++k) {
            const __m256d p0 = _mm256_add_pd(_mm256_loadu_pd(cs - k), _mm256_loadu_pd(cs + k));
            const __m256d p1 = _mm256_add_pd(_mm256_loadu_pd(cs - k + 4), _mm256_loadu_pd(cs + k + 4));
            for (int b = 0; b < 3; ++b) {
                const __m256d hk = _mm256_broadcast_sd(h[b] + k);
                a[b][0] = _mm256_fmadd_pd(hk, p0, a[b][0]);
                a[b][1] = _mm256_fmadd_pd(hk, p1, a[b][1]);
            }
        }
        for (; k <= w[1]; ++k) {
            const __m256d p0 = _mm256_add_pd(_mm256_loadu_pd(cs - k), _mm256_loadu_pd(cs + k));
            const __m256d p1 = _mm256_add_pd(_mm256_loadu_pd(cs - k + 4), _mm256_loadu_pd(cs + k + 4));
            for (int b = 1; b < 3; ++b) {
                const __m256d hk = _mm256_broadcast_sd(h[b] + k);
                a[b][0] = _mm256_fmadd_pd(hk, p0, a[b][0]);
                a[b][1] = _mm256_fmadd_pd(hk, p1, a[b][1]);
            }
        }
        for (; k <= w[2]; ++k) {
            const __m256d p0 = _mm256_add_pd(_mm256_loadu_pd(cs - k), _mm256_loadu_pd(cs + k));
            const __m256d p1 = _mm256_add_pd(_mm256_loadu_pd(cs - k + 4), _mm256_loadu_pd(cs + k + 4));
            const __m256d hk = _mm256_broadcast_sd(h[2] + k);
            a[2][0] = _mm256_fmadd_pd(hk, p0, a[2][0]);
            a[2][1] = _mm256_fmadd_pd(hk, p1, a[2][1]);
        }
        for (int b = 0; b < 3; ++b) {
            _mm256_storeu_pd(out[b] + s, a[b][0]);
            _mm256_storeu_pd(out[b] + s + 4, a[b][1]);
        }
    }
    return s;  // rows done; the caller finishes the rest one profile at a time
}

bool& avx2_allowed() {
    static bool allowed = true;
    return allowed;
}

bool use_avx2() {
    static const bool yes = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return yes && avx2_allowed();
}
#endif

void taps_impl(const double* c, std::ptrdiff_t stride, std::size_t len, const double* h,
               std::size_t w, double* out) {
#if OCU_FIXINDEP_HAVE_AVX2
    if (use_avx2()) {
        taps_avx2(c, stride, len, h, w, out);
        return;
    }
#endif
    taps_plain(c, stride, len, h, w, out);
}

}  // namespace

void allow_vector_filter([[maybe_unused]] bool allow) {
#if OCU_FIXINDEP_HAVE_AVX2
    avx2_allowed() = allow;
#endif
}

void symmetric_taps(const double* c, std::ptrdiff_t stride, std::size_t len,
                    std::span<const double> h, double* out) {
    if (h.empty()) throw Error("A filter profile needs at least its centre weight.");
    taps_impl(c, stride, len, h.data(), h.size() - 1, out);
}

namespace {

// Scratch planes are large and written once per use: on Linux they are asked
// for in huge pages, which spares thousands of page faults per plane.
constexpr std::size_t kHugePage = std::size_t{2} << 20;

double* allocate_plane(std::size_t n) {
    const std::size_t bytes = std::max<std::size_t>(n, 1) * sizeof(double);
    if (bytes >= kHugePage) {
        const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        if (void* p = std::aligned_alloc(kHugePage, rounded)) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
            ::madvise(p, rounded, MADV_HUGEPAGE);
#endif
            return static_cast<double*>(p);
        }
    }
    void* p = std::malloc(bytes);
    if (p == nullptr) throw std::bad_alloc();
    return static_cast<double*>(p);
}

}  // namespace

void SymFilterScratch::Free::operator()(double* p) const { std::free(p); }

SymFilterScratch::SymFilterScratch(std::size_t rows, std::size_t cols, std::size_t max_halfwidth)
    : rows_(rows), cols_(cols), pad_(max_halfwidth),
      data_(allocate_plane(checked_numel(rows, cols + 2 * max_halfwidth, 1))) {
    const std::size_t padsize = rows * max_halfwidth;
    std::fill(data_.get(), data_.get() + padsize, 0.0);
    std::fill(data_.get() + rows * (cols + max_halfwidth), data_.get() + rows * (cols + 2 * max_halfwidth), 0.0);
}

RowBlock::RowBlock(const SymFilterScratch& scratch, std::size_t strip)
    : strip_(strip), ld_(scratch.cols() + 2 * scratch.max_halfwidth()) {}

void RowBlock::filter(const SymFilterScratch& scratch, std::span<const double> h, std::size_t r0,
                      std::size_t len, double* out) {
    const std::size_t m = scratch.rows(), n = scratch.cols(), pad = scratch.max_halfwidth();
    const std::size_t w = h.size() - 1;
    if (h.empty() || w > pad || len > strip_ || r0 + len > m) {
        throw Error("Row filter block does not fit the scratch plane.");
    }
    if (w <= kNarrowKernel) {
        for (std::size_t c = 0; c < n; ++c)
            taps_impl(scratch.column(static_cast<std::ptrdiff_t>(c)) + r0, static_cast<std::ptrdiff_t>(m), len,
                      h.data(), w, out + c * strip_);
        return;
    }
    if (rows_.empty()) {
        rows_.assign(strip_ * ld_, 0.0);
        result_.resize(strip_ * n);
    }
    // Transpose the strip in: rows_[s * ld_ + pad + c] = scratch(r0 + s, c).
    for (std::size_t c = 0; c < n; ++c) {
        const double* src = scratch.column(static_cast<std::ptrdiff_t>(c)) + r0;
        double* dst = rows_.data() + pad + c;
        for (std::size_t s = 0; s < len; ++s) dst[s * ld_] = src[s];
    }
    for (std::size_t s = 0; s < len; ++s)
        taps_impl(rows_.data() + s * ld_ + pad, 1, n, h.data(), w, result_.data() + s * n);
    // And out, column by column.
    for (std::size_t c = 0; c < n; ++c)
        for (std::size_t s = 0; s < len; ++s) out[c * strip_ + s] = result_[s * n + c];
}

void symmetric_taps3(const double* c, std::size_t len, const std::array<std::span<const double>, 3>& h,
                     const std::array<double*, 3>& out) {
    for (const auto& p : h)
        if (p.empty()) throw Error("A filter profile needs at least its centre weight.");
    std::size_t done = 0;
#if OCU_FIXINDEP_HAVE_AVX2
    const bool ascending = h[0].size() <= h[1].size() && h[1].size() <= h[2].size();
    if (use_avx2() && ascending) {
        const double* const hp[3] = {h[0].data(), h[1].data(), h[2].data()};
        const std::size_t w[3] = {h[0].size() - 1, h[1].size() - 1, h[2].size() - 1};
        double* const op[3] = {out[0], out[1], out[2]};
        done = taps3_avx2(c, len, hp, w, op);
    }
#endif
    for (std::size_t b = 0; b < 3; ++b)
        taps_impl(c + done, 1, len - done, h[b].data(), h[b].size() - 1, out[b] + done);
}

void symfilter(View<const double> x, std::span<const double> h, View<double> y,
               SymFilterScratch& scratch) {
    if (h.empty()) throw Error("A filter profile needs at least its centre weight.");
    if (x.planes != 1 || y.planes != 1) throw Error("Filtering works on one plane at a time.");
    if (y.rows != x.rows || y.cols != x.cols) throw Error("Filter output has the wrong size.");
    const std::size_t w = h.size() - 1;
    if (scratch.rows() != x.rows || scratch.cols() != x.cols || scratch.max_halfwidth() < w) {
        throw Error("Filter scratch space does not fit the plane.");
    }
    if (x.rows == 0 || x.cols == 0) return;
    column_pass(h, scratch, [&](std::size_t c, double* col) {
        for (std::size_t r = 0; r < x.rows; ++r) col[r] = x(r, c);
    });
    row_pass(h, scratch, [&](std::size_t r0, std::size_t len, std::size_t c, const double* acc) {
        for (std::size_t s = 0; s < len; ++s) y(r0 + s, c) = acc[s];
    });
}

ArrayD symfilter(View<const double> x, std::span<const double> h) {
    if (h.empty()) throw Error("A filter profile needs at least its centre weight.");
    ArrayD y(x.rows, x.cols);
    SymFilterScratch scratch(x.rows, x.cols, h.size() - 1);
    symfilter(x, h, y.view(), scratch);
    return y;
}

}  // namespace ocu::fixindep
