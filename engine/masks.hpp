#pragma once
// Blending masks from a resolution map.
//
// Mask k lies between levels k and k+1 (0-based). A map value v (1 = full
// resolution, smaller = coarser, 0 or -1 = blind) gives u = v / 2 + 2^-52 and
// the weight f = 0 below t(k+1), 1 from t(k) on, and in between
//   f = (0.25 - g1) / (e0 - g1),  g1 = exp(-(u/sigma(k+1))^2), e0 = exp(-(u/sigma(k))^2),
// which rises from 0 to 1 across the band; the byte is 255 * f truncated.
// sigma(0) = 0.248 * sqrt(2), halving per level; t(k) = sqrt(ln 4) * sigma(k),
// where exp(-(u/sigma(k))^2) falls to 0.25. A NaN map value counts as blind.
#include <cstdint>
#include <vector>

#include "engine/kernels.hpp"

namespace kal {

// Mask k can exist for k up to 30 (a pyramid has at most 32 levels).
inline constexpr int kMaxMaskIndex = 31;

struct BlendMask {
    std::int32_t rows = 0, cols = 0;  // extents of the stored (cropped) mask
    std::int32_t level = 0;
    std::vector<std::uint8_t> pixels;  // rows * cols weights, column-major
    std::int32_t anchorR = 0, anchorC = 0;  // mask position laid on the fixation

    ImageView view() { return ImageView{rows, cols, rows, 0, pixels.data()}; }
};

double levelSigma(int k);      // k in 0..kMaxMaskIndex
double levelThreshold(int k);  // t(k)

// The weight byte of map value v in mask k.
std::uint8_t maskWeight(double v, int k);

// Mask k of a map of mapRows x mapCols values (column-major): weights, the
// anchor at the map's centre, then cropped to its non-zero bytes.
BlendMask buildMask(const double* map, std::int32_t mapRows, std::int32_t mapCols, int k);
// Masks 0 .. count-1 of the map, as buildMask makes them.
std::vector<BlendMask> buildMasks(const double* map, std::int32_t mapRows, std::int32_t mapCols, int count);

// Shrinks the mask to the smallest block holding every non-zero byte and moves
// the anchor with it; a mask without one becomes 0 x 0.
void cropMask(BlendMask& mask);

// The block rectangles of mask k, in mask coordinates: runs of non-empty
// blocks of 16 * 2^k rows by 32 * 2^k columns.
std::vector<BlockRect> maskBlockRects(BlendMask& mask, int k);

}  // namespace kal
