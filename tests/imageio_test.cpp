// Reading and writing image files. Every expected sample value comes from the
// formula that built the file: BMP files are written byte by byte here, the
// other fixtures by tests/data/make_fixtures.sh from the patterns below.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "cli_testutil.hpp"
#include "toolkit/error.hpp"
#include "toolkit/imageio.hpp"
#include "toolkit/paths.hpp"
#include "testutil.hpp"

using namespace ocu;
using ocu::testutil::error_of;
using ocu::testutil::TempDir;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string fixture(const std::string& name) { return std::string(OCU_TEST_DATA) + "/" + name; }

Bytes read_bytes(const std::string& path) {
    Bytes b;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        unsigned char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) b.insert(b.end(), buf, buf + n);
        std::fclose(f);
    }
    return b;
}

void write_bytes(const std::string& path, const Bytes& b) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// The samples of a read image, which must be of type T (a copy, so that a
// temporary image may be passed).
template <class T>
Array<T> as(const AnyImage& im) {
    if (!std::holds_alternative<Array<T>>(im)) throw std::runtime_error("unexpected sample type");
    return std::get<Array<T>>(im);
}

// The error text of reading `path`, or "" when it read without an error.
std::string read_error(const std::string& path) {
    try {
        (void)imread(path);
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

// Checks that `im` holds samples of type T in rows x cols x planes, each equal
// to want(r, c, p) (0-based) within `tol`; stops at the first one that is not.
template <class T, class Want>
void expect_samples(const AnyImage& im, std::size_t rows, std::size_t cols, std::size_t planes, Want want,
                    double tol = 0.0) {
    const Array<T> a = as<T>(im);
    ASSERT_EQ(a.rows(), rows);
    ASSERT_EQ(a.cols(), cols);
    ASSERT_EQ(a.planes(), planes);
    for (std::size_t p = 0; p < planes; ++p)
        for (std::size_t r = 0; r < rows; ++r)
            for (std::size_t c = 0; c < cols; ++c) {
                const double expected =
                    want(static_cast<int>(r), static_cast<int>(c), static_cast<int>(p));
                ASSERT_NEAR(static_cast<double>(a(r, c, p)), expected, tol)
                    << "row " << r << ", column " << c << ", plane " << p;
            }
}

// ---------------------------------------------------------------------------
// The patterns of make_fixtures.sh (r, c 0-based).
int pat_r(int r, int c) { return (11 * r + 3 * c) % 256; }
int pat_g(int r, int c) { return (5 * r + 13 * c + 50) % 256; }
int pat_b(int r, int c) { return 255 - 9 * r - 2 * c; }
int pat_rgb(int r, int c, int p) { return p == 0 ? pat_r(r, c) : p == 1 ? pat_g(r, c) : pat_b(r, c); }
int pat_gray(int r, int c, int = 0) { return (12 * r + 5 * c) % 256; }
int pat_g16(int r, int c, int = 0) { return (3000 * r + 1000 * c + 17) % 65536; }

void expect_rgb_pattern(const AnyImage& im) { expect_samples<std::uint8_t>(im, 20, 30, 3, pat_rgb); }
void expect_gray_pattern(const AnyImage& im) { expect_samples<std::uint8_t>(im, 20, 30, 1, pat_gray); }

// Quadrant colours of the 32 x 48 lossy fixtures, checked well inside each
// quadrant (JPEG blurs the edges) within `tol`.
struct Rgb {
    int r, g, b;
};
void expect_quadrants(const AnyImage& im, std::size_t rows, std::size_t cols, Rgb tl, Rgb tr, Rgb bl,
                      Rgb br, int tol) {
    const auto& a = as<std::uint8_t>(im);
    ASSERT_EQ(a.rows(), rows);
    ASSERT_EQ(a.cols(), cols);
    ASSERT_EQ(a.planes(), 3u);
    auto check = [&](std::size_t r, std::size_t c, Rgb want) {
        EXPECT_NEAR(a(r, c, 0), want.r, tol) << r << "," << c;
        EXPECT_NEAR(a(r, c, 1), want.g, tol) << r << "," << c;
        EXPECT_NEAR(a(r, c, 2), want.b, tol) << r << "," << c;
    };
    check(rows / 4, cols / 4, tl);
    check(rows / 4, 3 * cols / 4, tr);
    check(3 * rows / 4, cols / 4, bl);
    check(3 * rows / 4, 3 * cols / 4, br);
}
constexpr Rgb kRed{200, 30, 30}, kGreen{30, 200, 30}, kBlue{30, 30, 200}, kGray{128, 128, 128};

// ---------------------------------------------------------------------------
// BMP files written byte by byte.
void put16(Bytes& b, std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(Bytes& b, std::uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

struct Bmp {
    std::int32_t width = 0, height = 0;  // height < 0: rows stored top first
    std::uint16_t bpp = 24;
    std::uint32_t compression = 0;
    std::vector<std::uint32_t> palette{};  // 0x00RRGGBB
    std::vector<std::uint32_t> masks{};    // for compression 3
    Bytes pixels{};

    Bytes bytes() const {
        const std::uint32_t off = 14 + 40 + 4 * static_cast<std::uint32_t>(masks.size() + palette.size());
        Bytes b = {'B', 'M'};
        put32(b, off + static_cast<std::uint32_t>(pixels.size()));
        put32(b, 0);
        put32(b, off);
        put32(b, 40);
        put32(b, static_cast<std::uint32_t>(width));
        put32(b, static_cast<std::uint32_t>(height));
        put16(b, 1);
        put16(b, bpp);
        put32(b, compression);
        put32(b, static_cast<std::uint32_t>(pixels.size()));
        put32(b, 2835);
        put32(b, 2835);
        put32(b, static_cast<std::uint32_t>(palette.size()));
        put32(b, 0);
        for (auto m : masks) put32(b, m);
        for (auto p : palette) put32(b, p);
        b.insert(b.end(), pixels.begin(), pixels.end());
        return b;
    }
};

// Uncompressed pixel rows (given top to bottom) in file order, each padded to 4 bytes.
Bytes rows_in_file_order(const std::vector<Bytes>& rows_top_down, bool bottom_up) {
    Bytes out;
    for (std::size_t i = 0; i < rows_top_down.size(); ++i) {
        const Bytes& row = rows_top_down[bottom_up ? rows_top_down.size() - 1 - i : i];
        out.insert(out.end(), row.begin(), row.end());
        while (out.size() % 4) out.push_back(0);
    }
    return out;
}

// The colour pattern as true-colour BMP rows (top to bottom): blue, green, red
// per pixel, then an unused fourth byte (0x40) when `fourth_byte`.
std::vector<Bytes> bgr_pattern_rows(int rows, int cols, bool fourth_byte) {
    std::vector<Bytes> out;
    for (int r = 0; r < rows; ++r) {
        Bytes row;
        for (int c = 0; c < cols; ++c) {
            row.push_back(static_cast<std::uint8_t>(pat_b(r, c)));
            row.push_back(static_cast<std::uint8_t>(pat_g(r, c)));
            row.push_back(static_cast<std::uint8_t>(pat_r(r, c)));
            if (fourth_byte) row.push_back(0x40);
        }
        out.push_back(row);
    }
    return out;
}

// Rows (top to bottom) of palette indices index(r, c) packed at `bits` per
// pixel (8, 4 or 1), the leftmost pixel in the most significant bits of a byte.
template <class Index>
std::vector<Bytes> packed_rows(int rows, int cols, int bits, Index index) {
    const int per_byte = 8 / bits;
    std::vector<Bytes> out;
    for (int r = 0; r < rows; ++r) {
        Bytes row(static_cast<std::size_t>((cols + per_byte - 1) / per_byte), 0);
        for (int c = 0; c < cols; ++c)
            row[static_cast<std::size_t>(c / per_byte)] |=
                static_cast<std::uint8_t>(index(r, c) << (8 - bits * (c % per_byte + 1)));
        out.push_back(row);
    }
    return out;
}

// An uncompressed little-endian TIFF of one strip, written byte by byte.
struct Tiff {
    std::uint32_t width = 0, height = 0, samples = 3, bits = 8, photometric = 2;
    std::uint32_t sample_format = 0;            // 0: no SampleFormat tag (unsigned integers)
    std::vector<std::uint16_t> extra_samples{};  // ExtraSamples values, if any
    Bytes pixels{};                              // samples pixel by pixel, rows top first

    Bytes bytes() const {
        struct Entry {
            std::uint16_t tag, type;
            std::vector<std::uint32_t> values;
        };
        std::vector<Entry> e = {{256, 4, {width}},
                                {257, 4, {height}},
                                {258, 3, std::vector<std::uint32_t>(samples, bits)},
                                {259, 3, {1}},
                                {262, 3, {photometric}},
                                {273, 4, {8}},
                                {277, 3, {samples}},
                                {278, 4, {height}},
                                {279, 4, {static_cast<std::uint32_t>(pixels.size())}}};
        if (!extra_samples.empty()) e.push_back({338, 3, {extra_samples.begin(), extra_samples.end()}});
        if (sample_format != 0) e.push_back({339, 3, std::vector<std::uint32_t>(samples, sample_format)});
        Bytes b = {'I', 'I', 42, 0};
        const std::uint32_t ifd = static_cast<std::uint32_t>(8 + pixels.size() + pixels.size() % 2);
        put32(b, ifd);
        b.insert(b.end(), pixels.begin(), pixels.end());
        if (pixels.size() % 2) b.push_back(0);
        Bytes tail;  // values too long for their entry, after the directory
        const std::uint32_t tail_at = ifd + 2 + 12 * static_cast<std::uint32_t>(e.size()) + 4;
        put16(b, static_cast<std::uint32_t>(e.size()));
        for (const Entry& x : e) {
            Bytes v;
            for (std::uint32_t val : x.values) x.type == 3 ? put16(v, val) : put32(v, val);
            put16(b, x.tag);
            put16(b, x.type);
            put32(b, static_cast<std::uint32_t>(x.values.size()));
            if (v.size() <= 4) {
                v.resize(4, 0);
                b.insert(b.end(), v.begin(), v.end());
            } else {
                put32(b, tail_at + static_cast<std::uint32_t>(tail.size()));
                tail.insert(tail.end(), v.begin(), v.end());
            }
        }
        put32(b, 0);
        b.insert(b.end(), tail.begin(), tail.end());
        return b;
    }
};

AnyImage read_bmp(const Bmp& bmp) {
    TempDir dir;
    write_bytes(dir.file("t.bmp"), bmp.bytes());
    return imread(dir.file("t.bmp"));
}

}  // namespace

// ---------------------------------------------------------------------------
TEST(ReadBmp, TrueColourBottomUpAndTopDown) {
    // 3 x 5: 15 bytes per row, padded to 16.
    for (bool top_down : {false, true}) {
        SCOPED_TRACE(top_down ? "top down" : "bottom up");
        Bmp bmp{.width = 5, .height = top_down ? -3 : 3};
        bmp.pixels = rows_in_file_order(bgr_pattern_rows(3, 5, false), !top_down);
        expect_samples<std::uint8_t>(read_bmp(bmp), 3, 5, 3, pat_rgb);
    }
}

TEST(ReadBmp, ThirtyTwoBitDropsTheFourthByte) {
    Bmp bmp{.width = 3, .height = 2, .bpp = 32};
    bmp.pixels = rows_in_file_order(bgr_pattern_rows(2, 3, true), true);
    expect_samples<std::uint8_t>(read_bmp(bmp), 2, 3, 3, pat_rgb);
}

TEST(ReadBmp, SixteenBitFiveFiveFiveAndFiveSixFive) {
    // 5-bit and 6-bit channels scaled to 8 bits: v * 255 / 31 (or / 63), within 1.
    auto r5 = [](int r, int c) { return (7 * r + 3 * c) % 32; };
    auto g5 = [](int r, int c) { return (5 * r + 11 * c) % 32; };
    auto g6 = [](int r, int c) { return (9 * r + 21 * c) % 64; };
    auto b5 = [](int r, int c) { return 31 - r - c; };
    for (bool six_five : {false, true}) {
        std::vector<Bytes> rows;
        for (int r = 0; r < 3; ++r) {
            Bytes row;
            for (int c = 0; c < 3; ++c) {
                const std::uint32_t v = six_five
                    ? static_cast<std::uint32_t>(r5(r, c) << 11 | g6(r, c) << 5 | b5(r, c))
                    : static_cast<std::uint32_t>(r5(r, c) << 10 | g5(r, c) << 5 | b5(r, c));
                put16(row, v);
            }
            rows.push_back(row);
        }
        Bmp bmp{.width = 3, .height = 3, .bpp = 16};
        if (six_five) {
            bmp.compression = 3;
            bmp.masks = {0xF800, 0x07E0, 0x001F};
        }
        bmp.pixels = rows_in_file_order(rows, true);
        SCOPED_TRACE(six_five ? "5-6-5" : "5-5-5");
        expect_samples<std::uint8_t>(
            read_bmp(bmp), 3, 3, 3,
            [&](int r, int c, int p) {
                if (p == 0) return r5(r, c) * 255.0 / 31.0;
                if (p == 1) return six_five ? g6(r, c) * 255.0 / 63.0 : g5(r, c) * 255.0 / 31.0;
                return b5(r, c) * 255.0 / 31.0;
            },
            1.0);
    }
}

TEST(ReadBmp, EightBitGrayPaletteGivesGrayLevels) {
    Bmp bmp{.width = 7, .height = 4, .bpp = 8};
    for (std::uint32_t i = 0; i < 256; ++i) {
        const std::uint32_t g = 255 - i;  // index i shows gray level 255 - i
        bmp.palette.push_back(g << 16 | g << 8 | g);
    }
    auto index = [](int r, int c) { return (5 * r + 17 * c) % 256; };
    bmp.pixels = rows_in_file_order(packed_rows(4, 7, 8, index), true);
    expect_samples<std::uint8_t>(read_bmp(bmp), 4, 7, 1, [&](int r, int c, int) { return 255 - index(r, c); });
}

TEST(ReadBmp, EightBitColourPaletteIsExpanded) {
    const std::uint32_t pal[4] = {0x102030, 0xFF0000, 0x00FF00, 0x0000FF};
    Bmp bmp{.width = 3, .height = 2, .bpp = 8};
    bmp.palette.assign(pal, pal + 4);
    std::vector<Bytes> rows = {{0, 1, 2}, {3, 0, 1}};
    bmp.pixels = rows_in_file_order(rows, true);
    // Plane p of palette entry 0x00RRGGBB: red is bits 16-23, green 8-15, blue 0-7.
    expect_samples<std::uint8_t>(read_bmp(bmp), 2, 3, 3, [&](int r, int c, int p) {
        const std::uint32_t rgb = pal[rows[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)]];
        return static_cast<int>((rgb >> (16 - 8 * p)) & 0xFF);
    });
}

TEST(ReadBmp, FourBitOddWidth) {
    // 5 pixels of 4 bits: 3 bytes, high nibble first, padded to 4.
    Bmp bmp{.width = 5, .height = 2, .bpp = 4};
    for (std::uint32_t i = 0; i < 16; ++i) bmp.palette.push_back((i * 16) << 16 | (255 - i) << 8 | 7);
    auto index = [](int r, int c) { return (3 * r + c + 1) % 16; };
    bmp.pixels = rows_in_file_order(packed_rows(2, 5, 4, index), true);
    expect_samples<std::uint8_t>(read_bmp(bmp), 2, 5, 3, [&](int r, int c, int p) {
        const int i = index(r, c);
        return p == 0 ? i * 16 : p == 1 ? 255 - i : 7;
    });
}

TEST(ReadBmp, OneBitBlackWhiteIsGrayAndColouredIsRgb) {
    // 10 pixels of 1 bit: 2 bytes, most significant bit first, padded to 4.
    auto bit = [](int r, int c) { return (r + c) % 3 == 0 ? 1 : 0; };
    Bmp bmp{.width = 10, .height = 3, .bpp = 1};
    bmp.palette = {0x000000, 0xFFFFFF};
    bmp.pixels = rows_in_file_order(packed_rows(3, 10, 1, bit), true);
    expect_samples<std::uint8_t>(read_bmp(bmp), 3, 10, 1, [&](int r, int c, int) { return bit(r, c) ? 255 : 0; });
    bmp.palette = {0xFF0000, 0x0000FF};  // red, blue: no green in either
    expect_samples<std::uint8_t>(read_bmp(bmp), 3, 10, 3, [&](int r, int c, int p) {
        if (p == 1) return 0;
        const bool blue = bit(r, c) == 1;  // index 1 is blue, 0 red
        return (p == 2) == blue ? 255 : 0;
    });
}

TEST(ReadBmp, RunLengthEncodedEightAndFourBit) {
    {
        // RLE8, 2 x 6, bottom row first: a run of three 10s, then 20 30 40 in
        // absolute mode (padded to an even count), end of line; then a run of
        // six 50s; end of bitmap.
        Bmp bmp{.width = 6, .height = 2, .bpp = 8, .compression = 1};
        for (std::uint32_t i = 0; i < 256; ++i) bmp.palette.push_back(i << 16 | i << 8 | i);
        bmp.pixels = {3, 10, 0, 3, 20, 30, 40, 0, 0, 0, 6, 50, 0, 1};
        const int want[2][6] = {{50, 50, 50, 50, 50, 50}, {10, 10, 10, 20, 30, 40}};
        expect_samples<std::uint8_t>(read_bmp(bmp), 2, 6, 1, [&](int r, int c, int) { return want[r][c]; });
    }
    {
        // RLE4, 1 x 5: a run of five pixels alternating indices 1 and 2.
        Bmp bmp{.width = 5, .height = 1, .bpp = 4, .compression = 2};
        for (std::uint32_t i = 0; i < 16; ++i) bmp.palette.push_back((17 * i) * 0x010101u);
        bmp.pixels = {5, 0x12, 0, 1};
        const int want[5] = {17, 34, 17, 34, 17};
        expect_samples<std::uint8_t>(read_bmp(bmp), 1, 5, 1, [&](int, int c, int) { return want[c]; });
    }
}

TEST(ReadBmpBad, AbsurdOrDamagedHeadersGiveAClearError) {
    TempDir dir;
    auto expect_error = [&](const Bmp& bmp, const std::string& label) {
        const std::string path = dir.file(label + ".bmp");
        write_bytes(path, bmp.bytes());
        const std::string err = read_error(path);
        EXPECT_FALSE(err.empty()) << label;
        EXPECT_NE(err.find(path), std::string::npos) << label << ": " << err;
    };
    Bmp huge{.width = 0x7FFFFFFF, .height = 0x7FFFFFFF};  // width x height overflows 32 and 64 bits of bytes
    huge.pixels.assign(64, 0);
    expect_error(huge, "huge");
    Bmp wide = huge;  // one dimension beyond any sane image
    wide.width = 1 << 30;
    wide.height = 1;
    expect_error(wide, "wide");
    Bmp neg = huge;  // negative width
    neg.width = -4;
    neg.height = 4;
    expect_error(neg, "negwidth");
    Bmp zero = huge;
    zero.width = 0;
    zero.height = 3;
    expect_error(zero, "zero");
    Bmp cut{.width = 100, .height = 100};  // 100 x 100 pixels declared, 10 bytes present
    cut.pixels.assign(10, 0x7F);
    expect_error(cut, "cut");
    // plausible-looking size, far more pixels than the file could hold
    Bmp big_claim{.width = 16000, .height = 16000, .bpp = 8, .compression = 1};
    big_claim.palette.assign(256, 0);
    for (int i = 0; i < 100; ++i) {
        big_claim.pixels.push_back(0xFF);
        big_claim.pixels.push_back(5);
    }
    big_claim.pixels.push_back(0);
    big_claim.pixels.push_back(1);
    expect_error(big_claim, "bigclaim");
    // RLE data that stops before its end-of-bitmap code
    Bmp rle_cut{.width = 6, .height = 4, .bpp = 8, .compression = 1};
    rle_cut.palette.assign(256, 0x808080);
    rle_cut.pixels = {6, 1, 0, 0, 6, 2};
    expect_error(rle_cut, "rlecut");
    Bmp odd_depth{.width = 2, .height = 2, .bpp = 7};
    odd_depth.pixels.assign(16, 0);
    expect_error(odd_depth, "depth7");

    // A header cut in the middle.
    Bmp ok{.width = 2, .height = 2};
    ok.pixels.assign(16, 0);
    Bytes head = ok.bytes();
    head.resize(20);
    write_bytes(dir.file("head.bmp"), head);
    EXPECT_FALSE(read_error(dir.file("head.bmp")).empty());
}

// ---------------------------------------------------------------------------
TEST(ReadPng, GrayColourSixteenBitAndAlpha) {
    expect_rgb_pattern(imread(fixture("rgb.png")));
    expect_gray_pattern(imread(fixture("gray.png")));
    expect_rgb_pattern(imread(fixture("rgba.png")));   // alpha dropped
    expect_gray_pattern(imread(fixture("graya.png")));  // gray + alpha stays gray
    expect_samples<std::uint16_t>(imread(fixture("gray16.png")), 20, 30, 1, pat_g16);
}

TEST(ReadTiff, EightBitGrayAndColourInEveryCompression) {
    expect_gray_pattern(imread(fixture("gray.tif")));
    expect_gray_pattern(imread(fixture("gray_tiled.tif")));
    for (const char* name : {"rgb_lzw.tif", "rgb_deflate.tif", "rgb_packbits.tif", "rgb_tiled.tif"}) {
        SCOPED_TRACE(name);
        expect_rgb_pattern(imread(fixture(name)));
    }
}

TEST(ReadTiff, GrayWithAlphaStaysGray) { expect_gray_pattern(imread(fixture("graya.tif"))); }

TEST(ReadTiff, RgbaGivesTheColoursAsStoredAndDropsAlpha) {
    // 3 x 4, colour (200, 10 c + 100, 20 r + 50) with alpha 0, 128 or 255: a
    // transparent pixel keeps its colour, a half-transparent one is not
    // darkened or rounded. Stored alpha marked unassociated or associated.
    auto colour = [](int r, int c, int p) { return p == 0 ? 200 : p == 1 ? 10 * c + 100 : 20 * r + 50; };
    Tiff t{.width = 4, .height = 3, .samples = 4};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c) {
            for (int p = 0; p < 3; ++p) t.pixels.push_back(static_cast<std::uint8_t>(colour(r, c, p)));
            t.pixels.push_back(static_cast<std::uint8_t>(c == 0 ? 0 : c == 1 ? 128 : 255));
        }
    TempDir dir;
    for (std::uint16_t alpha_kind : {2, 1}) {
        SCOPED_TRACE(alpha_kind == 2 ? "unassociated" : "associated");
        t.extra_samples = {alpha_kind};
        write_bytes(dir.file("rgba.tif"), t.bytes());
        expect_samples<std::uint8_t>(imread(dir.file("rgba.tif")), 3, 4, 3, colour);
    }
    // 16 bits per sample, unassociated alpha 0 in the first pixel.
    Tiff t16{.width = 2, .height = 1, .samples = 4, .bits = 16, .extra_samples = {2}};
    for (std::uint32_t v : {60000u, 30000u, 1000u, 0u, 500u, 40000u, 65535u, 32768u}) put16(t16.pixels, v);
    write_bytes(dir.file("rgba16.tif"), t16.bytes());
    const int want16[2][3] = {{60000, 30000, 1000}, {500, 40000, 65535}};
    expect_samples<std::uint16_t>(imread(dir.file("rgba16.tif")), 1, 2, 3,
                                  [&](int, int c, int p) { return want16[c][p]; });
}

TEST(ReadTiff, UnsupportedSampleFormatsAreNamedNotCalledDamaged) {
    struct Case {
        Tiff tiff;
        std::size_t bytes_per_pixel;
        const char* what;
    };
    const Case cases[] = {
        {{.samples = 1, .bits = 32, .photometric = 1, .sample_format = 3}, 4, "32-bit floating-point gray samples"},
        {{.samples = 1, .bits = 32, .photometric = 1, .sample_format = 2}, 4, "32-bit signed integer samples"},
        {{.samples = 1, .bits = 32, .photometric = 1}, 4, "32-bit unsigned integer samples"},
        {{.samples = 4, .bits = 16, .photometric = 5}, 8, "16-bit CMYK samples"},
        // Signed samples would otherwise be read as unsigned ones.
        {{.samples = 1, .bits = 16, .photometric = 1, .sample_format = 2}, 2, "16-bit signed integer samples"},
        {{.samples = 3, .bits = 8, .photometric = 2, .sample_format = 2}, 3, "8-bit signed integer samples"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        Tiff t = c.tiff;
        t.width = 4;
        t.height = 3;
        t.pixels.assign(12 * c.bytes_per_pixel, 0);
        write_bytes(dir.file("u.tif"), t.bytes());
        EXPECT_EQ(read_error(dir.file("u.tif")),
                  "The image file \"" + dir.file("u.tif") + "\" has an unsupported TIFF sample format: " + c.what + ".");
    }
    // 8-bit CMYK is read: full magenta and yellow make red.
    Tiff cmyk{.width = 2, .height = 2, .samples = 4, .photometric = 5};
    for (int i = 0; i < 16; ++i) cmyk.pixels.push_back(i % 4 == 1 || i % 4 == 2 ? 255 : 0);
    write_bytes(dir.file("cmyk.tif"), cmyk.bytes());
    expect_samples<std::uint8_t>(imread(dir.file("cmyk.tif")), 2, 2, 3, [](int, int, int p) { return p == 0 ? 255 : 0; });
}

TEST(ReadTiff, PaletteIsExpandedToItsColours) {
    expect_samples<std::uint8_t>(imread(fixture("palette.tif")), 20, 30, 3, [](int r, int c, int p) {
        const int i = (3 * r + c) % 16;
        return p == 0 ? 16 * i : p == 1 ? 255 - 8 * i : (37 * i) % 256;
    });
}

TEST(ReadTiff, MultiPageGivesTheFirstPage) { expect_rgb_pattern(imread(fixture("multipage.tif"))); }

TEST(ReadTiff, SixteenBitGrayAndColour) {
    expect_samples<std::uint16_t>(imread(fixture("gray16.tif")), 20, 30, 1, pat_g16);
    expect_samples<std::uint16_t>(imread(fixture("rgb16.tif")), 20, 30, 3, [](int r, int c, int p) {
        const int v = pat_g16(r, c);
        return p == 0 ? v : p == 1 ? 65535 - v : (v * 7) % 65536;
    });
}

TEST(ReadTiff, JpegCompressed) {
    expect_quadrants(imread(fixture("quad_jpeg.tif")), 32, 48, kRed, kGreen, kBlue, kGray, 8);
}

TEST(ReadJpeg, BaselineProgressiveAndCmyk) {
    expect_quadrants(imread(fixture("quad.jpg")), 32, 48, kRed, kGreen, kBlue, kGray, 8);
    expect_quadrants(imread(fixture("quad_progressive.jpg")), 32, 48, kRed, kGreen, kBlue, kGray, 8);
    expect_quadrants(imread(fixture("quad_cmyk.jpg")), 32, 48, kRed, kGreen, kBlue, kGray, 10);
}

TEST(ReadJpeg, MoreThanAHundredScansAreRefusedBeforeDecoding) {
    // quad_progressive.jpg has 10 scans; its last one (a refinement scan
    // starting at byte 555, 11 bytes up to the end-of-image marker) repeated
    // gives a file of any number of scans, each of which would cost the
    // decoder a pass over the whole image.
    const Bytes jpg = read_bytes(fixture("quad_progressive.jpg"));
    ASSERT_EQ(jpg.size(), 568u);
    ASSERT_EQ(jpg[555], 0xFF);
    ASSERT_EQ(jpg[556], 0xDA);
    auto with_scans = [&](std::size_t n) {
        Bytes b(jpg.begin(), jpg.begin() + 566);
        for (std::size_t k = 10; k < n; ++k) b.insert(b.end(), jpg.begin() + 555, jpg.begin() + 566);
        b.push_back(0xFF);
        b.push_back(0xD9);
        return b;
    };
    TempDir dir;
    write_bytes(dir.file("s100.jpg"), with_scans(100));
    const AnyImage im = imread(dir.file("s100.jpg"));
    EXPECT_EQ(image_rows(im), 32u);
    write_bytes(dir.file("s101.jpg"), with_scans(101));
    EXPECT_EQ(read_error(dir.file("s101.jpg")),
              "The JPEG file \"" + dir.file("s101.jpg") +
                  "\" has 101 scans; this program decodes at most 100 (photographs have fewer than 20).");
    write_bytes(dir.file("s20000.jpg"), with_scans(20000));
    EXPECT_NE(read_error(dir.file("s20000.jpg")).find("has 20000 scans"), std::string::npos);
}

TEST(ReadJpeg, GrayIsTwoDimensional) {
    const auto& a = as<std::uint8_t>(imread(fixture("quad_gray.jpg")));
    ASSERT_EQ(a.rows(), 32u);
    ASSERT_EQ(a.cols(), 48u);
    ASSERT_EQ(a.planes(), 1u);
    EXPECT_NEAR(a(8, 12), 40, 4);
    EXPECT_NEAR(a(8, 36), 100, 4);
    EXPECT_NEAR(a(24, 12), 160, 4);
    EXPECT_NEAR(a(24, 36), 220, 4);
}

namespace {
// quad.jpg with an EXIF block carrying the given orientation, inserted after
// the start-of-image marker.
Bytes with_orientation(std::uint16_t orientation) {
    Bytes jpg = read_bytes(fixture("quad.jpg"));
    Bytes app1 = {0xFF, 0xE1, 0, 34, 'E', 'x', 'i', 'f', 0, 0,
                  // big-endian TIFF header, first directory at offset 8
                  'M', 'M', 0, 42, 0, 0, 0, 8,
                  // one entry: tag 0x0112 (orientation), SHORT, count 1, value
                  0, 1, 0x01, 0x12, 0, 3, 0, 0, 0, 1, 0, static_cast<std::uint8_t>(orientation), 0, 0,
                  // no next directory
                  0, 0, 0, 0};
    jpg.insert(jpg.begin() + 2, app1.begin(), app1.end());
    return jpg;
}
}  // namespace

TEST(ReadJpeg, ExifOrientationComesBackUpright) {
    TempDir dir;
    // Stored: top-left red, top-right green, bottom-left blue, bottom-right gray.
    write_bytes(dir.file("o1.jpg"), with_orientation(1));
    expect_quadrants(imread(dir.file("o1.jpg")), 32, 48, kRed, kGreen, kBlue, kGray, 8);
    // 3: turned half way round.
    write_bytes(dir.file("o3.jpg"), with_orientation(3));
    expect_quadrants(imread(dir.file("o3.jpg")), 32, 48, kGray, kBlue, kGreen, kRed, 8);
    // 6: shown turned a quarter clockwise; the stored left column becomes the top row.
    write_bytes(dir.file("o6.jpg"), with_orientation(6));
    expect_quadrants(imread(dir.file("o6.jpg")), 48, 32, kBlue, kRed, kGray, kGreen, 8);
    // 8: shown turned a quarter anticlockwise.
    write_bytes(dir.file("o8.jpg"), with_orientation(8));
    expect_quadrants(imread(dir.file("o8.jpg")), 48, 32, kGreen, kGray, kRed, kBlue, 8);
}

TEST(ReadJpeg, TheProgramsDefaultImage) {
    const AnyImage im = imread(find_data_file("NatIm13.jpg"));
    const auto& a = as<std::uint8_t>(im);
    EXPECT_EQ(a.rows(), 400u);
    EXPECT_EQ(a.cols(), 600u);
    EXPECT_EQ(a.planes(), 3u);
}

TEST(ReadAny, FormatComesFromTheContentsNotTheExtension) {
    TempDir dir;
    fs::copy_file(fixture("rgb.png"), dir.file("really_png.bmp"));
    expect_rgb_pattern(imread(dir.file("really_png.bmp")));
    fs::copy_file(fixture("gray.tif"), dir.file("really_tiff.jpg"));
    expect_gray_pattern(imread(dir.file("really_tiff.jpg")));
    fs::copy_file(fixture("rgb_lzw.tif"), dir.file("no_extension"));
    expect_rgb_pattern(imread(dir.file("no_extension")));
}

// ---------------------------------------------------------------------------
TEST(ReadErrors, TheThreeTextsVerbatim) {
    TempDir dir;
    EXPECT_EQ(read_error("NatIm13_missing.jpg"), "File \"NatIm13_missing.jpg\" does not exist.");
    const std::string missing = dir.file("none.bmp");
    EXPECT_EQ(read_error(missing), "File \"" + missing + "\" does not exist.");
    write_bytes(dir.file("empty.png"), {});
    EXPECT_EQ(read_error(dir.file("empty.png")), "Unable to determine the file format.");
    std::ofstream(dir.file("notes.jpg")) << "These are notes, not a photograph.\n";
    EXPECT_EQ(read_error(dir.file("notes.jpg")), "Unable to determine the file format.");
    // A two-pixel WBMP header: a format whose recogniser takes almost anything
    // is not one this program reads.
    write_bytes(dir.file("tiny.wbmp"), {0, 0, 2, 2, 0, 0});
    EXPECT_EQ(read_error(dir.file("tiny.wbmp")), "Unable to determine the file format.");
    // A valid 1 x 1 GIF: not a format this program reads.
    write_bytes(dir.file("one.gif"), {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0, 0, 0,
                                      0xFF, 0xFF, 0xFF, 0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44,
                                      1, 0, 0x3B});
    EXPECT_EQ(read_error(dir.file("one.gif")), "Unable to determine the file format.");
}

TEST(ReadErrors, AnythingButARegularFileIsRefusedForWhatItIs) {
    // Refused before it is opened: a FIFO would wait for a writer, a device
    // might never end, and a folder is not a file one lacks permission for.
    TempDir dir;
    EXPECT_EQ(read_error(dir.path()), "Can't read \"" + dir.path() + "\": it is a folder, not an image file.");
    ASSERT_EQ(::mkfifo(dir.file("pipe.png").c_str(), 0644), 0);
    EXPECT_EQ(read_error(dir.file("pipe.png")),
              "Can't read \"" + dir.file("pipe.png") + "\": it is a named pipe (FIFO), not an image file.");
    EXPECT_EQ(read_error("/dev/null"), "Can't read \"/dev/null\": it is a character device, not an image file.");
    // Through a symbolic link, what the link names counts.
    ASSERT_EQ(::symlink(dir.file("pipe.png").c_str(), dir.file("link.png").c_str()), 0);
    EXPECT_NE(read_error(dir.file("link.png")).find("it is a named pipe (FIFO)"), std::string::npos);
    fs::copy_file(fixture("gray.png"), dir.file("real.png"));
    ASSERT_EQ(::symlink(dir.file("real.png").c_str(), dir.file("good.png").c_str()), 0);
    expect_gray_pattern(imread(dir.file("good.png")));
}

TEST(ReadErrors, OnePixelLimitRefusesLargeImagesAtTheirHeader) {
    // 20000 x 10000 = 2e8 pixels, above the program's 2^27 = 134217728, in
    // files long enough that the header could be honest about the size: the
    // header alone decides, before anything is decoded.
    TempDir dir;
    const std::string want = "is too large to read (20000 \u00D7 10000 pixels; this program reads at most 134217728 pixels).";
    auto set_be32 = [](Bytes& b, std::size_t at, std::uint32_t v) {
        for (std::size_t k = 0; k < 4; ++k) b[at + k] = static_cast<std::uint8_t>(v >> (24 - 8 * k));
    };
    // PNG chunks end in the CRC-32 of their type and data.
    auto crc32 = [](const Bytes& b, std::size_t from, std::size_t to) {
        std::uint32_t c = 0xFFFFFFFFu;
        for (std::size_t i = from; i < to; ++i) {
            c ^= b[i];
            for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
        }
        return ~c;
    };
    // PNG: width and height in the header chunk, then a 16 kB private chunk.
    Bytes png = read_bytes(fixture("gray.png"));
    set_be32(png, 16, 20000);
    set_be32(png, 20, 10000);
    set_be32(png, 29, crc32(png, 12, 29));
    Bytes pad = {0, 0, 0x40, 0, 'p', 'r', 'V', 't'};
    pad.resize(8 + 16384 + 4, 0);
    set_be32(pad, 8 + 16384, crc32(pad, 4, 8 + 16384));
    png.insert(png.begin() + 33, pad.begin(), pad.end());
    write_bytes(dir.file("big.png"), png);
    EXPECT_EQ(read_error(dir.file("big.png")), "The image in \"" + dir.file("big.png") + "\" " + want);

    // BMP: an 8-bit run-length image that ends at once.
    Bmp bmp{.width = 20000, .height = 10000, .bpp = 8, .compression = 1};
    bmp.palette.assign(256, 0);
    bmp.pixels.assign(16384, 0);  // end-of-line codes
    bmp.pixels.push_back(0);
    bmp.pixels.push_back(1);
    write_bytes(dir.file("big.bmp"), bmp.bytes());
    EXPECT_EQ(read_error(dir.file("big.bmp")), "The image in \"" + dir.file("big.bmp") + "\" " + want);

    // A polar plot reader's own limit per side, also at the header.
    Bmp plot{.width = 4097, .height = 400, .bpp = 8, .compression = 1};
    plot.palette.assign(256, 0);
    plot.pixels = {0, 1};
    write_bytes(dir.file("plot.bmp"), plot.bytes());
    EXPECT_EQ(error_of([&] { (void)imread(dir.file("plot.bmp"), kMaxPolarPlotSide); }),
              "The image in \"" + dir.file("plot.bmp") + "\" is too large to read (4097 \u00D7 400 pixels; at most 4096 per side here).");
    plot.width = 4096;
    write_bytes(dir.file("plot.bmp"), plot.bytes());
    const AnyImage ok = imread(dir.file("plot.bmp"), kMaxPolarPlotSide);
    EXPECT_EQ(image_cols(ok), 4096u);
}

TEST(ReadErrors, UnreadableFile) {
    if (::geteuid() == 0) GTEST_SKIP() << "running as root: file permissions do not stop reading";
    TempDir dir;
    fs::copy_file(fixture("gray.png"), dir.file("locked.png"));
    ::chmod(dir.file("locked.png").c_str(), 0);
    EXPECT_EQ(read_error(dir.file("locked.png")),
              "Can't open file \"" + dir.file("locked.png") + "\" for reading;\nyou may not have read permission.");
}

TEST(ReadErrors, EveryFixtureCutShortIsRefused) {
    TempDir dir;
    for (const auto& e : fs::directory_iterator(OCU_TEST_DATA)) {
        const std::string name = e.path().filename().string();
        if (name.ends_with(".sh")) continue;
        const Bytes full = read_bytes(e.path().string());
        for (double frac : {0.1, 0.5, 0.8}) {
            // Only the first page is read: a cut in the second one is harmless.
            if (name == "multipage.tif" && frac > 0.5) continue;
            Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(frac * static_cast<double>(full.size())));
            const std::string path = dir.file("cut_" + name);
            write_bytes(path, cut);
            const std::string err = read_error(path);
            EXPECT_FALSE(err.empty()) << name << " cut to " << frac;
        }
    }
}

TEST(ReadErrors, ClaimsBeyondTheFileAreRefusedBeforeDecoding) {
    // A PNG text chunk claiming 2 GB: refused from the file's structure,
    // before the decoder would allocate the claimed length.
    TempDir dir;
    Bytes png = read_bytes(fixture("gray.png"));
    ASSERT_GT(png.size(), 33u);
    const Bytes chunk = {0x7F, 0xFF, 0xFF, 0x00, 't', 'E', 'X', 't', 'a', 'b', 'c'};
    png.insert(png.begin() + 33, chunk.begin(), chunk.end());  // after the 25-byte header chunk
    write_bytes(dir.file("long_chunk.png"), png);
    const std::string err = read_error(dir.file("long_chunk.png"));
    EXPECT_NE(err.find("damaged or incomplete"), std::string::npos) << err;

    // quad.jpg with its frame header claiming 20000 x 16000 pixels in 337 bytes.
    Bytes jpg = read_bytes(fixture("quad.jpg"));
    bool sof = false;
    for (std::size_t i = 0; i + 9 < jpg.size() && !sof; ++i) {
        if (jpg[i] != 0xFF || jpg[i + 1] != 0xC0) continue;
        jpg[i + 5] = 16000 >> 8;  // height, then width, big-endian
        jpg[i + 6] = 16000 & 0xFF;
        jpg[i + 7] = 20000 >> 8;
        jpg[i + 8] = 20000 & 0xFF;
        sof = true;
    }
    ASSERT_TRUE(sof);
    write_bytes(dir.file("big_claim.jpg"), jpg);
    const std::string jpg_err = read_error(dir.file("big_claim.jpg"));
    EXPECT_NE(jpg_err.find("too large"), std::string::npos) << jpg_err;
    // Width x height, as people read sizes.
    EXPECT_NE(jpg_err.find("(20000 \u00D7 16000 pixels"), std::string::npos) << jpg_err;

    // gray.tif (little-endian) has one strip; move it to start 10 bytes before
    // the end of the file, so its 600 bytes run past the end.
    Bytes tif = read_bytes(fixture("gray.tif"));
    auto u16 = [&](std::size_t at) { return static_cast<std::uint32_t>(tif[at] | tif[at + 1] << 8); };
    const std::size_t ifd = u16(4) | u16(6) << 16;
    bool patched = false;
    for (std::size_t e = ifd + 2; e < ifd + 2 + 12 * u16(ifd); e += 12) {
        if (u16(e) != 273) continue;  // strip offsets
        ASSERT_EQ(u16(e + 4), 1u);    // one strip: the value sits in the entry
        const std::uint32_t off = static_cast<std::uint32_t>(tif.size() - 10);
        for (std::size_t k = 0; k < 4; ++k) tif[e + 8 + k] = static_cast<std::uint8_t>(off >> (8 * k));
        patched = true;
    }
    ASSERT_TRUE(patched);
    write_bytes(dir.file("strip_past_end.tif"), tif);
    const std::string tif_err = read_error(dir.file("strip_past_end.tif"));
    EXPECT_NE(tif_err.find("damaged or incomplete"), std::string::npos) << tif_err;
}

TEST(ReadErrors, RandomBytesNeverCrash) {
    TempDir dir;
    std::mt19937 rng(12345);
    const Bytes magics[] = {{}, {'B', 'M'}, {0xFF, 0xD8, 0xFF}, {'I', 'I', 42, 0}, {'M', 'M', 0, 42},
                            {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}};
    int refused = 0, total = 0;
    for (const Bytes& magic : magics)
        for (int k = 0; k < 25; ++k) {
            Bytes b = magic;
            const std::size_t n = std::uniform_int_distribution<std::size_t>(0, 2000)(rng);
            for (std::size_t i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(rng()));
            write_bytes(dir.file("random"), b);
            ++total;
            try {
                const AnyImage im = imread(dir.file("random"));
                // Decoding garbage may succeed; the result must still be a sane image.
                EXPECT_GT(image_rows(im), 0u);
                EXPECT_TRUE(image_planes(im) == 1 || image_planes(im) == 3);
            } catch (const Error& e) {
                EXPECT_GT(std::strlen(e.what()), 0u);
                ++refused;
            }
        }
    EXPECT_GT(refused, total * 9 / 10);
}

// ---------------------------------------------------------------------------
TEST(WriteImage, DoublesAreClippedScaledAndRoundedHalfAway) {
    TempDir dir;
    ArrayD a(3, 3);
    const double in[9] = {0.0, 0.5, 0.25, 0.75, 0.125, -1.0, 2.0, std::numeric_limits<double>::quiet_NaN(), 1.0};
    // 0.5 * 255 = 127.5 -> 128; 0.25 -> 63.75 -> 64; 0.75 -> 191.25 -> 191; 0.125 -> 31.875 -> 32.
    const int want[9] = {0, 128, 64, 191, 32, 0, 255, 0, 255};
    for (std::size_t i = 0; i < 9; ++i) a[i] = in[i];
    for (const char* name : {"d.png", "d.bmp", "d.tif", "d.tiff"}) {
        SCOPED_TRACE(name);
        imwrite(a, dir.file(name));
        // a[i] with i = r + 3 c (column-major).
        expect_samples<std::uint8_t>(imread(dir.file(name)), 3, 3, 1, [&](int r, int c, int) { return want[r + 3 * c]; });
    }
    // The gray BMP is an 8-bit file (bits per pixel at byte 28), the colour one 24-bit.
    EXPECT_EQ(read_bytes(dir.file("d.bmp"))[28], 8);
    ArrayD rgb(2, 2, 3, 0.5);
    imwrite(rgb, dir.file("c.bmp"));
    EXPECT_EQ(read_bytes(dir.file("c.bmp"))[28], 24);
    expect_samples<std::uint8_t>(imread(dir.file("c.bmp")), 2, 2, 3, [](int, int, int) { return 128; });
}

TEST(WriteImage, Uint8StoredAsItIs) {
    TempDir dir;
    ArrayU8 a(20, 30, 3);
    for (std::size_t p = 0; p < 3; ++p)
        for (std::size_t r = 0; r < 20; ++r)
            for (std::size_t c = 0; c < 30; ++c)
                a(r, c, p) = static_cast<std::uint8_t>(
                    pat_rgb(static_cast<int>(r), static_cast<int>(c), static_cast<int>(p)));
    for (const char* name : {"u.png", "u.bmp", "u.tif", "U.PNG"}) {
        SCOPED_TRACE(name);
        imwrite(a, dir.file(name));
        expect_rgb_pattern(imread(dir.file(name)));
    }
}

TEST(WriteImage, JpegIsCloseToTheImage) {
    TempDir dir;
    ArrayU8 a(32, 48, 3);
    for (std::size_t r = 0; r < 32; ++r)
        for (std::size_t c = 0; c < 48; ++c) {
            const Rgb q = r < 16 ? (c < 24 ? kRed : kGreen) : (c < 24 ? kBlue : kGray);
            a(r, c, 0) = static_cast<std::uint8_t>(q.r);
            a(r, c, 1) = static_cast<std::uint8_t>(q.g);
            a(r, c, 2) = static_cast<std::uint8_t>(q.b);
        }
    imwrite(a, dir.file("q.jpg"));
    imwrite(a, dir.file("q.jpeg"));
    expect_quadrants(imread(dir.file("q.jpg")), 32, 48, kRed, kGreen, kBlue, kGray, 10);
    expect_quadrants(imread(dir.file("q.jpeg")), 32, 48, kRed, kGreen, kBlue, kGray, 10);
}

TEST(WriteImage, SixteenBitAndLogical) {
    TempDir dir;
    ArrayU16 a(1, 5);
    const std::uint16_t v[5] = {0, 128, 129, 32896, 65535};
    for (std::size_t i = 0; i < 5; ++i) a[i] = v[i];
    imwrite(a, dir.file("s.png"));  // PNG keeps 16 bits
    EXPECT_EQ(as<std::uint16_t>(imread(dir.file("s.png"))), a);
    imwrite(a, dir.file("s.bmp"));  // BMP has 8: v * 255 / 65535 rounded
    const int want[5] = {0, 0, 1, 128, 255};
    expect_samples<std::uint8_t>(imread(dir.file("s.bmp")), 1, 5, 1, [&](int, int c, int) { return want[c]; });

    ArrayL l(1, 3);
    l[1] = Logical::True;
    imwrite(l, dir.file("l.png"));
    expect_samples<std::uint8_t>(imread(dir.file("l.png")), 1, 3, 1, [](int, int c, int) { return c == 1 ? 255 : 0; });
}

TEST(WriteImage, FailuresLeaveNoFileBehind) {
    TempDir dir;
    const ArrayD gray(4, 4, 1, 0.5);
    auto expect_write_error = [](const AnyImage& im, const std::string& path) {
        try {
            imwrite(im, path);
            ADD_FAILURE() << "no error writing " << path;
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        }
    };
    expect_write_error(gray, dir.file("result.xyz"));
    expect_write_error(gray, dir.file("result"));
    expect_write_error(gray, dir.file("no_such_folder/result.png"));
    expect_write_error(ArrayD(4, 4, 2, 0.5), dir.file("twoplanes.png"));
    expect_write_error(ArrayD(), dir.file("empty.png"));
    EXPECT_TRUE(dir.entries().empty());

    // The target is a folder: the rename fails and the temporary goes.
    fs::create_directory(dir.file("taken.png"));
    expect_write_error(gray, dir.file("taken.png"));
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"taken.png"});
    fs::remove(dir.file("taken.png"));

    // A failed write keeps the file that was there.
    write_bytes(dir.file("keep.png"), {1, 2, 3});
    expect_write_error(ArrayD(4, 4, 5, 0.5), dir.file("keep.png"));
    EXPECT_EQ(read_bytes(dir.file("keep.png")), (Bytes{1, 2, 3}));
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"keep.png"});

    // A good write leaves exactly its file.
    imwrite(gray, dir.file("good.png"));
    auto names = dir.entries();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"good.png", "keep.png"}));
}

// ---------------------------------------------------------------------------
namespace {
// Checks the .npy preamble and returns the offset of the data.
std::size_t expect_npy_header(const Bytes& f, const std::string& dict) {
    const Bytes magic = {0x93, 'N', 'U', 'M', 'P', 'Y', 1, 0};
    EXPECT_TRUE(std::equal(magic.begin(), magic.end(), f.begin()));
    const std::size_t hl = f[8] | static_cast<std::size_t>(f[9]) << 8;
    EXPECT_EQ((10 + hl) % 64, 0u);
    EXPECT_EQ(std::string(f.begin() + 10, f.begin() + 10 + static_cast<std::ptrdiff_t>(dict.size())), dict);
    for (std::size_t i = 10 + dict.size(); i + 1 < 10 + hl; ++i) EXPECT_EQ(f[i], ' ') << i;
    EXPECT_EQ(f[10 + hl - 1], '\n');
    return 10 + hl;
}
}  // namespace

TEST(WriteNpy, DoubleMatrixInRowMajorOrder) {
    TempDir dir;
    ArrayD a(2, 3);
    for (std::size_t r = 0; r < 2; ++r)
        for (std::size_t c = 0; c < 3; ++c) a(r, c) = 10.0 * static_cast<double>(r) + static_cast<double>(c) + 0.5;
    write_npy(a, dir.file("a.npy"));
    const Bytes f = read_bytes(dir.file("a.npy"));
    const std::string dict = "{'descr': '<f8', 'fortran_order': False, 'shape': (2, 3), }";
    // 10 + 59 characters + padding: the header is 128 bytes.
    ASSERT_EQ(dict.size(), 59u);
    const std::size_t off = expect_npy_header(f, dict);
    EXPECT_EQ(off, 128u);
    ASSERT_EQ(f.size(), 128u + 6 * 8);
    const double want[6] = {0.5, 1.5, 2.5, 10.5, 11.5, 12.5};
    for (std::size_t i = 0; i < 6; ++i) {
        double d;
        std::memcpy(&d, f.data() + off + 8 * i, 8);
        EXPECT_EQ(d, want[i]) << i;
    }
    // Little-endian IEEE: 0.5 is 00 00 00 00 00 00 E0 3F.
    const Bytes half = {0, 0, 0, 0, 0, 0, 0xE0, 0x3F};
    EXPECT_TRUE(std::equal(half.begin(), half.end(), f.begin() + 128));
}

TEST(WriteNpy, ColourUint8PixelsThenPlanes) {
    TempDir dir;
    ArrayU8 a(2, 2, 3);
    for (std::size_t r = 0; r < 2; ++r)
        for (std::size_t c = 0; c < 2; ++c)
            for (std::size_t p = 0; p < 3; ++p) a(r, c, p) = static_cast<std::uint8_t>(100 * r + 10 * c + p);
    write_npy(a, dir.file("u.npy"));
    const Bytes f = read_bytes(dir.file("u.npy"));
    const std::size_t off = expect_npy_header(f, "{'descr': '|u1', 'fortran_order': False, 'shape': (2, 2, 3), }");
    const Bytes want = {0, 1, 2, 10, 11, 12, 100, 101, 102, 110, 111, 112};
    ASSERT_EQ(f.size(), off + 12);
    EXPECT_TRUE(std::equal(want.begin(), want.end(), f.begin() + static_cast<std::ptrdiff_t>(off)));
}

TEST(WriteNpy, Uint16LittleEndianAndLogicalAsBytes) {
    TempDir dir;
    ArrayU16 a(1, 2);
    a[0] = 0x1234;
    a[1] = 0xABCD;
    write_npy(a, dir.file("s.npy"));
    Bytes f = read_bytes(dir.file("s.npy"));
    std::size_t off = expect_npy_header(f, "{'descr': '<u2', 'fortran_order': False, 'shape': (1, 2), }");
    EXPECT_EQ(Bytes(f.begin() + static_cast<std::ptrdiff_t>(off), f.end()), (Bytes{0x34, 0x12, 0xCD, 0xAB}));

    ArrayL l(2, 1);
    l[1] = Logical::True;
    write_npy(l, dir.file("l.npy"));
    f = read_bytes(dir.file("l.npy"));
    off = expect_npy_header(f, "{'descr': '|u1', 'fortran_order': False, 'shape': (2, 1), }");
    EXPECT_EQ(Bytes(f.begin() + static_cast<std::ptrdiff_t>(off), f.end()), (Bytes{0, 1}));
}

TEST(WriteNpy, LongShapesStillAlignTheHeader) {
    TempDir dir;
    ArrayD a(12345, 1, 1, 0.25);
    write_npy(a, dir.file("long.npy"));
    const Bytes f = read_bytes(dir.file("long.npy"));
    const std::size_t off = expect_npy_header(f, "{'descr': '<f8', 'fortran_order': False, 'shape': (12345, 1), }");
    EXPECT_EQ(f.size(), off + 12345 * 8);
}

TEST(WriteNpy, FailureLeavesNoFile) {
    TempDir dir;
    EXPECT_THROW(write_npy(ArrayD(2, 2), dir.file("missing/x.npy")), Error);
    fs::create_directory(dir.file("taken.npy"));
    EXPECT_THROW(write_npy(ArrayD(2, 2), dir.file("taken.npy")), Error);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"taken.npy"});
}
