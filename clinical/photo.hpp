#pragma once
// The image width (the horizontal visual angle) of a photograph, for a viewer
// standing where the camera stood.
//
// With the 35 mm-equivalent focal length f from the file's EXIF data (tag
// FocalLengthIn35mmFilm, whole millimetres, so at least 1) the scene spans the angle a 36 x 24 mm frame spans
// at f: 2 atan(18 / f) across a landscape image, 2 atan(12 / f) across an
// image taller than wide (a square counts as landscape). Width and height are
// those of the image as shown: an EXIF orientation of 5 to 8 (a quarter turn)
// swaps the stored ones. The size comes from the file's header; for a file
// whose header Exiv2 cannot size, from the decoded image.
//
// Errors (ocu::Error) name the file: it does not exist, it is no image whose
// metadata can be read, or it holds no focal length (tag missing or 0).
#include <string>

namespace ocu::clinical {

// In degrees, greater than 0 and less than 180.
double photo_width_degrees(const std::string& path);

}  // namespace ocu::clinical
