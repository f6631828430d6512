#pragma once
// The inner loop of the colour simulations, over a run of pixels given as
// three planes (red, green, blue): multiply by a 3 x 3 matrix in linear light,
// clip to 0..1 and encode. Internal to the colour library.
#include <array>
#include <cstddef>
#include <cstdint>

namespace ocu::colour {

// in[p][i] (linear values) and out[p][i], p = 0, 1, 2, i < n. The matrix
// is row by row; each output is (m[3p] * r + m[3p+1] * g) + m[3p+2] * b,
// clipped and encoded. With `one_row` all rows are taken to be equal: the
// first one's result is stored in all three outputs.
void mix_encode(const std::array<double, 9>& m, const double* const in[3], double* const out[3],
                std::size_t n, bool one_row);
// The same for 8-bit samples, decoded with srgb_decode_u8(). `stream`: the
// output is large and is written past the caches where that is possible.
void mix_encode_u8(const std::array<double, 9>& m, const std::uint8_t* const in[3],
                   double* const out[3], std::size_t n, bool one_row, bool stream = false);
// The same for n pixels stored one after another with their red, green and
// blue next to each other (in[3 i + p], out[3 i + p]): an image in C order
// as NumPy keeps it. Every value is the one mix_encode_u8 gives for the pixel.
void mix_encode_u8_interleaved(const std::array<double, 9>& m, const std::uint8_t* in, double* out,
                               std::size_t n, bool one_row, bool stream = false);

}  // namespace ocu::colour
