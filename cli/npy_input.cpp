#include "cli/npy_input.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "toolkit/error.hpp"

namespace ocu::cli {

namespace {

static_assert(std::endian::native == std::endian::little, "the .npy reader assumes little-endian");

// Largest file read: the largest image the program takes in doubles (2^28
// pixels x 3 planes x 8 bytes would be 6 GiB; a result of that size is not a
// reasonable intermediate) is capped at 4 GiB.
constexpr std::uint64_t kMaxNpyBytes = std::uint64_t{4} << 30;

[[noreturn]] void fail(const std::string& name, const std::string& what) {
    throw Error("File \"" + name + "\" " + what);
}

// The value of `key` in the header dictionary, as its raw text up to the next
// top-level comma or the closing brace ("'<f8'", "False", "(2, 3)").
std::string dict_value(const std::string& header, const std::string& key, const std::string& name) {
    const std::string quoted1 = "'" + key + "'", quoted2 = "\"" + key + "\"";
    std::size_t at = header.find(quoted1);
    std::size_t klen = quoted1.size();
    if (at == std::string::npos) {
        at = header.find(quoted2);
        klen = quoted2.size();
    }
    if (at == std::string::npos) fail(name, "is not a .npy file NumPy wrote: its header has no '" + key + "'.");
    std::size_t i = header.find(':', at + klen);
    if (i == std::string::npos) fail(name, "has a damaged .npy header.");
    ++i;
    while (i < header.size() && header[i] == ' ') ++i;
    std::size_t j = i;
    int depth = 0;
    for (; j < header.size(); ++j) {
        const char c = header[j];
        if (c == '(') ++depth;
        else if (c == ')') --depth;
        else if ((c == ',' || c == '}') && depth == 0) break;
    }
    if (depth != 0 || j == header.size()) fail(name, "has a damaged .npy header.");
    std::string v = header.substr(i, j - i);
    while (!v.empty() && v.back() == ' ') v.pop_back();
    return v;
}

std::vector<std::size_t> parse_shape(const std::string& text, const std::string& name) {
    if (text.size() < 2 || text.front() != '(' || text.back() != ')') fail(name, "has a damaged .npy shape " + text + ".");
    std::vector<std::size_t> dims;
    std::size_t i = 1;
    while (i < text.size() - 1) {
        while (i < text.size() - 1 && (text[i] == ' ' || text[i] == ',')) ++i;
        if (i >= text.size() - 1) break;
        std::size_t v = 0, digits = 0;
        while (i < text.size() - 1 && text[i] >= '0' && text[i] <= '9') {
            if (v > (std::size_t{1} << 40)) fail(name, "has a .npy shape too large: " + text + ".");
            v = v * 10 + static_cast<std::size_t>(text[i] - '0');
            ++i;
            ++digits;
        }
        if (digits == 0) fail(name, "has a damaged .npy shape " + text + ".");
        dims.push_back(v);
    }
    return dims;
}

template <class T>
Array<T> fill(std::string_view data, std::size_t rows, std::size_t cols, std::size_t planes, bool fortran) {
    Array<T> a(rows, cols, planes);
    const char* d = data.data();
    std::size_t k = 0;
    if (fortran) {  // the first index fastest: our own storage order
        std::memcpy(a.data(), d, a.numel() * sizeof(T));
        return a;
    }
    for (std::size_t r = 0; r < rows; ++r)
        for (std::size_t c = 0; c < cols; ++c)
            for (std::size_t p = 0; p < planes; ++p, ++k) std::memcpy(&a(r, c, p), d + k * sizeof(T), sizeof(T));
    return a;
}

}  // namespace

AnyImage parse_npy(std::string_view bytes, const std::string& name) {
    if (bytes.size() < 10 || bytes.substr(0, 6) != std::string_view("\x93NUMPY", 6)) {
        fail(name, "is not a .npy file.");
    }
    const auto byte = [&bytes](std::size_t i) { return static_cast<std::size_t>(static_cast<unsigned char>(bytes[i])); };
    const std::size_t major = byte(6);
    std::size_t hlen = 0, start = 0;
    if (major == 1) {
        hlen = byte(8) | (byte(9) << 8);
        start = 10;
    } else if (major == 2 || major == 3) {
        if (bytes.size() < 12) fail(name, "is a truncated .npy file.");
        hlen = byte(8) | (byte(9) << 8) | (byte(10) << 16) | (byte(11) << 24);
        start = 12;
    } else {
        fail(name, "has .npy format version " + std::to_string(major) + ", which is not supported.");
    }
    if (hlen > bytes.size() - start) fail(name, "is a truncated .npy file.");
    const std::string header(bytes.substr(start, hlen));
    const std::string descr = dict_value(header, "descr", name);
    const std::string order = dict_value(header, "fortran_order", name);
    const std::vector<std::size_t> shape = parse_shape(dict_value(header, "shape", name), name);
    if (order != "True" && order != "False") fail(name, "has a damaged .npy header (fortran_order " + order + ").");
    if (shape.size() != 2 && shape.size() != 3) {
        fail(name, "holds a .npy array of " + std::to_string(shape.size()) +
                       " dimensions; an image has 2 (rows, columns) or 3 (rows, columns, planes).");
    }
    const std::size_t rows = shape[0], cols = shape[1], planes = shape.size() == 3 ? shape[2] : 1;
    if (rows == 0 || cols == 0) fail(name, "holds an empty .npy array.");
    if (planes != 1 && planes != 3) {
        fail(name, "holds a .npy array of " + std::to_string(planes) + " planes; an image has 1 or 3.");
    }
    std::size_t elem = 0;
    if (descr == "'<f8'") elem = 8;
    else if (descr == "'|u1'" || descr == "'<u1'") elem = 1;
    else if (descr == "'<u2'") elem = 2;
    else fail(name, "holds .npy values of type " + descr + "; ocumbra-sim reads '<f8', '|u1' and '<u2'.");
    std::size_t numel = 0;
    try {
        numel = checked_numel(rows, cols, planes);
    } catch (const Error& e) {
        fail(name, std::string("holds a .npy array too large: ") + e.what());
    }
    const std::string_view data = bytes.substr(start + hlen);
    if (data.size() / elem < numel || data.size() != numel * elem) {
        fail(name, "has " + std::to_string(data.size()) + " bytes of .npy data where its shape needs " +
                       std::to_string(numel) + " values of " + std::to_string(elem) + " bytes.");
    }
    const bool fortran = order == "True";
    if (elem == 1) return fill<std::uint8_t>(data, rows, cols, planes, fortran);
    if (elem == 2) return fill<std::uint16_t>(data, rows, cols, planes, fortran);
    ArrayD a = fill<double>(data, rows, cols, planes, fortran);
    for (const double v : a.span()) {
        if (!std::isfinite(v)) fail(name, "holds a value that is not a finite number (NaN or infinite).");
    }
    return a;
}

AnyImage read_npy(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) throw Error("Can't open file \"" + path + "\" for reading.");
    const std::streamoff size = in.tellg();
    if (size < 0) throw Error("Can't open file \"" + path + "\" for reading.");
    if (static_cast<std::uint64_t>(size) > kMaxNpyBytes) fail(path, "is too large for a .npy input.");
    std::string bytes(static_cast<std::size_t>(size), '\0');
    in.seekg(0);
    if (!in.read(bytes.data(), size)) throw Error("Can't read file \"" + path + "\".");
    return parse_npy(bytes, path);
}

}  // namespace ocu::cli
