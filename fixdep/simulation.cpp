#include "fixdep/simulation.hpp"

#include <cmath>
#include <numbers>
#include <sstream>
#include <vector>

#include "toolkit/arrayops.hpp"
#include "toolkit/limits.hpp"
#include "toolkit/units.hpp"

namespace ocu::fixdep {

namespace {

void check_width(double width) {
    if (!(width > 0.0 && width < 180.0)) {
        std::ostringstream s;
        s << "The image width must be an angle between 0 and 180 degrees, not " << width << ".";
        throw Error(s.str());
    }
}

void check_acuity(double mar) {
    if (!(mar > 0.0) || !std::isfinite(mar)) {
        std::ostringstream s;
        s << "The visual acuity must be a positive decimal value, not " << mar << ".";
        throw Error(s.str());
    }
}

}  // namespace

double viewing_distance(std::size_t sx, double width) {
    return viewing_distance_px(sx, width);
}

ArrayD blind_as_minus_one(ArrayD restot) {
    for (double& v : restot.vec())
        if (v == 0.0) v = -1.0;
    return restot;
}

void prepare_masks(ArrayD& restot) {
    // Swapping 0 for -1 and back is lossless only if the map holds no -1 of
    // its own; resolution maps are never negative, but a caller's map might
    // be, and then it gets a copy.
    const int nolevs = mask_level_count(restot, restot.cols() / 2, restot.rows() / 2);
    bool negative = false;
    for (double v : restot.vec()) negative = negative || v < 0.0;
    if (negative) {
        prepblendmasks(blind_as_minus_one(restot), nolevs);
        return;
    }
    std::vector<double>& m = restot.vec();
    for (double& v : m)
        if (v == 0.0) v = -1.0;
    auto restore = [&m] {
        for (double& v : m)
            if (v == -1.0) v = 0.0;
    };
    try {
        prepblendmasks(restot, nolevs);
    } catch (...) {
        restore();
        throw;
    }
    restore();
}

ArrayD prepare_fixdep(const AnyImage& polim, std::size_t sx, std::size_t sy, double width,
                      double mar) {
    fixdep_level_count(sx, sy);  // refuses images below 2 x 2
    if (static_cast<double>(sx) * static_cast<double>(sy) > static_cast<double>(kMaxImagePixels)) {
        throw Error("The image is too large for the fixation-dependent simulation: " + std::to_string(sx) +
                    " x " + std::to_string(sy) + " pixels, more than " + std::to_string(kMaxImagePixels) + ".");
    }
    check_width(width);
    check_acuity(mar);
    check_polar_plot(polim);
    ArrayD restot = resmaptotim(polim, sx, sy, viewing_distance(sx, width), 1.0 / mar);
    prepare_masks(restot);
    return restot;
}

Fixation centre_fixation(std::size_t sx, std::size_t sy) {
    return {round_half_away(static_cast<double>(sx) / 2.0),
            round_half_away(static_cast<double>(sy) / 2.0)};
}

}  // namespace ocu::fixdep
