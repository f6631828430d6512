#include "toolkit/viewing.hpp"

#include <cmath>
#include <numbers>

#include "toolkit/error.hpp"
#include "toolkit/numtext.hpp"

namespace ocu::viewing {

double viewing_distance(std::size_t sx, double width) {
    check_width(width);
    return (static_cast<double>(sx) / 2.0) / std::tan(0.5 * width * std::numbers::pi / 180.0);
}

void check_width(double width) {
    if (!(width > 0.0 && width < 180.0)) {
        throw InvalidValue(Field::Width, width,
                           "Invalid image width (width): " + num2str(width) +
                               ". Enter the image's width in degrees, a number greater than 0 and less than 180.",
                           "enter a number of degrees greater than 0 and less than 180");
    }
}

void check_acuity(double mar) {
    if (!(mar > 0.0) || std::isinf(mar)) {
        throw InvalidValue(Field::Acuity, mar,
                           "Invalid visual acuity (mar): " + num2str(mar) +
                               ". Enter the decimal acuity, a number greater than 0 (for example 1 or 0.5).",
                           "enter the decimal acuity, a number greater than 0 (for example 1 or 0.5)");
    }
}

void check_contrast(double contrastf) {
    if (!(contrastf > 0.0) || std::isinf(contrastf)) {
        throw InvalidValue(Field::Contrast, contrastf,
                           "Invalid contrast factor (contrastf): " + num2str(contrastf) +
                               ". Enter a number greater than 0 (1 is normal contrast sensitivity).",
                           "enter a number greater than 0 (1 is normal contrast sensitivity)");
    }
}

}  // namespace ocu::viewing
