#pragma once
// Reading a NumPy .npy file as an input image of ocumbra-sim, so that one
// command's exact result (its .npy OUTPUT) is the next command's INPUT.
//
// Accepted: format version 1.0, 2.0 or 3.0; dtype '<f8' (doubles, as the tool
// writes results), '|u1' / '<u1' (8-bit samples) or '<u2' (16-bit samples);
// C or Fortran order; shape (rows, cols) or (rows, cols, planes) with 1 or 3
// planes. Doubles must be finite. The result is an AnyImage of that sample
// type (ArrayD, ArrayU8, ArrayU16), as imread gives for an image file.
//
// Errors (ocu::Error) start with File "<path>" and say what is wrong: no
// .npy magic, a header that cannot be read, another dtype, shape or plane
// count, a data size that does not match the shape, a NaN or infinite value.
#include <string>
#include <string_view>

#include "toolkit/array.hpp"

namespace ocu::cli {

// Parses the bytes of a .npy file; `name` is used in messages.
AnyImage parse_npy(std::string_view bytes, const std::string& name);

// Reads and parses a .npy file.
AnyImage read_npy(const std::string& path);

}  // namespace ocu::cli
