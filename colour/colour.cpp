#include "colour/colour.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "colour/kernels.hpp"
#include "colour/machado2009.hpp"
#include "colour/srgb.hpp"
#include "toolkit/memory.hpp"
#include "toolkit/parallel.hpp"

namespace ocu::colour {

namespace {

// Luminance of linear sRGB (Rec. 709 primaries, D65).
constexpr Matrix3 kLuminanceRows = {0.2126, 0.7152, 0.0722,  //
                                    0.2126, 0.7152, 0.0722,  //
                                    0.2126, 0.7152, 0.0722};

constexpr std::size_t kBlock = 512;    // pixels decoded to linear light at a time
constexpr std::size_t kGrain = 16384;  // smallest pixel range worth a thread
// Results this large are written past the caches (they would not stay there).
constexpr std::size_t kStreamBytes = std::size_t{64} << 20;

std::string num(double v) {
    if (std::isnan(v)) return "NaN";
    char buf[32];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, res.ptr);
}

[[noreturn]] void not_finite() {
    throw Error("The image holds values that are not finite numbers.");
}

// Stored samples as sRGB values 0..1, and as linear light.
struct FromU8 {  // linear values: mix_encode_u8
    double value(std::uint8_t v) const { return static_cast<double>(v) / 255.0; }
};
struct FromU16 {
    const std::array<double, 65536>& lin = srgb_decode_u16();
    double value(std::uint16_t v) const { return static_cast<double>(v) / 65535.0; }
    double linear(std::uint16_t v) const { return lin[v]; }
};
struct FromLogical {
    double value(Logical v) const { return v == Logical::False ? 0.0 : 1.0; }
    double linear(Logical v) const { return value(v); }
};
struct FromDouble {
    double value(double v) const {
        if (!std::isfinite(v)) not_finite();
        return std::min(std::max(v, 0.0), 1.0);
    }
    double linear(double v) const { return srgb_decode(value(v)); }
};

template <class T> struct From;
template <> struct From<std::uint8_t> { using type = FromU8; };
template <> struct From<std::uint16_t> { using type = FromU16; };
template <> struct From<Logical> { using type = FromLogical; };
template <> struct From<double> { using type = FromDouble; };

template <class T>
ArrayD gray(const Array<T>& im) {
    const typename From<T>::type from;
    ArrayD out = uninitialized_array(im.rows(), im.cols(), 1, Pages::Huge);  // written whole below
    for (std::size_t i = 0; i < im.numel(); ++i) out[i] = from.value(im[i]);
    return out;
}

template <class T>
ArrayD mix(const Array<T>& im, const Matrix3& m, bool one_row) {
    const std::size_t n = im.rows() * im.cols();
    // Every element is written below, by the threads that compute it.
    ArrayD out = uninitialized_array(im.rows(), im.cols(), 3, Pages::Huge);
    const T* src[3] = {im.data(), im.data() + n, im.data() + 2 * n};
    const bool stream = 3 * n * sizeof(double) >= kStreamBytes;
    double* const dst[3] = {out.data(), out.data() + n, out.data() + 2 * n};
    parallel_for(
        n,
        [&](std::size_t b, std::size_t e) {
            double* const to[3] = {dst[0] + b, dst[1] + b, dst[2] + b};
            if constexpr (std::is_same_v<T, std::uint8_t>) {
                const std::uint8_t* const from[3] = {src[0] + b, src[1] + b, src[2] + b};
                mix_encode_u8(m, from, to, e - b, one_row, stream);
            } else {
                // Other sample types go through linear values a block at a time.
                const typename From<T>::type from;
                std::vector<double> lin(3 * kBlock);
                const double* const linp[3] = {lin.data(), lin.data() + kBlock, lin.data() + 2 * kBlock};
                for (std::size_t i = b; i < e; i += kBlock) {
                    const std::size_t len = std::min(kBlock, e - i);
                    for (std::size_t p = 0; p < 3; ++p) {
                        for (std::size_t k = 0; k < len; ++k) lin[p * kBlock + k] = from.linear(src[p][i + k]);
                    }
                    double* const at[3] = {dst[0] + i, dst[1] + i, dst[2] + i};
                    mix_encode(m, linp, at, len, one_row);
                }
            }
        },
        kGrain);
    return out;
}

// Pixel after pixel, each one's three samples next to each other.
template <class T>
bool interleaved(const View<T>& v) {
    return v.planes == 3 && v.plane_stride == 1 && v.col_stride == 3 &&
           v.row_stride == static_cast<std::ptrdiff_t>(3 * v.cols);
}

void mix_views(View<const std::uint8_t> im, View<double> out, const Matrix3& m, bool one_row) {
    const std::size_t n = im.rows * im.cols;
    const bool stream = 3 * n * sizeof(double) >= kStreamBytes;
    if (interleaved(im) && interleaved(out)) {
        parallel_for(
            n,
            [&](std::size_t b, std::size_t e) {
                mix_encode_u8_interleaved(m, im.data + 3 * b, out.data + 3 * b, e - b, one_row, stream);
            },
            kGrain);
        return;
    }
    const std::size_t rows = im.rows, cols = im.cols;
    if (interleaved(out)) {
        // The result in C order from samples stored otherwise (a slice, a
        // transposed array): each row's samples copied into C order first.
        parallel_for(
            rows,
            [&](std::size_t r0, std::size_t r1) {
                std::vector<std::uint8_t> row(3 * cols);
                for (std::size_t r = r0; r < r1; ++r) {
                    for (std::size_t c = 0; c < cols; ++c)
                        for (std::size_t p = 0; p < 3; ++p) row[3 * c + p] = im(r, c, p);
                    mix_encode_u8_interleaved(m, row.data(), &out(r, 0, 0), cols, one_row);
                }
            },
            std::max<std::size_t>(1, kGrain / cols));
        return;
    }
    // Any other layout: runs of one column copied to planes and back.
    parallel_for(
        im.cols,
        [&](std::size_t c0, std::size_t c1) {
            std::vector<std::uint8_t> in(3 * kBlock);
            std::vector<double> res(3 * kBlock);
            const std::uint8_t* const from[3] = {in.data(), in.data() + kBlock, in.data() + 2 * kBlock};
            double* const to[3] = {res.data(), res.data() + kBlock, res.data() + 2 * kBlock};
            for (std::size_t c = c0; c < c1; ++c) {
                for (std::size_t r0 = 0; r0 < rows; r0 += kBlock) {
                    const std::size_t len = std::min(kBlock, rows - r0);
                    for (std::size_t p = 0; p < 3; ++p)
                        for (std::size_t k = 0; k < len; ++k) in[p * kBlock + k] = im(r0 + k, c, p);
                    mix_encode_u8(m, from, to, len, one_row);
                    for (std::size_t p = 0; p < 3; ++p)
                        for (std::size_t k = 0; k < len; ++k) out(r0 + k, c, p) = res[p * kBlock + k];
                }
            }
        },
        std::max<std::size_t>(1, kGrain / std::max<std::size_t>(rows, 1)));
}

ArrayD simulate(const AnyImage& im, const Matrix3& m, bool one_row) {
    const std::size_t planes = image_planes(im);
    if (planes != 1 && planes != 3) {
        throw Error("The colour vision simulation needs a gray or a three-plane colour image, not one with " +
                    std::to_string(planes) + " planes.");
    }
    return std::visit(
        [&](const auto& a) { return planes == 1 ? gray(a) : mix(a, m, one_row); }, im);
}

}  // namespace

void check_severity(double severity) {
    if (!(severity >= 0.0 && severity <= 1.0)) {
        throw Error("The severity must be a number from 0 to 1, not " + num(severity) + ".");
    }
}

Deficiency parse_deficiency(std::string_view name) {
    for (const Deficiency d :
         {Deficiency::Protan, Deficiency::Deutan, Deficiency::Tritan, Deficiency::Achromat}) {
        if (name == deficiency_name(d)) return d;
    }
    throw Error("Colour vision type \"" + std::string(name) +
                "\" is not one of protan, deutan, tritan, achromat.");
}

std::string_view deficiency_name(Deficiency type) {
    switch (type) {
        case Deficiency::Protan: return "protan";
        case Deficiency::Deutan: return "deutan";
        case Deficiency::Tritan: return "tritan";
        case Deficiency::Achromat: return "achromat";
    }
    return "";
}

Matrix3 cvd_matrix(Deficiency type, double severity) {
    check_severity(severity);
    if (type == Deficiency::Achromat) return kLuminanceRows;
    const auto& table = machado2009(type);
    const double pos = severity * 10.0;
    const std::size_t k = std::min<std::size_t>(static_cast<std::size_t>(pos), 9);
    const double w = pos - static_cast<double>(k);
    Matrix3 m{};
    for (std::size_t i = 0; i < m.size(); ++i) m[i] = (1.0 - w) * table[k][i] + w * table[k + 1][i];
    return m;
}

ArrayD simulate_cvd(const AnyImage& im, Deficiency type, double severity) {
    return simulate(im, cvd_matrix(type, severity), type == Deficiency::Achromat);
}

ArrayD simulate_achromatopsia(const AnyImage& im) {
    return simulate_cvd(im, Deficiency::Achromat, 1.0);
}

void simulate_cvd(View<const std::uint8_t> im, Deficiency type, double severity, View<double> out) {
    const Matrix3 m = cvd_matrix(type, severity);
    if (im.planes != 3 || out.rows != im.rows || out.cols != im.cols || out.planes != 3) {
        throw Error("The colour vision simulation needs a three-plane colour image and a result of its size.");
    }
    if (im.rows == 0 || im.cols == 0) return;
    mix_views(im, out, m, type == Deficiency::Achromat);
}

void check(const Params& params) { check_severity(params.severity); }

ArrayD run(const AnyImage& im, const Params& params) {
    check(params);
    return simulate_cvd(im, params.type, params.severity);
}

}  // namespace ocu::colour
