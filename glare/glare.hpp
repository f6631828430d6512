#pragma once
// Glare: light scattered inside the eye from every part of the scene onto
// every other, added to the image as a veil in linear light.
//
//   glare::Params p;                                   // width 20, factor 1
//   glare::Result r = glare::run(im, p);               // r.imt to show, r.dim to keep
//   p.glarefact = 5;
//   ArrayD imt = glare::reuse_veil(im, r.dim, p);      // only the factor changed
//
// Shared rules for this header:
//  - Images are the stored samples (any AnyImage sample type), gray
//    (rows x cols) or colour (rows x cols x 3); their values are used as they
//    are (0..255 for 8-bit files), raised to `powcam` for linear light.
//  - The veil `dim` is in linear light (units of sample^powcam), has the image's
//    rows, columns and planes, and does not include the glare factor.
//  - Results are displayed values scaled so that their largest element is 1;
//    an all-zero result stays all zero (a black scene stays black).
//  - Pure functions; results do not depend on the number of threads.
#include <cstddef>

#include "toolkit/array.hpp"
#include "toolkit/progress.hpp"
#include "toolkit/viewing.hpp"

namespace ocu::glare {

// Viewing geometry and pyramid depth for an image of sx columns and sy rows
// shown `width` degrees wide.
struct GlareLevels {
    double pixdist = 0;   // viewing distance in pixels: (sx / 2) / tan(width / 2)
    double fdist = 0;     // sx / pixdist = 2 tan(width / 2)
    double nos = 0;       // log2(192): the coarse grid holds about 192 pixels
    int imSubSample = 0;  // halvings: round((log2(sx * sy) - nos) / 2), halves away from zero
    int nob = 0;          // pyramid levels: imSubSample + 1 (may be 0 or negative for tiny images)
};
// Throws for an empty image (sx or sy 0) and for a width that
// viewing::check_width refuses.
GlareLevels glare_levels(std::size_t sx, std::size_t sy, double width);

// Result of the full glare computation.
struct GlareImage {
    ArrayD imt;       // displayed glare image, largest element 1 (all 0 for an all-zero sum)
    double mx = 0;    // largest element before scaling
    ArrayD dim;       // the veil, before multiplication by the glare factor
};

// The full computation: per colour plane, linear light blurred and halved
// nob - 1 times, the veil summed over all pairs of coarse pixels (an eye in
// front of the image centre at fdist x coarse columns; each source weighted by
// nob^2 x |cos| / distance^2 and 10 / angle^2, angle in degrees), doubled back
// up nob - 1 times and, if that overshoots the image size, resized to it
// nearest-neighbour. Then imt = (im0^powcam + kfact dim)^(1/powmon) / max.
// nob 0 gives an all-zero veil. Throws for images with other than 1 or 3
// planes, for empty images, and (the filters' rule) for images so elongated
// that a pyramid level is narrower than 5 samples in one dimension only.
// `progress` hears of each plane's levels and may stop the run there
// (toolkit/progress.hpp); the result does not depend on it.
GlareImage glareimnew2(const AnyImage& im0, double fdist, double kfact, double powcam,
                       double powmon, int nob, const Progress* progress = nullptr);

// Re-use of a veil from glareimnew2 for the same image and geometry with a new
// glare factor: exactly the imt that glareimnew2 with kfact = newfact gives.
// Throws when dim does not have the image's size.
ArrayD glareimknown2(const AnyImage& imorg, double newfact, const ArrayD& dim, double powcam,
                     double powmon);

// The coarse veil itself: for every pixel of `lum` (syn x sxn x planes, linear
// light on the coarse grid) the sum of the light scattered onto it from every
// other pixel, with the eye geometry above. Exposed for tests and tools.
// Finite for every ff of a width in (0, 180) degrees: angles below 1e-3
// radians are taken from the cross product (the arccosine loses them), ff
// below 1e-60 is computed as 1e-60 (the veil's limit, reached long before),
// and ff 0 (the eye in the image plane) gives an all-zero veil.
ArrayD glare_veil_coarse(const ArrayD& lum, double ff, int nob);

// ---- The simulation's entry, shared by the window and ocumbra-sim ----

// The parameters of one run; the defaults are the main window's.
struct Params {
    double width = viewing::kDefaultWidth;      // angular width of the image, degrees
    double glarefact = viewing::kDefaultGlare;  // glare factor (the dialog gives an integer 0..10)
    double powcam = 2;                          // stored value -> linear light exponent
    double powmon = 2;                          // linear light -> displayed value exponent
};

// Checks the width (toolkit/viewing.hpp). The glare factor is not checked:
// the dialog gives an integer 0 to 10 and the batch tool accepts only those.
void check(const Params& p);

struct Result {
    ArrayD imt;  // the image to show and store
    ArrayD dim;  // the veil, to keep for re-use with a new glare factor (reuse_veil)
};

// The full computation for `im` (the stored image): geometry from its size and
// p.width (glare_levels), then glareimnew2. Calls check(p) first. `progress`
// as glareimnew2 takes it.
Result run(const AnyImage& im, const Params& p, const Progress* progress = nullptr);
// The same image written into `out` (the image's rows, columns and planes,
// any strides: a caller's own layout) instead of returned; the veil is not
// kept. Throws when `out` has another size.
void run(const AnyImage& im, const Params& p, const View<double>& out, const Progress* progress = nullptr);

// Re-use of a kept veil `dim` (from run on the same image with the same
// width) for p.glarefact: glareimknown2, exactly the imt that run gives for
// these parameters. p.width is not used.
ArrayD reuse_veil(const AnyImage& im, const ArrayD& dim, const Params& p);

}  // namespace ocu::glare
