#include "toolkit/imagefile_checks.hpp"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "toolkit/numtext.hpp"

namespace ocu::detail {

namespace {

constexpr const char* kCutShort = "the file ends before its image data does";

std::uint32_t le16(std::span<const unsigned char> b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8;
}
std::uint32_t le32(std::span<const unsigned char> b, std::size_t at) {
    return le16(b, at) | le16(b, at + 2) << 16;
}

// Walks an RLE4 / RLE8 stream without decoding it; true when it reaches its
// end-of-bitmap code (or enough end-of-line codes for every row) in the file.
bool rle_complete(std::span<const unsigned char> b, std::size_t pos, unsigned bits,
                  std::uint64_t rows) {
    std::uint64_t lines = 0;
    while (pos + 1 < b.size()) {
        const unsigned count = b[pos], value = b[pos + 1];
        pos += 2;
        if (count > 0) continue;  // a run of `count` pixels of one value
        if (value == 0) {         // end of line
            ++lines;
            continue;
        }
        if (value == 1) return true;  // end of bitmap
        if (value == 2) {             // move right and down
            if (pos + 1 >= b.size()) return false;
            lines += b[pos + 1];
            pos += 2;
            continue;
        }
        // Absolute mode: `value` pixels as they are, padded to 16 bits.
        std::size_t bytes = (static_cast<std::size_t>(value) * bits + 7) / 8;
        bytes += bytes & 1u;
        pos += bytes;
    }
    return pos <= b.size() && lines + 1 >= rows;
}

}  // namespace

std::string bmp_problem(std::span<const unsigned char> b) {
    if (b.size() < 26) return kCutShort;
    const std::uint32_t offbits = le32(b, 10);
    const std::uint32_t hsize = le32(b, 14);
    std::int64_t width = 0, height = 0;
    std::uint32_t bpp = 0, compression = 0;
    if (hsize == 12) {  // OS/2 core header
        width = le16(b, 18);
        height = le16(b, 20);
        bpp = le16(b, 24);
    } else {
        if (hsize < 40 || b.size() < 34) return hsize < 40 ? "the header is damaged" : kCutShort;
        width = static_cast<std::int32_t>(le32(b, 18));
        height = static_cast<std::int32_t>(le32(b, 22));
        bpp = le16(b, 28);
        compression = le32(b, 30);
    }
    const std::int64_t rows = std::llabs(height);
    if (width <= 0 || rows <= 0) return "the header gives no image size";
    if (width > (std::int64_t{1} << 28) || rows > (std::int64_t{1} << 28) ||
        width * rows > (std::int64_t{1} << 28)) {
        return "the header claims " + size_text(width, rows) + " pixels";
    }
    if (offbits >= b.size()) return kCutShort;
    switch (compression) {
        case 0:    // uncompressed
        case 3:    // uncompressed with channel masks
        case 6: {  // the same with an alpha mask
            if (bpp == 0 || bpp > 32) return "the header is damaged";
            const std::uint64_t stride = ((static_cast<std::uint64_t>(width) * bpp + 31) / 32) * 4;
            const std::uint64_t need = offbits + stride * static_cast<std::uint64_t>(rows);
            // The last row's padding is sometimes left out by writers.
            const std::uint64_t last_pad = stride - (static_cast<std::uint64_t>(width) * bpp + 7) / 8;
            if (need - last_pad > b.size()) return kCutShort;
            return {};
        }
        case 1:  // RLE8
        case 2:  // RLE4
            if (!rle_complete(b, offbits, compression == 1 ? 8 : 4, static_cast<std::uint64_t>(rows)))
                return kCutShort;
            return {};
        default:
            return {};  // left to the decoder, which refuses what it does not know
    }
}

std::array<int, 3> bmp_channel_bits(std::span<const unsigned char> b) {
    std::array<int, 3> bits = {8, 8, 8};
    if (b.size() < 34 || le32(b, 14) < 40) return bits;
    const std::uint32_t bpp = le16(b, 28), compression = le32(b, 30);
    std::uint32_t masks[3];
    if (compression == 0 && bpp == 16) {
        masks[0] = 0x7C00;
        masks[1] = 0x03E0;
        masks[2] = 0x001F;
    } else if ((compression == 3 || compression == 6) && (bpp == 16 || bpp == 32) && b.size() >= 66) {
        for (int i = 0; i < 3; ++i) masks[i] = le32(b, 54 + 4 * static_cast<std::size_t>(i));
    } else {
        return bits;
    }
    for (int i = 0; i < 3; ++i) {
        int n = 0;
        for (std::uint32_t m = masks[i]; m != 0; m >>= 1) n += static_cast<int>(m & 1u);
        bits[static_cast<std::size_t>(i)] = n;
    }
    return bits;
}

std::string tiff_problem(std::span<const unsigned char> b) {
    if (b.size() < 8) return kCutShort;
    const bool little = b[0] == 'I';
    auto u16 = [&](std::size_t at) -> std::uint32_t {
        return little ? le16(b, at) : (static_cast<std::uint32_t>(b[at]) << 8 | b[at + 1]);
    };
    auto u32 = [&](std::size_t at) -> std::uint32_t {
        return little ? (u16(at) | u16(at + 2) << 16) : (u16(at) << 16 | u16(at + 2));
    };
    if (u16(2) != 42) return {};  // BigTIFF: left to the decoder
    const std::uint64_t size = b.size();
    const std::uint64_t ifd = u32(4);
    if (ifd + 2 > size) return kCutShort;
    const std::uint64_t n = u16(static_cast<std::size_t>(ifd));
    if (ifd + 2 + 12 * n > size) return kCutShort;

    // Offsets and byte counts of the strips (or tiles): (offset, count, type).
    struct Field {
        std::uint64_t offset = 0, count = 0;
        std::uint32_t type = 0;
        bool present = false;
    };
    Field offsets, counts;
    for (std::uint64_t i = 0; i < n; ++i) {
        const std::size_t e = static_cast<std::size_t>(ifd + 2 + 12 * i);
        const std::uint32_t tag = u16(e), type = u16(e + 2), count = u32(e + 4);
        std::uint64_t unit = 0;
        switch (type) {
            case 1: case 2: case 6: case 7: unit = 1; break;
            case 3: case 8: unit = 2; break;
            case 4: case 9: case 11: case 13: unit = 4; break;
            case 5: case 10: case 12: unit = 8; break;
            default: continue;  // unknown type: libtiff skips the entry
        }
        const std::uint64_t bytes = unit * count;
        const std::uint64_t where = bytes <= 4 ? e + 8 : u32(e + 8);
        if (bytes > 4 && where + bytes > size) return kCutShort;
        if ((type == 3 || type == 4) && (tag == 273 || tag == 324)) offsets = {where, count, type, true};
        if ((type == 3 || type == 4) && (tag == 279 || tag == 325)) counts = {where, count, type, true};
    }
    if (offsets.present && counts.present && offsets.count == counts.count) {
        auto value = [&](const Field& f, std::uint64_t k) -> std::uint64_t {
            const std::size_t at = static_cast<std::size_t>(f.offset + k * (f.type == 3 ? 2 : 4));
            return f.type == 3 ? u16(at) : u32(at);
        };
        for (std::uint64_t k = 0; k < offsets.count; ++k) {
            if (value(offsets, k) + value(counts, k) > size) return kCutShort;
        }
    }
    return {};
}

namespace {

// The entries of a classic TIFF's first directory, with where their values lie.
struct TiffEntry {
    std::uint32_t tag = 0, type = 0, count = 0;
    std::size_t at = 0;  // offset of the first value in the file
};

struct TiffDir {
    bool little = true;
    std::vector<TiffEntry> entries;
    const TiffEntry* find(std::uint32_t tag) const {
        for (const TiffEntry& e : entries)
            if (e.tag == tag) return &e;
        return nullptr;
    }
};

std::uint32_t tiff_u16(std::span<const unsigned char> b, bool little, std::size_t at) {
    return little ? le16(b, at) : (static_cast<std::uint32_t>(b[at]) << 8 | b[at + 1]);
}
std::uint32_t tiff_u32(std::span<const unsigned char> b, bool little, std::size_t at) {
    return little ? (tiff_u16(b, true, at) | tiff_u16(b, true, at + 2) << 16)
                  : (tiff_u16(b, false, at) << 16 | tiff_u16(b, false, at + 2));
}

// Entries of type BYTE, SHORT or LONG whose values lie within the file.
TiffDir first_directory(std::span<const unsigned char> b) {
    TiffDir d;
    if (b.size() < 8 || (b[0] != 'I' && b[0] != 'M')) return d;
    d.little = b[0] == 'I';
    if (tiff_u16(b, d.little, 2) != 42) return d;
    const std::uint64_t ifd = tiff_u32(b, d.little, 4);
    if (ifd + 2 > b.size()) return d;
    const std::uint64_t n = tiff_u16(b, d.little, static_cast<std::size_t>(ifd));
    for (std::uint64_t i = 0; i < n && ifd + 2 + 12 * (i + 1) <= b.size(); ++i) {
        const auto e = static_cast<std::size_t>(ifd + 2 + 12 * i);
        TiffEntry t{tiff_u16(b, d.little, e), tiff_u16(b, d.little, e + 2), tiff_u32(b, d.little, e + 4), 0};
        const std::uint64_t unit = t.type == 1 ? 1 : t.type == 3 ? 2 : t.type == 4 ? 4 : 0;
        if (unit == 0 || t.count == 0) continue;
        const std::uint64_t bytes = unit * t.count;
        const std::uint64_t at = bytes <= 4 ? e + 8 : tiff_u32(b, d.little, e + 8);
        if (at + bytes > b.size()) continue;
        t.at = static_cast<std::size_t>(at);
        d.entries.push_back(t);
    }
    return d;
}

std::uint32_t tiff_value(std::span<const unsigned char> b, const TiffDir& d, const TiffEntry& e,
                         std::uint32_t k) {
    if (e.type == 1) return b[e.at + k];
    if (e.type == 3) return tiff_u16(b, d.little, e.at + 2 * std::size_t{k});
    return tiff_u32(b, d.little, e.at + 4 * std::size_t{k});
}

// The first value of `tag`, or `fallback` when the tag is absent.
std::uint32_t tiff_field(std::span<const unsigned char> b, const TiffDir& d, std::uint32_t tag,
                         std::uint32_t fallback) {
    const TiffEntry* e = d.find(tag);
    return e ? tiff_value(b, d, *e, 0) : fallback;
}

constexpr std::uint32_t kPhotometric = 262, kBitsPerSample = 258, kSampleFormat = 339,
                        kExtraSamples = 338;

}  // namespace

bool tiff_gray(std::span<const unsigned char> b) {
    const TiffDir d = first_directory(b);
    const TiffEntry* e = d.find(kPhotometric);
    return e != nullptr && e->type == 3 && tiff_value(b, d, *e, 0) <= 1;
}

std::string tiff_unsupported(std::span<const unsigned char> b) {
    const TiffDir d = first_directory(b);
    if (d.entries.empty()) return {};
    const std::uint32_t photometric = tiff_field(b, d, kPhotometric, 1);
    const std::uint32_t format = tiff_field(b, d, kSampleFormat, 1);
    std::uint32_t bits = 1;
    if (const TiffEntry* e = d.find(kBitsPerSample)) {
        bits = tiff_value(b, d, *e, 0);
        for (std::uint32_t k = 1; k < e->count; ++k) {
            if (tiff_value(b, d, *e, k) != bits) return "samples of different sizes";
        }
    }
    const std::string size = std::to_string(bits) + "-bit ";
    const bool gray = photometric <= 1;
    switch (format) {
        case 1:  // unsigned integers
        case 4:  // "undefined": read as unsigned
            if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16) {
                return size + "unsigned integer samples";
            }
            if (photometric == 5 && bits != 8) return size + "CMYK samples";
            return {};
        case 2:
            return size + "signed integer samples";
        case 3:
            if (gray) return size + "floating-point gray samples";
            if (photometric == 5) return size + "floating-point CMYK samples";
            if (bits != 16 && bits != 32) return size + "floating-point samples";
            return {};
        case 5:
        case 6:
            return "complex-valued samples";
        default:
            return "samples of sample format " + std::to_string(format);
    }
}

void tiff_unmark_alpha(std::span<unsigned char> b) {
    const TiffDir d = first_directory(b);
    if (tiff_field(b, d, kPhotometric, 1) != 2) return;  // RGB only: gray + alpha is read as stored
    const TiffEntry* e = d.find(kExtraSamples);
    if (e == nullptr || e->type != 3) return;
    for (std::uint32_t k = 0; k < e->count; ++k) {
        const std::uint32_t v = tiff_value(b, d, *e, k);
        if (v == 1 || v == 2) {  // associated or unassociated alpha
            b[e->at + 2 * std::size_t{k}] = 0;
            b[e->at + 2 * std::size_t{k} + 1] = 0;
        }
    }
}

std::string png_problem(std::span<const unsigned char> b) {
    std::uint64_t pos = 8;  // after the signature
    while (pos + 8 <= b.size()) {
        const std::size_t at = static_cast<std::size_t>(pos);
        const std::uint64_t length = static_cast<std::uint64_t>(b[at]) << 24 | static_cast<std::uint64_t>(b[at + 1]) << 16 |
                                     static_cast<std::uint64_t>(b[at + 2]) << 8 | b[at + 3];
        if (length > 0x7FFFFFFFu) return "a chunk of the file is damaged";
        if (pos + 12 + length > b.size()) return kCutShort;
        if (std::memcmp(&b[at + 4], "IEND", 4) == 0) return {};
        pos += 12 + length;
    }
    return {};  // no end chunk: left to the decoder
}

bool jpeg_maybe_arithmetic(std::span<const unsigned char> b) {
    for (std::size_t i = 0; i + 1 < b.size(); ++i) {
        if (b[i] != 0xFF) continue;
        // C9-CB, CD-CF: arithmetic-coded frames; CC: arithmetic conditioning.
        if (b[i + 1] >= 0xC9 && b[i + 1] <= 0xCF) return true;
    }
    return false;
}

std::string jpeg_problem(std::span<const unsigned char> b) {
    // Entropy-coded data never holds the byte pair FF D9 (a literal FF is
    // stuffed as FF 00), so an end-of-image marker after the last scan start
    // means the data is complete; data after it (some cameras append some) is
    // ignored.
    std::size_t last_sos = 0, last_eoi = 0;
    bool have_sos = false, have_eoi = false;
    for (std::size_t i = 0; i + 1 < b.size(); ++i) {
        if (b[i] != 0xFF) continue;
        if (b[i + 1] == 0xDA) {
            last_sos = i;
            have_sos = true;
        } else if (b[i + 1] == 0xD9) {
            last_eoi = i;
            have_eoi = true;
        }
    }
    if (!have_sos || !have_eoi || last_eoi < last_sos) return kCutShort;
    return {};
}

std::size_t jpeg_scan_count(std::span<const unsigned char> b) {
    if (b.size() < 4 || b[0] != 0xFF || b[1] != 0xD8) return 0;
    std::size_t scans = 0;
    std::size_t pos = 2;
    while (pos + 1 < b.size()) {
        if (b[pos] != 0xFF) {  // entropy-coded data, or stray bytes the decoder skips
            ++pos;
            continue;
        }
        const unsigned m = b[pos + 1];
        if (m == 0xFF) {  // fill byte before a marker
            ++pos;
            continue;
        }
        // A stuffed 0xFF, a restart marker, TEM or another start of image:
        // no length follows.
        if (m == 0x00 || (m >= 0xD0 && m <= 0xD8) || m == 0x01) {
            pos += 2;
            continue;
        }
        if (m == 0xD9) break;  // end of image
        if (pos + 3 >= b.size()) break;
        if (m == 0xDA) ++scans;
        pos += 2 + (static_cast<std::size_t>(b[pos + 2]) << 8 | b[pos + 3]);
    }
    return scans;
}

}  // namespace ocu::detail
