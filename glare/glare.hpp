#pragma once
// Glare: light scattered inside the eye from every part of the scene onto
// every other, added to the image as a veil in linear light.
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

namespace ocu {

// Viewing geometry and pyramid depth for an image of sx columns and sy rows
// shown `width` degrees wide.
struct GlareLevels {
    double pixdist = 0;   // viewing distance in pixels: (sx / 2) / tan(width / 2)
    double fdist = 0;     // sx / pixdist = 2 tan(width / 2)
    double nos = 0;       // log2(192): the coarse grid holds about 192 pixels
    int imSubSample = 0;  // halvings: round((log2(sx * sy) - nos) / 2), halves away from zero
    int nob = 0;          // pyramid levels: imSubSample + 1 (may be 0 or negative for tiny images)
};
// Throws for an empty image (sx or sy 0).
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
GlareImage glareimnew2(const AnyImage& im0, double fdist, double kfact, double powcam,
                       double powmon, int nob);

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

// ---- The glare command's computation, shared by the window and ocumbra-sim ----

struct GlareSettings {
    double width = 20;     // degrees
    double glarefact = 1;  // glare factor (the dialog gives an integer 0..10)
    double powcam = 2;
    double powmon = 2;
};

struct GlareRun {
    ArrayD imt;  // the image to show and store
    ArrayD dim;  // the veil to keep for re-use with a new glare factor
};

// Full computation for `im` (the stored image): geometry from its size and
// settings.width, then glareimnew2.
GlareRun glare_compute(const AnyImage& im, const GlareSettings& settings);

// Re-use of a kept veil (from glare_compute on the same image with the same
// width) for settings.glarefact: glareimknown2.
ArrayD glare_recompute(const AnyImage& im, const ArrayD& dim, const GlareSettings& settings);

}  // namespace ocu
