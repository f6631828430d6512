// The pyramid engine's core: pixel access, reduce, expand, blend, masks, block
// rectangles, the pyramid table and encode. Hand-worked examples first, then
// random runs against a plain model written straight from the formulas.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "engine/kernels.hpp"
#include "engine/masks.hpp"
#include "engine/ops.hpp"
#include "engine/pyramid.hpp"
#include "engine/workers.hpp"
#include "tests/vector_state.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;
using kal::BlockRect;
using kal::ImageView;

// Column-major bytes from rows written out row by row (easier to read).
Bytes fromRows(const std::vector<std::vector<int>>& rows) {
    const std::size_t R = rows.size(), C = rows.empty() ? 0 : rows[0].size();
    Bytes b(R * C);
    for (std::size_t r = 0; r < R; ++r)
        for (std::size_t c = 0; c < C; ++c) b[c * R + r] = static_cast<std::uint8_t>(rows[r][c]);
    return b;
}

ImageView viewOf(Bytes& b, int rows, int cols, int level) { return ImageView{rows, cols, rows, level, b.data()}; }

std::string errorText(const std::function<void()>& f) {
    try {
        f();
    } catch (const kal::EngineError& e) {
        return e.what();
    }
    return "(no error)";
}

// ---------------------------------------------------------------------------
// The model: each rule written as plainly as possible, one pixel at a time.
namespace model {

struct Img {
    int R = 0, C = 0;
    Bytes p;
    Img() = default;
    Img(int r, int c, int v = 0) : R(r), C(c), p(static_cast<std::size_t>(r) * static_cast<std::size_t>(c), static_cast<std::uint8_t>(v)) {}
    int get(int r, int c) const { return p[static_cast<std::size_t>(c) * static_cast<std::size_t>(R) + static_cast<std::size_t>(r)]; }
    void set(int r, int c, int v) { p[static_cast<std::size_t>(c) * static_cast<std::size_t>(R) + static_cast<std::size_t>(r)] = static_cast<std::uint8_t>(v); }
    int getClamped(int r, int c) const { return R == 0 || C == 0 ? 0 : get(std::min(r, R - 1), std::min(c, C - 1)); }
    void setClamped(int r, int c, int v) {
        if (R != 0 && C != 0) set(std::min(r, R - 1), std::min(c, C - 1), v);
    }
};

Img reduce(const Img& f) {
    Img q(f.R / 2, f.C / 2);
    const int w[3] = {1, 2, 1};
    for (int r = 0; r < q.R; ++r)
        for (int c = 0; c < q.C; ++c) {
            int a[3] = {2 * r, 2 * r + 1, 2 * r + 2}, b[3] = {2 * c, 2 * c + 1, 2 * c + 2};
            if (a[1] >= f.R) a[1] = a[0];
            if (a[2] >= f.R) a[2] = a[1];
            if (b[1] >= f.C) b[1] = b[0];
            if (b[2] >= f.C) b[2] = b[1];
            int sum = 0;
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j) sum += w[i] * w[j] * f.get(a[i], b[j]);
            q.set(r, c, (sum + 8) >> 4);
        }
    return q;
}

void expand(const Img& Q, Img& F) {
    if (Q.R < 2 || Q.C < 2) return;
    const int R = F.R, C = F.C;
    for (int c = 0; c < C; ++c) {
        F.setClamped(0, c, Q.getClamped(0, c / 2));
        F.setClamped(R - 1, c, Q.getClamped((R - 1) / 2, c / 2));
    }
    for (int r = 0; r < R; ++r) {
        F.setClamped(r, 0, Q.getClamped(r / 2, 0));
        F.setClamped(r, C - 1, Q.getClamped(r / 2, (C - 1) / 2));
    }
    for (int i = 1; i < C - 2; i += 2)
        for (int j = 2; j - 1 < R - 2; j += 2) {
            const int I = i / 2, J = j / 2;
            const int a = Q.get(J - 1, I), b = Q.get(J, I), d = Q.get(J - 1, I + 1), e = Q.get(J, I + 1);
            F.set(j, i + 1, (a + b + d + e + 2) >> 2);
            const int g = F.get(j, i + 1);
            F.set(j, i, (F.get(j, i - 1) + g + b + a + 2) >> 2);
            F.set(j - 1, i + 1, (F.get(j - 2, i + 1) + d + g + a + 2) >> 2);
            F.set(j - 1, i, (F.get(j - 1, i - 1) + F.get(j - 2, i) + F.get(j, i) + g + 2) >> 2);
        }
    for (int c = 0; c < C; ++c) {
        F.setClamped(0, c, F.getClamped(1, c));
        if (R % 2 == 1) F.setClamped(R - 2, c, F.getClamped(R - 3, c));
        F.setClamped(R - 1, c, F.getClamped(R - 2, c));
    }
    for (int r = 0; r < R; ++r) {
        if (C > 1) F.setClamped(r, 0, F.getClamped(r, 1));
        if (C % 2 == 1) F.setClamped(r, C - 2, F.getClamped(r, C - 3));
        F.setClamped(r, C - 1, F.getClamped(r, C - 2));
    }
}

// S and E are level-k images; the rectangle is in full-resolution coordinates.
void blend(const Img& S, Img& E, const Img& M, int k, BlockRect rect, long offR, long offC) {
    const long s = 1L << k;
    for (long c = rect.c0; c < rect.c1; c += s) {
        if ((c >> k) >= S.C) return;
        const long mc = c - offC;
        if (mc < 0) continue;
        if (mc >= M.C) return;
        for (long r = rect.r0; r < rect.r1; r += s) {
            if ((r >> k) >= S.R) break;
            const long mr = r - offR;
            if (mr < 0) continue;
            if (mr >= M.R) break;
            const int w = M.get(static_cast<int>(mr), static_cast<int>(mc));
            const int sv = S.get(static_cast<int>(r >> k), static_cast<int>(c >> k));
            const int ev = E.get(static_cast<int>(r >> k), static_cast<int>(c >> k));
            E.set(static_cast<int>(r >> k), static_cast<int>(c >> k), (sv * w + (255 - w) * ev) / 255);
        }
    }
}

double sigma(int k) { return 0.248 * std::sqrt(2.0) / std::pow(2.0, k); }
double threshold(int k) { return 1.1774100225154747 * sigma(k); }

int weight(double v, int k) {
    if (std::isnan(v)) return 0;
    const double u = v * 0.5 + std::ldexp(1.0, -52);
    double f;
    if (u < threshold(k + 1))
        f = 0;
    else if (u >= threshold(k))
        f = 1;
    else {
        const double g1 = std::exp(-std::pow(u / sigma(k + 1), 2));
        const double e0 = std::exp(-std::pow(u / sigma(k), 2));
        f = std::min(1.0, (0.25 - g1) / (e0 - g1));
    }
    return static_cast<int>(255.0 * f);
}

struct Mask {
    Img m;
    int anchorR = 0, anchorC = 0;
    std::vector<BlockRect> rects;
};

Mask mask(const std::vector<double>& map, int MR, int MC, int k) {
    Mask out;
    out.m = Img(MR, MC);
    for (int c = 0; c < MC; ++c)
        for (int r = 0; r < MR; ++r)
            out.m.set(r, c, weight(map[static_cast<std::size_t>(c) * static_cast<std::size_t>(MR) + static_cast<std::size_t>(r)], k));
    out.anchorR = MR / 2;
    out.anchorC = MC / 2;
    int rmin = MR, rmax = -1, cmin = MC, cmax = -1;
    for (int c = 0; c < MC; ++c)
        for (int r = 0; r < MR; ++r)
            if (out.m.get(r, c) != 0) {
                rmin = std::min(rmin, r), rmax = std::max(rmax, r);
                cmin = std::min(cmin, c), cmax = std::max(cmax, c);
            }
    if (rmax < 0) {
        out.m = Img(0, 0);
    } else {
        Img cropped(rmax - rmin + 1, cmax - cmin + 1);
        for (int c = 0; c < cropped.C; ++c)
            for (int r = 0; r < cropped.R; ++r) cropped.set(r, c, out.m.get(r + rmin, c + cmin));
        out.m = cropped;
        out.anchorR -= rmin;
        out.anchorC -= cmin;
    }
    // Runs of non-empty blocks down each band of columns.
    const int br = 16 << k, bc = 32 << k;
    for (int c0 = 0; c0 < out.m.C; c0 += bc) {
        const int c1 = std::min(c0 + bc, out.m.C);
        bool open = false;
        for (int r0 = 0; r0 < out.m.R; r0 += br) {
            const int r1 = std::min(r0 + br, out.m.R);
            bool any = false;
            for (int c = c0; c < c1; ++c)
                for (int r = r0; r < r1; ++r) any = any || out.m.get(r, c) != 0;
            if (any && !open) out.rects.push_back(BlockRect{r0, c0, r1, c1});
            if (any) out.rects.back().r1 = r1;
            open = any;
        }
    }
    return out;
}

// encode over levels given as images; masks 0 .. L-2 are used.
Img encode(const std::vector<Img>& src, std::vector<Img>& enc, const std::vector<Mask>& masks, int fixCol,
           int fixRow) {
    const int L = static_cast<int>(src.size());
    const int R0 = src[0].R, C0 = src[0].C;
    int fr = std::max(fixRow, 0), fc = std::max(fixCol, 0);
    if (fr >= R0) fr = R0 - 1;
    if (fc >= C0) fc = C0 - 1;
    enc[static_cast<std::size_t>(L - 1)] = src[static_cast<std::size_t>(L - 1)];
    for (int k = L - 2; k >= 0; --k) {
        expand(enc[static_cast<std::size_t>(k + 1)], enc[static_cast<std::size_t>(k)]);
        const Mask& m = masks[static_cast<std::size_t>(k)];
        const long offR = fr - m.anchorR, offC = fc - m.anchorC;
        const long step = 1L << k;
        for (BlockRect r : m.rects) {
            auto down = [&](long x) { return static_cast<long>(std::floor(static_cast<double>(x) / step)) * step; };
            r.r0 = static_cast<int>(std::clamp(down(r.r0 + offR), 0L, static_cast<long>(R0)));
            r.r1 = static_cast<int>(std::clamp(down(r.r1 + offR), 0L, static_cast<long>(R0)));
            r.c0 = static_cast<int>(std::clamp(down(r.c0 + offC), 0L, static_cast<long>(C0)));
            r.c1 = static_cast<int>(std::clamp(down(r.c1 + offC), 0L, static_cast<long>(C0)));
            if ((r.r1 - r.r0) * (r.c1 - r.c0) != 0)
                blend(src[static_cast<std::size_t>(k)], enc[static_cast<std::size_t>(k)], m.m, k, r, offR, offC);
        }
    }
    return enc[0];
}

}  // namespace model

model::Img randomImg(std::mt19937& rng, int R, int C) {
    model::Img m(R, C);
    std::uniform_int_distribution<int> d(0, 255);
    for (auto& v : m.p) v = static_cast<std::uint8_t>(d(rng));
    return m;
}

// A resolution map like the program's: 1 at the centre falling off with
// distance, a blind patch (-1), and values placed on the band thresholds.
std::vector<double> randomMap(std::mt19937& rng, int MR, int MC) {
    std::vector<double> map(static_cast<std::size_t>(MR) * static_cast<std::size_t>(MC));
    std::uniform_real_distribution<double> noise(-0.05, 0.05), scale(5.0, 60.0);
    std::uniform_int_distribution<int> pick(0, 40);
    const double e2 = scale(rng);
    const int br = MR / 3 + pick(rng) % std::max(1, MR / 3), bc = MC / 4 + pick(rng) % std::max(1, MC / 3);
    for (int c = 0; c < MC; ++c)
        for (int r = 0; r < MR; ++r) {
            const double d = std::hypot(r - MR / 2.0, c - MC / 2.0);
            double v = e2 / (e2 + d) + noise(rng);
            const int p = pick(rng);
            if (p == 0) v = 2.0 * model::threshold(pick(rng) % 6);
            if (p == 1) v = 0.0;
            if (std::abs(r - br) < MR / 10 + 1 && std::abs(c - bc) < MC / 10 + 1) v = -1.0;
            map[static_cast<std::size_t>(c) * static_cast<std::size_t>(MR) + static_cast<std::size_t>(r)] = v;
        }
    return map;
}

// ===========================================================================
// Pixel access and views

TEST(EngineCoreAccess, ClampedReadsAndWritesStayInsideTheLevel) {
    // Level 1 of a 6 x 8 image: 3 x 4 pixels, stride 3.
    Bytes b(12);
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(10 + i);
    ImageView v = viewOf(b, 6, 8, 1);
    EXPECT_EQ(kal::viewRows(v), 3);
    EXPECT_EQ(kal::viewCols(v), 4);
    EXPECT_EQ(kal::getPixelClamped(&v, 1, 2), 10 + 2 * 3 + 1);
    EXPECT_EQ(kal::getPixelClamped(&v, 7, 1), 10 + 1 * 3 + 2);   // row past the end: last row
    EXPECT_EQ(kal::getPixelClamped(&v, 0, 99), 10 + 3 * 3 + 0);  // column past the end: last column
    EXPECT_EQ(kal::getPixelClamped(&v, 50, 50), 10 + 11);
    kal::setPixelClamped(&v, 9, 9, 200);
    EXPECT_EQ(b[11], 200);
    kal::setPixelClamped(&v, 0, 0, 1);
    EXPECT_EQ(b[0], 1);
}

TEST(EngineCoreAccess, ViewsWithoutPixelsReadZeroAndIgnoreWrites) {
    Bytes b(4, 77);
    ImageView noRows{1, 8, 1, 1, b.data()};  // 1 >> 1 = 0 rows
    EXPECT_EQ(kal::getPixelClamped(&noRows, 0, 0), 0);
    kal::setPixelClamped(&noRows, 0, 0, 5);
    EXPECT_EQ(b, Bytes(4, 77));
    EXPECT_EQ(kal::getPixelClamped(nullptr, 0, 0), 0);
    ImageView deep{1 << 30, 4, 1 << 30, 40, b.data()};  // shift counts past 31
    EXPECT_EQ(kal::viewRows(deep), 0);
    EXPECT_EQ(kal::getPixelClamped(&deep, 0, 0), 0);
}

// ===========================================================================
// Reduce

TEST(EngineCoreReduce, UniformLevelStaysUniform) {
    Bytes fine(25, 100), coarse(4, 0);
    ImageView f = viewOf(fine, 5, 5, 0), q = viewOf(coarse, 5, 5, 1);
    ASSERT_TRUE(kal::reduceLevel(&f, &q));
    EXPECT_EQ(coarse, Bytes(4, 100));  // 16 * 100 / 16, rounded half up
}

TEST(EngineCoreReduce, SingleBrightPixelSpreadsAQuarter) {
    Bytes fine(16, 0), coarse(4, 9);
    fine[1 * 4 + 1] = 255;  // (1, 1)
    ImageView f = viewOf(fine, 4, 4, 0), q = viewOf(coarse, 4, 4, 1);
    ASSERT_TRUE(kal::reduceLevel(&f, &q));
    EXPECT_EQ(coarse[0], (4 * 255 + 8) >> 4);  // 64
    EXPECT_EQ(coarse[0], 64);
    EXPECT_EQ(coarse[1], 0);  // (1, 0): rows 2, 3, 3
    EXPECT_EQ(coarse[2], 0);  // (0, 1): columns 2, 3, 3
    EXPECT_EQ(coarse[3], 0);
}

TEST(EngineCoreReduce, LastRowOfAnEvenLevelIsRepeated) {
    // 4 rows, constant along the rows: coarse row 1 takes rows 2, 3, 3.
    Bytes fine = fromRows({{0, 0}, {0, 0}, {16, 16}, {80, 80}});
    Bytes coarse(2, 0);
    ImageView f = viewOf(fine, 4, 2, 0), q = viewOf(coarse, 4, 2, 1);
    ASSERT_TRUE(kal::reduceLevel(&f, &q));
    // columns 0, 1, 1 with weights 1, 2, 1: each row counts 4 times.
    EXPECT_EQ(coarse[1], (4 * (16 + 2 * 80 + 80) + 8) >> 4);  // 64; rows 2, 3, 2 would give 48
    EXPECT_EQ(coarse[1], 64);
    EXPECT_EQ(coarse[0], (4 * (0 + 0 + 16) + 8) >> 4);
}

TEST(EngineCoreReduce, RampGivesTheWorkedLevel) {
    Bytes fine(36);
    for (int c = 0; c < 6; ++c)
        for (int r = 0; r < 6; ++r) fine[static_cast<std::size_t>(c * 6 + r)] = static_cast<std::uint8_t>(16 * r + 8 * c);
    Bytes coarse(9, 0);
    ImageView f = viewOf(fine, 6, 6, 0), q = viewOf(coarse, 6, 6, 1);
    ASSERT_TRUE(kal::reduceLevel(&f, &q));
    EXPECT_EQ(coarse, fromRows({{24, 40, 54}, {56, 72, 86}, {84, 100, 114}}));
}

TEST(EngineCoreReduce, DeeperLevelsUseTheirOwnExtentsAndStride) {
    // Level 1 -> 2 of a 12 x 8 image: a 6 x 4 level into a 3 x 2 level.
    Bytes fine(24);
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 6; ++r) fine[static_cast<std::size_t>(c * 6 + r)] = static_cast<std::uint8_t>(16 * r + 8 * c);
    Bytes coarse(6, 0);
    ImageView f = viewOf(fine, 12, 8, 1), q = viewOf(coarse, 12, 8, 2);
    ASSERT_TRUE(kal::reduceLevel(&f, &q));
    // Same windows as the ramp above for the first two columns; column 1
    // uses fine columns 2, 3, 3.
    EXPECT_EQ(coarse, fromRows({{24, (16 * 4 * 4 + 8 * 4 * (2 + 6 + 3) + 8) >> 4},
                                {56, (16 * 4 * 12 + 8 * 4 * 11 + 8) >> 4},
                                {84, (16 * 4 * 19 + 8 * 4 * 11 + 8) >> 4}}));
}

TEST(EngineCoreReduce, RejectsViewsThatDoNotFitAndTouchesNothing) {
    Bytes fine(16, 50), coarse(4, 7);
    ImageView f = viewOf(fine, 4, 4, 0);
    ImageView sameLevel = viewOf(coarse, 4, 4, 0), skip = viewOf(coarse, 4, 4, 2);
    ImageView otherRows{5, 4, 5, 1, coarse.data()}, otherStride{4, 4, 5, 1, coarse.data()};
    EXPECT_FALSE(kal::reduceLevel(&f, &sameLevel));
    EXPECT_FALSE(kal::reduceLevel(&f, &skip));
    EXPECT_FALSE(kal::reduceLevel(&f, &otherRows));
    EXPECT_FALSE(kal::reduceLevel(&f, &otherStride));
    EXPECT_FALSE(kal::reduceLevel(&f, nullptr));
    EXPECT_FALSE(kal::reduceLevel(nullptr, &sameLevel));
    EXPECT_EQ(coarse, Bytes(4, 7));
    EXPECT_EQ(fine, Bytes(16, 50));
}

// ===========================================================================
// Expand

TEST(EngineCoreExpand, WorkedTwoByTwoExample) {
    Bytes coarse = fromRows({{0, 200}, {100, 40}});
    Bytes fine(16, 0);
    ImageView q = viewOf(coarse, 4, 4, 1), f = viewOf(fine, 4, 4, 0);
    ASSERT_TRUE(kal::expandLevel(&q, &f));
    EXPECT_EQ(fine, fromRows({{39, 39, 121, 121}, {39, 39, 121, 121}, {71, 71, 85, 85}, {71, 71, 85, 85}}));
}

TEST(EngineCoreExpand, OneRowOrOneColumnLeavesTheFineLevelAlone) {
    Bytes coarse(4, 99);
    Bytes fine(24);
    for (std::size_t i = 0; i < fine.size(); ++i) fine[i] = static_cast<std::uint8_t>(i);
    const Bytes before = fine;
    ImageView q = viewOf(coarse, 3, 8, 1), f = viewOf(fine, 3, 8, 0);  // coarse 1 x 4
    EXPECT_TRUE(kal::expandLevel(&q, &f));
    EXPECT_EQ(fine, before);
    ImageView q2 = viewOf(coarse, 8, 3, 1), f2 = viewOf(fine, 8, 3, 0);  // coarse 4 x 1
    EXPECT_TRUE(kal::expandLevel(&q2, &f2));
    EXPECT_EQ(fine, before);
}

TEST(EngineCoreExpand, UniformCoarseGivesUniformFine) {
    for (int R : {4, 5, 7, 10}) {
        for (int C : {4, 5, 9, 12}) {
            Bytes coarse(static_cast<std::size_t>((R / 2) * (C / 2)), 77);
            Bytes fine(static_cast<std::size_t>(R * C), 3);
            ImageView q = viewOf(coarse, R, C, 1), f = viewOf(fine, R, C, 0);
            ASSERT_TRUE(kal::expandLevel(&q, &f));
            EXPECT_EQ(fine, Bytes(fine.size(), 77)) << R << " x " << C;
        }
    }
}

TEST(EngineCoreExpand, OddExtentsRepeatTheSecondToLastRowAndColumn) {
    // 5 x 5 from 2 x 2: the interior covers rows and columns 1..2; row and
    // column 3 are copies of 2, row and column 4 copies of 3.
    Bytes coarse = fromRows({{0, 200}, {100, 40}});
    Bytes fine(25, 0);
    ImageView q = viewOf(coarse, 5, 5, 1), f = viewOf(fine, 5, 5, 0);
    ASSERT_TRUE(kal::expandLevel(&q, &f));
    // Seeds: row 0 = (0, 0, 200, 200, 200); column 0 = (0, 0, 100, 100, 100).
    // Interior (j = 2, i = 1): a = 0, b = 100, d = 200, e = 40, g = 85;
    // F(2,1) = (100 + 85 + 100 + 0 + 2) >> 2 = 71, F(1,2) = (200 + 200 + 85 + 0 + 2) >> 2 = 121,
    // F(1,1) = (0 + 0 + 71 + 85 + 2) >> 2 = 39.
    EXPECT_EQ(fine, fromRows({{39, 39, 121, 121, 121},
                              {39, 39, 121, 121, 121},
                              {71, 71, 85, 85, 85},
                              {71, 71, 85, 85, 85},
                              {71, 71, 85, 85, 85}}));
}

TEST(EngineCoreExpand, RejectsViewsThatDoNotFitAndTouchesNothing) {
    Bytes coarse(4, 9), fine(16, 1);
    ImageView q = viewOf(coarse, 4, 4, 1);
    ImageView wrongLevel = viewOf(fine, 4, 4, 1), wrongCols{4, 6, 4, 0, fine.data()};
    EXPECT_FALSE(kal::expandLevel(&q, &wrongLevel));
    EXPECT_FALSE(kal::expandLevel(&q, &wrongCols));
    EXPECT_FALSE(kal::expandLevel(nullptr, &wrongLevel));
    EXPECT_EQ(fine, Bytes(16, 1));
}

// ===========================================================================
// Blend

TEST(EngineCoreBlend, WeightsCopyKeepOrMix) {
    Bytes S(3, 200), E(3, 100), M = {255, 0, 128};
    ImageView s = viewOf(S, 3, 1, 0), e = viewOf(E, 3, 1, 0), m = viewOf(M, 3, 1, 0);
    ASSERT_TRUE(kal::blendLevel(&s, &e, &m, nullptr, 0, 0));
    EXPECT_EQ(E[0], 200);
    EXPECT_EQ(E[1], 100);
    EXPECT_EQ(E[2], (200 * 128 + 127 * 100) / 255);  // (25600 + 12700) / 255
    EXPECT_EQ(E[2], 150);
}

TEST(EngineCoreBlend, OnlyThePartUnderTheMaskChanges) {
    // 4 x 6 level, a 2 x 3 mask of 255 laid at (1, 2); the rectangle is the
    // whole level and starts left of and above the mask.
    Bytes S(24, 200), E(24, 100), M(6, 255);
    ImageView s = viewOf(S, 4, 6, 0), e = viewOf(E, 4, 6, 0), m = viewOf(M, 2, 3, 0);
    const BlockRect all{0, 0, 4, 6};
    ASSERT_TRUE(kal::blendLevel(&s, &e, &m, &all, 1, 2));
    EXPECT_EQ(E, fromRows({{100, 100, 100, 100, 100, 100},
                           {100, 100, 200, 200, 200, 100},
                           {100, 100, 200, 200, 200, 100},
                           {100, 100, 100, 100, 100, 100}}));
}

TEST(EngineCoreBlend, MaskPastTheLevelOrRectangleIsCutOff) {
    Bytes S(16, 250), E(16, 10), M(100, 255);  // mask 10 x 10, larger than the level
    ImageView s = viewOf(S, 4, 4, 0), e = viewOf(E, 4, 4, 0), m = viewOf(M, 10, 10, 0);
    const BlockRect r{1, 1, 3, 9};  // columns past the level end the rectangle
    ASSERT_TRUE(kal::blendLevel(&s, &e, &m, &r, -5, -5));
    EXPECT_EQ(E, fromRows({{10, 10, 10, 10}, {10, 250, 250, 250}, {10, 250, 250, 250}, {10, 10, 10, 10}}));
}

TEST(EngineCoreBlend, CoarseLevelsSampleEveryOtherMaskPixel) {
    // Level 1 of an 8 x 8 image (4 x 4 pixels). Mask 8 x 8 with weight 255 on
    // odd mask rows, 0 on even ones. Laid at row 1, level row t sits at
    // full-resolution row 2t, mask row 2t - 1: odd for t >= 1, before the mask
    // for t = 0.
    Bytes S(16, 240), E(16, 30), M(64, 0);
    for (int c = 0; c < 8; ++c)
        for (int r = 1; r < 8; r += 2) M[static_cast<std::size_t>(c * 8 + r)] = 255;
    ImageView s = viewOf(S, 8, 8, 1), e = viewOf(E, 8, 8, 1), m = viewOf(M, 8, 8, 0);
    ASSERT_TRUE(kal::blendLevel(&s, &e, &m, nullptr, 1, 0));
    EXPECT_EQ(E, fromRows({{30, 30, 30, 30}, {240, 240, 240, 240}, {240, 240, 240, 240}, {240, 240, 240, 240}}));
    // Laid at row 0 every visited mask row is even: nothing changes.
    Bytes E2(16, 30);
    ImageView e2 = viewOf(E2, 8, 8, 1);
    ASSERT_TRUE(kal::blendLevel(&s, &e2, &m, nullptr, 0, 0));
    EXPECT_EQ(E2, Bytes(16, 30));
    // A rectangle of full-resolution rows 2..5 and columns 4..7 covers level
    // rows 1, 2 and columns 2, 3.
    Bytes E3(16, 30);
    ImageView e3 = viewOf(E3, 8, 8, 1);
    const BlockRect r{2, 4, 6, 8};
    ASSERT_TRUE(kal::blendLevel(&s, &e3, &m, &r, 1, 0));
    EXPECT_EQ(E3, fromRows({{30, 30, 30, 30}, {30, 30, 240, 240}, {30, 30, 240, 240}, {30, 30, 30, 30}}));
}

TEST(EngineCoreBlend, RejectsMismatchedViews) {
    Bytes S(16, 200), E(16, 100), M(16, 255);
    ImageView s = viewOf(S, 4, 4, 0), m = viewOf(M, 4, 4, 0);
    ImageView otherLevel = viewOf(E, 8, 8, 1), otherRows{4, 2, 4, 0, E.data()};
    EXPECT_FALSE(kal::blendLevel(&s, &otherLevel, &m, nullptr, 0, 0));
    EXPECT_FALSE(kal::blendLevel(&s, &otherRows, &m, nullptr, 0, 0));
    EXPECT_FALSE(kal::blendLevel(&s, &otherRows, nullptr, nullptr, 0, 0));
    EXPECT_EQ(E, Bytes(16, 100));
    // The mask's geometry is not compared.
    ImageView e = viewOf(E, 4, 4, 0), smallMask = viewOf(M, 2, 2, 0);
    EXPECT_TRUE(kal::blendLevel(&s, &e, &smallMask, nullptr, 0, 0));
    EXPECT_EQ(E, fromRows({{200, 200, 100, 100}, {200, 200, 100, 100}, {100, 100, 100, 100}, {100, 100, 100, 100}}));
}

// ===========================================================================
// Mask weights, crop, block rectangles

TEST(EngineCoreMasks, LevelWidthsAndThresholds) {
    const double sigma[6] = {0.35072496347, 0.17536248173, 0.08768124087, 0.04384062043, 0.02192031022, 0.01096015511};
    const double t[6] = {0.41294708713, 0.20647354357, 0.10323677178, 0.05161838589, 0.02580919295, 0.01290459647};
    for (int k = 0; k < 6; ++k) {
        EXPECT_NEAR(kal::levelSigma(k), sigma[k], 1e-11) << k;
        EXPECT_NEAR(kal::levelThreshold(k), t[k], 1e-11) << k;
    }
}

TEST(EngineCoreMasks, WeightTable) {
    struct Row {
        double v;
        int w[5];
    };
    const Row table[] = {
        {1.0, {255, 255, 255, 255, 255}}, {0.8, {233, 255, 255, 255, 255}}, {0.6, {117, 255, 255, 255, 255}},
        {0.5, {64, 255, 255, 255, 255}},  {0.4, {0, 233, 255, 255, 255}},   {0.3, {0, 117, 255, 255, 255}},
        {0.2, {0, 0, 233, 255, 255}},     {0.1, {0, 0, 0, 233, 255}},       {0.05, {0, 0, 0, 0, 233}},
        {0.0, {0, 0, 0, 0, 0}},           {-1.0, {0, 0, 0, 0, 0}},
    };
    for (const Row& row : table)
        for (int k = 0; k < 5; ++k) EXPECT_EQ(kal::maskWeight(row.v, k), row.w[k]) << "v " << row.v << " mask " << k;
}

TEST(EngineCoreMasks, UpperThresholdIsInclusive) {
    const double eps = std::ldexp(1.0, -52);
    for (int k = 0; k < 5; ++k) {
        const double tk = kal::levelThreshold(k);
        // Find a map value whose u lands exactly on t(k).
        double v = 2.0 * (tk - eps);
        int tries = 0;
        while (v * 0.5 + eps != tk && tries < 64) {
            v = std::nextafter(v, v * 0.5 + eps < tk ? 10.0 : -10.0);
            ++tries;
        }
        ASSERT_EQ(v * 0.5 + eps, tk) << k;
        EXPECT_EQ(kal::maskWeight(v, k), 255) << k;
        double below = v;
        while (below * 0.5 + eps >= tk) below = std::nextafter(below, -10.0);
        EXPECT_LT(kal::maskWeight(below, k), 255) << k;
        EXPECT_GE(kal::maskWeight(below, k), 250) << k;  // the band is continuous
    }
}

TEST(EngineCoreMasks, NonFiniteMapValues) {
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(kal::maskWeight(nan, k), 0);
        EXPECT_EQ(kal::maskWeight(inf, k), 255);
        EXPECT_EQ(kal::maskWeight(-inf, k), 0);
    }
}

TEST(EngineCoreMasks, AnchorIsTheMapCentre) {
    std::vector<double> map(101 * 80, 1.0);
    const kal::BlendMask m = kal::buildMask(map.data(), 101, 80, 0);
    EXPECT_EQ(m.rows, 101);
    EXPECT_EQ(m.cols, 80);
    EXPECT_EQ(m.anchorR, 50);
    EXPECT_EQ(m.anchorC, 40);
    EXPECT_EQ(m.pixels, Bytes(101 * 80, 255));
}

TEST(EngineCoreMasks, CropKeepsTheNonZeroBlockAndMovesTheAnchor) {
    kal::BlendMask m;
    m.rows = 30;
    m.cols = 12;
    m.pixels.assign(360, 0);
    m.anchorR = 15;
    m.anchorC = 6;
    for (int c = 5; c <= 6; ++c)
        for (int r = 10; r <= 19; ++r) m.pixels[static_cast<std::size_t>(c * 30 + r)] = static_cast<std::uint8_t>(r + 10 * c);
    kal::cropMask(m);
    EXPECT_EQ(m.rows, 10);
    EXPECT_EQ(m.cols, 2);
    EXPECT_EQ(m.anchorR, 5);
    EXPECT_EQ(m.anchorC, 1);
    Bytes want;
    for (int c = 5; c <= 6; ++c)
        for (int r = 10; r <= 19; ++r) want.push_back(static_cast<std::uint8_t>(r + 10 * c));
    EXPECT_EQ(m.pixels, want);
}

TEST(EngineCoreMasks, AllZeroMaskBecomesEmpty) {
    std::vector<double> map(40 * 30, 0.0);
    kal::BlendMask m = kal::buildMask(map.data(), 40, 30, 0);
    EXPECT_EQ(m.rows, 0);
    EXPECT_EQ(m.cols, 0);
    EXPECT_TRUE(m.pixels.empty());
    EXPECT_EQ(m.anchorR, 20);  // left as set before cropping
    EXPECT_EQ(m.anchorC, 15);
    EXPECT_TRUE(kal::maskBlockRects(m, 0).empty());
}

// All masks of a map are built together, each value's band found once; every
// mask must still be what the rule for that one mask gives (maskWeight, the
// weight table above), then cropped: here for values at and next to every
// threshold, non-finite, signed-zero and subnormal values, and 31 masks.
TEST(EngineCoreMasks, AllMasksTogetherFollowTheRuleOfEachMask) {
    std::vector<double> values = {std::nan(""), INFINITY, -INFINITY, -0.0, 0.0, -1.0, 1.0, 5.0,
                                  4.9e-324, std::numeric_limits<double>::min(), 1e-300};
    for (int k = 0; k <= 31; ++k) {
        const double t = kal::levelThreshold(k), eps = std::ldexp(1.0, -52);
        for (double v : {2.0 * t, std::nextafter(2.0 * t, 0.0), std::nextafter(2.0 * t, 1.0), (t - eps) * 2.0,
                         std::nextafter((t - eps) * 2.0, 0.0), 2.0 * kal::levelThreshold(k + 1) * 1.0001})
            values.push_back(v);
    }
    // Column 1 of three, between rows of blind values.
    const int MR = static_cast<int>(values.size()) + 4, MC = 3;
    std::vector<double> map(static_cast<std::size_t>(MR * MC), -1.0);
    for (std::size_t i = 0; i < values.size(); ++i) map[static_cast<std::size_t>(MR) + 2 + i] = values[i];

    const std::vector<kal::BlendMask> masks = kal::buildMasks(map.data(), MR, MC, 31);
    ASSERT_EQ(masks.size(), 31u);
    for (int k = 0; k < 31; ++k) {
        kal::BlendMask want;
        want.rows = MR;
        want.cols = MC;
        want.anchorR = MR / 2;
        want.anchorC = MC / 2;
        for (double v : map) want.pixels.push_back(kal::maskWeight(v, k));
        kal::cropMask(want);
        const kal::BlendMask& got = masks[static_cast<std::size_t>(k)];
        EXPECT_EQ(got.rows, want.rows) << k;
        EXPECT_EQ(got.cols, want.cols) << k;
        EXPECT_EQ(got.anchorR, want.anchorR) << k;
        EXPECT_EQ(got.anchorC, want.anchorC) << k;
        EXPECT_EQ(got.pixels, want.pixels) << k;
    }
    // Mask 2 ranges from 255 to 0 over the values: it is cropped but not empty.
    EXPECT_GT(masks[2].rows, 0);
    EXPECT_LT(masks[2].rows, MR);
}

// A value at exactly t(k+1) has weight 0 in mask k (exp(-ln 4) = 0.25) but 255
// in mask k+1: mask k is empty and keeps the map's centre as its anchor.
TEST(EngineCoreMasks, WeightZeroAtTheLowerThresholdLeavesTheMaskEmpty) {
    const double eps = std::ldexp(1.0, -52), t2 = kal::levelThreshold(2);
    ASSERT_EQ((t2 - eps) * 2.0 * 0.5 + eps, t2);
    std::vector<double> map(7 * 5, 0.0);
    map[4 * 7 + 6] = (t2 - eps) * 2.0;  // row 6, column 4: the far corner
    const std::vector<kal::BlendMask> masks = kal::buildMasks(map.data(), 7, 5, 3);
    EXPECT_EQ(masks[1].rows, 0);
    EXPECT_EQ(masks[1].cols, 0);
    EXPECT_EQ(masks[1].anchorR, 3);
    EXPECT_EQ(masks[1].anchorC, 2);
    EXPECT_EQ(masks[2].rows, 1);
    EXPECT_EQ(masks[2].cols, 1);
    EXPECT_EQ(masks[2].pixels, Bytes{255});
    EXPECT_EQ(masks[2].anchorR, 3 - 6);
    EXPECT_EQ(masks[2].anchorC, 2 - 4);
}

TEST(EngineCoreMasks, FullMaskIsCutIntoBandsOf32Columns) {
    kal::BlendMask m;
    m.rows = 40;
    m.cols = 70;
    m.pixels.assign(40 * 70, 9);
    const auto rects = kal::maskBlockRects(m, 0);
    ASSERT_EQ(rects.size(), 3u);
    const BlockRect want[3] = {{0, 0, 40, 32}, {0, 32, 40, 64}, {0, 64, 40, 70}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(rects[static_cast<std::size_t>(i)].r0, want[i].r0);
        EXPECT_EQ(rects[static_cast<std::size_t>(i)].c0, want[i].c0);
        EXPECT_EQ(rects[static_cast<std::size_t>(i)].r1, want[i].r1);
        EXPECT_EQ(rects[static_cast<std::size_t>(i)].c1, want[i].c1);
    }
}

TEST(EngineCoreMasks, EmptyBlocksSplitABandIntoRuns) {
    // 64 x 40, non-zero only in column 3 at rows 0..15 and 40..47.
    kal::BlendMask m;
    m.rows = 64;
    m.cols = 40;
    m.pixels.assign(64 * 40, 0);
    for (int r = 0; r < 16; ++r) m.pixels[static_cast<std::size_t>(3 * 64 + r)] = 1;
    for (int r = 40; r < 48; ++r) m.pixels[static_cast<std::size_t>(3 * 64 + r)] = 1;
    const auto rects = kal::maskBlockRects(m, 0);
    ASSERT_EQ(rects.size(), 2u);
    EXPECT_EQ(rects[0].r0, 0);
    EXPECT_EQ(rects[0].r1, 16);
    EXPECT_EQ(rects[0].c0, 0);
    EXPECT_EQ(rects[0].c1, 32);
    EXPECT_EQ(rects[1].r0, 32);
    EXPECT_EQ(rects[1].r1, 48);
    // At mask 1 the blocks are 32 x 64: one block holds both parts.
    const auto coarse = kal::maskBlockRects(m, 1);
    ASSERT_EQ(coarse.size(), 1u);
    EXPECT_EQ(coarse[0].r0, 0);
    EXPECT_EQ(coarse[0].r1, 64);
    EXPECT_EQ(coarse[0].c1, 40);
}

TEST(EngineCoreMasks, BlockScannerRejectsMissingOrZeroSizedArguments) {
    Bytes b(16, 1);
    ImageView v = viewOf(b, 4, 4, 0);
    BlockRect out{7, 7, 7, 7};
    EXPECT_FALSE(kal::nextBlockRun(nullptr, 0, 0, 16, 32, &out));
    EXPECT_FALSE(kal::nextBlockRun(&v, 0, 0, 16, 32, nullptr));
    EXPECT_FALSE(kal::nextBlockRun(&v, 0, 0, 0, 32, &out));
    EXPECT_FALSE(kal::nextBlockRun(&v, 0, 0, 16, -1, &out));
    EXPECT_EQ(out.r0, 7);
    EXPECT_TRUE(kal::nextBlockRun(&v, 0, 0, 16, 32, &out));
    EXPECT_FALSE(kal::nextBlockRun(&v, out.r1, out.c0, 16, 32, &out));
}

// ===========================================================================
// The pyramid table

TEST(EngineCoreTable, CreatingAPyramidGrowsTheTable) {
    kal::PyramidTable t;
    EXPECT_EQ(t.size(), 0u);
    t.createPyramid(3, 64, 48, 2);
    EXPECT_EQ(t.size(), 3u);
    EXPECT_EQ(t.levelCount(1), 0u);
    EXPECT_EQ(t.levelCount(2), 0u);
    EXPECT_EQ(t.levelCount(3), 2u);
    t.createPyramid(1, 8, 8, 1);
    EXPECT_EQ(t.size(), 3u);  // never shrinks
    EXPECT_FALSE(t.exists(0));
    EXPECT_FALSE(t.exists(4));
    EXPECT_FALSE(t.exists(-1));
}

TEST(EngineCoreTable, LevelSizesAndFixation) {
    kal::PyramidTable t;
    t.createPyramid(1, 60, 100, 5);
    const int want[5][2] = {{100, 60}, {50, 30}, {25, 15}, {12, 7}, {6, 3}};
    for (int k = 0; k < 5; ++k) {
        const kal::LevelSize s = t.levelSize(1, k + 1);
        EXPECT_EQ(s.rows, static_cast<std::size_t>(want[k][0]));
        EXPECT_EQ(s.cols, static_cast<std::size_t>(want[k][1]));
        EXPECT_EQ(t.getSrcLevel(1, k + 1).data.size(), static_cast<std::size_t>(want[k][0] * want[k][1]));
        EXPECT_EQ(t.getEncLevel(1, k + 1).rows, static_cast<std::size_t>(want[k][0]));
    }
    EXPECT_EQ(t.pyramid(1).fixR, 50);
    EXPECT_EQ(t.pyramid(1).fixC, 30);
    // A 6-level pyramid of 480 x 640 has a 15 x 20 coarsest level.
    t.createPyramid(2, 640, 480, 6);
    const kal::Image8 l6 = t.getSrcLevel(2, 6);
    EXPECT_EQ(l6.rows, 15u);
    EXPECT_EQ(l6.cols, 20u);
}

TEST(EngineCoreTable, ReshapingKeepsBytesAndMasks) {
    kal::PyramidTable t;
    t.createPyramid(1, 2, 2, 1);
    const Bytes base = {1, 2, 3, 4};
    t.setBase(1, 2, 2, base.data());
    t.createPyramid(1, 3, 3, 1);
    EXPECT_EQ(t.getSrcLevel(1, 1).data, Bytes({1, 2, 3, 4, 0, 0, 0, 0, 0}));
    t.createPyramid(1, 1, 2, 1);  // shrink, then grow again: the cut bytes are gone
    t.createPyramid(1, 2, 2, 1);
    EXPECT_EQ(t.getSrcLevel(1, 1).data, Bytes({1, 2, 0, 0}));

    t.createPyramid(1, 64, 64, 6);
    std::vector<double> map(128 * 128, 0.3);
    t.setResMap(1, 128, 128, map.data());
    EXPECT_EQ(t.maskCount(1), 5u);
    t.createPyramid(1, 64, 64, 3);
    EXPECT_EQ(t.maskCount(1), 5u);
    EXPECT_EQ(t.levelCount(1), 3u);
    EXPECT_THROW(t.getSrcLevel(1, 4), kal::EngineError);
    // Mask 2 (between levels 2 and 3) of v = 0.3 is 117 everywhere, not cropped.
    const kal::Image8 m = t.getBlendMask(1, 2);
    EXPECT_EQ(m.rows, 128u);
    EXPECT_EQ(m.data, Bytes(128 * 128, 117));
    EXPECT_EQ(errorText([&] { t.getBlendMask(1, 3); }), kal::msg::kInvalidMask);
}

TEST(EngineCoreTable, ZeroMaskAndItsRectangles) {
    kal::PyramidTable t;
    t.createPyramid(1, 32, 32, 3);
    std::vector<double> map(64 * 64, 0.3);  // mask 0: weight 0; mask 1: 117
    t.setResMap(1, 64, 64, map.data());
    const kal::Image8 m0 = t.getBlendMask(1, 1);
    EXPECT_EQ(m0.rows, 0u);
    EXPECT_EQ(m0.cols, 0u);
    EXPECT_TRUE(t.getMaskRects(1, 1).r0.empty());
    const kal::Image8 m1 = t.getBlendMask(1, 2);
    EXPECT_EQ(m1.data, Bytes(64 * 64, 117));
    // Mask 1 blocks: 32 x 64, so the 64 x 64 mask is one run of one band.
    const kal::MaskRects r = t.getMaskRects(1, 2);
    EXPECT_EQ(r.c0, std::vector<double>({0}));
    EXPECT_EQ(r.r0, std::vector<double>({0}));
    EXPECT_EQ(r.c1, std::vector<double>({64}));
    EXPECT_EQ(r.r1, std::vector<double>({64}));
}

TEST(EngineCoreTable, OperandChecksComeFirstAndChangeNothing) {
    using namespace kal::msg;
    kal::PyramidTable t;
    EXPECT_EQ(errorText([&] { t.createPyramid(0, 4, 4, 1); }), kInvalidN);
    EXPECT_EQ(errorText([&] { t.createPyramid(17, 4, 4, 1); }), kInvalidN);
    EXPECT_EQ(errorText([&] { t.createPyramid(-2, 4, 4, 1); }), kInvalidN);
    EXPECT_EQ(t.size(), 0u);
    EXPECT_EQ(errorText([&] { t.reduce(1); }), kInvalidN);
    EXPECT_EQ(errorText([&] { t.encode(1, 0, 0); }), kInvalidN);
    EXPECT_EQ(errorText([&] { t.getEncodedImage(1); }), kInvalidN);

    t.createPyramid(1, 8, 6, 2);
    const Bytes img(48, 5), small(12, 5);
    EXPECT_EQ(errorText([&] { t.setBase(1, 8, 6, img.data()); }), kWrongSize);  // rows and columns swapped
    EXPECT_EQ(errorText([&] { t.setSrcLevel(1, 2, 3, 3, small.data()); }), kWrongSize);
    EXPECT_EQ(errorText([&] { t.setEncLevel(1, 3, 1, 1, small.data()); }), kNoSuchLevel);
    EXPECT_EQ(errorText([&] { t.getSrcLevel(1, 0); }), kNoSuchLevel);
    EXPECT_EQ(errorText([&] { t.getEncLevel(1, 3); }), kNoSuchLevel);
    EXPECT_EQ(errorText([&] { t.getBlendMask(1, 1); }), kNoResmap);
    EXPECT_EQ(errorText([&] { t.getMaskRects(1, 2); }), kInvalidMask);
    EXPECT_EQ(errorText([&] { t.getMaskRects(1, 0); }), kInvalidMask);
    EXPECT_EQ(errorText([&] { t.encode(1, 3, 3); }), kNoResmap);
    EXPECT_EQ(t.getSrcLevel(1, 1).data, Bytes(48, 0));
    EXPECT_EQ(t.pyramid(1).fixR, 3);  // encode did not run
    t.setSrcLevel(1, 2, 3, 4, small.data());
    EXPECT_EQ(t.getSrcLevel(1, 2).data, small);
    t.setEncLevel(1, 1, 6, 8, img.data());
    EXPECT_EQ(t.getEncLevel(1, 1).data, img);
}

TEST(EngineCoreTable, AbsurdShapesAreRefused) {
    using namespace kal::msg;
    kal::PyramidTable t;
    t.createPyramid(1, 4, 4, 2);
    EXPECT_EQ(errorText([&] { t.createPyramid(1, -1, 4, 2); }), kBadPyramidSize);
    EXPECT_EQ(errorText([&] { t.createPyramid(1, 4, -4, 2); }), kBadPyramidSize);
    EXPECT_EQ(errorText([&] { t.createPyramid(1, 4, 4, -1); }), kBadPyramidSize);
    EXPECT_EQ(errorText([&] { t.createPyramid(1, 4, 4, 33); }), kBadPyramidSize);
    EXPECT_EQ(errorText([&] { t.createPyramid(2, 1 << 20, 1 << 20, 1); }), kBadPyramidSize);
    EXPECT_EQ(errorText([&] { t.createPyramid(2, std::numeric_limits<std::int32_t>::max(), 2, 1); }),
              kBadPyramidSize);
    EXPECT_EQ(t.size(), 1u);
    EXPECT_EQ(t.levelCount(1), 2u);
    // The largest allowed depth: levels past 30 have no pixels and work.
    t.createPyramid(2, 8, 8, 32);
    EXPECT_EQ(t.levelSize(2, 32).rows, 0u);
    t.reduce(2);
    std::vector<double> map(16, 1.0);
    t.setResMap(2, 4, 4, map.data());
    EXPECT_EQ(t.maskCount(2), 31u);
    t.encode(2, 4, 4);
    EXPECT_EQ(t.getEncodedImage(2).rows, 8u);
}

TEST(EngineCoreTable, PyramidsWithoutLevelsOrWithTooFewMasks) {
    using namespace kal::msg;
    kal::PyramidTable t;
    t.createPyramid(2, 8, 8, 3);  // pyramid 1: never shaped
    const Bytes none;
    EXPECT_EQ(errorText([&] { t.setBase(1, 0, 0, none.data()); }), kNoSuchLevel);
    EXPECT_EQ(errorText([&] { t.levelSize(1, 1); }), kNoSuchLevel);
    EXPECT_EQ(errorText([&] { t.getEncodedImage(1); }), kNoSuchLevel);
    EXPECT_EQ(errorText([&] { t.getBlendMask(1, 1); }), kInvalidMask);
    EXPECT_NO_THROW(t.reduce(1));
    std::vector<double> map(64, 1.0);
    t.setResMap(1, 8, 8, map.data());  // no levels: no masks
    EXPECT_TRUE(t.masksEmpty(1));
    EXPECT_EQ(errorText([&] { t.encode(1, 0, 0); }), kNoResmap);

    // Pyramid 2: map set under 3 levels (2 masks), then re-shaped.
    t.setResMap(2, 8, 8, map.data());
    t.createPyramid(2, 8, 8, 0);
    EXPECT_EQ(errorText([&] { t.encode(2, 0, 0); }), kNoSuchLevel);
    EXPECT_EQ(errorText([&] { t.getEncodedImage(2); }), kNoSuchLevel);
    t.createPyramid(2, 16, 16, 5);
    EXPECT_EQ(errorText([&] { t.getBlendMask(2, 3); }), kInvalidMask);
    EXPECT_EQ(errorText([&] { t.getMaskRects(2, 4); }), kInvalidMask);
    EXPECT_EQ(t.getBlendMask(2, 2).rows, 8u);
    EXPECT_EQ(errorText([&] { t.encode(2, 0, 0); }), kNoResmap);
    EXPECT_EQ(t.pyramid(2).fixR, 8);  // nothing changed
    t.createPyramid(2, 16, 16, 3);
    EXPECT_NO_THROW(t.encode(2, 0, 0));
}

TEST(EngineCoreTable, RandomCallSequencesFailOnlyWithKnownTexts) {
    // Arbitrary numbers in every argument: each call either works or throws
    // one of the engine's texts, and the level images keep their sizes.
    using namespace kal::msg;
    const std::vector<std::string> known = {kInvalidN,      kNot2DResmap, kInvalidMask,  kNoResmap,
                                            kWrongSize,     kNoSuchLevel, kBadPyramidSize, kResmapTooLarge};
    std::mt19937 rng(21);
    std::uniform_int_distribution<int> op(0, 11), small(-3, 20), any(std::numeric_limits<std::int32_t>::min(),
                                                                     std::numeric_limits<std::int32_t>::max());
    auto arg = [&] { return rng() % 8 == 0 ? any(rng) : small(rng); };
    kal::PyramidTable t;
    Bytes img(400, 9);
    std::vector<double> map(400, 0.3);
    map[7] = std::numeric_limits<double>::quiet_NaN();
    map[8] = -std::numeric_limits<double>::infinity();
    for (int call = 0; call < 3000; ++call) {
        const int n = small(rng) % 5, a = arg(), b = arg(), c = arg();
        const auto rows = static_cast<std::size_t>(small(rng) & 15), cols = static_cast<std::size_t>(small(rng) & 15);
        try {
            switch (op(rng)) {
                case 0: t.createPyramid(n, a % 40, b % 40, c % 8); break;
                case 1: t.setResMap(n, rows, cols, map.data()); break;
                case 2: t.getMaskRects(n, a); break;
                case 3: t.getBlendMask(n, a); break;
                case 4: t.setBase(n, rows, cols, img.data()); break;
                case 5: t.reduce(n); break;
                case 6: t.getSrcLevel(n, a); break;
                case 7: t.getEncLevel(n, a); break;
                case 8: t.setSrcLevel(n, a, rows, cols, img.data()); break;
                case 9: t.setEncLevel(n, a, rows, cols, img.data()); break;
                case 10: t.encode(n, a, b); break;
                default: t.getEncodedImage(n); break;
            }
        } catch (const kal::EngineError& e) {
            ASSERT_NE(std::find(known.begin(), known.end(), std::string(e.what())), known.end()) << e.what();
        }
        for (std::int32_t p = 1; p <= static_cast<std::int32_t>(t.size()); ++p)
            for (const kal::PyramidLevel& l : t.pyramid(p).src)
                ASSERT_EQ(l.pixels.size(), static_cast<std::size_t>(l.levelRows() * l.levelCols()));
    }
}

TEST(EngineCoreTable, ProcessWideOperationsShareOneTable) {
    // The entry's functions reach one table for the whole process.
    const std::size_t before = kal::tableSize();
    kal::createPyramid(5, 16, 8, 2);
    EXPECT_GE(kal::tableSize(), std::max<std::size_t>(before, 5));
    EXPECT_TRUE(kal::pyramidExists(5));
    EXPECT_FALSE(kal::pyramidExists(-5));
    EXPECT_EQ(kal::levelCount(5), 2u);
    EXPECT_EQ(kal::levelSize(5, 2).cols, 8u);
    Bytes img(128);
    for (std::size_t i = 0; i < img.size(); ++i) img[i] = static_cast<std::uint8_t>(i);
    kal::setBase(5, 8, 16, img.data());
    kal::reduce(5);
    model::Img m(8, 16);
    m.p = img;
    EXPECT_EQ(kal::getSrcLevel(5, 2).data, model::reduce(m).p);
    EXPECT_TRUE(kal::masksEmpty(5));
    EXPECT_EQ(errorText([] { kal::encode(5, 0, 0); }), kal::msg::kNoResmap);
    std::vector<double> map(16 * 32, 1.0);
    kal::setResMap(5, 16, 32, map.data());
    EXPECT_EQ(kal::maskCount(5), 1u);
    kal::encode(5, 8, 4);
    EXPECT_EQ(kal::getEncodedImage(5).data, img);  // all-255 mask: level 1 unchanged
}

// ===========================================================================
// Encode

TEST(EngineCoreEncode, FixationIsKeptInsideTheImage) {
    kal::PyramidTable t;
    t.createPyramid(1, 640, 480, 2);
    std::vector<double> map(16, 1.0);
    t.setResMap(1, 4, 4, map.data());
    t.encode(1, 1000, -3);
    EXPECT_EQ(t.pyramid(1).fixR, 0);
    EXPECT_EQ(t.pyramid(1).fixC, 639);
    t.encode(1, 17, 23);
    EXPECT_EQ(t.pyramid(1).fixR, 23);
    EXPECT_EQ(t.pyramid(1).fixC, 17);
    t.createPyramid(1, 640, 480, 2);  // re-shaping resets it to the centre
    EXPECT_EQ(t.pyramid(1).fixR, 240);
    EXPECT_EQ(t.pyramid(1).fixC, 320);
}

TEST(EngineCoreEncode, PlacedRectanglesSnapToLevelPixels) {
    // Mask 2: multiples of 4, toward minus infinity, then clamped.
    const BlockRect r{0, 0, 10, 10};
    BlockRect p = kal::placeRect(r, 13, -3, 2, 100, 100);
    EXPECT_EQ(p.r0, 12);
    EXPECT_EQ(p.r1, 20);  // 23 -> 20
    EXPECT_EQ(p.c0, 0);   // -3 -> -4 -> 0
    EXPECT_EQ(p.c1, 4);   // 7 -> 4
    p = kal::placeRect(r, 95, 0, 0, 100, 100);
    EXPECT_EQ(p.r0, 95);
    EXPECT_EQ(p.r1, 100);  // 105 clamped
    p = kal::placeRect(r, -30, 0, 1, 100, 100);
    EXPECT_EQ(p.r0, 0);
    EXPECT_EQ(p.r1, 0);
}

TEST(EngineCoreEncode, BlindMapGivesTheExpandedCoarsestLevel) {
    std::mt19937 rng(7);
    kal::PyramidTable t;
    t.createPyramid(1, 40, 36, 3);
    const model::Img base = randomImg(rng, 36, 40);
    t.setBase(1, 36, 40, base.p.data());
    t.reduce(1);
    std::vector<double> map(72 * 80, 0.0);
    t.setResMap(1, 72, 80, map.data());
    for (int k = 1; k <= 2; ++k) EXPECT_EQ(t.getBlendMask(1, k).rows, 0u);
    t.encode(1, 20, 18);
    // By hand: level 3 expanded into level 2, that into level 1.
    const model::Img l2 = model::reduce(base), l3 = model::reduce(l2);
    model::Img e2(18, 20), e1(36, 40);
    model::expand(l3, e2);
    model::expand(e2, e1);
    EXPECT_EQ(t.getEncodedImage(1).data, e1.p);
    EXPECT_EQ(t.getEncLevel(1, 3).data, l3.p);
}

TEST(EngineCoreEncode, FullResolutionMapReturnsTheSource) {
    std::mt19937 rng(8);
    kal::PyramidTable t;
    t.createPyramid(1, 50, 30, 4);
    const model::Img base = randomImg(rng, 30, 50);
    t.setBase(1, 30, 50, base.p.data());
    t.reduce(1);
    std::vector<double> map(60 * 100, 1.0);
    t.setResMap(1, 60, 100, map.data());
    for (int fix : {0, 7, 29}) {
        t.encode(1, fix, fix);
        EXPECT_EQ(t.getEncodedImage(1).data, base.p) << fix;
    }
}

// ===========================================================================
// Random runs against the model

TEST(EngineCoreModel, ReduceAndExpandOnRandomSizes) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> size(1, 70), lvl(0, 2);
    for (int trial = 0; trial < 300; ++trial) {
        const int k = lvl(rng);
        const int rows = size(rng) << k, cols = size(rng) << k;
        const model::Img fine = randomImg(rng, rows >> k, cols >> k);
        model::Img coarse = randomImg(rng, rows >> (k + 1), cols >> (k + 1));
        Bytes fb = fine.p, cb = coarse.p;
        ImageView f{rows, cols, rows, k, fb.data()}, q{rows, cols, rows, k + 1, cb.data()};
        ASSERT_TRUE(kal::reduceLevel(&f, &q));
        ASSERT_EQ(cb, model::reduce(fine).p) << rows << " x " << cols << " level " << k;

        model::Img want = fine;
        model::expand(coarse, want);
        Bytes cb2 = coarse.p;
        ImageView q2{rows, cols, rows, k + 1, cb2.data()};
        ASSERT_TRUE(kal::expandLevel(&q2, &f));
        ASSERT_EQ(fb, want.p) << rows << " x " << cols << " level " << k;
    }
}

// Large levels are expanded in column ranges, one per worker, each blended
// right after it; odd and even extents, several ranges, against the model.
TEST(EngineCoreModel, ExpansionInRangesOnOddAndEvenSizes) {
    std::mt19937 rng(21);
    for (unsigned threads : {3u, 7u}) {
        kal::workerCountOverride() = threads;
        for (auto [rows, cols] : {std::pair{1025, 1001}, {1024, 1000}, {1023, 998}}) {
            const model::Img coarse = randomImg(rng, rows / 2, cols / 2);
            const model::Img fine = randomImg(rng, rows, cols);
            model::Img want = fine;
            model::expand(coarse, want);
            Bytes cb = coarse.p, fb = fine.p;
            ImageView q{rows, cols, rows, 1, cb.data()}, f{rows, cols, rows, 0, fb.data()};
            ASSERT_TRUE(kal::expandLevel(&q, &f));
            EXPECT_EQ(fb, want.p) << rows << " x " << cols << ", " << threads << " threads";

            // With a blend: the same as expanding and then blending.
            Bytes src = randomImg(rng, rows, cols).p, mk = randomImg(rng, 300, 900).p, fb2 = fine.p;
            ImageView s{rows, cols, rows, 0, src.data()}, m{300, 900, 300, 0, mk.data()},
                f2{rows, cols, rows, 0, fb2.data()};
            const BlockRect rects[] = {{10, 5, 200, 700}, {0, 0, 0, 0}, {250, 600, 1024, 1001}};
            ASSERT_EQ(kal::expandAndBlend(&q, &f2, &s, &m, rects, 3, 7, -40), kal::ExpandBlend::Done);
            ImageView f3 = f;  // the expanded level, blended rectangle by rectangle
            for (const BlockRect& r : rects) {
                if ((r.r1 - r.r0) * (r.c1 - r.c0) != 0) {
                    ASSERT_TRUE(kal::blendLevel(&s, &f3, &m, &r, 7, -40));
                }
            }
            EXPECT_EQ(fb2, fb) << rows << " x " << cols << ", " << threads << " threads";
        }
    }
    kal::workerCountOverride() = 0;
}

TEST(EngineCoreModel, BlendOnRandomRectanglesAndOffsets) {
    std::mt19937 rng(12);
    std::uniform_int_distribution<int> size(1, 40), lvl(0, 3), off(-50, 50), pos(-10, 90);
    for (int trial = 0; trial < 400; ++trial) {
        const int k = lvl(rng);
        const int rows = size(rng) << k, cols = size(rng) << k;
        const model::Img S = randomImg(rng, rows >> k, cols >> k);
        const model::Img M = randomImg(rng, size(rng), size(rng));
        model::Img E = randomImg(rng, rows >> k, cols >> k);
        BlockRect r{std::max(0, pos(rng)), std::max(0, pos(rng)), pos(rng), pos(rng)};
        const int offR = off(rng), offC = off(rng);
        Bytes sb = S.p, eb = E.p, mb = M.p;
        ImageView s{rows, cols, rows, k, sb.data()}, e{rows, cols, rows, k, eb.data()};
        ImageView m{M.R, M.C, M.R, 0, mb.data()};
        ASSERT_TRUE(kal::blendLevel(&s, &e, &m, &r, offR, offC));
        model::blend(S, E, M, k, r, offR, offC);
        ASSERT_EQ(eb, E.p) << "trial " << trial;
    }
}

struct EngineRun {
    std::vector<Bytes> src, enc, masks;
    std::vector<kal::MaskRects> rects;
};

EngineRun engineRun(int rows, int cols, int levels, const model::Img& base, const std::vector<double>& map, int MR, int MC,
              int fixCol, int fixRow, int encodeLevels) {
    kal::PyramidTable t;
    t.createPyramid(1, cols, rows, levels);
    t.setBase(1, static_cast<std::size_t>(rows), static_cast<std::size_t>(cols), base.p.data());
    t.reduce(1);
    t.setResMap(1, static_cast<std::size_t>(MR), static_cast<std::size_t>(MC), map.data());
    EngineRun run;
    for (int k = 1; k < levels; ++k) {
        run.masks.push_back(t.getBlendMask(1, k).data);
        run.rects.push_back(t.getMaskRects(1, k));
    }
    if (encodeLevels != levels) {
        t.createPyramid(1, cols, rows, encodeLevels);
        t.setBase(1, static_cast<std::size_t>(rows), static_cast<std::size_t>(cols), base.p.data());
        t.reduce(1);
    }
    t.encode(1, fixCol, fixRow);
    for (int k = 1; k <= encodeLevels; ++k) {
        run.src.push_back(t.getSrcLevel(1, k).data);
        run.enc.push_back(t.getEncLevel(1, k).data);
    }
    return run;
}

TEST(EngineCoreModel, WholeRenderingsAgreeWithTheModel) {
    std::mt19937 rng(13);
    std::uniform_int_distribution<int> size(1, 90), nlev(2, 6);
    for (int trial = 0; trial < 60; ++trial) {
        const int rows = size(rng), cols = size(rng), levels = nlev(rng);
        std::uniform_int_distribution<int> fewer(1, levels);
        const int encodeLevels = trial % 4 == 0 ? fewer(rng) : levels;
        const int MR = trial % 3 == 0 ? size(rng) : 2 * rows, MC = trial % 3 == 0 ? size(rng) : 2 * cols;
        const model::Img base = randomImg(rng, rows, cols);
        const std::vector<double> map = randomMap(rng, MR, MC);
        std::uniform_int_distribution<int> fr(-5, rows + 5), fc(-5, cols + 5);
        const int fixRow = fr(rng), fixCol = fc(rng);

        const EngineRun got = engineRun(rows, cols, levels, base, map, MR, MC, fixCol, fixRow, encodeLevels);

        std::vector<model::Img> src{base};
        for (int k = 1; k < encodeLevels; ++k) src.push_back(model::reduce(src.back()));
        std::vector<model::Img> enc;
        for (const auto& s : src) enc.emplace_back(s.R, s.C);
        std::vector<model::Mask> masks;
        for (int k = 0; k + 1 < levels; ++k) masks.push_back(model::mask(map, MR, MC, k));
        if (encodeLevels > 0) model::encode(src, enc, masks, fixCol, fixRow);

        const std::string what = std::to_string(rows) + " x " + std::to_string(cols) + ", " +
                                 std::to_string(levels) + "/" + std::to_string(encodeLevels) + " levels, trial " +
                                 std::to_string(trial);
        for (std::size_t k = 0; k < src.size(); ++k) {
            ASSERT_EQ(got.src[k], src[k].p) << "source level " << k << ", " << what;
            ASSERT_EQ(got.enc[k], enc[k].p) << "encoded level " << k << ", " << what;
        }
        for (std::size_t k = 0; k < masks.size(); ++k) {
            ASSERT_EQ(got.masks[k], masks[k].m.p) << "mask " << k << ", " << what;
            const kal::MaskRects& r = got.rects[k];
            ASSERT_EQ(r.r0.size(), masks[k].rects.size()) << "mask " << k << ", " << what;
            for (std::size_t i = 0; i < r.r0.size(); ++i) {
                EXPECT_EQ(r.r0[i], masks[k].rects[i].r0);
                EXPECT_EQ(r.c0[i], masks[k].rects[i].c0);
                EXPECT_EQ(r.r1[i], masks[k].rects[i].r1);
                EXPECT_EQ(r.c1[i], masks[k].rects[i].c1);
            }
        }
    }
}

TEST(EngineCoreModel, ResultsDoNotDependOnTheThreadCount) {
    std::mt19937 rng(14);
    const int rows = 600, cols = 700;
    const model::Img base = randomImg(rng, rows, cols);
    const std::vector<double> map = randomMap(rng, 2 * rows, 2 * cols);
    std::vector<EngineRun> runs;
    for (unsigned threads : {1u, 2u, 3u, 7u}) {
        kal::workerCountOverride() = threads;
        runs.push_back(engineRun(rows, cols, 5, base, map, 2 * rows, 2 * cols, 301, 288, 5));
    }
    kal::workerCountOverride() = 0;
    for (std::size_t i = 1; i < runs.size(); ++i) {
        EXPECT_EQ(runs[i].src, runs[0].src);
        EXPECT_EQ(runs[i].enc, runs[0].enc);
        EXPECT_EQ(runs[i].masks, runs[0].masks);
    }
    // And the single-thread run agrees with the model.
    std::vector<model::Img> src{base};
    for (int k = 1; k < 5; ++k) src.push_back(model::reduce(src.back()));
    std::vector<model::Img> enc;
    for (const auto& s : src) enc.emplace_back(s.R, s.C);
    std::vector<model::Mask> masks;
    for (int k = 0; k < 4; ++k) masks.push_back(model::mask(map, 2 * rows, 2 * cols, k));
    model::encode(src, enc, masks, 301, 288);
    EXPECT_EQ(runs[0].enc[0], enc[0].p);
}

// The engine's ranges start with the upper halves of the AVX registers unused
// whatever its host left in them (Qt's BMP reader leaves them in use, and SSE
// code around exp then ran 25 times slower).
TEST(EngineCoreWorkers, RangesStartWithTheAvxUpperHalvesUnused) {
    if (!ocu::testutil::avx_upper_in_use().has_value()) GTEST_SKIP() << "the processor cannot tell";
    for (unsigned threads : {1u, 2u, 3u}) {
        kal::workerCountOverride() = threads;
        std::atomic<int> ranges{0}, dirty{0};
        ocu::testutil::dirty_avx_upper();
        ASSERT_TRUE(*ocu::testutil::avx_upper_in_use());
        kal::forEachRange(300, 100, [&](std::size_t, std::size_t) {
            if (*ocu::testutil::avx_upper_in_use()) ++dirty;
            ++ranges;
        });
        EXPECT_EQ(ranges.load(), static_cast<int>(threads));
        EXPECT_EQ(dirty.load(), 0) << threads << " threads";
    }
    kal::workerCountOverride() = 0;
}

// A process forked after the pool started has the pool but not its threads:
// its ranges still all run, and it exits (the pool's destructor runs at exit)
// instead of waiting for the parent's threads.
TEST(EngineCoreWorkers, AForkedChildRunsItsRangesAndExits) {
    kal::workerCountOverride() = 3;
    std::atomic<int> ranges{0};
    kal::forEachRange(300, 100, [&](std::size_t, std::size_t) { ++ranges; });  // the pool's threads start
    ASSERT_EQ(ranges.load(), 3);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::atomic<std::size_t> covered{0};
        kal::forEachRange(300, 100, [&](std::size_t b, std::size_t e) { covered += e - b; });
        std::exit(covered.load() == 300 ? 0 : 3);
    }
    int status = 0;
    pid_t done = 0;
    for (int i = 0; i < 200 && done == 0; ++i) {  // at most 20 s
        done = ::waitpid(pid, &status, WNOHANG);
        if (done == 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (done == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        ADD_FAILURE() << "the forked child did not exit";
    } else {
        ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    kal::workerCountOverride() = 0;
}

}  // namespace
