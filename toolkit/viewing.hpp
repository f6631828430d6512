#pragma once
// The viewing parameters every simulation shares, in one place: their
// defaults, the pixel geometry that follows from the image width, and the
// checks each simulation makes of them at its entry.
//
//   width      horizontal angle the image covers in the patient's view, degrees
//   mar        decimal visual acuity; the smallest detail resolved is
//              1 / mar minutes of arc
//   contrastf  contrast factor of the fixation-independent simulation
//   glarefact  glare factor of the glare simulation (0 to 10)
//
// Unit chain (sx = number of columns of the image):
//
//   pixdist = (sx / 2) / tan(0.5 * width * pi / 180)
//
// the viewing distance in pixels at which sx columns span `width` degrees.
//
// The window, the batch tool and any other caller reach these checks only
// through the simulations' own `check` and `run` functions. Each check throws
// InvalidValue (an ocu::Error) with one text that names the field and the
// value, e.g.
//   Invalid image width (width): 180. Enter the image's width in degrees, a
//   number greater than 0 and less than 180.
// and says which parameter it was and what it must be, for callers that
// point at the field the value came from (the window's dialogs).
#include <cstddef>
#include <string>
#include <utility>

#include "toolkit/error.hpp"

namespace ocu::viewing {

// The parameters the checks below refuse values of.
enum class Field { Width, Acuity, Contrast };

class InvalidValue : public Error {
public:
    InvalidValue(Field field, double value, const std::string& text, std::string rule)
        : Error(text), field_(field), value_(value), rule_(std::move(rule)) {}
    Field field() const noexcept { return field_; }
    double value() const noexcept { return value_; }
    // What the value must be, as an instruction without the value, e.g.
    // "enter a number of degrees greater than 0 and less than 180".
    const std::string& rule() const noexcept { return rule_; }

private:
    Field field_;
    double value_;
    std::string rule_;
};

inline constexpr double kDefaultWidth = 20;    // degrees
inline constexpr double kDefaultAcuity = 1;    // decimal acuity: normal vision
inline constexpr double kDefaultContrast = 1;  // normal contrast sensitivity
inline constexpr double kDefaultGlare = 1;     // about a young healthy eye

// Viewing distance in pixels at which `sx` columns span `width` degrees.
// Checks `width` first (check_width).
double viewing_distance(std::size_t sx, double width);

// width: a number of degrees greater than 0 and less than 180 (a flat
// picture spans less than half the visual field); NaN is refused.
void check_width(double width);
// mar: a finite number greater than 0.
void check_acuity(double mar);
// contrastf: a finite number greater than 0.
void check_contrast(double contrastf);

}  // namespace ocu::viewing
