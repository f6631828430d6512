#pragma once
// Large arrays whose memory is made ready before it is filled: zero-filled,
// or left unwritten for a result that is computed into every element.
//
// An image-sized result of doubles is megabytes; unless a freed block of its
// size is at hand (large_blocks.hpp) it arrives as fresh pages from the
// system, one page fault per 4 KiB on first touch (and faults are dear under
// virtualisation). Two ways to spare most of them, on Linux:
//  - Pages::Huge asks for transparent huge pages on the whole-2-MiB part of
//    the array: one fault per 2 MiB where the system offers them;
//  - Pages::MapAhead maps every page in one call before the array is filled
//    (arrays of 1 MiB and more).
// Both are advice only: where the system does not take it, the pages are
// mapped on first touch as usual. The values are the same either way.
#include <cstddef>

#include "toolkit/array.hpp"

namespace ocu {

enum class Pages { Huge, MapAhead };

// A zero-filled rows x cols x planes array of doubles.
ArrayD zeroed_array(std::size_t rows, std::size_t cols, std::size_t planes, Pages pages);

// The same advice for memory allocated elsewhere (e.g. a NumPy array about to
// be filled): [data, data + bytes) is left as it is, only its mapping changes.
void advise_pages(void* data, std::size_t bytes, Pages pages);

// A rows x cols x planes array of doubles whose elements are not written
// (Array::uninitialized), for a caller that writes every one of them. With
// Pages::Huge the pages are mapped by the threads that first write them,
// in parallel; Pages::MapAhead maps them all here first.
ArrayD uninitialized_array(std::size_t rows, std::size_t cols, std::size_t planes, Pages pages);

}  // namespace ocu
