#pragma once
// NumPy arrays in and out of the module.
//
// Python side: an image is rows x cols (gray) or rows x cols x 3 (red, green,
// blue), as NumPy and the imaging libraries keep it; samples uint8, uint16 or
// float64 (results are always float64, C order). Any strides are read (slices,
// Fortran order), so the caller never has to copy first.
// Program side: the column-major arrays of toolkit/array.hpp, element
// (r, c, p) at p*rows*cols + c*rows + r. The conversion in both directions
// goes tile by tile, so that the strided side stays in the cache; it costs
// about twice a plain copy of the image. Simulations that can work on a view
// in any layout (colour) take u8_view() and new_numpy_result() instead. Results live in blocks that return to
// a small cache when NumPy frees them, for the next result of that size.
//
// Refused (ArgumentError with a text naming the argument): another dtype
// (also big-endian samples), another number of dimensions, a third dimension
// other than 3, an empty image, more pixels than the program takes
// (kMaxImagePixels, toolkit/limits.hpp), and float64 images holding NaN or
// infinities.
#include <pybind11/numpy.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "toolkit/array.hpp"

namespace ocu::python {

namespace py = pybind11;

// A bad argument: raised in Python as ValueError with this text.
class ArgumentError : public std::runtime_error {
public:
    explicit ArgumentError(const std::string& text) : std::runtime_error(text) {}
};

// A file that cannot be read or written (the toolkit's or the plug-in
// loader's text): raised in Python as OSError.
class FileError : public std::runtime_error {
public:
    explicit FileError(const std::string& text) : std::runtime_error(text) {}
};

// The image `a` (argument `name`) as a program array with the same samples.
// Holds the GIL.
AnyImage image_from_numpy(const py::array& a, const char* name);

// An 8-bit image `a` (uint8, gray or colour, any strides) as a view of its
// samples where they are, checked as image_from_numpy checks them; no value
// for other sample types. Holds the GIL; the samples stay where they are, so
// `a` must outlive the view.
std::optional<View<const std::uint8_t>> u8_view(const py::array& a, const char* name);

// A new C-order float64 NumPy array (rows x cols, or rows x cols x planes when
// planes > 1) whose elements are not written yet, and a view of them for the
// program to write. Holds the GIL.
struct NumpyResult {
    py::array array;
    View<double> view;
};
NumpyResult new_numpy_result(std::size_t rows, std::size_t cols, std::size_t planes);

// A program array as a new C-order NumPy array of its sample type (uint8,
// uint16, bool or float64), rows x cols, or rows x cols x planes when it has
// several planes. Holds the GIL for the allocation and releases it for the copy.
py::array numpy_from_image(const AnyImage& im);

}  // namespace ocu::python
