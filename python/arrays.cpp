#include "python/arrays.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "toolkit/limits.hpp"
#include "toolkit/memory.hpp"
#include "toolkit/parallel.hpp"

namespace ocu::python {

namespace {

// The layout conversion goes tile by tile, kTile rows by kTile columns (all
// planes), so that what one tile reads and writes stays in the first-level
// cache whichever side is strided. Tile rows are spread over the threads.
constexpr std::size_t kTile = 64;
// Tile rows per thread at least: the threads' start costs less than this.
constexpr std::size_t kTileRowsPerThread = 2;

struct Extents {
    std::size_t rows = 0, cols = 0, planes = 1;
    std::ptrdiff_t row_stride = 0, col_stride = 0, plane_stride = 0;  // bytes (NumPy side)
};

std::string shape_text(const py::array& a) {
    std::string s = "(";
    for (py::ssize_t d = 0; d < a.ndim(); ++d) {
        if (d > 0) s += ", ";
        s += std::to_string(a.shape(d));
    }
    return s + (a.ndim() == 1 ? ",)" : ")");
}

// Calls f(r0, r1, c0, c1) for every tile of a rows x cols image.
template <class F>
void for_each_tile(std::size_t rows, std::size_t cols, F&& f) {
    parallel_for(
        (rows + kTile - 1) / kTile,
        [&](std::size_t t0, std::size_t t1) {
            for (std::size_t t = t0; t < t1; ++t) {
                const std::size_t r0 = t * kTile, r1 = std::min(rows, r0 + kTile);
                for (std::size_t c0 = 0; c0 < cols; c0 += kTile) f(r0, r1, c0, std::min(cols, c0 + kTile));
            }
        },
        kTileRowsPerThread);
}

// NumPy (any strides) -> column-major, plane after plane.
template <class T>
Array<T> from_strided(const char* src, const Extents& e) {
    Array<T> out(e.rows, e.cols, e.planes);
    T* dst = out.data();
    for_each_tile(e.rows, e.cols, [&](std::size_t r0, std::size_t r1, std::size_t c0, std::size_t c1) {
        for (std::size_t c = c0; c < c1; ++c)
            for (std::size_t p = 0; p < e.planes; ++p) {
                T* d = dst + (p * e.cols + c) * e.rows;
                const char* s = src + static_cast<std::ptrdiff_t>(c) * e.col_stride +
                                static_cast<std::ptrdiff_t>(p) * e.plane_stride;
                for (std::size_t r = r0; r < r1; ++r) {
                    T v;  // NumPy arrays need not be aligned
                    std::memcpy(&v, s + static_cast<std::ptrdiff_t>(r) * e.row_stride, sizeof v);
                    d[r] = v;
                }
            }
    });
    return out;
}

// Column-major -> C order (rows, cols, planes).
template <class T>
void to_c_order(const Array<T>& a, T* dst) {
    const std::size_t rows = a.rows(), cols = a.cols(), planes = a.planes();
    const T* src = a.data();
    for_each_tile(rows, cols, [&](std::size_t r0, std::size_t r1, std::size_t c0, std::size_t c1) {
        for (std::size_t r = r0; r < r1; ++r) {
            T* d = dst + r * cols * planes;
            for (std::size_t c = c0; c < c1; ++c)
                for (std::size_t p = 0; p < planes; ++p) d[c * planes + p] = src[(p * cols + c) * rows + r];
        }
    });
}

template <class T>
py::array numpy_of(const Array<T>& a) {
    using Elem = std::conditional_t<std::is_same_v<T, Logical>, bool, T>;
    static_assert(sizeof(Elem) == sizeof(T));
    std::vector<py::ssize_t> shape = {static_cast<py::ssize_t>(a.rows()), static_cast<py::ssize_t>(a.cols())};
    if (a.planes() > 1) shape.push_back(static_cast<py::ssize_t>(a.planes()));
    py::array_t<Elem> out(shape);
    auto* dst = reinterpret_cast<T*>(out.mutable_data());
    {
        // Fresh pages mapped in one call, not one fault per 4 KiB while filling.
        advise_pages(dst, a.numel() * sizeof(T), Pages::MapAhead);
        py::gil_scoped_release unlocked;
        to_c_order(a, dst);
    }
    return out;
}

}  // namespace

AnyImage image_from_numpy(const py::array& a, const char* name) {
    const std::string n = name;
    const char* kind = nullptr;
    if (py::isinstance<py::array_t<std::uint8_t>>(a)) kind = "u8";
    else if (py::isinstance<py::array_t<std::uint16_t>>(a)) kind = "u16";
    else if (py::isinstance<py::array_t<double>>(a)) kind = "f8";
    if (kind == nullptr) {
        throw ArgumentError(n + " must hold uint8, uint16 or float64 samples, not " +
                            py::str(a.dtype()).cast<std::string>() + ".");
    }
    if (a.ndim() != 2 && !(a.ndim() == 3 && a.shape(2) == 3)) {
        throw ArgumentError(n + " must be rows x cols (gray) or rows x cols x 3 (colour), not shape " +
                            shape_text(a) + ".");
    }
    if (a.shape(0) == 0 || a.shape(1) == 0) throw ArgumentError(n + " is empty: shape " + shape_text(a) + ".");

    Extents e;
    e.rows = static_cast<std::size_t>(a.shape(0));
    e.cols = static_cast<std::size_t>(a.shape(1));
    e.planes = a.ndim() == 3 ? 3 : 1;
    e.row_stride = a.strides(0);
    e.col_stride = a.strides(1);
    e.plane_stride = a.ndim() == 3 ? a.strides(2) : 0;
    if (e.cols > static_cast<std::size_t>(kMaxImagePixels) / e.rows) {
        throw ArgumentError(n + " is too large (" + std::to_string(e.cols) + " x " + std::to_string(e.rows) +
                            " pixels; this program takes at most " + std::to_string(kMaxImagePixels) + " pixels).");
    }
    const char* src = static_cast<const char*>(a.data());

    py::gil_scoped_release unlocked;
    if (kind[0] == 'f') {
        ArrayD d = from_strided<double>(src, e);
        const auto s = d.span();
        if (!std::all_of(s.begin(), s.end(), [](double v) { return std::isfinite(v); })) {
            throw ArgumentError(n + " holds NaN or infinite values.");
        }
        return d;
    }
    if (kind[1] == '8') return from_strided<std::uint8_t>(src, e);
    return from_strided<std::uint16_t>(src, e);
}

py::array numpy_from_image(const AnyImage& im) {
    return std::visit([](const auto& a) { return numpy_of(a); }, im);
}

}  // namespace ocu::python
