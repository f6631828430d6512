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
//
// imwrite: format by extension (.bmp, .tif/.tiff, .jpg/.jpeg, .png); double
// arrays are clipped to 0..1 and scaled to 8 bits (rounding halves away from
// zero); uint8 arrays are stored as they are. A failed write leaves no file.
#include <string>

#include "toolkit/array.hpp"

namespace ocu {

AnyImage imread(const std::string& filename);

void imwrite(const AnyImage& image, const std::string& filename);

// NumPy .npy format 1.0, C order, shape rows x cols (x planes when planes > 1):
// '<f8' for double, '|u1' for uint8, '<u2' for uint16 (logical as '|u1').
// Written through a temporary file and renamed, like imwrite.
void write_npy(const AnyImage& array, const std::string& filename);

}  // namespace ocu
