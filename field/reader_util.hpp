#pragma once
// Helpers shared by the measurement readers (not part of the library's API).
#include <cmath>
#include <cstdio>
#include <string>

#include "field/measurement.hpp"
#include "toolkit/error.hpp"

namespace ocu::field::detail {

// Values outside this range are refused (dB).
inline constexpr double kMinDb = -50.0, kMaxDb = 60.0;
inline constexpr double kMaxAge = 120.0;

// A number for a message: up to 6 significant digits, no trailing zeros.
inline std::string num(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6g", v);
    return buf;
}

// `File "<source>"` or `File "<source>", <where>`.
inline std::string at(const std::string& source, const std::string& where = {}) {
    return "File \"" + source + "\"" + (where.empty() ? "" : ", " + where);
}

[[noreturn]] inline void fail(const std::string& source, const std::string& where,
                              const std::string& what) {
    throw Error(at(source, where) + ": " + what);
}

// A dB value `v` read as `what` at `where`: finite and within kMinDb..kMaxDb.
inline double check_db(double v, const std::string& source, const std::string& where,
                       const std::string& what) {
    if (!std::isfinite(v)) fail(source, where, what + " is " + num(v) + ", not a finite number.");
    if (v < kMinDb || v > kMaxDb) {
        fail(source, where, what + " is " + num(v) + " dB, outside " + num(kMinDb) + ".." +
                                num(kMaxDb) + " dB.");
    }
    return v;
}

// A coordinate in degrees: finite (the distance from fixation is checked later).
inline double check_deg(double v, const std::string& source, const std::string& where,
                        const std::string& what) {
    if (!std::isfinite(v)) fail(source, where, what + " is " + num(v) + ", not a finite number.");
    return v;
}

// An age in years: finite and within 0..kMaxAge.
inline double check_age(double v, const std::string& source, const std::string& where,
                        const std::string& what) {
    if (!std::isfinite(v) || v < 0 || v > kMaxAge) {
        fail(source, where, what + " is " + num(v) + ", not an age of 0.." + num(kMaxAge) + " years.");
    }
    return v;
}

}  // namespace ocu::field::detail
