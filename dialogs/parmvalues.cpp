#include "dialogs/parmvalues.hpp"

#include <cmath>

#include "toolkit/error.hpp"
#include "toolkit/gui/framework.hpp"

namespace ocu::dlg {

double glare_factor(double v) {
    // max ignores a NaN operand, as the slider mapping expects.
    return std::fmax(0.0, std::round(11.0 * v - 0.501));
}

double slider_position(double factor) {
    return std::fmin(std::fmax(factor / 10.0, 0.0), 1.0);
}

void check_width(double width) {
    if (!(width > 0.0 && width < 180.0)) {
        throw Error("Invalid image width (width): " + gui::num2str(width) +
                    ". Enter the image's width in degrees, a number greater than 0 and less "
                    "than 180.");
    }
}

void check_acuity(double mar) {
    if (!(mar > 0.0) || std::isinf(mar)) {
        throw Error("Invalid visual acuity (mar): " + gui::num2str(mar) +
                    ". Enter the decimal acuity, a number greater than 0 (for example 1 or "
                    "0.5).");
    }
}

void check_contrast(double contrastf) {
    if (!(contrastf > 0.0) || std::isinf(contrastf)) {
        throw Error("Invalid contrast factor (contrastf): " + gui::num2str(contrastf) +
                    ". Enter a number greater than 0 (1 is normal contrast sensitivity).");
    }
}

}  // namespace ocu::dlg
