// The image width taken from a photo's EXIF focal length. The photos are made
// here: written as JPEG, then tagged with Exiv2. Expected angles by hand:
// 2 atan(18/36) = atan(4/3) = 53.1301023541560 degrees, 2 atan(12/12) = 90,
// 2 atan(18/12) = 112.619864948040 degrees.
#include <gtest/gtest.h>

#include <exiv2/exiv2.hpp>

#include <cstdint>
#include <fstream>
#include <string>

#include "clinical/photo.hpp"
#include "cli_testutil.hpp"
#include "testutil.hpp"
#include "toolkit/imageio.hpp"

using ocu::clinical::photo_width_degrees;
using ocu::testutil::error_of;
using ocu::testutil::expect_error;
using ocu::testutil::random_u8;
using ocu::testutil::TempDir;

namespace {

constexpr int kNoTag = -1;

// A rows x cols JPEG at `path`, tagged with the focal length unless it is
// kNoTag, and with the orientation unless it is 0.
void make_photo(const std::string& path, std::size_t rows, std::size_t cols, int focal, int orientation = 0) {
    ocu::imwrite(random_u8(rows, cols, 3, 7), path);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"  // Exiv2 0.27's std::auto_ptr
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(path);
#pragma GCC diagnostic pop
    image->readMetadata();
    Exiv2::ExifData& exif = image->exifData();
    if (focal != kNoTag) exif["Exif.Photo.FocalLengthIn35mmFilm"] = static_cast<std::uint16_t>(focal);
    if (orientation != 0) exif["Exif.Image.Orientation"] = static_cast<std::uint16_t>(orientation);
    image->writeMetadata();
}

}  // namespace

TEST(PhotoWidth, LandscapeAndPortrait) {
    TempDir dir;
    make_photo(dir.file("wide.jpg"), 32, 48, 36);
    EXPECT_NEAR(photo_width_degrees(dir.file("wide.jpg")), 53.1301023541560, 1e-9);
    make_photo(dir.file("tall.jpg"), 48, 32, 12);
    EXPECT_NEAR(photo_width_degrees(dir.file("tall.jpg")), 90.0, 1e-9);
}

TEST(PhotoWidth, QuarterTurnOrientationsSwapWidthAndHeight) {
    TempDir dir;
    // Stored landscape; orientations 5 to 8 show it upright as a portrait.
    for (int o = 1; o <= 8; ++o) {
        const std::string path = dir.file(std::to_string(o) + ".jpg");
        make_photo(path, 32, 48, 12, o);
        EXPECT_NEAR(photo_width_degrees(path), o >= 5 ? 90.0 : 112.619864948040, 1e-9) << "orientation " << o;
    }
}

TEST(PhotoWidth, NoFocalLengthIsAnErrorNamingTheFile) {
    TempDir dir;
    const std::string untagged = dir.file("untagged.jpg");
    make_photo(untagged, 32, 48, kNoTag);
    expect_error([&] { photo_width_degrees(untagged); },
                 "\"" + untagged +
                     "\" has no 35 mm-equivalent focal length in its EXIF data (FocalLengthIn35mmFilm), so the "
                     "image width can't be taken from the photo. Enter the width in degrees.");
    // 0 stands for an unknown focal length.
    const std::string zero = dir.file("zero.jpg");
    make_photo(zero, 32, 48, 0);
    EXPECT_NE(error_of([&] { photo_width_degrees(zero); }).find("\"" + zero + "\" has no 35 mm-equivalent"),
              std::string::npos);
    // No image at all, and no file.
    std::ofstream(dir.file("notes.jpg")) << "These are notes, not a photograph.\n";
    EXPECT_NE(error_of([&] { photo_width_degrees(dir.file("notes.jpg")); })
                  .find("Can't read the image data of \"" + dir.file("notes.jpg") + "\""),
              std::string::npos);
    expect_error([&] { photo_width_degrees(dir.file("none.jpg")); },
                 "File \"" + dir.file("none.jpg") + "\" does not exist.");
}
