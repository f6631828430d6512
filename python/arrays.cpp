#include "python/arrays.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <vector>
#include <type_traits>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "toolkit/pixel_rows.hpp"
#include "toolkit/limits.hpp"
#include "toolkit/memory.hpp"
#include "toolkit/parallel.hpp"

namespace ocu::python {

namespace {

// The layout conversion goes tile by tile, down each column of a tile: a
// tile column is one cache line of the column-major side (kLineBytes), and
// the tile's rows on the NumPy side, kTileCols columns of all planes, a few
// kilobytes that stay cached until they are used whole. Tile rows are spread
// over the threads.
constexpr std::size_t kLineBytes = 64;
constexpr std::size_t kTileCols = 64;
// Tile rows per thread at least: handing them over costs less than this.
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

// Calls f(r0, r1, c0, c1) for every tile of a rows x cols image of T.
template <class T, class F>
void for_each_tile(std::size_t rows, std::size_t cols, F&& f) {
    constexpr std::size_t tile_rows = std::max<std::size_t>(1, kLineBytes / sizeof(T));
    parallel_for(
        (rows + tile_rows - 1) / tile_rows,
        [&](std::size_t t0, std::size_t t1) {
            for (std::size_t t = t0; t < t1; ++t) {
                const std::size_t r0 = t * tile_rows, r1 = std::min(rows, r0 + tile_rows);
                for (std::size_t c0 = 0; c0 < cols; c0 += kTileCols) f(r0, r1, c0, std::min(cols, c0 + kTileCols));
            }
        },
        kTileRowsPerThread);
}

#if defined(__x86_64__) && defined(__GNUC__)
#define OCU_TRANSPOSE_AVX512 1
#define OCU_AVX512 __attribute__((target("avx512f")))
// GCC 12 takes the deliberately undefined lanes inside some AVX-512
// intrinsics for uninitialised variables.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

bool use_avx512() { return simd::has_avx512(); }

// Rows r0 .. r1 - 1 (r1 - r0 a multiple of 16) of a C-ordered colour image of
// bytes -> column-major planes, columns 0 .. cols - 2. One gather takes the
// four bytes from each pixel's red on, in sixteen rows: red, green and blue
// of the pixel and the next red (which the last column lacks in the last
// row, so the last column is left to the caller). Their low, second and
// third bytes are the three planes' sixteen samples of the column.
OCU_AVX512 void from_c_order_rgb16(const std::uint8_t* src, std::size_t rows, std::size_t cols, std::size_t r0,
                                   std::size_t r1, std::uint8_t* dst) {
    const std::size_t plane = rows * cols;
    const auto line = static_cast<int>(3 * cols);
    const __m512i at = _mm512_mullo_epi32(_mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15),
                                          _mm512_set1_epi32(line));
    for (std::size_t r = r0; r < r1; r += 16) {
        const std::uint8_t* s = src + r * 3 * cols;
        std::uint8_t* d = dst + r;
        for (std::size_t c = 0; c + 1 < cols; ++c, s += 3, d += rows) {
            const __m512i v = _mm512_i32gather_epi32(at, s, 1);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm512_cvtepi32_epi8(v));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + plane), _mm512_cvtepi32_epi8(_mm512_srli_epi32(v, 8)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 2 * plane), _mm512_cvtepi32_epi8(_mm512_srli_epi32(v, 16)));
        }
    }
}
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#else
#define OCU_TRANSPOSE_AVX512 0
#endif

// A C-ordered NumPy array of aligned elements, as NumPy makes them, with the
// plane count known to the compiler -> column-major, plane after plane.
// Each tile's C-order rows are read one after another into the tile's cache
// lines of the column-major side, which stay cached until they are full.
// Colour bytes in whole groups of 16 rows go through gathers where the
// processor has them.
template <class T, std::size_t Planes>
void from_c_order(const T* src, std::size_t rows, std::size_t cols, T* dst) {
    std::size_t done_rows = 0;  // rows 0 .. done_rows - 1 but their last column are converted
#if OCU_TRANSPOSE_AVX512
    if constexpr (std::is_same_v<T, std::uint8_t> && Planes == 3) {
        if (use_avx512() && cols >= 2 && 3 * cols <= (std::size_t{1} << 26)) {
            constexpr std::size_t kGroupsPerRange = 4;
            done_rows = rows / 16 * 16;
            parallel_for(
                done_rows / 16,
                [&](std::size_t g0, std::size_t g1) { from_c_order_rgb16(src, rows, cols, 16 * g0, 16 * g1, dst); },
                kGroupsPerRange);
            for (std::size_t r = 0; r < done_rows; ++r)
                for (std::size_t p = 0; p < Planes; ++p)
                    dst[(p * cols + cols - 1) * rows + r] = src[(r * cols + cols - 1) * Planes + p];
        }
    }
#endif
    if (done_rows == rows) return;
    // The rows left, tile by tile.
    for_each_tile<T>(rows - done_rows, cols, [&](std::size_t r0, std::size_t r1, std::size_t c0, std::size_t c1) {
        r0 += done_rows;
        r1 += done_rows;
        for (std::size_t r = r0; r < r1; ++r) {
            const T* s = src + (r * cols + c0) * Planes;
            T* d = dst + c0 * rows + r;
            for (std::size_t c = c0; c < c1; ++c, d += rows)
                for (std::size_t p = 0; p < Planes; ++p) d[p * cols * rows] = *s++;
        }
    });
}

// NumPy (any strides) -> column-major, plane after plane.
template <class T>
Array<T> from_strided(const char* src, const Extents& e) {
    Array<T> out = Array<T>::uninitialized(e.rows, e.cols, e.planes);  // written whole below
    T* dst = out.data();
    const auto size = static_cast<std::ptrdiff_t>(sizeof(T));
    const auto planes = static_cast<std::ptrdiff_t>(e.planes);
    if (reinterpret_cast<std::uintptr_t>(src) % alignof(T) == 0 && e.plane_stride == (e.planes > 1 ? size : 0) &&
        e.col_stride == planes * size && e.row_stride == static_cast<std::ptrdiff_t>(e.cols) * planes * size) {
        const T* s = reinterpret_cast<const T*>(src);
        if (e.planes == 3) from_c_order<T, 3>(s, e.rows, e.cols, dst);
        else from_c_order<T, 1>(s, e.rows, e.cols, dst);
        return out;
    }
    for_each_tile<T>(e.rows, e.cols, [&](std::size_t r0, std::size_t r1, std::size_t c0, std::size_t c1) {
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

// Column-major -> C order (rows, cols, planes), with the plane count known
// to the compiler. Each tile's C-order rows are written one after another
// from the tile's cache lines of the column-major side, which stay cached
// from the first row on.
template <class T, std::size_t Planes>
void to_c_order_tiles(const T* src, std::size_t rows, std::size_t cols, T* dst) {
    for_each_tile<T>(rows, cols, [&](std::size_t r0, std::size_t r1, std::size_t c0, std::size_t c1) {
        for (std::size_t r = r0; r < r1; ++r) {
            T* d = dst + (r * cols + c0) * Planes;
            const T* s = src + c0 * rows + r;
            for (std::size_t c = c0; c < c1; ++c, s += rows)
                for (std::size_t p = 0; p < Planes; ++p) *d++ = s[p * cols * rows];
        }
    });
}

// The same; doubles go through the processor's 8 x 8 transposes where it
// has them, in bands of kBandRows rows over the threads, and the ragged
// last rows and columns one by one.
template <class T, std::size_t Planes>
void to_c_order(const T* src, std::size_t rows, std::size_t cols, T* dst) {
#if OCU_TRANSPOSE_AVX512
    if constexpr (std::is_same_v<T, double> && (Planes == 1 || Planes == 3)) {
        if (use_avx512()) {
            constexpr std::size_t kBandRows = 64;
            const std::size_t rows8 = rows / 8 * 8, cols8 = cols / 8 * 8;
            parallel_for(
                (rows8 + kBandRows - 1) / kBandRows,
                [&](std::size_t b0, std::size_t b1) {
                    for (std::size_t b = b0; b < b1; ++b) {
                        const std::size_t r0 = b * kBandRows, r1 = std::min(rows8, r0 + kBandRows);
                        simd::to_pixel_rows<Planes>(src, rows, rows * cols, r0, r1, cols8, dst, cols * Planes);
                        for (std::size_t r = r0; r < r1; ++r)
                            for (std::size_t c = cols8; c < cols; ++c)
                                for (std::size_t p = 0; p < Planes; ++p)
                                    dst[(r * cols + c) * Planes + p] = src[(p * cols + c) * rows + r];
                    }
                },
                kTileRowsPerThread);
            for (std::size_t r = rows8; r < rows; ++r)
                for (std::size_t c = 0; c < cols; ++c)
                    for (std::size_t p = 0; p < Planes; ++p)
                        dst[(r * cols + c) * Planes + p] = src[(p * cols + c) * rows + r];
            return;
        }
    }
#endif
    to_c_order_tiles<T, Planes>(src, rows, cols, dst);
}

// The same for any number of planes.
template <class T>
void to_c_order_any(const Array<T>& a, T* dst) {
    const std::size_t rows = a.rows(), cols = a.cols(), planes = a.planes();
    const T* src = a.data();
    for_each_tile<T>(rows, cols, [&](std::size_t r0, std::size_t r1, std::size_t c0, std::size_t c1) {
        for (std::size_t r = r0; r < r1; ++r)
            for (std::size_t c = c0; c < c1; ++c)
                for (std::size_t p = 0; p < planes; ++p) dst[(r * cols + c) * planes + p] = src[(p * cols + c) * rows + r];
    });
}

template <class T>
void to_c_order(const Array<T>& a, T* dst) {
    if (a.planes() == 3) to_c_order<T, 3>(a.data(), a.rows(), a.cols(), dst);
    else if (a.planes() == 1) to_c_order<T, 1>(a.data(), a.rows(), a.cols(), dst);
    else to_c_order_any(a, dst);
}

// Memory for results handed to NumPy, kept for the next result when NumPy
// frees it. A fresh block costs a page fault per 4 KiB (about as much as a
// colour simulation of 640 x 480); NumPy's own blocks, freed after the
// program's arrays of the same size, let the allocator give the pages back to
// the system at every call. Blocks of up to kCacheBytes in all are kept, for
// results of equal size one after another (a loop over images of one size).
class ResultBlocks {
public:
    static constexpr std::size_t kCacheBytes = std::size_t{256} << 20;
    static constexpr std::size_t kAlign = 64;

    static ResultBlocks& instance() {
        static ResultBlocks* blocks = new ResultBlocks();  // lives as long as the process
        return *blocks;
    }

    void* take(std::size_t bytes) {
        bytes = rounded(bytes);
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            for (std::size_t i = 0; i < free_.size(); ++i) {
                if (free_[i].bytes == bytes) {
                    void* p = free_[i].data;
                    kept_ -= bytes;
                    free_.erase(free_.begin() + static_cast<std::ptrdiff_t>(i));
                    return p;
                }
            }
        }
        void* p = std::aligned_alloc(kAlign, bytes);
        if (p == nullptr) throw std::bad_alloc();
        return p;
    }

    void give_back(void* p, std::size_t bytes) noexcept {
        bytes = rounded(bytes);
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            // The oldest blocks make room for this one; a block larger than
            // the whole cache is not kept.
            while (!free_.empty() && kept_ + bytes > kCacheBytes) {
                std::free(free_.front().data);
                kept_ -= free_.front().bytes;
                free_.erase(free_.begin());
            }
            if (kept_ + bytes <= kCacheBytes) {
                free_.push_back({p, bytes});
                kept_ += bytes;
                return;
            }
        }
        std::free(p);
    }

private:
    struct Block {
        void* data;
        std::size_t bytes;
    };
    static std::size_t rounded(std::size_t bytes) { return (std::max<std::size_t>(bytes, 1) + kAlign - 1) / kAlign * kAlign; }

    std::mutex mutex_;
    std::vector<Block> free_;
    std::size_t kept_ = 0;
};

// A new C-order NumPy array of Elem, rows x cols (x planes when there are
// several), in a block from the cache; its elements are not written.
template <class Elem>
py::array new_c_order(std::size_t rows, std::size_t cols, std::size_t planes, Elem*& data) {
    std::vector<py::ssize_t> shape = {static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(cols)};
    if (planes > 1) shape.push_back(static_cast<py::ssize_t>(planes));
    const std::size_t bytes = rows * cols * planes * sizeof(Elem);
    // NumPy frees the block through the array's base object, which hands it
    // back to the cache.
    struct Owned {
        void* data;
        std::size_t bytes;
    };
    auto give_back = [](void* p) {
        const std::unique_ptr<Owned> o(static_cast<Owned*>(p));
        ResultBlocks::instance().give_back(o->data, o->bytes);
    };
    void* block = ResultBlocks::instance().take(bytes);
    auto owned = std::unique_ptr<Owned>(new (std::nothrow) Owned{block, bytes});
    if (!owned) {
        ResultBlocks::instance().give_back(block, bytes);
        throw std::bad_alloc();
    }
    py::capsule base;
    try {
        base = py::capsule(owned.get(), +give_back);
    } catch (...) {
        ResultBlocks::instance().give_back(block, bytes);
        throw;
    }
    owned.release();  // the capsule's now
    data = static_cast<Elem*>(block);
    return py::array_t<Elem>(shape, data, base);
}

template <class T>
py::array numpy_of(const Array<T>& a) {
    using Elem = std::conditional_t<std::is_same_v<T, Logical>, bool, T>;
    static_assert(sizeof(Elem) == sizeof(T));
    Elem* data = nullptr;
    py::array out = new_c_order<Elem>(a.rows(), a.cols(), a.planes(), data);
    {
        py::gil_scoped_release unlocked;
        to_c_order(a, reinterpret_cast<T*>(data));
    }
    return out;
}

// Extents of an image argument, refused as image_from_numpy documents.
Extents image_extents(const py::array& a, const std::string& n) {
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
    return e;
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
    const Extents e = image_extents(a, n);
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

std::optional<View<const std::uint8_t>> u8_view(const py::array& a, const char* name) {
    if (!py::isinstance<py::array_t<std::uint8_t>>(a)) return std::nullopt;
    const Extents e = image_extents(a, name);
    View<const std::uint8_t> v(static_cast<const std::uint8_t*>(a.data()), e.rows, e.cols, e.planes);
    v.row_stride = e.row_stride;  // bytes are elements here
    v.col_stride = e.col_stride;
    v.plane_stride = e.plane_stride;
    return v;
}

NumpyResult new_numpy_result(std::size_t rows, std::size_t cols, std::size_t planes) {
    double* data = nullptr;
    NumpyResult r;
    r.array = new_c_order<double>(rows, cols, planes, data);
    r.view = View<double>(data, rows, cols, planes);
    r.view.row_stride = static_cast<std::ptrdiff_t>(cols * planes);
    r.view.col_stride = static_cast<std::ptrdiff_t>(planes);
    r.view.plane_stride = 1;
    return r;
}

py::array numpy_from_image(const AnyImage& im) {
    return std::visit([](const auto& a) { return numpy_of(a); }, im);
}

}  // namespace ocu::python
