#include "fixindep/fixindep.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <sstream>
#include <type_traits>
#include <variant>
#include <vector>

#include "fixindep/lumsource.hpp"
#include "toolkit/parallel.hpp"
#include "toolkit/viewing.hpp"

namespace ocu::fixindep {

namespace {

constexpr std::size_t kGrain = std::size_t{1} << 14;

}  // namespace

double pow_of_unit(double v, double e) {
    if (e != 2.0) return std::pow(v, e);
    // p = v*v is the square correctly rounded, and fma gives its rounding
    // error r exactly. The maths library's pow is within 0.54 units in the
    // last place of the exact square (the bound its source states); when the
    // exact square lies within 0.4 units of p, every other double is more
    // than 0.6 units away from it, so pow returns p. Only squares near a
    // midpoint between two doubles (about a fifth) and tiny ones, whose
    // units are not those of normal numbers, need pow itself.
    const double p = v * v;
    if (p >= 0x1p-1000) {
        const double r = std::fma(v, v, -p);
        const double unit = std::bit_cast<double>(std::bit_cast<std::uint64_t>(p) & 0x7ff0000000000000ULL) * 0x1p-52;
        if (std::abs(r) <= 0.4 * unit) return p;
    }
    return std::pow(v, e);
}

namespace {

void check_positive(double v, const char* what) {
    if (!std::isfinite(v) || !(v > 0.0)) {
        std::ostringstream s;
        s << what << " must be a positive finite number, not " << v << ".";
        throw Error(s.str());
    }
}

void check_shape(std::size_t planes) {
    if (planes != 1 && planes != 3) {
        throw Error("The image must be 2-D (gray) or have three planes (colour); it has " +
                    std::to_string(planes) + " planes.");
    }
}

// (v / scale) ^ powcam for every possible 8-bit or 16-bit sample.
template <class T>
std::vector<double> lum_table(double scale, double powcam) {
    constexpr std::size_t nvals = std::size_t{1} << (8 * sizeof(T));
    std::vector<double> table(nvals);
    for (std::size_t v = 0; v < nvals; ++v) table[v] = std::pow(static_cast<double>(v) / scale, powcam);
    return table;
}

// Stored 8-bit or 16-bit samples read through the luminance table, without
// building the luminance image.
template <class T>
class TableSource : public LumSource {
public:
    TableSource(const Array<T>& a, std::vector<double> table) : a_(a), table_(std::move(table)) {
        colour_ = false;
        if (a_.planes() == 3) {
            const std::size_t n = a_.rows() * a_.cols();
            const T* p1 = a_.data();
            const T* p2 = p1 + n;
            const T* p3 = p2 + n;
            for (std::size_t i = 0; i < n && !colour_; ++i) {
                const double l1 = table_[p1[i]];
                colour_ = l1 != table_[p2[i]] || l1 != table_[p3[i]];
            }
        }
    }
    std::size_t rows() const override { return a_.rows(); }
    std::size_t cols() const override { return a_.cols(); }
    std::size_t planes() const override { return a_.planes(); }
    bool colour() const override { return colour_; }
    void load_plane(std::size_t p, std::size_t c, std::size_t r0, std::size_t r1,
                    double* col) const override {
        const T* s = &a_(0, c, p);
        for (std::size_t r = r0; r < r1; ++r) col[r - r0] = table_[s[r]];
    }
    void load_gray(std::size_t c, std::size_t r0, std::size_t r1, double* col) const override {
        if (!colour_) {
            load_plane(0, c, r0, r1, col);
            return;
        }
        const T* rp = &a_(0, c, 0);
        const T* gp = &a_(0, c, 1);
        const T* bp = &a_(0, c, 2);
        for (std::size_t r = r0; r < r1; ++r)
            col[r - r0] = gray_of(table_[rp[r]], table_[gp[r]], table_[bp[r]]);
    }

private:
    const Array<T>& a_;
    std::vector<double> table_;
    bool colour_;
};

template <class T>
ArrayD lum_by_table(const Array<T>& a, double scale, double powcam) {
    const std::vector<double> table = lum_table<T>(scale, powcam);
    ArrayD lum(a.rows(), a.cols(), a.planes());
    parallel_for(a.numel(), [&](std::size_t b, std::size_t e) {
        for (std::size_t i = b; i < e; ++i) lum[i] = table[a[i]];
    }, kGrain);
    return lum;
}

}  // namespace

void check(const Params& p) {
    viewing::check_width(p.width);
    viewing::check_acuity(p.mar);
    viewing::check_contrast(p.contrastf);
    check_positive(p.powmon, "The monitor exponent");
    check_positive(p.powcam, "The camera exponent");
}

double marpix(double mar, double pixdist) {
    viewing::check_acuity(mar);
    return (1.0 / mar) / 60.0 / 180.0 * std::numbers::pi * pixdist;
}

ArrayD luminance(const AnyImage& im, double powcam) {
    check_positive(powcam, "The camera exponent");
    check_shape(image_planes(im));
    return std::visit(
        [&](const auto& a) -> ArrayD {
            using T = typename std::decay_t<decltype(a)>::value_type;
            if constexpr (std::is_same_v<T, std::uint8_t>) {
                return lum_by_table(a, 255.0, powcam);
            } else if constexpr (std::is_same_v<T, std::uint16_t>) {
                return lum_by_table(a, 65535.0, powcam);
            } else if constexpr (std::is_same_v<T, Logical>) {
                ArrayD lum(a.rows(), a.cols(), a.planes());
                for (std::size_t i = 0; i < a.numel(); ++i) lum[i] = a[i] == Logical::True ? 1.0 : 0.0;
                return lum;
            } else {
                for (const double v : a.span())
                    if (!std::isfinite(v)) throw Error("The image holds values that are not finite numbers.");
                // Element by element, so the result does not depend on the
                // threads (a double image is the previous step of a combined
                // run, where this is the costly part).
                ArrayD lum(a.rows(), a.cols(), a.planes());
                parallel_for(a.numel(), [&](std::size_t b, std::size_t e) {
                    for (std::size_t i = b; i < e; ++i) {
                        const double v = a[i];
                        lum[i] = pow_of_unit(v > 0.0 ? (v < 1.0 ? v : 1.0) : 0.0, powcam);
                    }
                }, kGrain);
                return lum;
            }
        },
        im);
}

ArrayD run(const AnyImage& im, const Params& p, const Progress* progress) {
    // Every parameter is checked before any work, so a bad one costs nothing.
    check(p);
    const double ac = marpix(p.mar, viewing::viewing_distance(image_cols(im), p.width));
    const double ct10 = p.contrastf * 0.05;
    check_locblurim_args(image_rows(im), image_cols(im), image_planes(im), ac, ct10);

    const double exponent = 1.0 / p.powmon;
    if (const auto* a8 = std::get_if<ArrayU8>(&im)) {
        return locblur_source(TableSource<std::uint8_t>(*a8, lum_table<std::uint8_t>(255.0, p.powcam)), ac,
                              ct10, std::nullopt, p.filtering, exponent, progress);
    }
    if (const auto* a16 = std::get_if<ArrayU16>(&im)) {
        return locblur_source(TableSource<std::uint16_t>(*a16, lum_table<std::uint16_t>(65535.0, p.powcam)),
                              ac, ct10, std::nullopt, p.filtering, exponent, progress);
    }
    const ArrayD lum = luminance(im, p.powcam);
    return locblur_source(ArraySource(lum), ac, ct10, std::nullopt, p.filtering, exponent, progress);
}

}  // namespace ocu::fixindep
