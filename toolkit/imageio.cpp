#include "toolkit/imageio.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QByteArray>
#include <QIODevice>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QString>
#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <span>
#include <string_view>
#include <type_traits>

#include "toolkit/arrayops.hpp"
#include "toolkit/atomic_file.hpp"
#include "toolkit/file_kind.hpp"
#include "toolkit/imagefile_checks.hpp"
#include "toolkit/limits.hpp"
#include "toolkit/numtext.hpp"

namespace ocu {

namespace {

// ---------------------------------------------------------------------------
// Limits against corrupt or hostile files. A header may declare any size; we
// refuse sizes no photograph has before the decoder allocates anything.

// Largest number of pixels per byte of file. Even a blank 1-bit image
// compressed with Deflate stays below this; a larger claim is a corrupt header.
constexpr std::int64_t kMaxPixelsPerByte = std::int64_t{1} << 15;
// The same for Huffman-coded JPEG: every 8 x 8 block costs at least one bit
// in the first scan, so no such JPEG holds more than 512 pixels per byte.
constexpr std::int64_t kMaxJpegPixelsPerByte = 1024;
// Largest file read into memory.
constexpr std::int64_t kMaxFileBytes = std::int64_t{1} << 30;

// The formats this program reads. Qt's probe knows more, among them formats
// whose recognisers accept almost any bytes (WBMP, TGA) and formats whose
// decoders allocate what a header claims before we can check it (GIF's
// screen size); those count as unknown.
bool readable_format(const QByteArray& fmt) {
    static const char* const kFormats[] = {"bmp", "jpeg", "jpg", "tiff", "tif", "png"};
    for (const char* f : kFormats)
        if (fmt == f) return true;
    return false;
}

void ensure_qt_setup() {
    static std::once_flag once;
    std::call_once(once, [] {
        // In megabytes; our own pixel check comes first, this is the backstop
        // for handlers that allocate before reporting a size: the largest
        // image at 8 bytes per pixel (16-bit RGBA).
        QImageReader::setAllocationLimit(static_cast<int>((kMaxImagePixels * 8) >> 20));
    });
}

std::string lower(std::string s) {
    for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s;
}

std::string extension_of(const std::string& filename) {
    const auto slash = filename.find_last_of('/');
    const auto dot = filename.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    return lower(filename.substr(dot + 1));
}

// ---------------------------------------------------------------------------
// Reading

// Opens and reads the whole file. Throws the two open-failure texts, and
// refuses anything but a regular file before opening it (a FIFO would wait
// for a writer, a device never end).
QByteArray read_file_bytes(const std::string& filename) {
    struct stat st {};
    if (::stat(filename.c_str(), &st) != 0) throw Error("File \"" + filename + "\" does not exist.");
    auto not_a_file = [&filename](mode_t mode) {
        return Error("Can't read \"" + filename + "\": it is " + detail::file_kind(mode) +
                     ", not an image file.");
    };
    if (!S_ISREG(st.st_mode)) throw not_a_file(st.st_mode);
    // Non-blocking, in case a FIFO took the file's place since the check.
    const int fd = ::open(filename.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        throw Error("Can't open file \"" + filename +
                    "\" for reading;\nyou may not have read permission.");
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw not_a_file(st.st_mode);
    }
    if (st.st_size > kMaxFileBytes) {
        ::close(fd);
        throw Error("The file \"" + filename + "\" is too large to be an image this program reads.");
    }
    QByteArray bytes;
    bytes.reserve(static_cast<qsizetype>(st.st_size));
    char buf[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            throw Error("Error reading file \"" + filename + "\": " + std::strerror(err) + ".");
        }
        if (bytes.size() + n > kMaxFileBytes) {  // the file grew while being read
            ::close(fd);
            throw Error("The file \"" + filename + "\" is too large to be an image this program reads.");
        }
        bytes.append(buf, n);
    }
    ::close(fd);
    return bytes;
}

// PNG colour type from the header chunk: 0 gray, 4 gray + alpha, ...; -1 if unknown.
int png_color_type(const QByteArray& b) {
    if (b.size() < 26 || std::memcmp(b.constData() + 12, "IHDR", 4) != 0) return -1;
    return static_cast<unsigned char>(b[25]);
}

bool gray_table(const QList<QRgb>& table) {
    for (QRgb c : table)
        if (qRed(c) != qGreen(c) || qGreen(c) != qBlue(c)) return false;
    return true;
}

// Planes of an 8-bit gray or colour result, filled row by row from the QImage.
template <class T, class F>
Array<T> from_rows(const QImage& img, std::size_t planes, F pixel) {
    const std::size_t rows = static_cast<std::size_t>(img.height());
    const std::size_t cols = static_cast<std::size_t>(img.width());
    Array<T> out(rows, cols, planes);
    // The picture is stored row by row and the array column by column: go
    // through it in bands of rows so that both sides stay in the cache.
    constexpr std::size_t kBand = 32;
    const uchar* lines[kBand];
    for (std::size_t r0 = 0; r0 < rows; r0 += kBand) {
        const std::size_t n = std::min(kBand, rows - r0);
        for (std::size_t k = 0; k < n; ++k) lines[k] = img.constScanLine(static_cast<int>(r0 + k));
        for (std::size_t c = 0; c < cols; ++c)
            for (std::size_t k = 0; k < n; ++k) {
                T v[3];
                pixel(lines[k], c, v);
                for (std::size_t p = 0; p < planes; ++p) out(r0 + k, c, p) = v[p];
            }
    }
    return out;
}

// Pixels of a paletted image (Indexed8, Mono, MonoLSB) as palette indices.
AnyImage from_palette(const QImage& img) {
    const QList<QRgb> table = img.colorTable();
    const bool gray = gray_table(table);
    const QImage::Format f = img.format();
    auto index_at = [f](const uchar* line, std::size_t c) -> std::size_t {
        if (f == QImage::Format_Indexed8) return line[c];
        if (f == QImage::Format_Mono) return (line[c >> 3] >> (7 - (c & 7))) & 1u;
        return (line[c >> 3] >> (c & 7)) & 1u;  // MonoLSB
    };
    // An index past the end of the table (a corrupt file) shows black.
    auto colour = [&table](std::size_t i) -> QRgb {
        return i < static_cast<std::size_t>(table.size()) ? table[static_cast<qsizetype>(i)]
                                                           : qRgb(0, 0, 0);
    };
    if (gray) {
        return from_rows<std::uint8_t>(img, 1, [&](const uchar* line, std::size_t c, std::uint8_t* v) {
            v[0] = static_cast<std::uint8_t>(qRed(colour(index_at(line, c))));
        });
    }
    return from_rows<std::uint8_t>(img, 3, [&](const uchar* line, std::size_t c, std::uint8_t* v) {
        const QRgb rgb = colour(index_at(line, c));
        v[0] = static_cast<std::uint8_t>(qRed(rgb));
        v[1] = static_cast<std::uint8_t>(qGreen(rgb));
        v[2] = static_cast<std::uint8_t>(qBlue(rgb));
    });
}

// The decoded QImage as our sample array. `gray_hint`: the file says its
// samples are gray even though Qt decoded them to colour (gray + alpha).
AnyImage to_samples(QImage img, bool gray_hint) {
    switch (img.format()) {
        case QImage::Format_Grayscale8:
            return from_rows<std::uint8_t>(img, 1, [](const uchar* line, std::size_t c, std::uint8_t* v) {
                v[0] = line[c];
            });
        case QImage::Format_Grayscale16:
            return from_rows<std::uint16_t>(img, 1, [](const uchar* line, std::size_t c, std::uint16_t* v) {
                std::memcpy(v, line + 2 * c, 2);
            });
        case QImage::Format_Mono:
        case QImage::Format_MonoLSB:
        case QImage::Format_Indexed8:
            return from_palette(img);
        case QImage::Format_RGBX64:
        case QImage::Format_RGBA64:
        case QImage::Format_RGBA64_Premultiplied: {
            if (img.format() == QImage::Format_RGBA64_Premultiplied)
                img.convertTo(QImage::Format_RGBA64);
            const std::size_t planes = gray_hint ? 1 : 3;
            return from_rows<std::uint16_t>(img, planes, [](const uchar* line, std::size_t c, std::uint16_t* v) {
                QRgba64 px;
                std::memcpy(&px, line + 8 * c, 8);
                v[0] = px.red();
                v[1] = px.green();
                v[2] = px.blue();
            });
        }
        default:
            break;
    }
    if (img.depth() > 32) img.convertTo(QImage::Format_RGBA64);  // float formats
    if (img.format() == QImage::Format_RGBA64) return to_samples(std::move(img), gray_hint);
    // Everything else through non-premultiplied 32-bit ARGB; the alpha is dropped.
    if (img.format() != QImage::Format_RGB32 && img.format() != QImage::Format_ARGB32)
        img.convertTo(QImage::Format_ARGB32);
    const std::size_t planes = gray_hint ? 1 : 3;
    return from_rows<std::uint8_t>(img, planes, [](const uchar* line, std::size_t c, std::uint8_t* v) {
        QRgb px;
        std::memcpy(&px, line + 4 * c, 4);
        v[0] = static_cast<std::uint8_t>(qRed(px));
        v[1] = static_cast<std::uint8_t>(qGreen(px));
        v[2] = static_cast<std::uint8_t>(qBlue(px));
    });
}

// A channel of n < 8 bits arrives as value << (8 - n); stretch it so that the
// channel's full scale is 255: v * 255 / (2^n - 1), rounded.
void widen_narrow_channels(AnyImage& samples, const std::array<int, 3>& bits) {
    auto* a = std::get_if<ArrayU8>(&samples);
    if (!a || a->planes() != 3) return;
    for (std::size_t p = 0; p < 3; ++p) {
        const int n = bits[p];
        if (n <= 0 || n >= 8) continue;
        std::array<std::uint8_t, 256> lut{};
        const double top = static_cast<double>((1 << n) - 1);
        for (int x = 0; x < 256; ++x)
            lut[static_cast<std::size_t>(x)] = to_uint8(static_cast<double>(x >> (8 - n)) * 255.0 / top);
        std::uint8_t* d = a->data() + p * a->rows() * a->cols();
        for (std::size_t i = 0; i < a->rows() * a->cols(); ++i) d[i] = lut[d[i]];
    }
}

std::string too_large_text(const std::string& filename, std::int64_t w, std::int64_t h,
                           const std::string& limit) {
    return "The image in \"" + filename + "\" is too large to read (" + size_text(w, h) + " pixels; " + limit +
           ").";
}

// The program's pixel limit, and the caller's limit per side (0: none).
void check_size(const std::string& filename, std::int64_t w, std::int64_t h, std::int64_t max_side) {
    if (w > kMaxImagePixels / h) {
        throw Error(too_large_text(filename, w, h,
                                   "this program reads at most " + std::to_string(kMaxImagePixels) + " pixels"));
    }
    if (max_side > 0 && (w > max_side || h > max_side)) {
        throw Error(too_large_text(filename, w, h, "at most " + std::to_string(max_side) + " per side here"));
    }
}

std::string damaged_text(const std::string& filename, const QString& reason) {
    std::string s = "The image file \"" + filename + "\" is damaged or incomplete";
    const std::string r = reason.toStdString();
    if (!r.empty() && r != "Unknown error") s += " (" + r + ")";
    return s + ".";
}

// ---------------------------------------------------------------------------
// Writing

// The writers' output device: writes straight to the temporary file's
// descriptor, keeps the first error the system reported (a writer may ignore a
// failed write, or report it without the reason), and counts how far the file
// reaches, so that the bytes on disk can be checked against it.
class FdDevice : public QIODevice {
public:
    explicit FdDevice(int fd) : fd_(fd) { QIODevice::open(QIODevice::ReadWrite | QIODevice::Unbuffered); }
    bool isSequential() const override { return false; }
    qint64 size() const override { return static_cast<qint64>(end_); }
    int error() const { return err_; }
    std::uint64_t end() const { return end_; }

protected:
    qint64 readData(char* data, qint64 max) override {
        for (;;) {
            const ssize_t n = ::pread(fd_, data, static_cast<std::size_t>(max), static_cast<off_t>(pos()));
            if (n >= 0) return n;
            if (errno != EINTR) return -1;
        }
    }
    qint64 writeData(const char* data, qint64 len) override {
        if (err_ != 0) return -1;
        const auto at = static_cast<std::uint64_t>(pos());
        std::uint64_t done = 0;
        const auto n = static_cast<std::uint64_t>(len);
        while (done < n) {
            const ssize_t w = ::pwrite(fd_, data + done, static_cast<std::size_t>(n - done),
                                       static_cast<off_t>(at + done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                err_ = w < 0 ? errno : EIO;
                return -1;
            }
            done += static_cast<std::uint64_t>(w);
        }
        end_ = std::max(end_, at + n);
        return len;
    }

private:
    int fd_;
    int err_ = 0;
    std::uint64_t end_ = 0;
};

std::uint8_t u16_to_u8(std::uint16_t v) {
    return static_cast<std::uint8_t>((static_cast<unsigned>(v) + 128u) / 257u);
}

// The array as 8-bit samples: doubles clipped to 0..1 and scaled, uint16
// scaled by 255/65535, logical as 0 and 255.
ArrayU8 samples_u8(const AnyImage& image) {
    return std::visit(
        [](const auto& a) -> ArrayU8 {
            using T = typename std::decay_t<decltype(a)>::value_type;
            ArrayU8 u(a.rows(), a.cols(), a.planes());
            for (std::size_t i = 0; i < a.numel(); ++i) {
                if constexpr (std::is_same_v<T, double>) {
                    const double v = a[i];
                    u[i] = to_uint8(255.0 * std::min(std::max(v, 0.0), 1.0));
                } else if constexpr (std::is_same_v<T, std::uint16_t>) {
                    u[i] = u16_to_u8(a[i]);
                } else if constexpr (std::is_same_v<T, Logical>) {
                    u[i] = a[i] == Logical::True ? 255 : 0;
                } else {
                    u[i] = a[i];
                }
            }
            return u;
        },
        image);
}

QImage to_qimage_u8(const ArrayU8& a, bool paletted_gray) {
    const int w = static_cast<int>(a.cols()), h = static_cast<int>(a.rows());
    QImage img;
    if (a.planes() == 1) {
        img = QImage(w, h, paletted_gray ? QImage::Format_Indexed8 : QImage::Format_Grayscale8);
        if (paletted_gray) {
            QList<QRgb> table(256);
            for (int i = 0; i < 256; ++i) table[i] = qRgb(i, i, i);
            img.setColorTable(table);
        }
    } else {
        img = QImage(w, h, QImage::Format_RGB888);
    }
    if (img.isNull()) throw Error("Not enough memory to write the image.");
    for (int r = 0; r < h; ++r) {
        uchar* line = img.scanLine(r);
        for (int c = 0; c < w; ++c) {
            const auto rr = static_cast<std::size_t>(r), cc = static_cast<std::size_t>(c);
            if (a.planes() == 1) {
                line[c] = a(rr, cc);
            } else {
                for (std::size_t p = 0; p < 3; ++p) line[3 * c + static_cast<int>(p)] = a(rr, cc, p);
            }
        }
    }
    return img;
}

QImage to_qimage_u16(const ArrayU16& a) {
    const int w = static_cast<int>(a.cols()), h = static_cast<int>(a.rows());
    QImage img(w, h, a.planes() == 1 ? QImage::Format_Grayscale16 : QImage::Format_RGBX64);
    if (img.isNull()) throw Error("Not enough memory to write the image.");
    for (int r = 0; r < h; ++r) {
        uchar* line = img.scanLine(r);
        for (int c = 0; c < w; ++c) {
            const auto rr = static_cast<std::size_t>(r), cc = static_cast<std::size_t>(c);
            if (a.planes() == 1) {
                const std::uint16_t v = a(rr, cc);
                std::memcpy(line + 2 * c, &v, 2);
            } else {
                const QRgba64 px = QRgba64::fromRgba64(a(rr, cc, 0), a(rr, cc, 1), a(rr, cc, 2), 65535);
                std::memcpy(line + 8 * c, &px, 8);
            }
        }
    }
    return img;
}

}  // namespace

AnyImage imread(const std::string& filename) { return imread(filename, 0); }

AnyImage imread(const std::string& filename, std::int64_t max_side) {
    ensure_qt_setup();
    QByteArray bytes = read_file_bytes(filename);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);

    const QByteArray format = QImageReader::imageFormat(&buffer);
    buffer.seek(0);
    if (format.isEmpty() || !readable_format(format)) {
        throw Error("Unable to determine the file format.");
    }

    const std::span<const unsigned char> raw(reinterpret_cast<const unsigned char*>(bytes.constData()),
                                             static_cast<std::size_t>(bytes.size()));
    std::string problem;
    if (format == "bmp") problem = detail::bmp_problem(raw);
    else if (format == "tiff" || format == "tif") problem = detail::tiff_problem(raw);
    else if (format == "jpeg" || format == "jpg") problem = detail::jpeg_problem(raw);
    else if (format == "png") problem = detail::png_problem(raw);
    if (!problem.empty()) throw Error(damaged_text(filename, QString::fromStdString(problem)));
    if (format == "tiff" || format == "tif") {
        const std::string what = detail::tiff_unsupported(raw);
        if (!what.empty()) {
            throw Error("The image file \"" + filename + "\" has an unsupported TIFF sample format: " + what + ".");
        }
        // Colours as stored, alpha dropped (as for PNG): see tiff_unmark_alpha.
        detail::tiff_unmark_alpha(std::span<unsigned char>(reinterpret_cast<unsigned char*>(bytes.data()),
                                                           static_cast<std::size_t>(bytes.size())));
    }
    if (format == "jpeg" || format == "jpg") {
        const std::size_t scans = detail::jpeg_scan_count(raw);
        if (scans > detail::kMaxJpegScans) {
            throw Error("The JPEG file \"" + filename + "\" has " + std::to_string(scans) +
                        " scans; this program decodes at most " + std::to_string(detail::kMaxJpegScans) +
                        " (photographs have fewer than 20).");
        }
    }

    QImageReader reader(&buffer, format);
    reader.setAutoTransform(true);
    const QSize declared = reader.size();
    if (declared.isValid()) {
        const std::int64_t w = declared.width(), h = declared.height();
        if (w <= 0 || h <= 0) throw Error(damaged_text(filename, QString()));
        check_size(filename, w, h, max_side);
        // More pixels than the file's bytes can describe: a corrupt header.
        const bool huffman_jpeg =
            (format == "jpeg" || format == "jpg") && !detail::jpeg_maybe_arithmetic(raw);
        const std::int64_t per_byte = huffman_jpeg ? kMaxJpegPixelsPerByte : kMaxPixelsPerByte;
        if (w > std::max<std::int64_t>(bytes.size(), 1) * per_byte / h) {
            throw Error(too_large_text(filename, w, h, "more than the file's " + std::to_string(bytes.size()) +
                                                           " bytes can hold"));
        }
    }

    QImage img;
    if (!reader.read(&img) || img.isNull()) {
        throw Error(damaged_text(filename, reader.errorString()));
    }
    check_size(filename, img.width(), img.height(), max_side);
    const int png_type = format == "png" ? png_color_type(bytes) : -1;
    const bool gray_hint = png_type == 0 || png_type == 4 ||
                           ((format == "tiff" || format == "tif") && detail::tiff_gray(raw));
    AnyImage samples = to_samples(std::move(img), gray_hint);
    if (format == "bmp") widen_narrow_channels(samples, detail::bmp_channel_bits(raw));
    return samples;
}

void imwrite(const AnyImage& image, const std::string& filename) {
    ensure_qt_setup();
    const std::string ext = extension_of(filename);
    QByteArray format;
    if (ext == "bmp") format = "bmp";
    else if (ext == "tif" || ext == "tiff") format = "tiff";
    else if (ext == "jpg" || ext == "jpeg") format = "jpeg";
    else if (ext == "png") format = "png";
    else {
        throw Error("Can't write file \"" + filename +
                    "\": unknown image file extension (use .bmp, .tif, .tiff, .jpg, .jpeg or .png).");
    }
    const std::size_t rows = image_rows(image), cols = image_cols(image), planes = image_planes(image);
    if (rows == 0 || cols == 0) throw Error("Can't write file \"" + filename + "\": the image is empty.");
    if (planes != 1 && planes != 3) {
        throw Error("Can't write file \"" + filename + "\": an image has 1 or 3 planes, not " +
                    std::to_string(planes) + ".");
    }
    if (rows > 65500 || cols > 65500) {
        throw Error("Can't write file \"" + filename + "\": the image is too large.");
    }

    QImage img;
    const auto* u16 = std::get_if<ArrayU16>(&image);
    if (u16 && (format == "png" || format == "tiff")) {
        img = to_qimage_u16(*u16);
    } else {
        // A gray BMP is written with a gray palette so that it reads back as gray.
        img = to_qimage_u8(samples_u8(image), format == "bmp");
    }

    AtomicFile out(filename);
    FdDevice device(out.fd());
    QImageWriter writer(&device, format);
    const bool written = writer.write(img);
    if (device.error() != 0) out.fail(device.error());
    if (!written) {
        const std::string why = writer.errorString().toStdString();
        out.fail(why.empty() || why == "Unknown error" ? "the image could not be encoded" : why);
    }
    out.commit(device.end());
}

void write_npy(const AnyImage& array, const std::string& filename) {
    static_assert(std::endian::native == std::endian::little, "the .npy writer assumes little-endian");
    const std::size_t rows = image_rows(array), cols = image_cols(array), planes = image_planes(array);
    const char* descr = std::visit(
        [](const auto& a) -> const char* {
            using T = typename std::decay_t<decltype(a)>::value_type;
            if constexpr (std::is_same_v<T, double>) return "<f8";
            else if constexpr (std::is_same_v<T, std::uint16_t>) return "<u2";
            else return "|u1";
        },
        array);
    std::string header = "{'descr': '";
    header.append(descr);
    header.append("', 'fortran_order': False, 'shape': (");
    header.append(std::to_string(rows));
    header.append(", ");
    header.append(std::to_string(cols));
    if (planes > 1) {
        header.append(", ");
        header.append(std::to_string(planes));
    }
    header.append("), }");
    // magic (6) + version (2) + header length (2) + header, padded with spaces
    // and ending in a newline, to a multiple of 64 bytes.
    const std::size_t unpadded = 10 + header.size() + 1;
    header.append((64 - unpadded % 64) % 64, ' ');
    header += '\n';
    const std::size_t hl = header.size();
    const char magic[10] = {'\x93', 'N', 'U', 'M', 'P', 'Y', 1, 0,
                            static_cast<char>(hl & 0xFF), static_cast<char>((hl >> 8) & 0xFF)};
    std::vector<char> head(magic, magic + 10);
    head.insert(head.end(), header.begin(), header.end());

    AtomicFile out(filename);
    out.write(head.data(), head.size());
    // Our arrays are column-major; C order puts the last index fastest, so the
    // elements go out row by row, and within a pixel plane after plane.
    std::visit(
        [&](const auto& a) {
            using T = typename std::decay_t<decltype(a)>::value_type;
            std::vector<T> row(cols * planes);
            for (std::size_t r = 0; r < rows; ++r) {
                for (std::size_t c = 0; c < cols; ++c)
                    for (std::size_t p = 0; p < planes; ++p) row[c * planes + p] = a(r, c, p);
                out.write(row.data(), row.size() * sizeof(T));
            }
        },
        array);
    const std::size_t element = std::visit([](const auto& a) { return sizeof(a[0]); }, array);
    out.commit(head.size() + rows * cols * planes * element);
}

}  // namespace ocu
