#include "engine/kernels.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/workers.hpp"

namespace kal {

namespace {

using std::int32_t;
using std::int64_t;
using std::size_t;
using std::uint8_t;

// A view that can be read at every position of its own extents.
bool usable(const ImageView& v) {
    if (v.rows < 0 || v.cols < 0 || v.stride < v.rows || v.level < 0) return false;
    return v.pixels != nullptr || viewRows(v) == 0 || viewCols(v) == 0;
}

bool sameGeometry(const ImageView& a, const ImageView& b) {
    return a.rows == b.rows && a.cols == b.cols && a.stride == b.stride;
}

// The level views of reduceLevel and expandLevel: same full-resolution
// geometry, the coarse one exactly one level further down.
bool adjacentLevels(const ImageView* fine, const ImageView* coarse) {
    if (fine == nullptr || coarse == nullptr) return false;
    if (!sameGeometry(*fine, *coarse)) return false;
    if (int64_t{coarse->level} != int64_t{fine->level} + 1) return false;
    return usable(*fine) && usable(*coarse);
}

inline uint8_t* at(const ImageView& v, int64_t r, int64_t c) {
    return v.pixels + c * viewStride(v) + r;
}

// Work below this many pixels stays on one thread.
constexpr size_t kPixelsPerThread = 1 << 18;

size_t columnGrain(int64_t rows) {
    return static_cast<size_t>(std::max<int64_t>(1, int64_t{kPixelsPerThread} / std::max<int64_t>(rows, 1)));
}

}  // namespace

std::uint8_t getPixelClamped(const ImageView* v, std::int32_t r, std::int32_t c) {
    if (v == nullptr || !usable(*v)) return 0;
    const int32_t R = viewRows(*v), C = viewCols(*v);
    if (R <= 0 || C <= 0) return 0;
    return *at(*v, std::clamp(r, 0, R - 1), std::clamp(c, 0, C - 1));
}

void setPixelClamped(const ImageView* v, std::int32_t r, std::int32_t c, std::uint8_t value) {
    if (v == nullptr || !usable(*v)) return;
    const int32_t R = viewRows(*v), C = viewCols(*v);
    if (R <= 0 || C <= 0) return;
    *at(*v, std::clamp(r, 0, R - 1), std::clamp(c, 0, C - 1)) = value;
}

// ---- Reduction ---------------------------------------------------------------
//
// The 3 x 3 window of coarse (r, c) covers fine rows 2r, 2r+1, 2r+2 and columns
// 2c, 2c+1, 2c+2. Since r < R/2, the rows 2r and 2r+1 always exist; only 2r+2
// can fall off the far edge (R even, last coarse row), and then row 2r+1 is
// used twice. The same holds for the columns. The kernel is separable and the
// sums are exact integers, so the columns are combined first and the rows after.
bool reduceLevel(const ImageView* fine, const ImageView* coarse) {
    if (!adjacentLevels(fine, coarse)) return false;
    const int32_t R = viewRows(*fine), C = viewCols(*fine);
    const int32_t R2 = viewRows(*coarse), C2 = viewCols(*coarse);
    if (R2 <= 0 || C2 <= 0) return true;
    const int64_t fs = viewStride(*fine), cs = viewStride(*coarse);
    const uint8_t* src = fine->pixels;
    uint8_t* dst = coarse->pixels;

    forEachRange(static_cast<size_t>(C2), columnGrain(R), [&](size_t cb, size_t ce) {
        // Column sums of one chunk of rows at a time, so nothing is allocated.
        constexpr int32_t kChunk = 512;
        std::uint16_t sums[2 * kChunk + 1];
        for (size_t cu = cb; cu < ce; ++cu) {
            const int64_t c = static_cast<int64_t>(cu);
            const int64_t b0 = 2 * c, b1 = b0 + 1 < C ? b0 + 1 : b0;
            const int64_t b2 = b0 + 2 < C ? b0 + 2 : b1;
            const uint8_t* p0 = src + b0 * fs;
            const uint8_t* p1 = src + b1 * fs;
            const uint8_t* p2 = src + b2 * fs;
            uint8_t* out = dst + c * cs;
            for (int32_t rb = 0; rb < R2; rb += kChunk) {
                const int32_t re = std::min(R2, rb + kChunk);
                // Fine rows 2rb .. 2re, the last one only if it exists.
                const int32_t a0 = 2 * rb;
                const int32_t aEnd = std::min(2 * re + 1, R);
                for (int32_t a = a0; a < aEnd; ++a)
                    sums[a - a0] = static_cast<std::uint16_t>(p0[a] + 2 * p1[a] + p2[a]);
                // Rows 2r+1 and 2r+2 exist except 2r+2 for the last row of
                // an even level, where 2r+1 is used twice.
                const int32_t full = std::min(re, (R - 1) / 2);
                for (int32_t r = rb; r < full; ++r) {
                    const int32_t i0 = 2 * (r - rb);
                    out[r] = static_cast<uint8_t>((sums[i0] + 2 * sums[i0 + 1] + sums[i0 + 2] + 8) >> 4);
                }
                for (int32_t r = std::max(rb, full); r < re; ++r) {
                    const int32_t i0 = 2 * (r - rb);
                    const int32_t i1 = 2 * r + 1 < R ? i0 + 1 : i0;
                    const int32_t i2 = 2 * r + 2 < R ? i0 + 2 : i1;
                    out[r] = static_cast<uint8_t>((sums[i0] + 2 * sums[i1] + sums[i2] + 8) >> 4);
                }
            }
        }
    });
    return true;
}

// ---- Expansion -------------------------------------------------------------
//
// The interior is computed in pairs of fine columns (i, i+1), i odd, and pairs
// of fine rows (j-1, j), j even, from the four coarse pixels around them:
//   g         = F(j, i+1)   = (a + b + d + e + 2) >> 2
//   F(j, i)   = (F(j, i-1) + g + b + a + 2) >> 2
//   F(j-1, i+1) = (F(j-2, i+1) + d + g + a + 2) >> 2
//   F(j-1, i) = (F(j-1, i-1) + F(j-2, i) + F(j, i) + g + 2) >> 2
// Each fine pixel is written once. An even column (i+1) depends only on the
// coarse level and its seeded first row; an odd column i on the even columns
// left and right of it (or the seeded first column). So the columns are
// computed pair by pair, even column first; a range of pairs that starts
// after the first one computes the even column left of it into scratch space
// of its own, and so reads nothing another range writes. This gives exactly
// the values of the pair-by-pair order.
//
// The border step only copies: rows 0, R-2 (R odd) and R-1 of a column come
// from the rows inside it, which the interior never reads back, so a column is
// finished right after its interior; column 0 (whose seeds odd column 1 reads)
// becomes a copy of column 1 after that one, and columns C-2 (C odd) and C-1
// copies of their left neighbours. The seeds the border step overwrites
// without their being read (row R-1 and columns 0 and C-1 apart from what
// column 1 reads) are not written at all.
namespace {

struct Expansion {
    const uint8_t* qp;
    int64_t qs;
    int32_t Rq, Cq;
    uint8_t* fp;
    int64_t fs;
    int32_t R, C;
    int64_t colPairs;  // column pairs i = 1, 3, ... while i < C-2
    int32_t rowPairs;  // row pairs j = 2, 4, ... while j-1 < R-2

    uint8_t coarse(int64_t r, int64_t c) const {  // Q(r, c) clamped like getPixelClamped
        return qp[std::min<int64_t>(c, Cq - 1) * qs + std::min<int64_t>(r, Rq - 1)];
    }
    uint8_t* column(int64_t c) const { return fp + c * fs; }
    const uint8_t* coarseColumn(int64_t c) const { return qp + c * qs; }
};

#if defined(__SSE2__)
inline __m128i widen8(const uint8_t* p) {  // 8 bytes as 16-bit lanes
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
}
inline __m128i quarter(__m128i a, __m128i b, __m128i c, __m128i d) {  // (a + b + c + d + 2) >> 2
    const __m128i two = _mm_set1_epi16(2);
    return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(_mm_add_epi16(a, b), _mm_add_epi16(c, d)), two), 2);
}
#endif

// Rows 1 .. 2n of the even column fe from coarse columns qa (I) and qd (I+1);
// fe[0] holds its seed.
void evenColumn(const uint8_t* qa, const uint8_t* qd, uint8_t* fe, int32_t n) {
    {  // j = 2
        const int g = (qa[0] + qa[1] + qd[0] + qd[1] + 2) >> 2;
        fe[1] = static_cast<uint8_t>((fe[0] + qd[0] + g + qa[0] + 2) >> 2);
        fe[2] = static_cast<uint8_t>(g);
    }
    int32_t q = 1;
#if defined(__SSE2__)
    for (; q + 8 <= n; q += 8) {  // eight row pairs: coarse rows q-1 .. q+8
        const __m128i a = widen8(qa + q), b = widen8(qa + q + 1), am = widen8(qa + q - 1);
        const __m128i d = widen8(qd + q), e = widen8(qd + q + 1), dm = widen8(qd + q - 1);
        const __m128i g = quarter(a, b, d, e);
        const __m128i above = quarter(am, a, dm, d);
        const __m128i odd = quarter(above, d, g, a);
        // Rows 2q+1, 2q+2, ...: odd row, g, odd row, g, ...
        const __m128i out = _mm_unpacklo_epi8(_mm_packus_epi16(odd, odd), _mm_packus_epi16(g, g));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(fe + 2 * q + 1), out);
    }
#endif
    for (; q < n; ++q) {  // j = 2q+2, J = q+1
        const int a = qa[q], b = qa[q + 1], d = qd[q], e = qd[q + 1];
        const int g = (a + b + d + e + 2) >> 2;
        const int above = (qa[q - 1] + a + qd[q - 1] + d + 2) >> 2;
        fe[2 * q + 1] = static_cast<uint8_t>((above + d + g + a + 2) >> 2);
        fe[2 * q + 2] = static_cast<uint8_t>(g);
    }
}

// Rows 1 .. 2n of the odd column fi (fi[0] its seed) from coarse column qa and
// the even columns fl (left) and fe (right).
void oddColumn(const uint8_t* qa, const uint8_t* fl, const uint8_t* fe, uint8_t* fi, int32_t n) {
    {  // j = 2
        const int here = (fl[2] + fe[2] + qa[1] + qa[0] + 2) >> 2;
        fi[1] = static_cast<uint8_t>((fl[1] + fi[0] + here + fe[2] + 2) >> 2);
        fi[2] = static_cast<uint8_t>(here);
    }
    int32_t q = 1;
#if defined(__SSE2__)
    const __m128i low = _mm_set1_epi16(0xff);
    for (; q + 8 <= n; q += 8) {
        // 16-bit lanes over rows 2q+1 .. 2q+16: low byte the odd row j-1,
        // high byte the even row j; and the same one row pair up.
        const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(fl + 2 * q + 1));
        const __m128i lm = _mm_loadu_si128(reinterpret_cast<const __m128i*>(fl + 2 * q - 1));
        const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(fe + 2 * q + 1));
        const __m128i rm = _mm_loadu_si128(reinterpret_cast<const __m128i*>(fe + 2 * q - 1));
        const __m128i a = widen8(qa + q), b = widen8(qa + q + 1), am = widen8(qa + q - 1);
        const __m128i g = _mm_srli_epi16(r, 8);
        const __m128i here = quarter(_mm_srli_epi16(l, 8), g, b, a);
        const __m128i above = quarter(_mm_srli_epi16(lm, 8), _mm_srli_epi16(rm, 8), a, am);
        const __m128i odd = quarter(_mm_and_si128(l, low), above, here, g);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(fi + 2 * q + 1), _mm_or_si128(odd, _mm_slli_epi16(here, 8)));
    }
#endif
    for (; q < n; ++q) {
        const int j = 2 * q + 2;
        const int g = fe[j], a = qa[q], b = qa[q + 1];
        const int here = (fl[j] + g + b + a + 2) >> 2;
        const int above = (fl[j - 2] + fe[j - 2] + a + qa[q - 1] + 2) >> 2;
        fi[j - 1] = static_cast<uint8_t>((fl[j - 1] + above + here + g + 2) >> 2);
        fi[j] = static_cast<uint8_t>(here);
    }
}

// The border step down one column: F(0) = F(1); if R is odd F(R-2) = F(R-3);
// then F(R-1) = F(R-2).
void finishColumn(uint8_t* col, int32_t R) {
    col[0] = col[1];
    if (R % 2 == 1) col[R - 2] = col[R - 3];
    col[R - 1] = col[R - 2];
}

// The fine columns of the pairs pb .. pe-1, and column 0 with the first pair
// and the columns after the last pair with it. scratch: R bytes.
void expandPairs(const Expansion& x, std::size_t pb, std::size_t pe, uint8_t* scratch) {
    const int32_t R = x.R, n = x.rowPairs;
    const auto first = static_cast<int64_t>(pb), end = static_cast<int64_t>(pe);
    const uint8_t* left = nullptr;  // the even column left of the next odd one
    if (first == 0) {
        uint8_t* c0 = x.column(0);
        for (int32_t r = 0; r < R; ++r) c0[r] = x.coarse(r / 2, 0);
        left = c0;
    } else {  // the even column 2 first, which the range before finishes itself
        scratch[0] = x.coarse(0, first);
        evenColumn(x.coarseColumn(first - 1), x.coarseColumn(first), scratch, n);
        left = scratch;
    }
    for (int64_t p = first; p < end; ++p) {
        const int64_t i = 2 * p + 1;  // odd column; coarse column I = p
        uint8_t* fe = x.column(i + 1);
        fe[0] = x.coarse(0, p + 1);
        evenColumn(x.coarseColumn(p), x.coarseColumn(p + 1), fe, n);
        uint8_t* fi = x.column(i);
        fi[0] = x.coarse(0, p);
        oddColumn(x.coarseColumn(p), left, fe, fi, n);
        finishColumn(fi, R);
        finishColumn(fe, R);
        left = fe;
    }
    if (first == 0) std::copy_n(x.column(1), R, x.column(0));
    if (end == x.colPairs) {
        const int32_t C = x.C;
        if (C % 2 == 1) std::copy_n(x.column(C - 3), R, x.column(C - 2));
        std::copy_n(x.column(C - 2), R, x.column(C - 1));
    }
}

}  // namespace

bool expandLevel(const ImageView* coarse, const ImageView* fine) {
    return expandAndBlend(coarse, fine, nullptr, nullptr, nullptr, 0, 0, 0) == ExpandBlend::Done;
}

ExpandBlend expandAndBlend(const ImageView* coarse, const ImageView* fine, const ImageView* source,
                           const ImageView* mask, const BlockRect* rects, std::size_t nrects, std::int64_t offR,
                           std::int64_t offC) {
    if (!adjacentLevels(fine, coarse)) return ExpandBlend::ExpandRefused;
    bool blend = false;
    for (std::size_t t = 0; t < nrects; ++t)
        blend = blend || int64_t{rects[t].r1 - rects[t].r0} * int64_t{rects[t].c1 - rects[t].c0} != 0;
    // The blend's views, as blendLevel checks them (the rectangles aside).
    const bool blendFits = !blend || blendLevelColumns(source, fine, mask, nullptr, 0, 0, 0, 0);
    auto blendColumns = [&](int64_t cb, int64_t ce) {
        for (std::size_t t = 0; t < nrects; ++t) {
            const BlockRect& r = rects[t];
            if (int64_t{r.r1 - r.r0} * int64_t{r.c1 - r.c0} == 0) continue;
            blendLevelColumns(source, fine, mask, &r, offR, offC, cb, ce);
        }
    };
    const int32_t Rq = viewRows(*coarse), Cq = viewCols(*coarse);
    const int32_t R = viewRows(*fine), C = viewCols(*fine);
    const size_t grain = columnGrain(R);
    if (Rq < 2 || Cq < 2) {  // the fine level stays as it is
        if (!blendFits) return ExpandBlend::BlendRefused;
        if (blend) {
            forEachRange(static_cast<size_t>(std::max(C, 0)), grain, [&](size_t cb, size_t ce) {
                blendColumns(static_cast<int64_t>(cb), static_cast<int64_t>(ce));
            });
        }
        return ExpandBlend::Done;
    }
    // R, C >= 4 here.
    const Expansion x{coarse->pixels, viewStride(*coarse), Rq, Cq, fine->pixels, viewStride(*fine), R, C,
                      (C - 2) / 2,    (R - 2) / 2};
    const size_t pairs = static_cast<size_t>(x.colPairs);
    std::vector<uint8_t> scratch(rangeCount(pairs, grain) * static_cast<size_t>(R));
    const bool blendHere = blend && blendFits;
    forEachRangeNumbered(pairs, grain, [&](size_t t, size_t pb, size_t pe) {
        expandPairs(x, pb, pe, scratch.data() + t * static_cast<size_t>(R));
        // The columns this range finished: from the odd column of its first
        // pair (column 0 with the first) to the even column of its last (the
        // last column with the last), each blended right after it.
        if (blendHere) blendColumns(pb == 0 ? 0 : 2 * static_cast<int64_t>(pb) + 1,
                                    pe == pairs ? C : 2 * static_cast<int64_t>(pe) + 1);
    });
    return blendFits ? ExpandBlend::Done : ExpandBlend::BlendRefused;
}

// ---- Blending ----------------------------------------------------------------
//
// Along each axis the rule visits positions x = x0, x0 + s, ... and skips
// those before the mask (x < off), and stops at the first one past the
// rectangle, past the level or past the mask. So the visited positions are the
// ones of that sequence inside [max(x0, off, 0), min(x1, extent * s, off +
// mask extent)); positions before 0 have no pixel and are skipped as well.
namespace {

struct Span {
    int64_t first = 0, end = 0;  // full-resolution positions, first on the sequence
};

Span visited(int64_t x0, int64_t x1, int64_t off, int64_t extent, int64_t maskExtent, int32_t k) {
    const int64_t s = int64_t{1} << k;
    Span sp;
    const int64_t lo = std::max<int64_t>({x0, off, 0});
    sp.first = lo <= x0 ? x0 : x0 + (lo - x0 + s - 1) / s * s;
    sp.end = std::min({x1, extent * s, off + maskExtent});
    return sp;
}

}  // namespace

bool blendLevel(const ImageView* source, const ImageView* encoded, const ImageView* mask,
                const BlockRect* rect, std::int64_t offR, std::int64_t offC) {
    return blendLevelColumns(source, encoded, mask, rect, offR, offC, 0, INT64_MAX);
}

// blendLevel restricted to the level columns colBegin <= c >> k < colEnd; the
// columns are independent, so splitting a blend this way changes nothing.
bool blendLevelColumns(const ImageView* source, const ImageView* encoded, const ImageView* mask,
                       const BlockRect* rect, std::int64_t offR, std::int64_t offC,
                       std::int64_t colBegin, std::int64_t colEnd) {
    if (source == nullptr || encoded == nullptr || mask == nullptr) return false;
    if (!sameGeometry(*source, *encoded) || source->level != encoded->level) return false;
    if (!usable(*source) || !usable(*encoded) || !usable(*mask)) return false;
    const int32_t k = source->level;
    const int64_t R = viewRows(*source), C = viewCols(*source);
    const int64_t MR = viewRows(*mask), MC = viewCols(*mask);
    if (R <= 0 || C <= 0 || MR <= 0 || MC <= 0) return true;  // nothing to visit (k < 31 below)
    const BlockRect whole{0, 0, source->rows, source->cols};
    const BlockRect& rc = rect != nullptr ? *rect : whole;

    const int64_t s = int64_t{1} << k;
    const Span rows = visited(rc.r0, rc.r1, offR, R, MR, k);
    Span cols = visited(rc.c0, rc.c1, offC, C, MC, k);
    // Restrict to the requested level columns, staying on the column sequence.
    if (colBegin > 0) {
        const int64_t lo = colBegin * s;  // c >> k >= colBegin  <=>  c >= colBegin * s
        if (cols.first < lo) cols.first += (lo - cols.first + s - 1) / s * s;
    }
    if (colEnd < C) cols.end = std::min(cols.end, colEnd * s);
    if (rows.first >= rows.end || cols.first >= cols.end) return true;

    const int64_t n = (rows.end - rows.first + s - 1) / s;  // level pixels per column
    const int64_t ss = viewStride(*source), es = viewStride(*encoded), ms = viewStride(*mask);
    for (int64_t c = cols.first; c < cols.end; c += s) {
        const uint8_t* S = source->pixels + (c >> k) * ss + (rows.first >> k);
        uint8_t* E = encoded->pixels + (c >> k) * es + (rows.first >> k);
        const uint8_t* W = mask->pixels + (c - offC) * ms + (rows.first - offR);
        if (k == 0) {
            for (int64_t t = 0; t < n; ++t) {
                const std::uint32_t w = W[t];
                E[t] = static_cast<uint8_t>((S[t] * w + (255 - w) * E[t]) / 255);
            }
        } else {
            for (int64_t t = 0; t < n; ++t) {
                const std::uint32_t w = W[t * s];
                E[t] = static_cast<uint8_t>((S[t] * w + (255 - w) * E[t]) / 255);
            }
        }
    }
    return true;
}

// ---- Block runs --------------------------------------------------------------

namespace {

bool anyNonZero(const ImageView& v, int64_t r0, int64_t r1, int64_t c0, int64_t c1) {
    const int64_t st = viewStride(v);
    for (int64_t c = c0; c < c1; ++c) {
        const uint8_t* p = v.pixels + c * st;
        for (int64_t r = r0; r < r1; ++r)
            if (p[r] != 0) return true;
    }
    return false;
}

}  // namespace

bool nextBlockRun(const ImageView* view, std::int32_t r, std::int32_t c, std::int64_t br,
                  std::int64_t bc, BlockRect* out) {
    if (view == nullptr || out == nullptr || br < 1 || bc < 1) return false;
    if (!usable(*view)) return false;
    const int64_t R = viewRows(*view), C = viewCols(*view);
    int64_t rr = std::max(r, 0), cc = std::max(c, 0);
    while (cc < C) {
        bool found = false;
        if (rr < R) {
            const int64_t cEnd = std::min(cc + bc, C);
            for (;;) {
                const int64_t rEnd = std::min(rr + br, R);
                if (anyNonZero(*view, rr, rEnd, cc, cEnd)) {
                    if (!found) {
                        out->r0 = static_cast<int32_t>(rr);
                        out->c0 = static_cast<int32_t>(cc);
                        found = true;
                    }
                    out->r1 = static_cast<int32_t>(rEnd);
                    out->c1 = static_cast<int32_t>(cEnd);
                } else if (found) {
                    return true;
                }
                rr += br;
                if (rr >= R) break;
            }
        }
        if (found) return true;
        rr = 0;
        cc += bc;
    }
    return false;
}

}  // namespace kal
