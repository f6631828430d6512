#include "field/sensitivity.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "toolkit/arrayops.hpp"

namespace ocu::field {

double normal_threshold_db(double x, double y, double age) {
    const NormalModel& m = kNormalModel;
    const double ecc = std::min(std::sqrt(x * x + y * y), m.max_eccentricity);
    return m.peak_db - m.slope_db_per_degree * ecc -
           m.slope_db_per_year * std::max(0.0, age - m.reference_age);
}

double sensitivity_from_td(double td_db) {
    // 10^(td / 10) as exp(td * ln(10) / 10), which is faster than pow.
    return td_db >= 0.0 ? 1.0 : std::exp(td_db * (std::numbers::ln10 / 10.0));
}

double sensitivity(double td_db, double normal_db) {
    if (normal_db + td_db < 0.0) return 0.0;
    return sensitivity_from_td(td_db);
}

std::uint8_t blue_of(double s) { return to_uint8(255.0 * std::clamp(s, 0.0, 1.0)); }

}  // namespace ocu::field
