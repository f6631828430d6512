// libFuzzer target: any text given to the scenario reader ends in a scenario
// with at least one step, or an ocu::Error, never a crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "scenario/scenario.hpp"
#include "toolkit/error.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const ocu::scenario::Scenario s = ocu::scenario::parse_scenario(text, "fuzz.json", "");
        if (!s.steps.any()) std::abort();
    } catch (const ocu::Error&) {
    }
    return 0;
}
