#pragma once
// The inner loop of the colour simulations, over one block of pixels held as
// three planes of linear values: multiply by a 3 x 3 matrix, clip to 0..1 and
// encode. Internal to the colour library.
#include <array>
#include <cstddef>

namespace ocu::colour {

// in[p][i] and out[p][i], p = 0, 1, 2 (red, green, blue), i < n. The matrix
// is row by row; each output is (m[3p] * r + m[3p+1] * g) + m[3p+2] * b. With
// `one_row` only out[0] is computed, from the first row (all rows are equal).
void mix_encode(const std::array<double, 9>& m, const double* const in[3], double* const out[3],
                std::size_t n, bool one_row);

}  // namespace ocu::colour
