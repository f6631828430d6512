// The plug-in's entry driven through the real libkalentry.so, loaded by name
// the way the program loads it: every message and the order of the checks,
// the results of the operations on inputs worked out by hand, the handling of
// scalars without an integer value, and the wrappers on the program's side.
//
// The plug-in keeps its pyramids for the whole process, so each test works on
// its own pyramid number and sets up everything it relies on.
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

#include "engine_client/kal.hpp"
#include "engine_client/kalentry.hpp"
#include "toolkit/error.hpp"

using ocu::kal::HostValue;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Pyramid numbers, one per group of tests.
constexpr double kIndexPyr = 2, kMaskPyr = 3, kBasePyr = 4, kLevelPyr = 5, kBigPyr = 6,
                 kSizesPyr = 7, kRectsPyr = 8, kValuePyr = 9, kZeroMapPyr = 10, kEmptyPyr = 11,
                 kReshapePyr = 12, kFixPyr = 13, kCheckPyr = 14;

HostValue S(double v) { return HostValue::scalar(v); }

HostValue U8(std::vector<std::size_t> dims, std::uint8_t fill = 0, bool complex = false) {
    HostValue a(HOST_CLASS_UINT8, std::move(dims), complex);
    for (std::size_t i = 0; i < a.numel(); ++i) a.mutable_bytes()[i] = fill;
    return a;
}

HostValue D(std::vector<std::size_t> dims, double fill = 0, bool complex = false) {
    HostValue a(HOST_CLASS_DOUBLE, std::move(dims), complex);
    for (std::size_t i = 0; i < a.numel(); ++i) a.mutable_doubles()[i] = fill;
    return a;
}

HostValue Z(double v) { return D({1, 1}, v, true); }  // complex scalar

// A level image whose byte (r, c) is (7r + 3c) mod 256.
HostValue pattern(std::size_t rows, std::size_t cols) {
    HostValue a(HOST_CLASS_UINT8, {rows, cols});
    for (std::size_t c = 0; c < cols; ++c)
        for (std::size_t r = 0; r < rows; ++r)
            a.mutable_bytes()[c * rows + r] = static_cast<std::uint8_t>((7 * r + 3 * c) % 256);
    return a;
}

std::vector<HostValue> call(std::vector<HostValue> in, int nout = 0) {
    return ocu::kal::kalentry(in, nout);
}

// The error text of a call through the stub ("" when it succeeds).
std::string err(std::vector<HostValue> in, int nout = 0) {
    try {
        ocu::kal::kalentry(in, nout);
    } catch (const ocu::Error& e) {
        return e.what();
    }
    return "";
}

// A call straight into the entry, for counts the stub does not pass.
std::string direct_err(int nlhs, std::vector<HostValue> in) {
    std::vector<const HostArray*> prhs;
    for (const HostValue& a : in) prhs.push_back(&a);
    HostArray* plhs[4] = {};
    try {
        ocu::kal::kalentry_entry()(nlhs, plhs, static_cast<int>(prhs.size()), prhs.data());
    } catch (const ocu::kal::HostRaised& e) {
        return e.text();
    }
    return "";
}

// Shapes pyramid n (columns first, as at the interface).
void create(double n, double cols, double rows, double levels) {
    call({S(0), S(n), S(cols), S(rows), S(levels)});
}

// Leaves pyramid n shaped as given, with no blending masks: a map set under
// one level builds none, and re-shaping keeps the (empty) mask list.
void create_without_masks(double n, double cols, double rows, double levels) {
    create(n, 4, 4, 1);
    call({S(1), S(n), D({2, 2}, 1.0)});
    create(n, cols, rows, levels);
}

const std::string kInvalidN = "Invalid value for 'n'";
const std::string kNoLevels = "The pyramid does not have this many levels";
const std::string kBadMask = "Invalid blending mask index";
const std::string kNoResmap = "The resmap for this image has not yet been set";
const std::string kWrongSize = "The input image is not the correct size";
const std::string kBadSize = "The pyramid size is not valid";

// Inputs after the index that pass every class test, per index 0..11.
std::vector<HostValue> valid_inputs(int index, double n) {
    switch (index) {
        case 0: return {S(n), S(8), S(8), S(2)};
        case 1: return {S(n), D({4, 4}, 1.0)};
        case 4: return {S(n), U8({8, 8})};
        case 5:
        case 11: return {S(n)};
        case 8:
        case 9: return {S(n), S(1), U8({8, 8})};
        case 10: return {S(n), S(1), S(1)};
        default: return {S(n), S(1)};
    }
}

std::vector<HostValue> with_index(double index, std::vector<HostValue> rest) {
    rest.insert(rest.begin(), S(index));
    return rest;
}

const int kRequiredInputs[12] = {4, 2, 2, 2, 2, 1, 2, 2, 3, 3, 3, 1};

}  // namespace

// ---- The entry's own checks ----------------------------------------------------

TEST(EntryChecks, NoInputAtAll) {
    EXPECT_EQ(err({}), "Incorrect number of arguments.\n");
    EXPECT_EQ(err({}, 1), "Incorrect number of arguments.\n");
}

TEST(EntryChecks, FunctionIndexMustBeANoncomplexScalarDouble) {
    const std::string msg = "Input must be a noncomplex scalar double.\n";
    EXPECT_EQ(err({D({1, 2}, 5)}), msg);
    EXPECT_EQ(err({D({2, 1}, 5)}), msg);
    EXPECT_EQ(err({U8({1, 1}, 5), S(1)}), msg);
    EXPECT_EQ(err({Z(5), S(1)}), msg);
    EXPECT_EQ(err({D({0, 0})}), msg);
    EXPECT_EQ(err({D({1, 1, 2}, 5)}), msg);  // 1 row, but 2 columns across dimensions 2..3
}

TEST(EntryChecks, FunctionIndexOutOfRange) {
    const std::string msg = "Invalid function index.\n";
    for (double v : {12.0, -1.0, 12.5, -1.5, 1e300, -1e300, kNaN, kInf, -kInf}) {
        EXPECT_EQ(err({S(v), S(1)}), msg) << v;
    }
}

TEST(EntryChecks, FunctionIndexIsTruncatedTowardZero) {
    create(kIndexPyr, 6, 4, 2);
    // 11.7 selects getencodedimage: a 4 x 6 uint8 image.
    const auto out = call({S(11.7), S(kIndexPyr)}, 1);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_TRUE(out[0].is_uint8());
    EXPECT_EQ(out[0].rows(), 4u);
    EXPECT_EQ(out[0].cols(), 6u);
    // -0.2 and -0.99 select createpyramid.
    call({S(-0.2), S(kIndexPyr), S(10), S(8), S(1)});
    EXPECT_EQ(call({S(6), S(kIndexPyr), S(1)}, 1).at(0).dims(), (std::vector<std::size_t>{8, 10}));
    call({S(-0.99), S(kIndexPyr), S(3), S(5), S(1)});
    EXPECT_EQ(call({S(6), S(kIndexPyr), S(1)}, 1).at(0).dims(), (std::vector<std::size_t>{5, 3}));
    // 5.9 is reduce, which takes one input (6 would take two).
    EXPECT_EQ(err({S(5.9)}), "This function requires 1 arguments.");
}

// ---- Argument checkers ---------------------------------------------------------

TEST(ArgumentChecks, InputCountOfEveryIndex) {
    for (int index = 0; index < 12; ++index) {
        const int need = kRequiredInputs[index];
        const std::string msg = "This function requires " + std::to_string(need) + " arguments.";
        const int nout = index == 2 ? 4 : 0;
        std::vector<HostValue> more(static_cast<std::size_t>(need + 1), S(1));
        EXPECT_EQ(err(with_index(index, more), nout), msg) << index;
        std::vector<HostValue> fewer(static_cast<std::size_t>(need - 1), S(1));
        EXPECT_EQ(err(with_index(index, fewer), nout), msg) << index;
    }
}

TEST(ArgumentChecks, InputCountComesBeforeAnyOtherTest) {
    // Wrong classes and a wrong output count do not matter yet.
    EXPECT_EQ(err({S(5), U8({1, 1}), Z(1)}), "This function requires 1 arguments.");
    EXPECT_EQ(err({S(5), U8({1, 1}), Z(1)}, 3), "This function requires 1 arguments.");
    EXPECT_EQ(err({S(2), S(1)}, 1), "This function requires 2 arguments.");
}

TEST(ArgumentChecks, OutputCountOfEveryIndex) {
    for (int nout : {0, 1, 3, 5}) {
        EXPECT_EQ(err(with_index(2, valid_inputs(2, kCheckPyr)), nout),
                  "This function requires 4 return values.")
            << nout;
    }
    for (int index = 0; index < 12; ++index) {
        if (index == 2) continue;
        EXPECT_EQ(err(with_index(index, valid_inputs(index, kCheckPyr)), 2),
                  "Too many return values were specified.")
            << index;
        EXPECT_EQ(err(with_index(index, valid_inputs(index, kCheckPyr)), 4),
                  "Too many return values were specified.")
            << index;
    }
    EXPECT_EQ(direct_err(-1, {S(5), S(kCheckPyr)}), "Too many return values were specified.");
    EXPECT_EQ(direct_err(-1, {S(2), S(kCheckPyr), S(1)}), "This function requires 4 return values.");
}

TEST(ArgumentChecks, OutputCountComesBeforeTheClasses) {
    EXPECT_EQ(err({S(6), U8({1, 1}), Z(1)}, 2), "Too many return values were specified.");
    EXPECT_EQ(err({S(2), U8({1, 1}), Z(1)}, 1), "This function requires 4 return values.");
}

TEST(ArgumentChecks, OperationsWithoutOutputsAcceptOneRequestedOutput) {
    const auto out = call({S(0), S(kCheckPyr), S(8), S(8), S(2)}, 1);
    EXPECT_TRUE(out.empty());
}

TEST(ArgumentChecks, DoubleInputsClassThenComplexityInOrder) {
    EXPECT_EQ(err({S(0), U8({1, 1}), Z(1), U8({1, 1}), S(1)}), "Input 1 must be double.");
    EXPECT_EQ(err({S(0), Z(1), U8({1, 1}), S(1), S(1)}), "Input 1 may not be complex.");
    EXPECT_EQ(err({S(0), S(1), U8({1, 1}), Z(1), S(1)}), "Input 2 must be double.");
    EXPECT_EQ(err({S(0), S(1), Z(8), U8({1, 1}), S(1)}), "Input 2 may not be complex.");
    EXPECT_EQ(err({S(0), S(1), S(8), U8({1, 1}), Z(1)}), "Input 3 must be double.");
    EXPECT_EQ(err({S(0), S(1), S(8), Z(8), U8({1, 1})}), "Input 3 may not be complex.");
    EXPECT_EQ(err({S(0), S(1), S(8), S(8), U8({1, 1})}), "Input 4 must be double.");
    EXPECT_EQ(err({S(0), S(1), S(8), S(8), Z(2)}), "Input 4 may not be complex.");
    EXPECT_EQ(err({S(1), S(1), U8({4, 4})}), "Input 2 must be double.");
    EXPECT_EQ(err({S(1), S(1), D({4, 4}, 1.0, true)}), "Input 2 may not be complex.");
    EXPECT_EQ(err({S(10), S(1), S(1), Z(1)}), "Input 3 may not be complex.");
    EXPECT_EQ(err({S(3), S(1), U8({1, 1})}), "Input 2 must be double.");
    // An input that is both of the wrong class and complex fails the class test.
    EXPECT_EQ(err({S(5), U8({1, 1}, 1, true)}), "Input 1 must be double.");
    EXPECT_EQ(err({S(10), S(1), S(1), U8({1, 1}, 1, true)}), "Input 3 must be double.");
}

TEST(ArgumentChecks, ImageInputsMustBeUint8) {
    EXPECT_EQ(err({S(4), S(1), D({8, 8})}), "Input 2 must be uint8.");
    EXPECT_EQ(err({S(8), S(1), S(1), D({8, 8})}), "Input 3 must be uint8.");
    EXPECT_EQ(err({S(9), S(1), S(1), D({8, 8})}), "Input 3 must be uint8.");
    // The pyramid number is still tested first.
    EXPECT_EQ(err({S(8), U8({1, 1}), S(1), D({8, 8})}), "Input 1 must be double.");
}

TEST(ArgumentChecks, ComplexityOfImagesIsNotTested) {
    create(kCheckPyr, 8, 6, 2);
    EXPECT_EQ(err({S(4), S(kCheckPyr), U8({6, 8}, 9, true)}), "");
    EXPECT_EQ(call({S(6), S(kCheckPyr), S(1)}, 1).at(0).bytes()[47], 9);
}

TEST(ArgumentChecks, ClassesComeBeforeTheOperationsChecks) {
    EXPECT_EQ(err({S(5), U8({1, 1}, 99)}), "Input 1 must be double.");
    EXPECT_EQ(err({S(6), S(99), U8({1, 1})}, 1), "Input 2 must be double.");
}

// ---- Operation checks ------------------------------------------------------------

TEST(OperationChecks, PyramidNumberOfCreatePyramidIsOneToSixteen) {
    for (double n : {0.0, 17.0, -1.0, -2147483648.0, 0.9}) {
        EXPECT_EQ(err({S(0), S(n), S(4), S(4), S(1)}), kInvalidN) << n;
    }
    EXPECT_EQ(err({S(0), S(16.9), S(4), S(4), S(1)}), "");
}

TEST(OperationChecks, PyramidNumberOfEveryOtherIndexIsOneToT) {
    // The table never holds more than 16 pyramids, so 17 is never one.
    for (int index = 1; index < 12; ++index) {
        const int nout = index == 2 ? 4 : (index == 3 || index == 6 || index == 7 || index == 11);
        for (double n : {17.0, 0.0, -1.0}) {
            EXPECT_EQ(err(with_index(index, valid_inputs(index, n)), nout), kInvalidN)
                << index << " n=" << n;
        }
    }
}

TEST(OperationChecks, ResolutionMapMustBeTwoDimensional) {
    create(kCheckPyr, 8, 8, 2);
    EXPECT_EQ(err({S(1), S(kCheckPyr), D({4, 4, 2}, 1.0)}), "Input 2 must be a 2D resmap");
    EXPECT_EQ(err({S(1), S(17), D({4, 4, 2}, 1.0)}), kInvalidN);
}

TEST(OperationChecks, MaskNumberThenResolutionMap) {
    create_without_masks(kMaskPyr, 16, 16, 3);
    EXPECT_EQ(err({S(3), S(kMaskPyr), S(0)}, 1), kBadMask);
    EXPECT_EQ(err({S(3), S(kMaskPyr), S(3)}, 1), kBadMask);  // masks 1..L-1
    EXPECT_EQ(err({S(2), S(kMaskPyr), S(-1)}, 4), kBadMask);
    EXPECT_EQ(err({S(3), S(kMaskPyr), S(1)}, 1), kNoResmap);
    EXPECT_EQ(err({S(2), S(kMaskPyr), S(2)}, 4), kNoResmap);
    call({S(1), S(kMaskPyr), D({8, 8}, 1.0)});
    EXPECT_EQ(err({S(3), S(kMaskPyr), S(2)}, 1), "");
    EXPECT_EQ(err({S(3), S(kMaskPyr), S(3)}, 1), kBadMask);
}

TEST(OperationChecks, SetBaseImageMustBeTwoDimensionalAndOfLevelOnesSize) {
    create(kBasePyr, 8, 6, 3);  // 6 rows x 8 columns
    EXPECT_EQ(err({S(4), S(kBasePyr), U8({6, 8, 3})}), "Input 2 must be a 2D image");
    EXPECT_EQ(err({S(4), S(kBasePyr), U8({8, 6})}), kWrongSize);  // transposed
    EXPECT_EQ(err({S(4), S(kBasePyr), U8({6, 7})}), kWrongSize);
    EXPECT_EQ(err({S(4), S(kBasePyr), U8({5, 8})}), kWrongSize);
    EXPECT_EQ(err({S(4), S(17), U8({6, 8, 3})}), kInvalidN);
    EXPECT_EQ(err({S(4), S(kBasePyr), U8({6, 8})}), "");
}

TEST(OperationChecks, LevelNumbersAreOneToL) {
    create(kLevelPyr, 16, 8, 3);
    for (int index : {6, 7}) {
        for (double level : {0.0, 4.0, -1.0}) {
            EXPECT_EQ(err({S(index), S(kLevelPyr), S(level)}, 1), kNoLevels) << index << " " << level;
        }
        EXPECT_EQ(err({S(index), S(kLevelPyr), S(3.9)}, 1), "");
    }
    for (int index : {8, 9}) {
        EXPECT_EQ(err({S(index), S(kLevelPyr), S(4), U8({2, 4, 2})}), kNoLevels);
        EXPECT_EQ(err({S(index), S(kLevelPyr), S(3), U8({2, 4, 2})}), "Input 3 must be a 2D image");
        EXPECT_EQ(err({S(index), S(kLevelPyr), S(3), U8({4, 2})}), kWrongSize);
        EXPECT_EQ(err({S(index), S(kLevelPyr), S(2), U8({2, 4})}), kWrongSize);
        EXPECT_EQ(err({S(index), S(kLevelPyr), S(3), U8({2, 4})}), "");
    }
}

TEST(OperationChecks, EncodeBeforeAnyResolutionMap) {
    create_without_masks(kFixPyr, 16, 16, 3);
    EXPECT_EQ(err({S(10), S(kFixPyr), S(5), S(5)}), kNoResmap);
    EXPECT_EQ(err({S(10), S(17), S(5), S(5)}), kInvalidN);
}

// ---- Results ---------------------------------------------------------------------

TEST(Results, CoarsestLevelOfA480By640PyramidIs15By20) {
    create(kBigPyr, 640, 480, 6);
    call({S(4), S(kBigPyr), U8({480, 640}, 100)});
    call({S(5), S(kBigPyr)});
    const auto out = call({S(6), S(kBigPyr), S(6)}, 1);
    ASSERT_EQ(out.size(), 1u);
    ASSERT_TRUE(out[0].is_uint8());
    ASSERT_EQ(out[0].dims(), (std::vector<std::size_t>{15, 20}));
    // A uniform image reduces to the same value: (16 * 100 + 8) >> 4 = 100.
    for (std::size_t i = 0; i < 300; ++i) ASSERT_EQ(out[0].bytes()[i], 100) << i;
}

TEST(Results, LevelSizesHalveWithTruncation) {
    create(kSizesPyr, 60, 100, 5);  // 100 rows x 60 columns
    const std::vector<std::vector<std::size_t>> sizes = {
        {100, 60}, {50, 30}, {25, 15}, {12, 7}, {6, 3}};
    for (std::size_t k = 0; k < sizes.size(); ++k) {
        EXPECT_EQ(call({S(6), S(kSizesPyr), S(k + 1.0)}, 1).at(0).dims(), sizes[k]);
        EXPECT_EQ(call({S(7), S(kSizesPyr), S(k + 1.0)}, 1).at(0).dims(), sizes[k]);
    }
}

TEST(Results, LevelsAreCopiedByteForByteInElementOrder) {
    create(kSizesPyr, 60, 100, 5);
    const HostValue base = pattern(100, 60);
    call({S(4), S(kSizesPyr), base});
    const HostValue src3 = pattern(25, 15);
    const HostValue enc2 = pattern(50, 30);
    call({S(8), S(kSizesPyr), S(3), src3});
    call({S(9), S(kSizesPyr), S(2), enc2});
    EXPECT_EQ(call({S(6), S(kSizesPyr), S(1)}, 1).at(0).to_array_u8(), base.to_array_u8());
    EXPECT_EQ(call({S(6), S(kSizesPyr), S(3)}, 1).at(0).to_array_u8(), src3.to_array_u8());
    EXPECT_EQ(call({S(7), S(kSizesPyr), S(2)}, 1).at(0).to_array_u8(), enc2.to_array_u8());
    // A new shape of the same size keeps the bytes.
    create(kSizesPyr, 60, 100, 5);
    EXPECT_EQ(call({S(6), S(kSizesPyr), S(3)}, 1).at(0).to_array_u8(), src3.to_array_u8());
}

// Levels of a megabyte and more are copied in and out in ranges over the
// cores: every byte lands in its place (a pattern with no period the ranges
// could hide behind).
TEST(Results, LargeLevelsAreCopiedWhole) {
    const std::size_t rows = 1000, cols = 1203;
    create(kSizesPyr, static_cast<double>(cols), static_cast<double>(rows), 2);
    HostValue base(HOST_CLASS_UINT8, {rows, cols});
    for (std::size_t i = 0; i < rows * cols; ++i)
        base.mutable_bytes()[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 13);
    call({S(4), S(kSizesPyr), base});
    EXPECT_EQ(call({S(6), S(kSizesPyr), S(1)}, 1).at(0).to_array_u8(), base.to_array_u8());
}

TEST(Results, MaskRectanglesAreFourDoubleColumns) {
    create(kRectsPyr, 35, 20, 2);
    call({S(1), S(kRectsPyr), D({40, 70}, 1.0)});
    const auto out = call({S(2), S(kRectsPyr), S(1)}, 4);
    ASSERT_EQ(out.size(), 4u);
    // Bands of 32 columns over a fully non-zero 40 x 70 mask: (r0, c0, r1, c1) =
    // (0, 0, 40, 32), (0, 32, 40, 64), (0, 64, 40, 70); outputs c0, r0, c1, r1.
    const std::vector<std::vector<double>> want = {{0, 32, 64}, {0, 0, 0}, {32, 64, 70}, {40, 40, 40}};
    for (std::size_t i = 0; i < 4; ++i) {
        ASSERT_TRUE(out[i].is_double());
        EXPECT_FALSE(out[i].is_complex());
        ASSERT_EQ(out[i].dims(), (std::vector<std::size_t>{3, 1}));
        EXPECT_EQ(std::vector<double>(out[i].doubles(), out[i].doubles() + 3), want[i]) << i;
    }
    const auto mask = call({S(3), S(kRectsPyr), S(1)}, 1);
    ASSERT_EQ(mask.at(0).dims(), (std::vector<std::size_t>{40, 70}));
    for (std::size_t i = 0; i < 2800; ++i) ASSERT_EQ(mask[0].bytes()[i], 255);
}

TEST(Results, MaskWeightOfHalfResolution) {
    // v = 0.5 lies between t1 and t0: mask 1 (between levels 1 and 2) holds 64.
    create(kValuePyr, 8, 8, 3);
    call({S(1), S(kValuePyr), D({1, 1}, 0.5)});
    const auto m1 = call({S(3), S(kValuePyr), S(1)}, 1);
    ASSERT_EQ(m1.at(0).dims(), (std::vector<std::size_t>{1, 1}));
    EXPECT_EQ(m1[0].bytes()[0], 64);
    EXPECT_EQ(call({S(3), S(kValuePyr), S(2)}, 1).at(0).bytes()[0], 255);
}

TEST(Results, AllZeroMapGivesEmptyMasksAndNoRectangles) {
    create(kZeroMapPyr, 8, 8, 3);
    call({S(1), S(kZeroMapPyr), D({6, 5}, 0.0)});
    const auto mask = call({S(3), S(kZeroMapPyr), S(2)}, 1);
    ASSERT_TRUE(mask.at(0).is_uint8());
    EXPECT_EQ(mask[0].dims(), (std::vector<std::size_t>{0, 0}));
    const auto rects = call({S(2), S(kZeroMapPyr), S(1)}, 4);
    ASSERT_EQ(rects.size(), 4u);
    for (const HostValue& r : rects) {
        EXPECT_TRUE(r.is_double());
        EXPECT_EQ(r.numel(), 0u);
    }
}

// ---- Inputs the table leaves open ------------------------------------------------

TEST(OpenCases, PyramidNumbersWithoutAnIntegerValue) {
    for (double n : {kNaN, kInf, -kInf, 1e10, -1e10, 4294967297.0}) {
        EXPECT_EQ(err({S(5), S(n)}), kInvalidN) << n;
        EXPECT_EQ(err({S(0), S(n), S(4), S(4), S(1)}), kInvalidN) << n;
        EXPECT_EQ(err({S(11), S(n)}, 1), kInvalidN) << n;
    }
    EXPECT_EQ(err({S(5), D({0, 0})}), kInvalidN);
    EXPECT_EQ(err({S(0), D({1, 0}), S(4), S(4), S(1)}), kInvalidN);
}

TEST(OpenCases, PyramidSizesWithoutAnIntegerValueOrTooLarge) {
    for (double v : {kNaN, kInf, -kInf, 1e10, -1.0}) {
        EXPECT_EQ(err({S(0), S(kCheckPyr), S(v), S(4), S(2)}), kBadSize) << v;
        EXPECT_EQ(err({S(0), S(kCheckPyr), S(4), S(v), S(2)}), kBadSize) << v;
        EXPECT_EQ(err({S(0), S(kCheckPyr), S(4), S(4), S(v)}), kBadSize) << v;
    }
    EXPECT_EQ(err({S(0), S(kCheckPyr), D({0, 0}), S(4), S(2)}), kBadSize);
    EXPECT_EQ(err({S(0), S(kCheckPyr), S(100000), S(100000), S(2)}), kBadSize);
    EXPECT_EQ(err({S(0), S(kCheckPyr), S(4), S(4), S(33)}), kBadSize);
    // The pyramid number is tested before the sizes.
    EXPECT_EQ(err({S(0), S(17), S(kNaN), S(4), S(2)}), kInvalidN);
}

TEST(OpenCases, MaskAndLevelNumbersWithoutAnIntegerValue) {
    create(kMaskPyr, 16, 16, 3);
    call({S(1), S(kMaskPyr), D({8, 8}, 1.0)});
    for (double v : {kNaN, kInf, 1e12, -1e12}) {
        EXPECT_EQ(err({S(3), S(kMaskPyr), S(v)}, 1), kBadMask) << v;
        EXPECT_EQ(err({S(6), S(kMaskPyr), S(v)}, 1), kNoLevels) << v;
        EXPECT_EQ(err({S(9), S(kMaskPyr), S(v), U8({16, 16})}), kNoLevels) << v;
    }
    EXPECT_EQ(err({S(3), S(kMaskPyr), D({0, 1})}, 1), kBadMask);
    EXPECT_EQ(err({S(7), S(kMaskPyr), D({0, 0})}, 1), kNoLevels);
}

TEST(OpenCases, PyramidWithoutLevels) {
    create_without_masks(kEmptyPyr, 8, 8, 0);
    EXPECT_EQ(err({S(4), S(kEmptyPyr), U8({8, 8})}), kNoLevels);
    EXPECT_EQ(err({S(6), S(kEmptyPyr), S(1)}, 1), kNoLevels);
    EXPECT_EQ(err({S(8), S(kEmptyPyr), S(1), U8({8, 8})}), kNoLevels);
    EXPECT_EQ(err({S(11), S(kEmptyPyr)}, 1), kNoLevels);
    EXPECT_EQ(err({S(3), S(kEmptyPyr), S(1)}, 1), kBadMask);
    EXPECT_EQ(err({S(10), S(kEmptyPyr), S(1), S(1)}), kNoResmap);
    EXPECT_EQ(err({S(5), S(kEmptyPyr)}), "");  // nothing to reduce
}

TEST(OpenCases, MoreLevelsThanTheMasksWereBuiltFor) {
    create(kReshapePyr, 16, 16, 2);
    call({S(1), S(kReshapePyr), D({32, 32}, 1.0)});  // one mask
    create(kReshapePyr, 16, 16, 4);
    EXPECT_EQ(err({S(3), S(kReshapePyr), S(1)}, 1), "");
    EXPECT_EQ(err({S(3), S(kReshapePyr), S(2)}, 1), kBadMask);
    EXPECT_EQ(err({S(2), S(kReshapePyr), S(3)}, 4), kBadMask);
    EXPECT_EQ(err({S(10), S(kReshapePyr), S(8), S(8)}), kNoResmap);
}

TEST(OpenCases, FixationWithoutAValueOrBeyondTheIntegers) {
    // 8 x 16 image of 200, coarsest level (2 x 4) replaced by 0. The 16 x 32 map
    // is 1 left of its centre column and 0 from it on, so a rendering keeps the
    // source exactly left of the fixation column and is 0 from it on at level 1
    // (expansions of 0 only).
    create(kFixPyr, 16, 8, 3);
    HostValue map = D({16, 32}, 0.0);
    for (std::size_t i = 0; i < 16 * 16; ++i) map.mutable_doubles()[i] = 1.0;
    call({S(1), S(kFixPyr), map});
    call({S(4), S(kFixPyr), U8({8, 16}, 200)});
    call({S(5), S(kFixPyr)});
    call({S(8), S(kFixPyr), S(3), U8({2, 4}, 0)});
    EXPECT_EQ(err({S(10), S(kFixPyr), S(kNaN), S(4)}), "Invalid fixation point");
    EXPECT_EQ(err({S(10), S(kFixPyr), S(4), S(kNaN)}), "Invalid fixation point");
    EXPECT_EQ(err({S(10), S(kFixPyr), S(4), D({0, 0})}), "Invalid fixation point");
    // Far right is the last column (15): columns 0..14 keep the source. Far
    // left is column 0: nothing keeps the source.
    for (double x : {kInf, 1e12, 2147483648.0, -kInf, -1e12, -2147483649.0}) {
        call({S(9), S(kFixPyr), S(1), U8({8, 16}, 77)});  // clear the rendered level
        EXPECT_EQ(err({S(10), S(kFixPyr), S(x), S(-x)}), "") << x;
        const ocu::ArrayU8 out = call({S(11), S(kFixPyr)}, 1).at(0).to_array_u8();
        for (std::size_t c = 0; c < 15; ++c)
            for (std::size_t r = 0; r < 8; ++r)
                ASSERT_EQ(out(r, c), x > 0 ? 200 : 0) << x << " at " << r << "," << c;
    }
}

// ---- The wrappers against the real plug-in ---------------------------------------

namespace {
ocu::ArrayU8 uniform(std::size_t rows, std::size_t cols, std::uint8_t v) {
    return ocu::ArrayU8(rows, cols, 1, v);
}
}  // namespace

TEST(Wrappers, LevelBeyondTheSixLevels) {
    ocu::kal::kalcreatepyramid(1, 64, 48, 6);
    EXPECT_EQ(ocu::kal::kalgetsrcimage(1, 6).rows(), 1u);  // 48 >> 5
    try {
        ocu::kal::kalgetsrcimage(1, 7);
        ADD_FAILURE() << "no error";
    } catch (const ocu::Error& e) {
        EXPECT_STREQ(e.what(), "The pyramid does not have this many levels");
    }
}

TEST(Wrappers, EncodeBeforeAnySetResMap) {
    ocu::kal::kalcreatepyramid(1, 4, 4, 1);
    ocu::kal::kalsetresmap(1, ocu::ArrayD(8, 8, 1, 1.0));  // one level: no masks
    ocu::kal::kalcreatepyramid(1, 64, 48, 4);
    ocu::kal::kalsetbase(1, uniform(48, 64, 7));
    ocu::kal::kalreduce(1);
    try {
        ocu::kal::kalencode(1, 10, 10);
        ADD_FAILURE() << "no error";
    } catch (const ocu::Error& e) {
        EXPECT_STREQ(e.what(), "The resmap for this image has not yet been set");
    }
}

TEST(Wrappers, ImagesOfThreePlanesAreRefusedByThePlugIn) {
    ocu::kal::kalcreatepyramid(1, 8, 8, 2);
    try {
        ocu::kal::kalsetbase(1, ocu::ArrayU8(8, 8, 3));
        ADD_FAILURE() << "no error";
    } catch (const ocu::Error& e) {
        EXPECT_STREQ(e.what(), "Input 2 must be a 2D image");
    }
}

// The program's sequence: masks from a map under six levels, then an image of
// H x W with N = 4 levels, its coarsest level replaced by uniform grey 64, and
// two renderings at different fixations without a new map.
//
// The map (2H x 2W, centred on the fixation) is 1 left of its centre column and
// 0 from it on. So every mask is 255 left of the fixation column and 0 from it
// on: rendered pixels left of the fixation are the source (100) exactly, and
// pixels well right of it come from expanding the uniform 64 alone. The margin
// of 64 columns is more than the reach of three expansions.
TEST(Wrappers, TwoRenderingsWithoutANewResolutionMap) {
    constexpr std::size_t H = 64, W = 256, N = 4;
    ocu::ArrayD map(2 * H, 2 * W);
    for (std::size_t c = 0; c < W; ++c)
        for (std::size_t r = 0; r < 2 * H; ++r) map(r, c) = 1.0;
    ocu::kal::kalcreatepyramid(1, static_cast<double>(2 * H) / 2, static_cast<double>(2 * W) / 2, 6);
    ocu::kal::kalsetbase(1, uniform(W, H, 255));
    ocu::kal::kalreduce(1);
    ocu::kal::kalsetresmap(1, map);

    ocu::kal::kalcreatepyramid(1, W, H, N);
    ocu::kal::kalsetbase(1, uniform(H, W, 100));
    ocu::kal::kalreduce(1);
    const ocu::ArrayU8 coarsest = ocu::kal::kalgetsrcimage(1, N);
    ASSERT_EQ(coarsest.rows(), H >> 3);
    ASSERT_EQ(coarsest.cols(), W >> 3);
    EXPECT_EQ(coarsest, uniform(H >> 3, W >> 3, 100));
    ocu::kal::kalsetsrcimage(1, N, uniform(H >> 3, W >> 3, 64));

    for (std::size_t fix : {std::size_t{80}, std::size_t{170}}) {
        ocu::kal::kalencode(1, static_cast<double>(fix), 32);
        const ocu::ArrayU8 out = ocu::kal::kalgetencodedimage(1);
        ASSERT_EQ(out.rows(), H);
        ASSERT_EQ(out.cols(), W);
        for (std::size_t c = 0; c < W; ++c) {
            for (std::size_t r = 0; r < H; ++r) {
                if (c < fix) {
                    ASSERT_EQ(out(r, c), 100) << "fixation " << fix << " at " << r << "," << c;
                } else if (c >= fix + 64) {
                    ASSERT_EQ(out(r, c), 64) << "fixation " << fix << " at " << r << "," << c;
                }
            }
        }
    }
}
