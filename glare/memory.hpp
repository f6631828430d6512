#pragma once
// Large arrays for the glare computation, with their memory mapped up front.
//
// A 640 x 480 colour veil is 7 MB and a 4000 x 3000 one 288 MB. Mapping such
// an array page by page on first touch costs more than filling it (each page
// is one fault, and faults are dear under virtualisation), so on Linux the
// pages are asked for in one call before the array is zero-filled. Where that
// call is not available, or fails, the pages are simply mapped on first touch.
#include <cstddef>

#include "toolkit/array.hpp"

namespace ocu {

// A zero-filled rows x cols x planes array.
ArrayD mapped_array(std::size_t rows, std::size_t cols, std::size_t planes = 1);

}  // namespace ocu
