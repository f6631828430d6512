#include "clinical/photo.hpp"

#include <exiv2/exiv2.hpp>

#include <cmath>
#include <exception>
#include <filesystem>
#include <mutex>
#include <numbers>
#include <stdexcept>
#include <string>
#include <utility>

#include "toolkit/error.hpp"
#include "toolkit/imageio.hpp"

namespace ocu::clinical {

namespace {

// Half the width and half the height of a 35 mm frame (36 x 24 mm).
constexpr double kHalfFrameLong = 18.0;
constexpr double kHalfFrameShort = 12.0;

// What the width is computed from, as the file states it.
struct PhotoFacts {
    long focal = 0;       // FocalLengthIn35mmFilm in whole mm; 0 when missing
    long width = 0;       // stored pixel size from the header; 0 when unknown
    long height = 0;
    long orientation = 1; // EXIF orientation; 1 when missing
};

PhotoFacts read_facts(const std::string& path) {
    static std::once_flag once;
    // Exiv2 writes warnings about odd files to standard error; the caller
    // gets what matters as an ocu::Error.
    std::call_once(once, [] { Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute); });

    // A FileIo, not ImageFactory::open(path): the name is always a local file,
    // never a URL. Exiv2 0.27 hands out its objects in std::auto_ptr, which
    // the compilers flag as deprecated.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    Exiv2::BasicIo::AutoPtr io(new Exiv2::FileIo(path));
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(io);
#pragma GCC diagnostic pop
    // Given an IO object, Exiv2 reports an unknown format by returning nothing.
    if (image.get() == nullptr) throw std::runtime_error("not an image format Exiv2 knows");
    image->readMetadata();
    PhotoFacts f;
    f.width = image->pixelWidth();
    f.height = image->pixelHeight();
    const Exiv2::ExifData& exif = image->exifData();
    const auto focal = exif.findKey(Exiv2::ExifKey("Exif.Photo.FocalLengthIn35mmFilm"));
    if (focal != exif.end() && focal->count() > 0) f.focal = focal->toLong(0);
    const auto orientation = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
    if (orientation != exif.end() && orientation->count() > 0) f.orientation = orientation->toLong(0);
    return f;
}

}  // namespace

double photo_width_degrees(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) throw Error("File \"" + path + "\" does not exist.");
    PhotoFacts f;
    try {
        f = read_facts(path);
    } catch (const std::exception& e) {
        throw Error("Can't read the image data of \"" + path + "\" (" + e.what() + ").");
    }
    if (f.focal <= 0) {
        throw Error("\"" + path +
                    "\" has no 35 mm-equivalent focal length in its EXIF data (FocalLengthIn35mmFilm), "
                    "so the image width can't be taken from the photo. Enter the width in degrees.");
    }
    long cols = f.width, rows = f.height;
    if (cols <= 0 || rows <= 0) {
        // Exiv2 could not size the file from its header: the decoded image
        // (which comes back upright) gives the size.
        const AnyImage im = imread(path);
        cols = static_cast<long>(image_cols(im));
        rows = static_cast<long>(image_rows(im));
    } else if (f.orientation >= 5 && f.orientation <= 8) {
        std::swap(cols, rows);  // a quarter turn: shown on its side
    }
    const double half = rows > cols ? kHalfFrameShort : kHalfFrameLong;
    return 2.0 * std::atan(half / static_cast<double>(f.focal)) * 180.0 / std::numbers::pi;
}

}  // namespace ocu::clinical
