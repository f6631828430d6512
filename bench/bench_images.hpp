#pragma once
// Inputs the fixation-dependent benchmarks share: the default polar plot and a
// deterministic photo-like colour image.
#include <cstddef>
#include <cstdint>

#include "toolkit/array.hpp"
#include "toolkit/imageio.hpp"
#include "toolkit/paths.hpp"

namespace ocu::bench {

inline const AnyImage& polar_plot() {
    static const AnyImage p = imread(find_data_file("polarplotREmd.bmp"));
    return p;
}

// Gradients, blocks and pixel noise, the same for every run.
inline ArrayU8 test_image(std::size_t rows, std::size_t cols) {
    ArrayU8 im(rows, cols, 3);
    std::uint32_t state = 4711;
    for (std::size_t p = 0; p < 3; ++p)
        for (std::size_t c = 0; c < cols; ++c)
            for (std::size_t r = 0; r < rows; ++r) {
                state = state * 1664525u + 1013904223u;
                double v = 40.0 + 150.0 * static_cast<double>(c) / static_cast<double>(cols) +
                           20.0 * static_cast<double>(p) + static_cast<double>(state >> 27);
                if ((r / 64 + c / 48) % 4 == 0) v *= 0.4;
                im(r, c, p) = static_cast<std::uint8_t>(v > 255.0 ? 255.0 : v);
            }
    return im;
}

}  // namespace ocu::bench
