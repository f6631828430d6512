#include "toolkit/side_by_side.hpp"

#include <type_traits>
#include <variant>

#include "toolkit/numtext.hpp"

namespace ocu {

namespace {

// Element i of `a` as a displayed value 0..1.
template <class T>
double shown_value(const Array<T>& a, std::size_t i) {
    if constexpr (std::is_same_v<T, std::uint8_t>)
        return a[i] / 255.0;
    else if constexpr (std::is_same_v<T, std::uint16_t>)
        return a[i] / 65535.0;
    else if constexpr (std::is_same_v<T, Logical>)
        return a[i] == Logical::True ? 1.0 : 0.0;
    else
        return a[i];
}

// Writes `im` into columns c0.. of `out`, repeating a single plane.
void put(const AnyImage& im, ArrayD& out, std::size_t c0) {
    std::visit(
        [&](const auto& a) {
            const std::size_t n = a.rows() * a.cols();
            for (std::size_t p = 0; p < out.planes(); ++p) {
                const std::size_t from = a.planes() == 1 ? 0 : p;
                for (std::size_t c = 0; c < a.cols(); ++c)
                    for (std::size_t r = 0; r < a.rows(); ++r)
                        out(r, c0 + c, p) = shown_value(a, from * n + c * a.rows() + r);
            }
        },
        im);
}

}  // namespace

ArrayD side_by_side(const AnyImage& original, const AnyImage& result) {
    const std::size_t rows = image_rows(original), cols = image_cols(original);
    if (image_rows(result) != rows || image_cols(result) != cols) {
        throw Error("The original (" + size_text(cols, rows) + " pixels) and the result (" +
                    size_text(image_cols(result), image_rows(result)) +
                    " pixels) differ in size; they cannot be put side by side.");
    }
    const std::size_t po = image_planes(original), pr = image_planes(result);
    for (std::size_t p : {po, pr}) {
        if (p != 1 && p != 3) {
            throw Error("An image with " + std::to_string(p) +
                        " planes cannot be put side by side; it needs 1 or 3.");
        }
    }
    ArrayD out(rows, 2 * cols, po == 3 || pr == 3 ? 3 : 1);
    put(original, out, 0);
    put(result, out, cols);
    return out;
}

}  // namespace ocu
