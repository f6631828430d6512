#pragma once
// The perimetry options shared by `ocumbra-sim field` and `fixdep --field`:
// --eye OD|OS, --age N (years, 0..120), --periphery hull|normal and
// --other-eye FILE. Values out of range are usage errors (exit status 2).
#include <string>

#include "cli/options.hpp"
#include "scenario/scenario.hpp"

namespace ocu::cli {

// The field of the measurement file `file` with the options of `p`.
scenario::Field field_from_options(const Parsed& p, const std::string& file);

}  // namespace ocu::cli
