#pragma once
// The unit chain shared by the three simulations.
//
//   pixdist = (sx / 2) / tan(width / 2)
//
// the viewing distance in pixels at which an image of sx columns spans `width`
// degrees of visual angle. Callers check `width` (0 < width < 180) first.
#include <cmath>
#include <cstddef>
#include <numbers>

namespace ocu {

inline double viewing_distance_px(std::size_t sx, double width) {
    return (static_cast<double>(sx) / 2.0) / std::tan(0.5 * width * std::numbers::pi / 180.0);
}

}  // namespace ocu
