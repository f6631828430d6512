#include "fixdep/resmap.hpp"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <variant>
#include <vector>

#include "toolkit/parallel.hpp"
#include "toolkit/numtext.hpp"

namespace ocu::fixdep {

namespace {

constexpr double kDegreesPerRadian = 57.29577951308232;
constexpr double kRadiansPerArcmin = 0.0002908882086657216;  // pi / 10800
constexpr double kPolarRadius90 = 176.2774;                   // plot pixels at 90 degrees
constexpr double kPolarCentre = 200.0;                        // 1-based row and column
constexpr double kSigmaToResolution = 0.6418;

// The three ingredients, per map pixel. Each is written exactly once here and
// used both by the separate maps and by the fused resmaptotim, so the two
// agree to the last bit.

double eccentricity(double rd, double pixdist) {
    return std::atan(rd / pixdist) * kDegreesPerRadian;
}

// Normal vision: the minimum angle of resolution at eccentricity `ecc` (1
// arcmin at the centre, rising quadratically), as a length in pixels at
// distance `rd` from the foot of the viewing axis, gives the resolution.
double normal_resolution(double rd, double ecc, double pixdist) {
    const double gsm = 0.023 * (ecc * ecc) + 0.3651 * ecc + 1.0;
    const double gsp = (kRadiansPerArcmin / pixdist) * (rd * rd + pixdist * pixdist) * gsm;
    const double sigma = gsp / 2.0;
    return std::min(kSigmaToResolution / sigma, 1.0);
}

// The acuity limit: the same conversion for a fixed angle `minmar`, uncapped.
double acuity_resolution(double rd, double minmar, double pixdist) {
    const double gsp = minmar * (rd * rd + pixdist * pixdist) * (kRadiansPerArcmin / pixdist);
    const double sigma = gsp / 2.0;
    return kSigmaToResolution / sigma;
}

// Plane 3 of the polar plot as relative sensitivity, looked up by 1-based plot
// row and column.
class PolarField {
public:
    explicit PolarField(const AnyImage& im) {
        check_polar_plot(im);
        std::visit(
            [this](const auto& a) {
                rows_ = a.rows();
                cols_ = a.cols();
                msk_.resize(rows_ * cols_);
                for (std::size_t i = 0; i < msk_.size(); ++i)
                    msk_[i] = static_cast<double>(a[2 * rows_ * cols_ + i]) / 255.0;
            },
            im);
    }
    double at(double row1, double col1) const {
        // The eccentricity stays below 90 degrees, so every index lies within
        // 24..376 of a plot that passed check_polar_plot; the test guards
        // against a NaN or an out-of-range value all the same.
        if (!(row1 >= 1.0 && col1 >= 1.0 && row1 <= static_cast<double>(rows_) &&
              col1 <= static_cast<double>(cols_))) {
            throw Error("The polar plot lookup left the plot.");
        }
        return msk_[(static_cast<std::size_t>(col1) - 1) * rows_ + static_cast<std::size_t>(row1) - 1];
    }

private:
    std::vector<double> msk_;
    std::size_t rows_ = 0, cols_ = 0;
};

// Plot coordinate along one axis for the offset component `xy` of a map pixel
// at distance `rd` and plot radius `rpol`.
double polar_index(double rpol, double xy, double rd) {
    return std::round(rpol * (xy / (rd + 0.001)) + kPolarCentre);
}

void check_distance(double pixdist) {
    if (!(pixdist > 0.0) || !std::isfinite(pixdist)) {
        std::ostringstream s;
        s << "The viewing distance must be a positive number of pixels, not " << pixdist << ".";
        throw Error(s.str());
    }
}

void check_minmar(double minmar) {
    if (!(minmar > 0.0) || !std::isfinite(minmar)) {
        std::ostringstream s;
        s << "The minimum angle of resolution must be a positive number of minutes of arc, not "
          << minmar << ".";
        throw Error(s.str());
    }
}

// Runs f(x, y, X, Y, rd) with 0-based (x, y) and offsets from the centre
// (crow, ccol), over all columns in parallel.
template <class F>
ArrayD fill_map(std::size_t sx, std::size_t sy, double crow, double ccol, F f) {
    ArrayD out(sy, sx);
    parallel_for(
        sx,
        [&](std::size_t b, std::size_t e) {
            for (std::size_t x = b; x < e; ++x) {
                const double X = static_cast<double>(x + 1) - ccol;
                for (std::size_t y = 0; y < sy; ++y) {
                    const double Y = static_cast<double>(y + 1) - crow;
                    const double rd = std::sqrt(X * X + Y * Y);
                    out(y, x) = f(X, Y, rd);
                }
            }
        },
        16);
    return out;
}

}  // namespace

void check_polar_plot(const AnyImage& polar) {
    const std::size_t r = image_rows(polar), c = image_cols(polar), p = image_planes(polar);
    if (p != 3 || r < kPolarMinSize || c < kPolarMinSize) {
        std::ostringstream s;
        s << "The polar plot must be a colour image with 3 planes of at least "
          << size_text(kPolarMinSize, kPolarMinSize) << " pixels; the one given has " << size_text(c, r)
          << " pixels and " << p << (p == 1 ? " plane." : " planes.");
        throw Error(s.str());
    }
}

ArrayD standresmap(std::size_t sx, std::size_t sy, double pixdist) {
    check_distance(pixdist);
    const double crow = std::round(static_cast<double>(sy) / 2.0);
    const double ccol = std::round(static_cast<double>(sx) / 2.0);
    return fill_map(sx, sy, crow, ccol, [&](double, double, double rd) {
        return normal_resolution(rd, eccentricity(rd, pixdist), pixdist);
    });
}

ArrayD minresmap(double minmar, std::size_t sx, std::size_t sy, double pixdist) {
    check_distance(pixdist);
    check_minmar(minmar);
    const double crow = std::round(static_cast<double>(sy) / 2.0);
    const double ccol = std::round(static_cast<double>(sx) / 2.0);
    return fill_map(sx, sy, crow, ccol,
                    [&](double, double, double rd) { return acuity_resolution(rd, minmar, pixdist); });
}

ArrayD degradationmapim(const AnyImage& im, std::size_t sx, std::size_t sy, double pixdist) {
    const PolarField field(im);
    check_distance(pixdist);
    const double rscale = kPolarRadius90 / 90.0;
    return fill_map(sx, sy, static_cast<double>(sy) / 2.0, static_cast<double>(sx) / 2.0,
                    [&](double X, double Y, double rd) {
                        const double rpol = rscale * eccentricity(rd, pixdist);
                        return field.at(polar_index(rpol, Y, rd), polar_index(rpol, X, rd));
                    });
}

ArrayD resmaptotim(const AnyImage& im, std::size_t sx, std::size_t sy, double pixdist,
                   double minmar) {
    const PolarField field(im);
    check_distance(pixdist);
    check_minmar(minmar);
    const std::size_t rows = 2 * sy, cols = 2 * sx;
    // Every element is written below (each offset gives up to four), by the
    // threads that compute it.
    ArrayD out = ArrayD::uninitialized(rows, cols);
    if (out.empty()) return out;
    const double rscale = kPolarRadius90 / 90.0;

    // The centre of all three maps is the 1-based pixel (sy, sx), 0-based
    // (sy - 1, sx - 1). Everything but the polar lookup depends only on the
    // distance from it, so each offset (a, b) >= 0 is evaluated once and
    // written to the up to four pixels (+-a, +-b). Negating an offset negates
    // the direction and its plot offset exactly, so each pixel gets the very
    // values a pixel-by-pixel evaluation would give it.
    parallel_for(
        sx + 1,
        [&](std::size_t ab, std::size_t ae) {
            for (std::size_t a = ab; a < ae; ++a) {
                const double X = static_cast<double>(a);
                // Column sx - 1 + a always exists (a <= sx); sx - 1 - a only for 1 <= a < sx.
                const bool left = a >= 1 && a < sx;
                double* colr = out.data() + (sx - 1 + a) * rows;
                double* coll = left ? out.data() + (sx - 1 - a) * rows : nullptr;
                for (std::size_t b = 0; b <= sy; ++b) {
                    const double Y = static_cast<double>(b);
                    const double rd = std::sqrt(X * X + Y * Y);
                    const double ecc = eccentricity(rd, pixdist);
                    const double res0 = normal_resolution(rd, ecc, pixdist);
                    const double subres = acuity_resolution(rd, minmar, pixdist);
                    const double rpol = rscale * ecc;
                    const double px = rpol * (X / (rd + 0.001));
                    const double py = rpol * (Y / (rd + 0.001));
                    const double xr = std::round(px + kPolarCentre);
                    const double xl = std::round(-px + kPolarCentre);
                    const double yd = std::round(py + kPolarCentre);
                    const double yu = std::round(-py + kPolarCentre);
                    auto value = [&](double prow, double pcol) {
                        return std::min(res0 * field.at(prow, pcol), subres);
                    };
                    // Row sy - 1 + b always exists (b <= sy); sy - 1 - b only for 1 <= b < sy.
                    const bool up = b >= 1 && b < sy;
                    colr[sy - 1 + b] = value(yd, xr);
                    if (up) colr[sy - 1 - b] = value(yu, xr);
                    if (left) {
                        coll[sy - 1 + b] = value(yd, xl);
                        if (up) coll[sy - 1 - b] = value(yu, xl);
                    }
                }
            }
        },
        16);
    return out;
}

}  // namespace ocu::fixdep
