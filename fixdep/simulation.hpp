#pragma once
// The fixation-dependent simulation as the window command and the batch tool
// run it: prepare once per run (resolution map and blending masks), then
// render for as many fixation points as wanted.
//
//   ArrayD restot = prepare_fixdep(polim, sx, sy, width, mar);   // once
//   Fixation f = centre_fixation(sx, sy);                        // first view
//   ArrayD imt = fixdepimage(f.x, f.y, im);                      // each click
//   fixdepimage(x, y, im, scratch);  // or: render into a kept array's storage
//
// Shared rules for this header:
//  - sx = image columns, sy = image rows; fixation points are 1-based
//    (column, row), possibly fractional or outside the image.
//  - width: horizontal angular size of the image in degrees, 0 < width < 180;
//    mar: decimal visual acuity, > 0 (minimum angle of resolution 1 / mar
//    minutes of arc). NaN, infinite, zero or negative values are refused.
//  - All input checks run before the first engine call, so a refused input
//    leaves the engine's masks of the previous preparation in place.
//  - Errors: ocu::Error with a text for the user.
#include <cstddef>

#include "fixdep/render.hpp"
#include "fixdep/resmap.hpp"
#include "toolkit/array.hpp"

namespace ocu::fixdep {

struct Fixation {
    double x = 0.0;  // column, 1-based
    double y = 0.0;  // row, 1-based
};

// Viewing distance in pixels at which `sx` columns span `width` degrees:
// (sx / 2) / tan(width / 2).
double viewing_distance(std::size_t sx, double width);

// Checks the inputs, computes the resolution map restot (2*sy x 2*sx) for the
// polar plot `polim`, and builds the engine's blending masks from it with
// blind parts (0) handed over as -1. Returns restot itself (blind parts 0),
// the map the window keeps and saves.
ArrayD prepare_fixdep(const AnyImage& polim, std::size_t sx, std::size_t sy, double width,
                      double mar);

// Builds the blending masks from a resolution map: the map with every 0
// replaced by -1 goes to prepblendmasks, with the level count
// mask_level_count chooses for the map and the image size (restot's halves). `restot` is used as scratch space
// (no map-sized copy is made) and holds its original values again on return,
// also when the engine fails.
void prepare_masks(ArrayD& restot);

// The map with every element equal to 0 replaced by -1, others unchanged.
ArrayD blind_as_minus_one(ArrayD restot);

// The first fixation point of a run: (round(sx / 2), round(sy / 2)), halves
// rounded away from zero.
Fixation centre_fixation(std::size_t sx, std::size_t sy);

}  // namespace ocu::fixdep
