#pragma once
// Reading and writing image files, and exact numeric output (.npy).
//
// imread: gray files give rows x cols arrays, colour files rows x cols x 3
// (red, green, blue); 8-bit files give uint8 samples, 16-bit files uint16;
// paletted files are expanded to their colours (a gray palette gives a 2-D
// array); alpha is dropped; a photo with an orientation tag comes back upright.
// Errors (ocu::Error), with %s the name passed in:
//   File "%s" does not exist.
//   Can't open file "%s" for reading;\nyou may not have read permission.
//   Unable to determine the file format.
// and a clear message for a file that is recognised but cannot be decoded.
// Only regular files are opened: a folder, a FIFO, a device or a socket is
// refused by name ("Can't read "%s": it is a folder, not an image file.").
// An image of more than kMaxImagePixels pixels (toolkit/limits.hpp) is
// refused as soon as its header is read, before it is decoded.
//
// imwrite: format by extension (.bmp, .tif/.tiff, .jpg/.jpeg, .png); double
// arrays are clipped to 0..1 and scaled to 8 bits (rounding halves away from
// zero); uint8 arrays are stored as they are. A failed write leaves no file.
#include <cstdint>
#include <string>

#include "toolkit/array.hpp"
#include "toolkit/limits.hpp"

namespace ocu {

AnyImage imread(const std::string& filename);
// The same, also refusing at the header an image wider or taller than
// `max_side` pixels (0: no such limit), e.g. kMaxPolarPlotSide for polar plots.
AnyImage imread(const std::string& filename, std::int64_t max_side);

void imwrite(const AnyImage& image, const std::string& filename);

// NumPy .npy format 1.0, C order, shape rows x cols (x planes when planes > 1):
// '<f8' for double, '|u1' for uint8, '<u2' for uint16 (logical as '|u1').
// Written through a temporary file and renamed, like imwrite.
void write_npy(const AnyImage& array, const std::string& filename);

}  // namespace ocu
