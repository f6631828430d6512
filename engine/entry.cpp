// The plug-in's one entry, mexFunction: validates the function index, runs the
// argument checker of that index, runs the operation and hands its outputs to
// the host.
//
// How failures travel. Every check below produces a message text; the
// operations (engine/ops.hpp) throw kal::EngineError. Both end in exactly one
// call of hostRaiseError, made from mexFunction's own frame after every
// handler has finished, with the text in static storage. hostRaiseError does
// not return: the host unwinds with its own exception type (or jumps), which
// nothing here catches. The try block around the operations calls no host
// function that can raise, so its handlers only ever see the engine's own
// exceptions and the standard library's.
//
// Scalars. A scalar argument is the first element of its array, truncated
// toward zero to a 32-bit integer. A value that has no such integer (NaN, an
// infinity, outside -2^31..2^31-1, or an empty array) is refused with the
// message of the range test that argument would fail: "Invalid value for 'n'"
// for a pyramid number, "Invalid blending mask index" for a mask number, "The
// pyramid does not have this many levels" for a level, "The pyramid size is
// not valid" for the sizes of createpyramid. A fixation coordinate beyond the
// 32-bit range is taken as the nearest 32-bit value (encode clamps it into the
// image anyway); a NaN fixation (or an empty array) is refused with "Invalid
// fixation point".
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>
#include <utility>

#include "engine/host_array.h"
#include "engine/ops.hpp"
#include "engine/workers.hpp"

namespace {

using Inputs = const HostArray* const*;

// ---- Message texts ----------------------------------------------------------

constexpr const char* kIncorrectArgs = "Incorrect number of arguments.\n";
constexpr const char* kNotScalarDouble = "Input must be a noncomplex scalar double.\n";
constexpr const char* kInvalidIndex = "Invalid function index.\n";

constexpr const char* kRequires[5] = {
    nullptr,
    "This function requires 1 arguments.",
    "This function requires 2 arguments.",
    "This function requires 3 arguments.",
    "This function requires 4 arguments.",
};
constexpr const char* kRequiresFourOutputs = "This function requires 4 return values.";
constexpr const char* kTooManyOutputs = "Too many return values were specified.";
constexpr const char* kInputMustBeDouble[4] = {
    "Input 1 must be double.", "Input 2 must be double.", "Input 3 must be double.",
    "Input 4 must be double."};
constexpr const char* kInputMayNotBeComplex[4] = {
    "Input 1 may not be complex.", "Input 2 may not be complex.", "Input 3 may not be complex.",
    "Input 4 may not be complex."};
constexpr const char* kInputMustBeUint8[4] = {
    "Input 1 must be uint8.", "Input 2 must be uint8.", "Input 3 must be uint8.",
    "Input 4 must be uint8."};
constexpr const char* kOutputMustBeDouble[4] = {
    "Output 1 must be double.", "Output 2 must be double.", "Output 3 must be double.",
    "Output 4 must be double."};
constexpr const char* kOutputMayNotBeComplex[4] = {
    "Output 1 may not be complex.", "Output 2 may not be complex.",
    "Output 3 may not be complex.", "Output 4 may not be complex."};
constexpr const char* kOutputMustBeUint8 = "Output 1 must be uint8.";
constexpr const char* kInvalidFixation = "Invalid fixation point";
constexpr const char* kInternalError = "Internal error in the pyramid engine";

// ---- Argument checkers ------------------------------------------------------

enum class Kind : std::uint8_t { Double, Uint8 };

struct Signature {
    int inputs;
    Kind kind[4];
};

constexpr Kind D = Kind::Double;
constexpr Kind U = Kind::Uint8;

// Inputs after the function index, per index 0..11.
constexpr Signature kSignatures[12] = {
    {4, {D, D, D, D}},  // 0 createpyramid: n, columns, rows, L
    {2, {D, D, D, D}},  // 1 setresmap: n, map
    {2, {D, D, D, D}},  // 2 getmaskrects: n, k
    {2, {D, D, D, D}},  // 3 getblendmask: n, k
    {2, {D, U, D, D}},  // 4 setbase: n, image
    {1, {D, D, D, D}},  // 5 reduce: n
    {2, {D, D, D, D}},  // 6 getsrclevel: n, level
    {2, {D, D, D, D}},  // 7 getenclevel: n, level
    {3, {D, D, U, D}},  // 8 setsrclevel: n, level, image
    {3, {D, D, U, D}},  // 9 setenclevel: n, level, image
    {3, {D, D, D, D}},  // 10 encode: n, column, row
    {1, {D, D, D, D}},  // 11 getencodedimage: n
};

const char* check_arguments(int index, int nlhs, int nrhs, Inputs in) {
    const Signature& sig = kSignatures[index];
    if (nrhs != sig.inputs) return kRequires[sig.inputs];
    if (index == 2) {
        if (nlhs != 4) return kRequiresFourOutputs;
    } else if (nlhs != 0 && nlhs != 1) {
        return kTooManyOutputs;
    }
    for (int i = 0; i < sig.inputs; ++i) {
        if (sig.kind[i] == Kind::Double) {
            if (hostArrayIsDouble(in[i]) == 0) return kInputMustBeDouble[i];
            if (hostArrayIsComplex(in[i]) != 0) return kInputMayNotBeComplex[i];
        } else if (hostArrayIsUint8(in[i]) == 0) {
            return kInputMustBeUint8[i];
        }
    }
    return nullptr;
}

// ---- Scalars ----------------------------------------------------------------

// The first element of a double array; NaN when the array is empty.
double first_value(const HostArray* a) {
    if (hostArrayNumel(a) == 0) return std::nan("");
    return hostArrayScalar(a);
}

// Truncation toward zero into a 32-bit integer; false when there is none.
bool to_int32(double v, std::int32_t& out) {
    if (!(v > -2147483649.0 && v < 2147483648.0)) return false;  // also NaN
    out = static_cast<std::int32_t>(v);
    return true;
}

// A fixation coordinate: truncated, beyond the 32-bit range saturated.
bool fixation_coordinate(double v, std::int32_t& out) {
    if (std::isnan(v)) return false;
    if (v <= -2147483648.0) {
        out = INT32_MIN;
    } else if (v >= 2147483647.0) {
        out = INT32_MAX;
    } else {
        out = static_cast<std::int32_t>(v);
    }
    return true;
}

// ---- Operations -------------------------------------------------------------

enum class Output : std::uint8_t { None, Image, Rects };

struct Result {
    Output output = Output::None;
    kal::ImageRef image;  // lent by the table until the outputs are made
    kal::MaskRects rects;
};

bool is_2d(const HostArray* a) { return hostArrayNumDims(a) == 2; }

// The image's first dimension against the level's rows, its second against
// the level's columns (the array is 2-D here).
bool has_size(const HostArray* a, const kal::LevelSize& s) {
    const std::size_t* dims = hostArrayDims(a);
    return dims[0] == s.rows && dims[1] == s.cols;
}

const std::uint8_t* bytes_of(const HostArray* a) {
    return static_cast<const std::uint8_t*>(hostArrayData(a));
}

// Pyramid number of an operation on an existing pyramid.
const char* existing_pyramid(const HostArray* a, std::int32_t& n) {
    if (!to_int32(first_value(a), n) || !kal::pyramidExists(n)) return kal::msg::kInvalidN;
    return nullptr;
}

// Level number in 1..L.
const char* level_number(const HostArray* a, std::int32_t n, std::int32_t& level) {
    if (!to_int32(first_value(a), level)) return kal::msg::kNoSuchLevel;
    const std::int64_t levels = kal::levelCount(n);
    if (level < 1 || level > levels) return kal::msg::kNoSuchLevel;
    return nullptr;
}

// The operand checks of each index in their order, then the operation. Returns
// the text of a failed check; the operations throw kal::EngineError.
const char* run_operation(int index, Inputs in, Result& res) {
    std::int32_t n = 0;
    const char* err = nullptr;
    switch (index) {
        case 0: {
            if (!to_int32(first_value(in[0]), n) ||
                static_cast<std::uint32_t>(n) - 1u >= static_cast<std::uint32_t>(kal::kMaxPyramids)) {
                return kal::msg::kInvalidN;
            }
            std::int32_t cols = 0, rows = 0, levels = 0;
            if (!to_int32(first_value(in[1]), cols) || !to_int32(first_value(in[2]), rows) ||
                !to_int32(first_value(in[3]), levels)) {
                return kal::msg::kBadPyramidSize;
            }
            kal::createPyramid(n, cols, rows, levels);
            return nullptr;
        }
        case 1: {
            if ((err = existing_pyramid(in[0], n)) != nullptr) return err;
            if (!is_2d(in[1])) return kal::msg::kNot2DResmap;
            const std::size_t* dims = hostArrayDims(in[1]);
            kal::setResMap(n, dims[0], dims[1], static_cast<const double*>(hostArrayData(in[1])));
            return nullptr;
        }
        case 2:
        case 3: {
            if ((err = existing_pyramid(in[0], n)) != nullptr) return err;
            std::int32_t k = 0;
            if (!to_int32(first_value(in[1]), k)) return kal::msg::kInvalidMask;
            const std::int64_t levels = kal::levelCount(n);
            if (k < 1 || k > levels - 1) return kal::msg::kInvalidMask;
            if (kal::masksEmpty(n)) return kal::msg::kNoResmap;
            if (index == 2) {
                res.rects = kal::getMaskRects(n, k);
                res.output = Output::Rects;
            } else {
                res.image = kal::blendMaskRef(n, k);
                res.output = Output::Image;
            }
            return nullptr;
        }
        case 4: {
            if ((err = existing_pyramid(in[0], n)) != nullptr) return err;
            if (!is_2d(in[1])) return kal::msg::kNot2DImage2;
            if (!has_size(in[1], kal::levelSize(n, 1))) return kal::msg::kWrongSize;
            const std::size_t* dims = hostArrayDims(in[1]);
            kal::setBase(n, dims[0], dims[1], bytes_of(in[1]));
            return nullptr;
        }
        case 5:
            if ((err = existing_pyramid(in[0], n)) != nullptr) return err;
            kal::reduce(n);
            return nullptr;
        case 6:
        case 7: {
            if ((err = existing_pyramid(in[0], n)) != nullptr) return err;
            std::int32_t level = 0;
            if ((err = level_number(in[1], n, level)) != nullptr) return err;
            res.image = index == 6 ? kal::srcLevelRef(n, level) : kal::encLevelRef(n, level);
            res.output = Output::Image;
            return nullptr;
        }
        case 8:
        case 9: {
            if ((err = existing_pyramid(in[0], n)) != nullptr) return err;
            std::int32_t level = 0;
            if ((err = level_number(in[1], n, level)) != nullptr) return err;
            if (!is_2d(in[2])) return kal::msg::kNot2DImage3;
            if (!has_size(in[2], kal::levelSize(n, level))) return kal::msg::kWrongSize;
            const std::size_t* dims = hostArrayDims(in[2]);
            if (index == 8) {
                kal::setSrcLevel(n, level, dims[0], dims[1], bytes_of(in[2]));
            } else {
                kal::setEncLevel(n, level, dims[0], dims[1], bytes_of(in[2]));
            }
            return nullptr;
        }
        case 10: {
            if ((err = existing_pyramid(in[0], n)) != nullptr) return err;
            if (kal::masksEmpty(n)) return kal::msg::kNoResmap;
            std::int32_t col = 0, row = 0;
            if (!fixation_coordinate(first_value(in[1]), col) ||
                !fixation_coordinate(first_value(in[2]), row)) {
                return kInvalidFixation;
            }
            kal::encode(n, col, row);
            return nullptr;
        }
        case 11:
            if ((err = existing_pyramid(in[0], n)) != nullptr) return err;
            res.image = kal::encodedImageRef(n);
            res.output = Output::Image;
            return nullptr;
        default:
            return kInvalidIndex;
    }
}

// ---- Outputs ----------------------------------------------------------------

HostArray* new_array(std::size_t rows, std::size_t cols, HostClass cls, const void* src,
                     std::size_t bytes) {
    HostArray* a = hostArrayCreate(rows, cols, cls);
    if (a != nullptr && bytes > 0) {
        void* dst = hostArrayData(a);
        if (dst == nullptr) return nullptr;
        kal::copyBytes(dst, src, bytes);
    }
    return a;
}

// Creates, fills and confirms the outputs, then places them in the slots.
const char* store_outputs(Result& res, HostArray* plhs[]) {
    if (res.output == Output::Image) {
        const kal::ImageRef& im = res.image;
        HostArray* a = new_array(im.rows, im.cols, HOST_CLASS_UINT8, im.data, im.rows * im.cols);
        if (a == nullptr) return kal::msg::kOutOfMemory;
        if (hostArrayIsUint8(a) == 0) return kOutputMustBeUint8;
        plhs[0] = a;
    } else if (res.output == Output::Rects) {
        const std::vector<double>* cols[4] = {&res.rects.c0, &res.rects.r0, &res.rects.c1,
                                              &res.rects.r1};
        HostArray* out[4] = {};
        for (int i = 0; i < 4; ++i) {
            const std::vector<double>& v = *cols[i];
            out[i] = new_array(v.size(), 1, HOST_CLASS_DOUBLE, v.data(), v.size() * sizeof(double));
            if (out[i] == nullptr) return kal::msg::kOutOfMemory;
            if (hostArrayIsDouble(out[i]) == 0) return kOutputMustBeDouble[i];
            if (hostArrayIsComplex(out[i]) != 0) return kOutputMayNotBeComplex[i];
        }
        for (int i = 0; i < 4; ++i) plhs[i] = out[i];
    }
    return nullptr;
}

// The text handed to hostRaiseError; static so that it outlives a host that
// leaves this frame by a jump.
char g_error_text[256];

const char* keep_text(const char* text) {
    std::strncpy(g_error_text, text, sizeof g_error_text - 1);
    g_error_text[sizeof g_error_text - 1] = '\0';
    return g_error_text;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void mexFunction(int nlhs, HostArray* plhs[],
                                                                   int nrhs,
                                                                   const HostArray* prhs[]) {
    // hostRaiseError does not return; the returns after it only keep a host
    // that breaks that rule from running on into unchecked inputs.
    if (nrhs < 1) {
        hostRaiseError(kIncorrectArgs);
        return;
    }
    const HostArray* first = prhs[0];
    if (hostArrayIsDouble(first) == 0 || hostArrayIsComplex(first) != 0 ||
        hostArrayRows(first) != 1 || hostArrayCols(first) != 1) {
        hostRaiseError(kNotScalarDouble);
        return;
    }
    const double v = hostArrayScalar(first);
    if (!(v > -1.0 && v < 12.0)) {  // also NaN
        hostRaiseError(kInvalidIndex);
        return;
    }
    const int index = static_cast<int>(v);

    Inputs in = prhs + 1;
    const char* err = check_arguments(index, nlhs, nrhs - 1, in);
    if (err != nullptr) {
        hostRaiseError(err);
        return;
    }

    Result res;
    try {
        err = run_operation(index, in, res);
    } catch (const kal::EngineError& e) {
        err = keep_text(e.what());
    } catch (const std::bad_alloc&) {
        err = kal::msg::kOutOfMemory;
    } catch (const std::length_error&) {
        err = kal::msg::kOutOfMemory;
    } catch (const std::exception&) {
        err = kInternalError;
    }
    if (err == nullptr && plhs != nullptr) err = store_outputs(res, plhs);
    if (err != nullptr) hostRaiseError(err);
}
