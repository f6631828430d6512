#pragma once
// Owning arrays and non-owning views.
//
// Storage order (relied on by the plug-in boundary): an array of
// rows x cols x planes stores element (r, c, p) -- 0-based here -- at
// position p*rows*cols + c*rows + r, i.e. column by column, plane after plane.
// The user-facing 1-based element (r, c, p) is (r-1, c-1, p-1) in this API.
//
// `Array<T>` owns its elements and is a value type (copying copies the data).
// Its constructors fill every element; Array<T>::uninitialized leaves them
// unwritten, for a result that is about to be overwritten as a whole: the
// memory is then first touched by the threads that compute it, and nothing is
// written twice.
// `View<T>` / `View<const T>` refer to elements owned elsewhere, with explicit
// extents and strides; kernels take a const view in and a mutable view out.
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "toolkit/error.hpp"
#include "toolkit/large_blocks.hpp"

namespace ocu {

// The logical sample type (0 or 1), one byte per element.
enum class Logical : std::uint8_t { False = 0, True = 1 };

// Largest number of elements one array may hold: 2^31 (16 GiB of doubles).
// Sizes beyond it come only from corrupt input and are refused up front.
inline constexpr std::size_t kMaxElements = std::size_t{1} << 31;

inline std::size_t checked_numel(std::size_t rows, std::size_t cols, std::size_t planes) {
    if (rows == 0 || cols == 0 || planes == 0) return 0;
    if (rows > kMaxElements || cols > kMaxElements / rows ||
        planes > kMaxElements / (rows * cols)) {
        throw Error("Array of " + std::to_string(rows) + " x " + std::to_string(cols) + " x " +
                    std::to_string(planes) + " elements is too large.");
    }
    return rows * cols * planes;
}

// std::allocator, except that elements made without a value are
// default-initialized: for the arithmetic sample types, not written at all;
// and that large arrays live in blocks kept for re-use (large_blocks.hpp).
template <class T>
struct DefaultInitAllocator : std::allocator<T> {
    static constexpr std::size_t kLargeElements = large_blocks::kMinBytes / sizeof(T);

    T* allocate(std::size_t n) {
        if (n < kLargeElements) return std::allocator<T>::allocate(n);
        if (n > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_array_new_length();
        return static_cast<T*>(large_blocks::take(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t n) noexcept {
        if (n < kLargeElements) return std::allocator<T>::deallocate(p, n);
        large_blocks::give_back(p, n * sizeof(T));
    }

    template <class U>
    struct rebind {
        using other = DefaultInitAllocator<U>;
    };
    DefaultInitAllocator() noexcept = default;
    template <class U>
    DefaultInitAllocator(const DefaultInitAllocator<U>&) noexcept {}  // NOLINT: converting, as std::allocator's
    template <class U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

template <class T>
struct View {
    T* data = nullptr;
    std::size_t rows = 0, cols = 0, planes = 1;
    std::ptrdiff_t row_stride = 1, col_stride = 0, plane_stride = 0;  // in elements

    View() = default;
    View(T* d, std::size_t r, std::size_t c, std::size_t p = 1)
        : data(d), rows(r), cols(c), planes(p), row_stride(1),
          col_stride(static_cast<std::ptrdiff_t>(r)),
          plane_stride(static_cast<std::ptrdiff_t>(r * c)) {}
    // A mutable view converts to a const one.
    template <class U>
        requires std::is_same_v<const U, T> && (!std::is_same_v<U, T>)
    View(const View<U>& v)
        : data(v.data), rows(v.rows), cols(v.cols), planes(v.planes), row_stride(v.row_stride),
          col_stride(v.col_stride), plane_stride(v.plane_stride) {}

    T& operator()(std::size_t r, std::size_t c, std::size_t p = 0) const {
        assert(r < rows && c < cols && p < planes);
        return data[static_cast<std::ptrdiff_t>(r) * row_stride +
                    static_cast<std::ptrdiff_t>(c) * col_stride +
                    static_cast<std::ptrdiff_t>(p) * plane_stride];
    }
    std::size_t numel() const { return rows * cols * planes; }
    bool contiguous() const {
        return row_stride == 1 && col_stride == static_cast<std::ptrdiff_t>(rows) &&
               (planes == 1 || plane_stride == static_cast<std::ptrdiff_t>(rows * cols));
    }
    // One plane as a 2-D view.
    View plane(std::size_t p) const {
        assert(p < planes);
        View v = *this;
        v.data = data + static_cast<std::ptrdiff_t>(p) * plane_stride;
        v.planes = 1;
        return v;
    }
};

template <class T>
class Array {
public:
    using value_type = T;
    // The element storage: a std::vector whose allocator leaves elements
    // made without a value unwritten.
    using Storage = std::vector<T, DefaultInitAllocator<T>>;

    Array() = default;
    Array(std::size_t rows, std::size_t cols, std::size_t planes = 1, T fill = T{})
        : data_(checked_numel(rows, cols, planes), fill), rows_(rows), cols_(cols),
          planes_(planes) {}
    // Takes ownership of column-major data of the given extents.
    Array(std::size_t rows, std::size_t cols, std::size_t planes, Storage data)
        : data_(std::move(data)), rows_(rows), cols_(cols), planes_(planes) {
        if (data_.size() != checked_numel(rows, cols, planes)) {
            throw Error("Array data does not match its size.");
        }
    }
    // The same from a std::vector, whose elements are copied.
    Array(std::size_t rows, std::size_t cols, std::size_t planes, const std::vector<T>& data)
        : Array(rows, cols, planes, Storage(data.begin(), data.end())) {}
    Array(std::size_t rows, std::size_t cols, std::size_t planes, std::initializer_list<T> data)
        : Array(rows, cols, planes, Storage(data)) {}

    // An array whose elements are not written (for the arithmetic sample
    // types: hold whatever the memory held). For results the caller then
    // writes completely, typically from several threads: filling it first
    // would cost a serial pass over memory that is about to be overwritten.
    // Reading an element before writing it is an error.
    static Array uninitialized(std::size_t rows, std::size_t cols, std::size_t planes = 1) {
        Array a;
        a.data_.resize(checked_numel(rows, cols, planes));
        a.rows_ = rows;
        a.cols_ = cols;
        a.planes_ = planes;
        return a;
    }

    std::size_t rows() const { return rows_; }
    std::size_t cols() const { return cols_; }
    std::size_t planes() const { return planes_; }
    std::size_t numel() const { return data_.size(); }
    bool empty() const { return data_.empty(); }
    // Number of dimensions as the user sees them: 2 unless there are several planes.
    std::size_t ndims() const { return planes_ > 1 ? 3 : 2; }

    T* data() { return data_.data(); }
    const T* data() const { return data_.data(); }
    // The elements in storage order (column by column, plane after plane).
    std::span<T> span() { return data_; }
    std::span<const T> span() const { return data_; }
    // Hands the storage over (in storage order) and leaves the array empty,
    // 0 x 0: for a consumer that keeps the elements without copying them.
    Storage release() && {
        Storage out = std::move(data_);
        data_.clear();
        rows_ = cols_ = 0;
        planes_ = 1;
        return out;
    }

    T& operator()(std::size_t r, std::size_t c, std::size_t p = 0) {
        assert(r < rows_ && c < cols_ && p < planes_);
        return data_[(p * cols_ + c) * rows_ + r];
    }
    const T& operator()(std::size_t r, std::size_t c, std::size_t p = 0) const {
        assert(r < rows_ && c < cols_ && p < planes_);
        return data_[(p * cols_ + c) * rows_ + r];
    }
    T& operator[](std::size_t i) { return data_[i]; }
    const T& operator[](std::size_t i) const { return data_[i]; }

    View<T> view() { return View<T>(data_.data(), rows_, cols_, planes_); }
    View<const T> view() const { return View<const T>(data_.data(), rows_, cols_, planes_); }
    View<T> plane(std::size_t p) { return view().plane(p); }
    View<const T> plane(std::size_t p) const { return view().plane(p); }

    bool same_size(const Array& o) const {
        return rows_ == o.rows_ && cols_ == o.cols_ && planes_ == o.planes_;
    }
    friend bool operator==(const Array& a, const Array& b) {
        return a.same_size(b) && a.data_ == b.data_;
    }

private:
    Storage data_;
    std::size_t rows_ = 0, cols_ = 0, planes_ = 1;
};

using ArrayD = Array<double>;
using ArrayU8 = Array<std::uint8_t>;
using ArrayU16 = Array<std::uint16_t>;
using ArrayL = Array<Logical>;

// An image as read from a file or shown on screen: one of the sample types.
using AnyImage = std::variant<ArrayU8, ArrayU16, ArrayL, ArrayD>;

// Copies a view into a new owning array.
template <class T>
Array<std::remove_const_t<T>> to_array(View<T> v) {
    Array<std::remove_const_t<T>> a(v.rows, v.cols, v.planes);
    for (std::size_t p = 0; p < v.planes; ++p)
        for (std::size_t c = 0; c < v.cols; ++c)
            for (std::size_t r = 0; r < v.rows; ++r) a(r, c, p) = v(r, c, p);
    return a;
}

// Size of an AnyImage, whatever its sample type.
inline std::size_t image_rows(const AnyImage& im) {
    return std::visit([](const auto& a) { return a.rows(); }, im);
}
inline std::size_t image_cols(const AnyImage& im) {
    return std::visit([](const auto& a) { return a.cols(); }, im);
}
inline std::size_t image_planes(const AnyImage& im) {
    return std::visit([](const auto& a) { return a.planes(); }, im);
}

}  // namespace ocu
