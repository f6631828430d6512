#pragma once
// From decibels to the relative sensitivity the polar plot holds.
//
// Shared rules for this header:
//  - Total deviation d (dB) is the measured threshold minus the age-corrected
//    normal threshold N at that place; the relative sensitivity is
//    s = min(1, 10^(d / 10)): -3 dB is half, 0 dB or better is normal.
//  - A threshold below 0 dB (including a point not seen at the brightest
//    stimulus, counted as -1 dB) gives s = 0.
//  - The polar plot's blue value is round(255 * s), halves away from zero.
//  - Coordinates are degrees from fixation, x to the patient's right, y up.
#include <cstdint>

namespace ocu::field {

// The normal hill of vision: one linear model, the table below. The threshold
// of a normal eye at eccentricity e degrees (e = sqrt(x^2 + y^2), taken as 90
// beyond 90) for a patient of `age` years is
//     N = peak_db - slope_db_per_degree * e - slope_db_per_year * max(0, age - 20).
// Peak and slope follow the hill of vision of static automated perimetry
// (Goldmann III stimulus, 31.5 asb background): about 33 dB at fixation for a
// 20-year-old, about 0.3 dB less per degree out to 30 degrees, and about
// 0.08 dB less per year of age after 20 (the usual 0.6 to 1 dB per decade).
// Examples: N(0, 0, 20) = 33, N(3, 3, 50) = 29.327, N(-27, 3, 70) = 20.850.
struct NormalModel {
    double peak_db = 33.0;               // at fixation, age 20 or younger
    double slope_db_per_degree = 0.3;    // per degree of eccentricity
    double slope_db_per_year = 0.08;     // per year of age after reference_age
    double reference_age = 20.0;         // years
    double default_age = 50.0;           // used when neither file nor caller gives one
    double max_eccentricity = 90.0;      // eccentricities beyond count as this
};
inline constexpr NormalModel kNormalModel{};

// N(x, y, age) in dB.
double normal_threshold_db(double x, double y, double age);

// The value a not-seen point counts as in the interpolation (dB threshold).
inline constexpr double kNotSeenThresholdDb = -1.0;

// s = min(1, 10^(td / 10)).
double sensitivity_from_td(double td_db);

// s for a total deviation `td_db` where the normal threshold is `normal_db`:
// 0 when the threshold normal_db + td_db is below 0 dB, else sensitivity_from_td.
double sensitivity(double td_db, double normal_db);

// round(255 * s), s clipped to 0..1.
std::uint8_t blue_of(double s);

}  // namespace ocu::field
