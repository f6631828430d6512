#pragma once
// The engine's image kernels: reduction of a level into the next coarser one,
// expansion of a level into the next finer one, blending a source level over
// an encoded level under a mask, and the block scanner that covers a mask's
// non-zero area with rectangles.
//
// Shared rules for this header:
//  - Pixel buffers are column-major bytes; (r, c) is 0-based, rows are the fast
//    axis.
//  - An ImageView describes a level of some pyramid: `rows` and `cols` are the
//    full-resolution extents and `level` k the shift count, so the view's own
//    extents are rows >> k by cols >> k and its own stride is stride >> k.
//  - Kernels take views by pointer (null = missing), check their parameters
//    first and return false without touching any buffer when they do not fit.
//  - Integer arithmetic only; results do not depend on the number of threads.
#include <cstddef>
#include <cstdint>

namespace kal {

struct ImageView {
    std::int32_t rows = 0, cols = 0;  // full-resolution extents
    std::int32_t stride = 0;          // full-resolution stride (= rows)
    std::int32_t level = 0;           // k; 0 is full resolution
    std::uint8_t* pixels = nullptr;
};

// Rows r0 <= r < r1 and columns c0 <= c < c1.
struct BlockRect {
    std::int32_t r0 = 0, c0 = 0, r1 = 0, c1 = 0;
};

// x >> k as an arithmetic shift, defined for every k >= 0 (a shift by 31 or
// more leaves only the sign).
inline std::int32_t shiftDown(std::int32_t x, std::int32_t k) {
    if (k >= 31) return x < 0 ? -1 : 0;
    return x >> k;
}
inline std::int32_t viewRows(const ImageView& v) { return shiftDown(v.rows, v.level); }
inline std::int32_t viewCols(const ImageView& v) { return shiftDown(v.cols, v.level); }
inline std::int32_t viewStride(const ImageView& v) { return shiftDown(v.stride, v.level); }

// Reads P(min(r, R-1), min(c, C-1)); 0 for a view without pixels. Negative
// indices are taken as 0.
std::uint8_t getPixelClamped(const ImageView* v, std::int32_t r, std::int32_t c);
// Writes P(min(r, R-1), min(c, C-1)); nothing for a view without pixels.
void setPixelClamped(const ImageView* v, std::int32_t r, std::int32_t c, std::uint8_t value);

// coarse(r, c) = (sum of [1 2 1] x [1 2 1] weighted fine pixels of the 3 x 3
// window starting at (2r, 2c) + 8) >> 4; past the far edge the last row or
// column inside is repeated. Views: equal rows, cols and stride; coarse level
// = fine level + 1.
bool reduceLevel(const ImageView* fine, const ImageView* coarse);

// Fills the fine view from the coarse one by interpolation between the coarse
// pixels, which stand for the fine pixels (2r+1, 2c+1); the borders repeat
// their inner neighbours. A coarse view with fewer than 2 rows or columns
// leaves the fine view as it is. Same view conditions as reduceLevel.
bool expandLevel(const ImageView* coarse, const ImageView* fine);

// expandLevel followed by blendLevelColumns of `fine` for each rectangle
// rects[0 .. nrects-1] with a non-zero area, in list order -- computed column
// range by column range, each range blended right after it is expanded, with
// exactly the result of the two steps one after the other. When the blend's
// views do not fit (checked only if some rectangle has an area), the level is
// expanded and BlendRefused returned; when the expansion's do not,
// ExpandRefused and nothing changes.
enum class ExpandBlend { Done, ExpandRefused, BlendRefused };
ExpandBlend expandAndBlend(const ImageView* coarse, const ImageView* fine, const ImageView* source,
                           const ImageView* mask, const BlockRect* rects, std::size_t nrects, std::int64_t offR,
                           std::int64_t offC);

// For the level pixels inside `rect` (full-resolution coordinates, stepping by
// 2^k) that the mask covers, with the mask laid at (offR, offC):
//   E = (S * w + (255 - w) * E) / 255, truncated.
// A null rect means the whole source. Source and encoded views must have equal
// rows, cols, stride and level.
bool blendLevel(const ImageView* source, const ImageView* encoded, const ImageView* mask,
                const BlockRect* rect, std::int64_t offR, std::int64_t offC);
// blendLevel restricted to the level columns colBegin <= c >> k < colEnd. The
// columns are independent, so a blend split this way gives the same result.
bool blendLevelColumns(const ImageView* source, const ImageView* encoded, const ImageView* mask,
                       const BlockRect* rect, std::int64_t offR, std::int64_t offC,
                       std::int64_t colBegin, std::int64_t colEnd);

// Finds the next run of consecutive non-empty blocks (br rows by bc columns)
// down one band of columns, starting at (r, c). Returns false when no further
// run exists.
bool nextBlockRun(const ImageView* view, std::int32_t r, std::int32_t c, std::int64_t br,
                  std::int64_t bc, BlockRect* out);

}  // namespace kal
