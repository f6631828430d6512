#include "dialogs/parmvalues.hpp"

#include <cmath>

namespace ocu::dlg {

double glare_factor(double v) {
    // max ignores a NaN operand, as the slider mapping expects.
    return std::fmax(0.0, std::round(11.0 * v - 0.501));
}

double slider_position(double factor) {
    return std::fmin(std::fmax(factor / 10.0, 0.0), 1.0);
}

}  // namespace ocu::dlg
