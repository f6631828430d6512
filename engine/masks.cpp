#include "engine/masks.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

#include "engine/workers.hpp"

namespace kal {

namespace {

struct Bands {
    std::array<double, kMaxMaskIndex + 2> sigma{}, threshold{};
    Bands() {
        const double sqrtLn4 = std::sqrt(-std::log(0.25));
        sigma[1] = 0.124 * std::sqrt(2.0);
        sigma[0] = 2.0 * sigma[1];
        for (std::size_t k = 2; k < sigma.size(); ++k) sigma[k] = sigma[k - 1] * 0.5;
        for (std::size_t k = 0; k < sigma.size(); ++k) threshold[k] = sqrtLn4 * sigma[k];
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

// Fills the uncropped masks kFirst .. kFirst + count - 1 from the map in one
// pass over it (the map is the largest thing read).
std::vector<BlendMask> uncroppedMasks(const double* map, std::int32_t mapRows, std::int32_t mapCols, int kFirst,
                                      int count) {
    std::vector<BlendMask> masks(static_cast<std::size_t>(std::max(count, 0)));
    const std::size_t R = static_cast<std::size_t>(std::max(mapRows, 0));
    const std::size_t C = static_cast<std::size_t>(std::max(mapCols, 0));
    for (BlendMask& m : masks) {
        m.rows = static_cast<std::int32_t>(R);
        m.cols = static_cast<std::int32_t>(C);
        m.level = 0;
        m.pixels.resize(R * C);
        m.anchorR = m.rows / 2;
        m.anchorC = m.cols / 2;
    }
    if (R == 0 || C == 0 || count <= 0 || map == nullptr) return masks;  // all weights 0
    const Bands& b = bands();
    std::array<std::uint8_t*, kMaxMaskIndex> out{};
    std::array<std::size_t, kMaxMaskIndex> ks{};
    int valid = 0;
    for (int j = 0; j < count; ++j) {
        const int k = kFirst + j;
        if (k < 0 || k >= kMaxMaskIndex) {
            std::fill(masks[static_cast<std::size_t>(j)].pixels.begin(), masks[static_cast<std::size_t>(j)].pixels.end(), 0);
            continue;
        }
        out[static_cast<std::size_t>(valid)] = masks[static_cast<std::size_t>(j)].pixels.data();
        ks[static_cast<std::size_t>(valid)] = static_cast<std::size_t>(k);
        ++valid;
    }
    forEachRange(C, std::max<std::size_t>(1, (std::size_t{1} << 15) / R), [&](std::size_t cb, std::size_t ce) {
        for (std::size_t i = cb * R, e = ce * R; i < e; ++i) {
            // maskWeight with u computed once for every mask.
            const double u = map[i] * 0.5 + kEps;
            for (int j = 0; j < valid; ++j) {
                const std::size_t k = ks[static_cast<std::size_t>(j)];
                out[static_cast<std::size_t>(j)][i] = u < b.threshold[k + 1] ? std::uint8_t{0}
                                                      : u >= b.threshold[k]  ? std::uint8_t{255}
                                                                             : bandWeight(u, b, k);
            }
        }
    });
    return masks;
}

BlendMask buildMask(const double* map, std::int32_t mapRows, std::int32_t mapCols, int k) {
    std::vector<BlendMask> one = uncroppedMasks(map, mapRows, mapCols, k, 1);
    cropMask(one[0]);
    return std::move(one[0]);
}

std::vector<BlendMask> buildMasks(const double* map, std::int32_t mapRows, std::int32_t mapCols, int count) {
    std::vector<BlendMask> masks;
    masks.reserve(static_cast<std::size_t>(std::max(count, 0)));
    // Uncropped masks take a byte per map value each; make a few at a time.
    const std::size_t bytes = std::max<std::size_t>(1, static_cast<std::size_t>(std::max(mapRows, 0)) *
                                                           static_cast<std::size_t>(std::max(mapCols, 0)));
    const int group = static_cast<int>(std::clamp<std::size_t>((std::size_t{64} << 20) / bytes, 1, kMaxMaskIndex));
    for (int k = 0; k < count; k += group) {
        std::vector<BlendMask> part = uncroppedMasks(map, mapRows, mapCols, k, std::min(group, count - k));
        for (BlendMask& m : part) {
            cropMask(m);
            masks.push_back(std::move(m));
        }
    }
    return masks;
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
