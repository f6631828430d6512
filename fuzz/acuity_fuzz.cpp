// libFuzzer target: any text given to the acuity parser ends in a finite
// acuity greater than 0 or an ocu::Error, never a crash.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "clinical/units.hpp"
#include "toolkit/error.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const double acuity = ocu::clinical::parse_acuity(text, "acuity");
        if (!std::isfinite(acuity) || !(acuity > 0)) std::abort();
    } catch (const ocu::Error&) {
    }
    return 0;
}
