#pragma once
// The sRGB transfer function (IEC 61966-2-1) between stored samples and
// linear light, both as values 0..1:
//
//   decode: c <= 0.04045   ? c / 12.92 : ((c + 0.055) / 1.055) ^ 2.4
//   encode: l <= 0.0031308 ? 12.92 * l : 1.055 * l ^ (1 / 2.4) - 0.055
//
// The encoder is evaluated in double precision as written. Its power is, on
// processors with AVX-512 (F, BW, VL), a vectorised x ^ (1 / 2.4) within one
// unit in the last place of std::pow; elsewhere, and in the scalar
// srgb_encode, std::pow itself. Either way every value goes through the same arithmetic
// wherever it lies in an image, so results do not depend on how the work is
// split between threads.
#include <array>
#include <cstdint>
#include <span>

namespace ocu::colour {

inline constexpr double kDecodeBreak = 0.04045;   // stored value where the curve turns linear
inline constexpr double kEncodeBreak = 0.0031308; // linear value where the curve turns linear
inline constexpr double kInverseGamma = 1.0 / 2.4;

// Exact scalar forms of the two formulas above (any finite argument).
double srgb_decode(double c);
double srgb_encode(double l);

// Linear light of every 8-bit sample v: srgb_decode(v / 255).
const std::array<double, 256>& srgb_decode_u8();
// The same for 16-bit samples: srgb_decode(v / 65535) (built on first use).
const std::array<double, 65536>& srgb_decode_u16();

// out[i] = the encoder of min(max(lin[i], 0), 1): the clipped linear values
// encoded. `lin` and `out` have one length and may be the same memory.
void srgb_encode_clipped(std::span<const double> lin, std::span<double> out);

// y[i] = x[i] ^ (1 / 2.4) with the power the encoder uses for x in
// [kEncodeBreak, 1] (std::pow outside it); x and y must not overlap. Exposed
// to check its accuracy.
void encoder_pow(std::span<const double> x, std::span<double> y);

// True when the vectorised power is used on this processor.
bool encoder_pow_vectorised();
// While set, the plain form (std::pow) is used even where the vectorised one
// could be: for tests on processors that have it.
bool& plain_form_override();

}  // namespace ocu::colour
