#pragma once
// Driving the pyramid engine: blending masks from a resolution map, the
// pyramid of one image plane, and the rendering for a fixation point.
//
// Shared rules for this header:
//  - Renderings use the engine's pyramid 1 (kMainPyramid): the batch tool,
//    the fixation-dependent command and every rendering of an image at its
//    own size. The window's live view also renders a smaller copy of a large
//    photo with pyramid 2 (kPreviewPyramid), whose masks are made from that
//    copy's own map; the engine keeps masks per pyramid, so the two sets live
//    side by side. prepblendmasks leaves the blending masks with its pyramid;
//    re-shaping it for an image (preppyramid) keeps them, so one preparation
//    serves any number of renderings, also of images of another size than
//    the map was made for.
//  - The engine's table is one per process and unguarded: all calls of one
//    process come from one thread at a time (the window has one thread for
//    them, app/work.hpp).
//  - Rendering works on squared values: a stored value v becomes the 8-bit
//    255 * (v / 255)^2 (rounded halves away from zero, saturated), the coarsest
//    pyramid level is replaced by a uniform grey 64, and the rendered plane u
//    is shown as sqrt(u / 255). Blind parts therefore show sqrt(64 / 255) =
//    0.500979; fully resolved parts show v up to the 8-bit rounding of v^2.
//  - Fixation points are 1-based (column, row) as the window reports them,
//    possibly fractional or outside the image; they are passed to the engine
//    as received.
//  - Errors: ocu::Error, from the engine (e.g. "The resmap for this image has
//    not yet been set" before any prepblendmasks) or for an image smaller than
//    2 pixels in either direction.
#include <array>
#include <cstddef>
#include <vector>

#include "toolkit/array.hpp"
#include "toolkit/progress.hpp"

namespace ocu::fixdep {

inline constexpr int kMainPyramid = 1;     // renderings at the image's own size
inline constexpr int kPreviewPyramid = 2;  // the live view's copy of a large photo

// The most pyramid levels an image of sx columns and sy rows allows:
// round(min(log2 sx, log2 sy) - 0.5), the largest k with 2^k <= min(sx, sy).
// Throws for an image smaller than 2 x 2.
int fixdep_max_levels(std::size_t sx, std::size_t sy);

// The smaller of 6 and fixdep_max_levels: the level count of a rendering
// with masks built for 6 levels.
int fixdep_level_count(std::size_t sx, std::size_t sy);

// Level count for the masks of the map `m` of an image of sx columns and sy
// rows. The coarsest level is the uniform blind grey, so every place with a
// positive map value must take the next finer level whole: mask L-2 at full
// weight. That is 6 levels unless the map holds values below 2 t_4 = 0.0516
// (the periphery of a photo with fine pixels, a partly seeing edge of a
// defect); then the smallest count that gives the smallest positive value
// full weight in its last mask, capped by fixdep_max_levels. Never below 6,
// so that every map that 6 levels serve keeps exactly the masks it had.
int mask_level_count(const ArrayD& m, std::size_t sx, std::size_t sy);

// Builds the engine's blending masks from the map `m` (2 * image rows x
// 2 * image columns, blind parts as -1 or 0) for a pyramid of `nolevs` levels
// (nolevs - 1 masks; 6 when not given). The pyramid it shapes for this is the
// transpose of the image for a non-square image; only its level count matters
// to the masks. Renderings then use min(nolevs, fixdep_max_levels) levels.
void prepblendmasks(const ArrayD& m);
void prepblendmasks(const ArrayD& m, int nolevs, int pyramid = kMainPyramid);

// The level count of the masks the last prepblendmasks of `pyramid` built (6
// before any).
int blendmask_levels(int pyramid = kMainPyramid);

// Loads the plane `im` (h rows x w columns) into `pyramid` with `nolevs`
// levels and builds the reduced levels.
void preppyramid(const ArrayU8& im, std::size_t w, std::size_t h, int nolevs, int pyramid = kMainPyramid);

// The image `im0` (rows x cols, or rows x cols x planes) seen while fixating
// (x1, y1). Values 0..1, the size and plane count of `im0`. Images with more
// than one plane are rendered by fixdepimage3, the others by fixdepimage1.
ArrayD fixdepimage(double x1, double y1, const AnyImage& im0);
// The same rendering written into `imt2`. Its storage is re-used when it
// already has the size and plane count of the result (otherwise it is
// replaced by a new array), which spares a caller that renders click after
// click the cost of a fresh image-sized allocation each time. If the engine
// fails, `imt2` holds a partial result (planes not yet rendered are undefined).
void fixdepimage(double x1, double y1, const AnyImage& im0, ArrayD& imt2);
// An image converted once to the squared 8-bit scale the rendering works on
// (the first three planes of a colour image, the plane of a gray one), for an
// image rendered for many fixation points whose conversion costs more than
// the rendering's own table look-up of 8-bit samples: a double image, the
// previous step of a combined simulation. Rendering it gives exactly what
// rendering the image itself gives.
class SquaredImage {
public:
    SquaredImage() = default;
    explicit SquaredImage(const AnyImage& im);
    std::size_t rows() const { return rows_; }
    std::size_t cols() const { return cols_; }
    std::size_t planes() const { return nplanes_; }  // of the image it was made from
    const ArrayU8& plane(std::size_t p) const { return planes_.at(p); }

private:
    std::vector<ArrayU8> planes_;
    std::size_t rows_ = 0, cols_ = 0, nplanes_ = 0;
};
void fixdepimage(double x1, double y1, const SquaredImage& im0, ArrayD& imt2);
// The rendering of `im0` in two halves, for a caller that shows a rendering
// before (or instead of) keeping it as the result:
//   fixdepimage_planes: the engine's rendered planes, on the squared 8-bit
//     scale (rows x cols x 1, or x 3 for a colour image), with the masks of
//     `pyramid`; `planes`' storage is re-used when it has the right size.
//     `progress` hears of each plane and may stop the rendering between them.
//   planes_to_result: sqrt(u / 255) of each rendered value, into `imt2` with
//     `image_planes` planes (the planes beyond the rendered ones 0).
// Both together give exactly what fixdepimage gives (with kMainPyramid).
void fixdepimage_planes(double x1, double y1, const SquaredImage& im0, ArrayU8& planes,
                        int pyramid = kMainPyramid, const Progress* progress = nullptr);
void planes_to_result(const ArrayU8& planes, std::size_t image_planes, ArrayD& imt2);
// The shown value sqrt(u / 255) of each rendered value u, as planes_to_result
// computes it.
const std::array<double, 256>& shown_value_table();

// One plane.
ArrayD fixdepimage1(double x1, double y1, const AnyImage& im0);
// Planes 1 to 3 rendered in turn with the same masks and fixation; planes
// beyond the third stay 0. Needs at least three planes.
ArrayD fixdepimage3(double x1, double y1, const AnyImage& im0);

}  // namespace ocu::fixdep
