#pragma once
// Structural checks of image files before they are decoded.
//
// The decoders forgive a lot: a BMP or TIFF whose pixel data is cut short is
// decoded with the missing part left black, a JPEG cut short is padded with
// gray. A damaged file must not turn into a plausible-looking picture, so
// imread runs these checks first. Each returns an empty text when the file's
// structure is sound, otherwise a short reason (lower case, no full stop).
// They read only the given bytes and never allocate in proportion to what a
// header claims.
#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace ocu::detail {

// BMP: the header's size must be sane, and the pixel data (uncompressed: rows
// x row stride; RLE: the encoded stream up to its end-of-bitmap code) must lie
// within the file.
std::string bmp_problem(std::span<const unsigned char> file);

// For a BMP with 16 or 32 bits per pixel: the number of bits of the red,
// green and blue channel masks; {8, 8, 8} for any other BMP. (The decoder
// widens an n-bit channel by shifting it left, so that 5-bit white becomes
// 248 instead of 255; imread rescales such channels.)
std::array<int, 3> bmp_channel_bits(std::span<const unsigned char> file);

// TIFF (classic, not BigTIFF): the first directory and every value it points
// to, including all strips or tiles of the first image, must lie within the file.
std::string tiff_problem(std::span<const unsigned char> file);

// TIFF: whether the first image's samples are gray levels (photometric
// interpretation min-is-white or min-is-black), with or without alpha.
bool tiff_gray(std::span<const unsigned char> file);

// TIFF: a description of the first image's samples when they are of a kind
// the decoder cannot read or would misread ("32-bit floating-point gray
// samples", "16-bit CMYK samples", "16-bit signed integer samples"), empty
// when they are readable: unsigned integers of 1, 2, 4, 8 or 16 bits, 8-bit
// CMYK, and 16- or 32-bit floating-point colour.
std::string tiff_unsupported(std::span<const unsigned char> file);

// TIFF: marks the first image's alpha samples of an RGB image as unspecified
// extra samples, in place. The decoder multiplies the colours by an alpha it
// knows of (losing them where alpha is 0, and precision elsewhere); an
// unspecified extra sample it ignores, returning the colours as stored.
void tiff_unmark_alpha(std::span<unsigned char> file);

// PNG: every chunk up to the end chunk must lie within the file (libpng
// allocates a chunk's declared length before reading it).
std::string png_problem(std::span<const unsigned char> file);

// JPEG: whether the file may use arithmetic coding, which can spend far less
// than a bit on a blank 8 x 8 block (a false "yes" only loosens a size check).
bool jpeg_maybe_arithmetic(std::span<const unsigned char> file);

// JPEG: a scan must be present and followed by the end-of-image marker.
std::string jpeg_problem(std::span<const unsigned char> file);

// JPEG: the number of scans (start-of-scan markers) of the first image, found
// by walking the markers as the decoder does: segments skipped by their
// length, entropy-coded data up to the next marker, to the end-of-image marker.
// Each scan costs the decoder a pass over the whole image, so a file of tens of
// thousands of tiny scans takes minutes; imread refuses more than kMaxJpegScans.
std::size_t jpeg_scan_count(std::span<const unsigned char> file);

// Progressive encoders use about 10 scans (14 for CMYK); libtiff refuses JPEG
// data with more than 100 scans, and so do we.
inline constexpr std::size_t kMaxJpegScans = 100;

}  // namespace ocu::detail
