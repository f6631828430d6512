#include "engine/masks.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "engine/workers.hpp"

namespace kal {

namespace {

struct Bands {
    std::array<double, kMaxMaskIndex + 2> sigma{}, threshold{};
    // t(k) = t(0) / 2^k exactly (sigma halves exactly, and scaling by a power
    // of two commutes with rounding), so the band of a value can be read off
    // its binary exponent; checked here rather than assumed.
    bool halving = true;
    Bands() {
        const double sqrtLn4 = std::sqrt(-std::log(0.25));
        sigma[1] = 0.124 * std::sqrt(2.0);
        sigma[0] = 2.0 * sigma[1];
        for (std::size_t k = 2; k < sigma.size(); ++k) sigma[k] = sigma[k - 1] * 0.5;
        for (std::size_t k = 0; k < sigma.size(); ++k) threshold[k] = sqrtLn4 * sigma[k];
        for (std::size_t k = 0; k < threshold.size(); ++k)
            halving = halving && threshold[k] == std::ldexp(threshold[0], -static_cast<int>(k));
    }
};

const Bands& bands() {
    static const Bands b;
    return b;
}

int clampIndex(int k) { return std::clamp(k, 0, kMaxMaskIndex + 1); }

}  // namespace

double levelSigma(int k) { return bands().sigma[static_cast<std::size_t>(clampIndex(k))]; }
double levelThreshold(int k) { return bands().threshold[static_cast<std::size_t>(clampIndex(k))]; }

namespace {

// The weight byte of u inside the band t(k+1) <= u < t(k) (or of a NaN).
std::uint8_t bandWeight(double u, const Bands& b, std::size_t k) {
    const double q1 = u / b.sigma[k + 1], q0 = u / b.sigma[k];
    const double g1 = std::exp(-(q1 * q1));
    const double e0 = std::exp(-(q0 * q0));
    double f = (0.25 - g1) / (e0 - g1);
    if (f > 1.0) f = 1.0;
    if (!(f > 0.0)) return 0;  // also NaN
    return static_cast<std::uint8_t>(255.0 * f);
}

constexpr double kEps = 2.220446049250313e-16;  // 2^-52

}  // namespace

std::uint8_t maskWeight(double v, int k) {
    if (std::isnan(v) || k < 0 || k > kMaxMaskIndex - 1) return 0;
    const Bands& b = bands();
    const auto i = static_cast<std::size_t>(k);
    const double u = v * 0.5 + kEps;
    if (u < b.threshold[i + 1]) return 0;
    if (u >= b.threshold[i]) return 255;
    return bandWeight(u, b, i);
}

// Building every mask of a map in two passes over it.
//
// With the thresholds falling (t(k+1) = t(k) / 2), a value u lies in at most
// one band: band(u) = the k with t(k+1) <= u < t(k), -1 where u >= t(0) and
// kNone where u is below every band in use (or NaN). Its byte in mask k is then
// 0 for k < band(u), the band weight for k = band(u) and 255 for k > band(u):
// exactly what the rule per mask gives, with the exponentials evaluated once
// per value instead of once per mask.
//
// Pass 1 finds, per mask, the block of the map that can hold a non-zero byte
// (u >= t(k+1)); it needs only comparisons. Pass 2 reads the map a column at a
// time, computes band and weight of each value once, and writes every mask's
// bytes straight into its block. A band weight of 0 can leave a block one row
// or column too large; the crop that follows takes it off as before.
namespace {

constexpr int kNone = 127;  // below every band in use, or NaN

// The band of u among the first `count` masks: -1 where u >= t(0), the k with
// t(k+1) <= u < t(k) for k < count, kNone otherwise (NaN included).
int bandOf(double u, const Bands& b, int count) {
    if (u >= b.threshold[0]) return -1;
    if (b.halving) {
        // For positive normal u = mu 2^eu and t(0) = mt 2^et (mantissas in
        // [1, 2)): u >= t(k+1) = mt 2^(et-k-1) holds for k >= et - eu, and
        // for k = et - eu - 1 exactly when mu >= mt.
        const auto ub = std::bit_cast<std::uint64_t>(u), tb = std::bit_cast<std::uint64_t>(b.threshold[0]);
        constexpr std::uint64_t kFraction = (std::uint64_t{1} << 52) - 1;
        const auto eu = static_cast<int>(ub >> 52);  // the sign bit makes negative values huge
        if (eu == 0 || eu >= 0x7ff) return kNone;    // 0, subnormal, negative or NaN
        const int et = static_cast<int>(tb >> 52);
        const int k = (ub & kFraction) >= (tb & kFraction) ? et - eu - 1 : et - eu;
        return k < count ? k : kNone;  // k >= 0 here, since u < t(0)
    }
    int k = 0;
    while (k < count && !(u >= b.threshold[static_cast<std::size_t>(k) + 1])) ++k;
    return k < count ? k : kNone;
}

struct Box {
    std::int32_t r0 = INT32_MAX, r1 = -1, c0 = INT32_MAX, c1 = -1;  // inclusive ends; empty when r1 < 0
    void add(std::int32_t ra, std::int32_t rb, std::int32_t c) {
        r0 = std::min(r0, ra);
        r1 = std::max(r1, rb);
        c0 = std::min(c0, c);
        c1 = std::max(c1, c);
    }
    void add(const Box& o) {
        if (o.r1 < 0) return;
        r0 = std::min(r0, o.r0);
        r1 = std::max(r1, o.r1);
        c0 = std::min(c0, o.c0);
        c1 = std::max(c1, o.c1);
    }
    bool empty() const { return r1 < 0; }
};

// Pass 1: the block of possibly non-zero bytes of each mask 0 .. count-1
// (u >= t(k+1), that is band(u) <= k).
std::vector<Box> possibleBoxes(const double* map, std::size_t R, std::size_t C, int count) {
    const Bands& b = bands();
    std::vector<Box> boxes(static_cast<std::size_t>(count));
    std::mutex merge;
    forEachRange(C, std::max<std::size_t>(1, (std::size_t{1} << 16) / R), [&](std::size_t cb, std::size_t ce) {
        const auto n = static_cast<std::size_t>(count);
        std::vector<Box> local(n);
        // Per column: the first and last row whose values can first be
        // non-zero in mask j, then widened to every later mask.
        std::vector<std::int32_t> first(n), last(n);
        for (std::size_t c = cb; c < ce; ++c) {
            std::fill(first.begin(), first.end(), INT32_MAX);
            std::fill(last.begin(), last.end(), -1);
            const double* col = map + c * R;
            for (std::size_t r = 0; r < R; ++r) {
                const int j = bandOf(col[r] * 0.5 + kEps, b, count);
                if (j == kNone) continue;
                const auto ji = static_cast<std::size_t>(std::max(j, 0));
                const auto ri = static_cast<std::int32_t>(r);
                if (first[ji] == INT32_MAX) first[ji] = ri;
                last[ji] = ri;
            }
            std::int32_t lo = INT32_MAX, hi = -1;
            for (std::size_t k = 0; k < n; ++k) {
                lo = std::min(lo, first[k]);
                hi = std::max(hi, last[k]);
                if (hi >= 0) local[k].add(lo, hi, static_cast<std::int32_t>(c));
            }
        }
        const std::lock_guard<std::mutex> lock(merge);  // min and max: the order does not matter
        for (std::size_t k = 0; k < n; ++k) boxes[k].add(local[k]);
    });
    return boxes;
}

// Mask k's bytes of one stretch of values: 0 for band > k, the band weight
// for band = k, 255 for band < k.
void maskBytes(const std::int8_t* band, const std::uint8_t* weight, std::int8_t k, std::size_t n, std::uint8_t* out) {
    for (std::size_t i = 0; i < n; ++i) {
        const std::int8_t j = band[i];
        const std::uint8_t w = weight[i];  // read always, so that the loop has no branch
        const std::uint8_t inBand = j == k ? w : std::uint8_t{255};
        out[i] = j > k ? std::uint8_t{0} : inBand;
    }
}

}  // namespace

std::vector<BlendMask> buildMasks(const double* map, std::int32_t mapRows, std::int32_t mapCols, int count) {
    std::vector<BlendMask> masks(static_cast<std::size_t>(std::max(count, 0)));
    const std::size_t R = static_cast<std::size_t>(std::max(mapRows, 0));
    const std::size_t C = static_cast<std::size_t>(std::max(mapCols, 0));
    for (BlendMask& m : masks) {  // empty until filled below
        m.level = 0;
        m.anchorR = static_cast<std::int32_t>(R / 2);
        m.anchorC = static_cast<std::int32_t>(C / 2);
    }
    // Masks beyond the last band are all 0, and so is every mask of an empty map.
    const int valid = std::clamp(count, 0, kMaxMaskIndex);
    if (R == 0 || C == 0 || valid == 0 || map == nullptr) return masks;

    const std::vector<Box> boxes = possibleBoxes(map, R, C, valid);
    for (int k = 0; k < valid; ++k) {
        const Box& bx = boxes[static_cast<std::size_t>(k)];
        if (bx.empty()) continue;
        BlendMask& m = masks[static_cast<std::size_t>(k)];
        m.rows = bx.r1 - bx.r0 + 1;
        m.cols = bx.c1 - bx.c0 + 1;
        m.pixels.resize(static_cast<std::size_t>(m.rows) * static_cast<std::size_t>(m.cols));
        m.anchorR -= bx.r0;
        m.anchorC -= bx.c0;
    }
    // The blocks are nested (a value that can be non-zero in mask k can be in
    // every later one), so their union is the last non-empty one.
    Box all;
    for (const Box& bx : boxes) all.add(bx);
    if (all.empty()) return masks;

    // Pass 2.
    const Bands& b = bands();
    const auto rowsUsed = static_cast<std::size_t>(all.r1 - all.r0 + 1);
    const auto colsUsed = static_cast<std::size_t>(all.c1 - all.c0 + 1);
    forEachRange(colsUsed, std::max<std::size_t>(1, (std::size_t{1} << 15) / rowsUsed), [&](std::size_t cb,
                                                                                           std::size_t ce) {
        std::vector<std::int8_t> band(rowsUsed);
        std::vector<std::uint8_t> weight(rowsUsed);
        for (std::size_t ci = cb; ci < ce; ++ci) {
            const std::int32_t c = static_cast<std::int32_t>(ci) + all.c0;
            const double* col = map + static_cast<std::size_t>(c) * R + static_cast<std::size_t>(all.r0);
            for (std::size_t i = 0; i < rowsUsed; ++i) {
                const double u = col[i] * 0.5 + kEps;
                const int j = bandOf(u, b, valid);
                band[i] = static_cast<std::int8_t>(j);
                weight[i] = j >= 0 && j != kNone ? bandWeight(u, b, static_cast<std::size_t>(j)) : std::uint8_t{0};
            }
            for (int k = 0; k < valid; ++k) {
                const Box& bx = boxes[static_cast<std::size_t>(k)];
                if (bx.empty() || c < bx.c0 || c > bx.c1) continue;
                BlendMask& m = masks[static_cast<std::size_t>(k)];
                const auto rows = static_cast<std::size_t>(m.rows);
                const auto skip = static_cast<std::size_t>(bx.r0 - all.r0);
                maskBytes(band.data() + skip, weight.data() + skip, static_cast<std::int8_t>(k), rows,
                          m.pixels.data() + static_cast<std::size_t>(c - bx.c0) * rows);
            }
        }
    });
    for (BlendMask& m : masks) {
        if (m.rows == 0) continue;
        cropMask(m);
        if (m.rows == 0) {  // every possible byte was a weight of 0: the anchor stays the map's centre
            m.anchorR = static_cast<std::int32_t>(R / 2);
            m.anchorC = static_cast<std::int32_t>(C / 2);
        }
    }
    return masks;
}

BlendMask buildMask(const double* map, std::int32_t mapRows, std::int32_t mapCols, int k) {
    if (k < 0 || k >= kMaxMaskIndex) {
        BlendMask m;
        m.anchorR = std::max(mapRows, 0) / 2;
        m.anchorC = std::max(mapCols, 0) / 2;
        return m;
    }
    // Mask k of the masks 0 .. k: the earlier ones come at little extra cost.
    std::vector<BlendMask> all = buildMasks(map, mapRows, mapCols, k + 1);
    return std::move(all.back());
}

void cropMask(BlendMask& m) {
    const std::int32_t R = m.rows, C = m.cols;
    std::int32_t rmin = R, rmax = -1, cmin = C, cmax = -1;
    for (std::int32_t c = 0; c < C; ++c) {
        const std::uint8_t* col = m.pixels.data() + static_cast<std::size_t>(c) * static_cast<std::size_t>(R);
        std::int32_t first = 0;
        while (first < R && col[first] == 0) ++first;
        if (first == R) continue;
        std::int32_t last = R - 1;
        while (col[last] == 0) --last;
        rmin = std::min(rmin, first);
        rmax = std::max(rmax, last);
        cmin = std::min(cmin, c);
        cmax = c;
    }
    if (cmax < 0) {  // no non-zero weight
        m.rows = 0;
        m.cols = 0;
        m.pixels.clear();
        m.pixels.shrink_to_fit();
        return;
    }
    if (rmin == 0 && cmin == 0 && rmax == R - 1 && cmax == C - 1) return;
    const std::int32_t nr = rmax - rmin + 1, nc = cmax - cmin + 1;
    std::vector<std::uint8_t> cropped(static_cast<std::size_t>(nr) * static_cast<std::size_t>(nc));
    for (std::int32_t c = 0; c < nc; ++c) {
        const std::uint8_t* from = m.pixels.data() + static_cast<std::size_t>(c + cmin) * static_cast<std::size_t>(R) +
                                   static_cast<std::size_t>(rmin);
        std::copy_n(from, nr, cropped.data() + static_cast<std::size_t>(c) * static_cast<std::size_t>(nr));
    }
    m.pixels = std::move(cropped);
    m.rows = nr;
    m.cols = nc;
    m.anchorR -= rmin;
    m.anchorC -= cmin;
}

std::vector<BlockRect> maskBlockRects(BlendMask& mask, int k) {
    std::vector<BlockRect> rects;
    const ImageView v = mask.view();
    const std::int64_t br = std::int64_t{16} << k, bc = std::int64_t{32} << k;
    BlockRect out;
    std::int32_t r = 0, c = 0;
    while (nextBlockRun(&v, r, c, br, bc, &out)) {
        rects.push_back(out);
        r = out.r1;
        c = out.c0;
    }
    return rects;
}

}  // namespace kal
