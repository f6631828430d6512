#include "engine/kernels.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>

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
constexpr size_t kPixelsPerThread = 1 << 16;

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
// Each fine pixel is written once. The even columns (i+1) depend only on the
// coarse level and the seeded first row; an odd column i depends on the even
// column left of it (or the seeded first column) and the one right of it. So
// all even columns are filled first, then all odd columns, each column on its
// own; this gives exactly the values of the pair-by-pair order.
bool expandLevel(const ImageView* coarse, const ImageView* fine) {
    if (!adjacentLevels(fine, coarse)) return false;
    const int32_t Rq = viewRows(*coarse), Cq = viewCols(*coarse);
    if (Rq < 2 || Cq < 2) return true;
    const int32_t R = viewRows(*fine), C = viewCols(*fine);  // at least 4 each
    const ImageView* F = fine;
    const ImageView* Q = coarse;

    // 1, 2: seed the outer rows and columns.
    for (int32_t c = 0; c < C; ++c) {
        setPixelClamped(F, 0, c, getPixelClamped(Q, 0, c / 2));
        setPixelClamped(F, R - 1, c, getPixelClamped(Q, (R - 1) / 2, c / 2));
    }
    for (int32_t r = 0; r < R; ++r) {
        setPixelClamped(F, r, 0, getPixelClamped(Q, r / 2, 0));
        setPixelClamped(F, r, C - 1, getPixelClamped(Q, r / 2, (C - 1) / 2));
    }

    // 3: the interior. Column pairs i = 1, 3, ... while i < C-2; row pairs
    // j = 2, 4, ... while j-1 < R-2, i.e. j = 2q+2 for q < rowPairs.
    const int64_t colPairs = (C - 2) / 2;
    const int32_t rowPairs = (R - 2) / 2;
    const int64_t fs = viewStride(*F), qs = viewStride(*Q);
    uint8_t* const fp = F->pixels;
    const uint8_t* const qp = Q->pixels;
    const size_t grain = columnGrain(R);

    // Even columns e = i + 1: g on the even rows j, and on the odd rows j-1
    // (F(j-2, i+1) + d + g + a + 2) >> 2, where F(j-2, i+1) is the g of the row
    // pair above (or the seeded first row). Each row pair is computed from the
    // coarse level alone, so the loop has no carried dependence.
    forEachRange(static_cast<size_t>(colPairs), grain, [&](size_t pb, size_t pe) {
        for (size_t p = pb; p < pe; ++p) {
            const int32_t n = rowPairs;  // a local copy: stores through bytes may alias captures
            const int64_t i = 2 * static_cast<int64_t>(p) + 1, I = i / 2;
            const uint8_t* qa = qp + I * qs;  // coarse column I: a = Q(J-1, I), b = Q(J, I)
            const uint8_t* qd = qa + qs;      // coarse column I+1: d = Q(J-1, I+1), e = Q(J, I+1)
            uint8_t* fe = fp + (i + 1) * fs;
            if (n < 1) continue;
            {  // j = 2
                const int g = (qa[0] + qa[1] + qd[0] + qd[1] + 2) >> 2;
                fe[1] = static_cast<uint8_t>((fe[0] + qd[0] + g + qa[0] + 2) >> 2);
                fe[2] = static_cast<uint8_t>(g);
            }
            for (int32_t q = 1; q < n; ++q) {  // j = 2q+2, J = q+1
                const int a = qa[q], b = qa[q + 1], d = qd[q], e = qd[q + 1];
                const int g = (a + b + d + e + 2) >> 2;
                const int above = (qa[q - 1] + a + qd[q - 1] + d + 2) >> 2;
                fe[2 * q + 1] = static_cast<uint8_t>((above + d + g + a + 2) >> 2);
                fe[2 * q + 2] = static_cast<uint8_t>(g);
            }
        }
    });
    // Odd columns i: on the even rows (F(j, i-1) + g + b + a + 2) >> 2, on the
    // odd rows (F(j-1, i-1) + F(j-2, i) + F(j, i) + g + 2) >> 2, where F(j-2, i)
    // is the even-row value of the row pair above (or the seeded first row).
    forEachRange(static_cast<size_t>(colPairs), grain, [&](size_t pb, size_t pe) {
        for (size_t p = pb; p < pe; ++p) {
            const int32_t n = rowPairs;
            const int64_t i = 2 * static_cast<int64_t>(p) + 1, I = i / 2;
            const uint8_t* qa = qp + I * qs;
            const uint8_t* fl = fp + (i - 1) * fs;  // F(., i-1), complete
            uint8_t* fi = fp + i * fs;              // F(., i)
            const uint8_t* fe = fi + fs;            // F(., i+1): g on the even rows
            if (n < 1) continue;
            {  // j = 2
                const int here = (fl[2] + fe[2] + qa[1] + qa[0] + 2) >> 2;
                fi[1] = static_cast<uint8_t>((fl[1] + fi[0] + here + fe[2] + 2) >> 2);
                fi[2] = static_cast<uint8_t>(here);
            }
            for (int32_t q = 1; q < n; ++q) {
                const int j = 2 * q + 2;
                const int g = fe[j], a = qa[q], b = qa[q + 1];
                const int here = (fl[j] + g + b + a + 2) >> 2;
                const int above = (fl[j - 2] + fe[j - 2] + a + qa[q - 1] + 2) >> 2;
                fi[j - 1] = static_cast<uint8_t>((fl[j - 1] + above + here + g + 2) >> 2);
                fi[j] = static_cast<uint8_t>(here);
            }
        }
    });

    // 4: replicate the borders, first down every column, then along every row.
    for (int32_t c = 0; c < C; ++c) {
        uint8_t* col = fp + c * fs;
        col[0] = col[1];
        if (R % 2 == 1) col[R - 2] = col[R - 3];
        col[R - 1] = col[R - 2];
    }
    auto copyColumn = [&](int32_t to, int32_t from) {
        std::copy_n(fp + from * fs, R, fp + to * fs);
    };
    copyColumn(0, 1);
    if (C % 2 == 1) copyColumn(C - 2, C - 3);
    copyColumn(C - 1, C - 2);
    return true;
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
