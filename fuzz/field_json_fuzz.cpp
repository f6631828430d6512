// libFuzzer target: any bytes given to the JSON reader end in a measurement
// or an ocu::Error, never a crash, a hang or a huge allocation.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "field/measurement.hpp"
#include "toolkit/error.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const ocu::field::Measurement m = ocu::field::parse_json(text, "fuzz.json");
        if (m.points.size() < 3) std::abort();
    } catch (const ocu::Error&) {
    }
    return 0;
}
