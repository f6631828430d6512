#pragma once
// The size limits of the whole program, stated here once.
//
// kMaxImagePixels is the largest image the program takes on: imread refuses a
// file declaring more pixels right after reading its header, before decoding
// it, and every simulation can process an image of this size (the pyramid
// engine keeps its pyramids within it; the fixation-dependent simulation's
// resolution map has four times as many elements). 2^27 = 134 217 728
// pixels, for instance 16384 x 8192.
#include <cstdint>

namespace ocu {

inline constexpr std::int64_t kMaxImagePixels = std::int64_t{1} << 27;

// The largest polar plot read, per side: the plot's geometry uses its central
// 376 x 376 pixels (the shipped plots are 400 x 400).
inline constexpr std::int64_t kMaxPolarPlotSide = 4096;

}  // namespace ocu
