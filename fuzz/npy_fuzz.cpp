// libFuzzer target: any bytes given to ocumbra-sim's .npy input reader end in
// an image of 1 or 3 planes with the shape its header gives, or an
// ocu::Error, never a crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "cli/npy_input.hpp"
#include "toolkit/error.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    try {
        const ocu::AnyImage im = ocu::cli::parse_npy(bytes, "fuzz.npy");
        const std::size_t planes = ocu::image_planes(im);
        if ((planes != 1 && planes != 3) || ocu::image_rows(im) == 0 || ocu::image_cols(im) == 0) std::abort();
    } catch (const ocu::Error&) {
    }
    return 0;
}
