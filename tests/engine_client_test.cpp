// The program's side of the plug-in boundary without the real plug-in: the
// host array interface, the call through an entry (with stand-in plug-ins
// written here), the wrappers' own checks and the binding's failures.
#include <dlfcn.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "engine_client/kal.hpp"
#include "engine_client/kalentry.hpp"
#include "testutil.hpp"
#include "toolkit/error.hpp"
#include "toolkit/paths.hpp"

using ocu::kal::HostValue;

namespace {

using ocu::testutil::error_of;

std::string raised_text(const char* text) {
    try {
        hostRaiseError(text);
    } catch (const ocu::kal::HostRaised& e) {
        return e.text();
    }
    return "<returned>";
}

}  // namespace

// ---- The array type and the C interface ------------------------------------

TEST(HostArrayShape, TrailingSingletonDimensionsAreDropped) {
    const HostValue a(HOST_CLASS_DOUBLE, {4, 5, 1, 1});
    EXPECT_EQ(hostArrayNumDims(&a), 2u);
    EXPECT_EQ(hostArrayRows(&a), 4u);
    EXPECT_EQ(hostArrayCols(&a), 5u);
    EXPECT_EQ(hostArrayNumel(&a), 20u);

    const HostValue b(HOST_CLASS_UINT8, {4, 5, 3});
    ASSERT_EQ(hostArrayNumDims(&b), 3u);
    EXPECT_EQ(hostArrayDims(&b)[2], 3u);
    EXPECT_EQ(hostArrayCols(&b), 15u);  // product of dimensions 2..n
    EXPECT_EQ(hostArrayNumel(&b), 60u);

    const HostValue c(HOST_CLASS_DOUBLE, {7});  // a single extent is a column
    EXPECT_EQ(hostArrayNumDims(&c), 2u);
    EXPECT_EQ(hostArrayRows(&c), 7u);
    EXPECT_EQ(hostArrayCols(&c), 1u);

    const HostValue d(HOST_CLASS_DOUBLE, {1, 1, 2});  // a singleton inside stays
    EXPECT_EQ(hostArrayNumDims(&d), 3u);
    EXPECT_EQ(hostArrayRows(&d), 1u);
    EXPECT_EQ(hostArrayCols(&d), 2u);
}

TEST(HostArrayShape, ClassAndComplexity) {
    const HostValue a(HOST_CLASS_UINT8, {2, 2}, true);
    EXPECT_EQ(hostArrayIsUint8(&a), 1);
    EXPECT_EQ(hostArrayIsDouble(&a), 0);
    EXPECT_EQ(hostArrayIsComplex(&a), 1);
    const HostValue s = HostValue::scalar(2.5);
    EXPECT_EQ(hostArrayIsDouble(&s), 1);
    EXPECT_EQ(hostArrayIsUint8(&s), 0);
    EXPECT_EQ(hostArrayIsComplex(&s), 0);
    EXPECT_EQ(hostArrayScalar(&s), 2.5);
}

TEST(HostArrayShape, EmptyArraysHaveNoDataAndANaNScalar) {
    const HostValue a(HOST_CLASS_DOUBLE, {0, 5});
    EXPECT_EQ(hostArrayNumel(&a), 0u);
    EXPECT_EQ(hostArrayCols(&a), 5u);
    EXPECT_EQ(hostArrayData(&a), nullptr);
    EXPECT_TRUE(std::isnan(hostArrayScalar(&a)));
    const HostValue b(HOST_CLASS_UINT8, {3, 0, 2});
    EXPECT_EQ(hostArrayNumel(&b), 0u);
    EXPECT_EQ(hostArrayCols(&b), 0u);
    EXPECT_TRUE(std::isnan(hostArrayScalar(&b)));
}

TEST(HostArrayShape, ScalarOfAUint8ArrayIsItsFirstByte) {
    ocu::ArrayU8 im(2, 2);
    im(0, 0) = 7;
    im(1, 1) = 200;
    const HostValue a = HostValue::copy_of(im);
    EXPECT_EQ(hostArrayScalar(&a), 7.0);
    const auto* p = static_cast<const std::uint8_t*>(hostArrayData(&a));
    EXPECT_EQ(p[3], 200);  // (1, 1) of a 2-row array is element 1*2 + 1
}

TEST(HostArrayShape, TooManyElementsAreRefused) {
    EXPECT_THROW(HostValue(HOST_CLASS_DOUBLE, {std::size_t{1} << 20, std::size_t{1} << 20}),
                 ocu::Error);
    EXPECT_THROW(HostValue(HOST_CLASS_UINT8, {SIZE_MAX, 3}), ocu::Error);
    // A zero extent makes any other extent harmless.
    EXPECT_NO_THROW(HostValue(HOST_CLASS_UINT8, {SIZE_MAX, 0}));
}

TEST(HostArrayConversion, CopiesAndBorrowsKeepElementOrder) {
    ocu::ArrayU8 im(2, 3, 2);
    for (std::size_t i = 0; i < im.numel(); ++i) im[i] = static_cast<std::uint8_t>(10 + i);
    const HostValue copy = HostValue::copy_of(im);
    const HostValue lent = HostValue::borrow(im);
    EXPECT_EQ(copy.ndims(), 3u);
    EXPECT_NE(hostArrayData(&copy), static_cast<const void*>(im.data()));
    EXPECT_EQ(hostArrayData(&lent), static_cast<const void*>(im.data()));
    EXPECT_EQ(copy.to_array_u8(), im);
    EXPECT_EQ(lent.to_array_u8(), im);

    ocu::ArrayD m(3, 1);
    m[0] = -1.0;
    m[1] = 0.5;
    m[2] = 2.0;
    EXPECT_EQ(HostValue::copy_of(m).to_array_d(), m);
}

TEST(HostArrayConversion, WrongClassComplexOrFourDimensionsIsAnError) {
    const HostValue u(HOST_CLASS_UINT8, {2, 2});
    EXPECT_THROW(u.to_array_d(), ocu::Error);
    const HostValue d(HOST_CLASS_DOUBLE, {2, 2});
    EXPECT_THROW(d.to_array_u8(), ocu::Error);
    const HostValue z(HOST_CLASS_UINT8, {2, 2}, true);
    EXPECT_THROW(z.to_array_u8(), ocu::Error);
    const HostValue four(HOST_CLASS_UINT8, {2, 2, 2, 2});
    EXPECT_THROW(four.to_array_u8(), ocu::Error);
}

TEST(HostArrayConversion, WritingABorrowedArrayCopiesItFirst) {
    ocu::ArrayU8 im(1, 2, 1, std::uint8_t{5});
    HostValue lent = HostValue::borrow(im);
    lent.mutable_bytes()[0] = 9;
    EXPECT_EQ(im[0], 5);
    EXPECT_EQ(lent.bytes()[0], 9);
    EXPECT_EQ(lent.bytes()[1], 5);
}

TEST(HostInterface, CreateGivesZeroFilledRealArrays) {
    HostArray* d = hostArrayCreate(3, 4, HOST_CLASS_DOUBLE);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(hostArrayRows(d), 3u);
    EXPECT_EQ(hostArrayCols(d), 4u);
    EXPECT_EQ(hostArrayIsDouble(d), 1);
    EXPECT_EQ(hostArrayIsComplex(d), 0);
    const auto* pd = static_cast<const double*>(hostArrayData(d));
    for (std::size_t i = 0; i < 12; ++i) EXPECT_EQ(pd[i], 0.0);
    HostArray* u = hostArrayCreate(2, 1, HOST_CLASS_UINT8);
    EXPECT_EQ(hostArrayIsUint8(u), 1);
    EXPECT_EQ(static_cast<const std::uint8_t*>(hostArrayData(u))[1], 0);
}

TEST(HostInterface, RaiseThrowsTheHostsOwnTypeWithTheText) {
    EXPECT_EQ(raised_text("The pyramid does not have this many levels"),
              "The pyramid does not have this many levels");
    EXPECT_EQ(raised_text("Incorrect number of arguments.\n"), "Incorrect number of arguments.\n");
    EXPECT_EQ(raised_text(nullptr), "");
}

TEST(HostInterface, CreatingAnImpossibleArrayRaisesInsteadOfReturning) {
    std::string text;
    try {
        hostArrayCreate(SIZE_MAX / 2, 4, HOST_CLASS_DOUBLE);
    } catch (const ocu::kal::HostRaised& e) {
        text = e.text();
    }
    EXPECT_NE(text.find("too large"), std::string::npos) << text;
}

TEST(HostInterface, TheExecutableExportsEveryFunction) {
    for (const char* name :
         {"hostArrayRows", "hostArrayCols", "hostArrayIsDouble", "hostArrayIsUint8",
          "hostArrayIsComplex", "hostArrayNumDims", "hostArrayDims", "hostArrayNumel",
          "hostArrayScalar", "hostArrayData", "hostArrayCreate", "hostRaiseError"}) {
        EXPECT_NE(dlsym(RTLD_DEFAULT, name), nullptr) << name;
    }
}

// ---- Calls through an entry, with stand-in plug-ins --------------------------

namespace {

// What the last stand-in call saw.
int g_nlhs = -99;
int g_nrhs = -99;
std::vector<double> g_scalars;

void record(int nlhs, int nrhs, const HostArray* prhs[]) {
    g_nlhs = nlhs;
    g_nrhs = nrhs;
    g_scalars.clear();
    for (int i = 0; i < nrhs; ++i) g_scalars.push_back(hostArrayScalar(prhs[i]));
}

HostArray* filled(std::size_t rows, std::size_t cols, std::uint8_t v) {
    HostArray* a = hostArrayCreate(rows, cols, HOST_CLASS_UINT8);
    std::memset(hostArrayData(a), v, rows * cols);
    return a;
}

// Fills every requested slot i with a 1 x 1 uint8 of value i + 1.
void numbered_outputs(int nlhs, HostArray* plhs[], int nrhs, const HostArray* prhs[]) {
    record(nlhs, nrhs, prhs);
    for (int i = 0; i < std::max(nlhs, 1); ++i) plhs[i] = filled(1, 1, static_cast<std::uint8_t>(i + 1));
}

// Creates arrays, keeps two of them in no slot, and raises.
void creates_then_raises(int nlhs, HostArray* plhs[], int nrhs, const HostArray* prhs[]) {
    record(nlhs, nrhs, prhs);
    plhs[0] = filled(3, 3, 1);
    filled(10, 10, 2);
    hostRaiseError("The input image is not the correct size");
    plhs[0] = filled(1, 1, 3);  // not reached
}

// Creates arrays it never places in a slot.
void creates_extra(int nlhs, HostArray* plhs[], int nrhs, const HostArray* prhs[]) {
    record(nlhs, nrhs, prhs);
    filled(4, 4, 4);
    plhs[0] = filled(2, 1, 7);
    filled(5, 5, 5);
}

void skips_slot_two(int, HostArray* plhs[], int, const HostArray*[]) {
    plhs[0] = filled(1, 1, 1);
    plhs[2] = filled(1, 1, 3);
}

void returns_input(int, HostArray* plhs[], int, const HostArray* prhs[]) {
    plhs[0] = const_cast<HostArray*>(prhs[0]);
}

HostArray g_foreign(HOST_CLASS_DOUBLE, {1, 1});
void returns_foreign(int, HostArray* plhs[], int, const HostArray*[]) { plhs[0] = &g_foreign; }

void returns_twice(int, HostArray* plhs[], int, const HostArray*[]) {
    plhs[0] = plhs[1] = filled(1, 2, 8);
}

}  // namespace

TEST(CallEntry, PassesInputsInOrderAndTheRequestedOutputCount) {
    const std::vector<HostValue> in = {HostValue::scalar(6), HostValue::scalar(1),
                                       HostValue::scalar(-2.5)};
    const auto out = ocu::kal::call_entry(&numbered_outputs, in, 3);
    EXPECT_EQ(g_nlhs, 3);
    EXPECT_EQ(g_nrhs, 3);
    EXPECT_EQ(g_scalars, (std::vector<double>{6, 1, -2.5}));
    ASSERT_EQ(out.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(out[i].bytes()[0], i + 1);
}

TEST(CallEntry, NoRequestedOutputStillOffersOneSlot) {
    const std::vector<HostValue> in = {HostValue::scalar(11)};
    const auto out = ocu::kal::call_entry(&numbered_outputs, in, 0);
    EXPECT_EQ(g_nlhs, 0);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].bytes()[0], 1);
}

TEST(CallEntry, ARaisedErrorArrivesAsProgramErrorAndReleasesTheCallsArrays) {
    const std::vector<HostValue> in = {HostValue::scalar(4)};
    const std::size_t before = HostValue::live_count();
    EXPECT_EQ(error_of([&] { ocu::kal::call_entry(&creates_then_raises, in, 1); }),
              "The input image is not the correct size");
    EXPECT_EQ(HostValue::live_count(), before);
}

TEST(CallEntry, ArraysOutsideTheSlotsAreReleasedAfterASuccessfulCall) {
    const std::vector<HostValue> in = {HostValue::scalar(4)};
    const std::size_t before = HostValue::live_count();
    {
        const auto out = ocu::kal::call_entry(&creates_extra, in, 1);
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].rows(), 2u);
        EXPECT_EQ(out[0].bytes()[1], 7);
        EXPECT_EQ(HostValue::live_count(), before + 1);
    }
    EXPECT_EQ(HostValue::live_count(), before);
}

TEST(CallEntry, OutputsStopAtTheFirstEmptySlot) {
    const auto out = ocu::kal::call_entry(&skips_slot_two, std::span<const HostValue>(), 3);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].bytes()[0], 1);
}

TEST(CallEntry, AnInputReturnedAsOutputIsCopied) {
    ocu::ArrayU8 im(2, 2, 1, std::uint8_t{42});
    const std::vector<HostValue> in = {HostValue::borrow(im)};
    auto out = ocu::kal::call_entry(&returns_input, in, 1);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_NE(out[0].data(), static_cast<const void*>(im.data()));
    EXPECT_EQ(out[0].to_array_u8(), im);
}

TEST(CallEntry, AnArrayTheCallDidNotCreateIsRefused) {
    EXPECT_EQ(error_of([] {
                  ocu::kal::call_entry(&returns_foreign, std::span<const HostValue>(), 1);
              }),
              "The plug-in returned an array it did not create.");
}

TEST(CallEntry, OneArrayInTwoSlotsGivesTwoEqualOutputs) {
    const auto out = ocu::kal::call_entry(&returns_twice, std::span<const HostValue>(), 2);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].to_array_u8(), out[1].to_array_u8());
    EXPECT_EQ(out[1].bytes()[1], 8);
}

TEST(CallEntry, BadCallsAreRefusedBeforeTheEntryRuns) {
    g_nlhs = -99;
    EXPECT_THROW(ocu::kal::call_entry(&numbered_outputs, std::span<const HostValue>(), -1),
                 ocu::Error);
    EXPECT_EQ(g_nlhs, -99);
    EXPECT_THROW(ocu::kal::call_entry(nullptr, std::span<const HostValue>(), 0), ocu::Error);
}

// ---- The wrappers' own checks -------------------------------------------------

namespace {
struct Declared {
    const char* name;
    int inputs;
    int outputs;
};
// Declared counts of the eight wrappers.
const Declared kDeclared[] = {
    {"kalcreatepyramid", 4, 0}, {"kalsetresmap", 2, 0},   {"kalsetbase", 2, 0},
    {"kalreduce", 1, 0},        {"kalgetsrcimage", 2, 1}, {"kalsetsrcimage", 3, 0},
    {"kalencode", 3, 0},        {"kalgetencodedimage", 1, 1},
};
}  // namespace

TEST(WrapperChecks, TooManyInputsGiveTheRunTimeMessage) {
    EXPECT_EQ(error_of([] {
                  const std::vector<HostValue> in = {HostValue::scalar(1), HostValue::scalar(1)};
                  ocu::kal::call_wrapper("kalreduce", in, 0);
              }),
              "Run-time Error: File: kalreduce Line: 1 Column: 1 The function \"kalreduce\" was "
              "called with more than the declared number of inputs (1).");
    for (const Declared& d : kDeclared) {
        const std::vector<HostValue> in(static_cast<std::size_t>(d.inputs + 1), HostValue::scalar(1));
        EXPECT_EQ(error_of([&] { ocu::kal::call_wrapper(d.name, in, 0); }),
                  std::string("Run-time Error: File: ") + d.name + " Line: 1 Column: 1 The function \"" +
                      d.name + "\" was called with more than the declared number of inputs (" +
                      std::to_string(d.inputs) + ").");
    }
}

TEST(WrapperChecks, TooManyOutputsGiveTheRunTimeMessage) {
    EXPECT_EQ(error_of([] {
                  const std::vector<HostValue> in = {HostValue::scalar(1), HostValue::scalar(6)};
                  ocu::kal::call_wrapper("kalgetsrcimage", in, 2);
              }),
              "Run-time Error: File: kalgetsrcimage Line: 1 Column: 1 The function "
              "\"kalgetsrcimage\" was called with more than the declared number of outputs (1).");
    for (const Declared& d : kDeclared) {
        const std::vector<HostValue> in(static_cast<std::size_t>(d.inputs), HostValue::scalar(1));
        EXPECT_EQ(error_of([&] { ocu::kal::call_wrapper(d.name, in, d.outputs + 1); }),
                  std::string("Run-time Error: File: ") + d.name + " Line: 1 Column: 1 The function \"" +
                      d.name + "\" was called with more than the declared number of outputs (" +
                      std::to_string(d.outputs) + ").");
    }
}

TEST(WrapperChecks, InputsAreCheckedBeforeOutputs) {
    const std::vector<HostValue> in(3, HostValue::scalar(1));
    const std::string text = error_of([&] { ocu::kal::call_wrapper("kalgetencodedimage", in, 5); });
    EXPECT_NE(text.find("declared number of inputs (1)"), std::string::npos) << text;
}

TEST(WrapperChecks, UnknownNamesAndNegativeOutputCountsAreRefused) {
    const std::vector<HostValue> in = {HostValue::scalar(1)};
    EXPECT_EQ(error_of([&] { ocu::kal::call_wrapper("kalgetenclevel", in, 0); }),
              "Unknown engine wrapper \"kalgetenclevel\".");
    EXPECT_THROW(ocu::kal::call_wrapper("kalreduce", in, -1), ocu::Error);
}

// ---- Binding --------------------------------------------------------------------

TEST(Binding, AMissingLibraryIsNamedInTheError) {
    const std::string text =
        error_of([] { ocu::kal::load_plugin("kalentry_not_installed", ocu::executable_dir()); });
    EXPECT_NE(text.find("Cannot find the plug-in \"kalentry_not_installed\""), std::string::npos)
        << text;
    EXPECT_NE(text.find("libkalentry_not_installed.so"), std::string::npos) << text;
    EXPECT_NE(text.find("library path"), std::string::npos) << text;
}

TEST(Binding, ALibraryWithoutTheEntryIsRefused) {
    const std::string dir = ocu::executable_dir();
    const std::string text = error_of([&] { ocu::kal::load_plugin("kalnoentry", dir); });
    EXPECT_EQ(text, "The plug-in \"kalnoentry\" (" + dir + "/libkalnoentry.so) has no entry mexFunction.");
}

TEST(Binding, ALibraryThatIsNotLoadableIsNamedWithTheReason) {
    // A file of the right name that is no shared library.
    char dir_template[] = "/tmp/kalbindXXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    const std::string dir = dir_template;
    const std::string file = dir + "/libkalbroken.so";
    FILE* f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("not a library\n", f);
    std::fclose(f);
    const std::string text = error_of([&] { ocu::kal::load_plugin("kalbroken", dir); });
    std::remove(file.c_str());
    rmdir(dir.c_str());
    EXPECT_EQ(text.rfind("Cannot load the plug-in \"kalbroken\" from " + file + ": ", 0), 0u) << text;
}

// ---- The wrappers' forwarding, with a stand-in plug-in ---------------------------

namespace {

// Every input of the last call, as class, dimensions and elements (as doubles).
struct Seen {
    bool is_uint8;
    std::vector<std::size_t> dims;
    std::vector<double> values;
};
std::vector<Seen> g_seen;
bool g_return_image = true;
bool g_return_double = false;

void stand_in(int nlhs, HostArray* plhs[], int nrhs, const HostArray* prhs[]) {
    g_nlhs = nlhs;
    g_seen.clear();
    for (int i = 0; i < nrhs; ++i) {
        const HostArray* a = prhs[i];
        Seen s{hostArrayIsUint8(a) == 1,
               std::vector<std::size_t>(hostArrayDims(a), hostArrayDims(a) + hostArrayNumDims(a)),
               {}};
        for (std::size_t k = 0; k < hostArrayNumel(a); ++k) {
            s.values.push_back(s.is_uint8 ? static_cast<const std::uint8_t*>(hostArrayData(a))[k]
                                          : static_cast<const double*>(hostArrayData(a))[k]);
        }
        g_seen.push_back(std::move(s));
    }
    if (g_return_image) {
        plhs[0] = g_return_double ? hostArrayCreate(2, 3, HOST_CLASS_DOUBLE) : filled(2, 3, 9);
    }
}

// Binds the stand-in for one test and restores the previous entry after it.
class WrapperForwarding : public ::testing::Test {
protected:
    void SetUp() override {
        before_ = ocu::kal::bind_entry(&stand_in);
        g_return_image = true;
        g_return_double = false;
    }
    void TearDown() override { ocu::kal::bind_entry(before_); }

    static std::vector<double> scalars() {
        std::vector<double> v;
        for (const Seen& s : g_seen) v.push_back(s.values.empty() ? -999 : s.values[0]);
        return v;
    }

private:
    ocu::kal::MexEntry before_ = nullptr;
};

}  // namespace

TEST_F(WrapperForwarding, EachWrapperPutsItsIndexBeforeItsOwnInputs) {
    g_return_image = false;
    ocu::kal::kalcreatepyramid(1, 640, 480, 6);
    EXPECT_EQ(scalars(), (std::vector<double>{0, 1, 640, 480, 6}));
    EXPECT_EQ(g_nlhs, 0);
    ocu::kal::kalreduce(3);
    EXPECT_EQ(scalars(), (std::vector<double>{5, 3}));
    ocu::kal::kalencode(1, 12.75, -3);  // forwarded as the caller holds them
    EXPECT_EQ(scalars(), (std::vector<double>{10, 1, 12.75, -3}));
    EXPECT_EQ(g_nlhs, 0);
    for (const Seen& s : g_seen) {
        EXPECT_FALSE(s.is_uint8);
        EXPECT_EQ(s.dims, (std::vector<std::size_t>{1, 1}));
    }
}

TEST_F(WrapperForwarding, ImagesAndMapsArriveUnchanged) {
    g_return_image = false;
    ocu::ArrayU8 im(2, 3);
    for (std::size_t i = 0; i < 6; ++i) im[i] = static_cast<std::uint8_t>(10 * i + 1);
    ocu::kal::kalsetbase(1, im);
    ASSERT_EQ(g_seen.size(), 3u);
    EXPECT_EQ(g_seen[0].values, (std::vector<double>{4}));
    EXPECT_TRUE(g_seen[2].is_uint8);
    EXPECT_EQ(g_seen[2].dims, (std::vector<std::size_t>{2, 3}));
    EXPECT_EQ(g_seen[2].values, (std::vector<double>{1, 11, 21, 31, 41, 51}));

    ocu::kal::kalsetsrcimage(1, 6, im);
    EXPECT_EQ(scalars(), (std::vector<double>{8, 1, 6, 1}));
    EXPECT_EQ(g_seen[3].dims, (std::vector<std::size_t>{2, 3}));

    ocu::ArrayD map(2, 2);
    map[0] = -1;
    map[1] = 0.25;
    map[2] = 1;
    map[3] = 0.5;
    ocu::kal::kalsetresmap(1, map);
    ASSERT_EQ(g_seen.size(), 3u);
    EXPECT_EQ(g_seen[0].values, (std::vector<double>{1}));
    EXPECT_FALSE(g_seen[2].is_uint8);
    EXPECT_EQ(g_seen[2].values, (std::vector<double>{-1, 0.25, 1, 0.5}));

    // Three planes are passed on as three dimensions; the plug-in judges them.
    ocu::kal::kalsetbase(1, ocu::ArrayU8(2, 2, 3));
    EXPECT_EQ(g_seen[2].dims, (std::vector<std::size_t>{2, 2, 3}));
}

TEST_F(WrapperForwarding, WrappersWithAnOutputAskForOneAndReturnIt) {
    const ocu::ArrayU8 level = ocu::kal::kalgetsrcimage(1, 6);
    EXPECT_EQ(g_nlhs, 1);
    EXPECT_EQ(scalars(), (std::vector<double>{6, 1, 6}));
    EXPECT_EQ(level, ocu::ArrayU8(2, 3, 1, std::uint8_t{9}));
    const ocu::ArrayU8 image = ocu::kal::kalgetencodedimage(2);
    EXPECT_EQ(g_nlhs, 1);
    EXPECT_EQ(scalars(), (std::vector<double>{11, 2}));
    EXPECT_EQ(image.rows(), 2u);
}

TEST_F(WrapperForwarding, AMissingOutputIsAnError) {
    g_return_image = false;
    EXPECT_EQ(error_of([] { ocu::kal::kalgetsrcimage(1, 6); }),
              "The plug-in \"kalentry\" returned no output to kalgetsrcimage.");
    EXPECT_EQ(error_of([] { ocu::kal::kalgetencodedimage(1); }),
              "The plug-in \"kalentry\" returned no output to kalgetencodedimage.");
    // Not asked for, not missed.
    const std::vector<HostValue> in = {HostValue::scalar(1)};
    EXPECT_TRUE(ocu::kal::call_wrapper("kalgetencodedimage", in, 0).empty());
    EXPECT_EQ(g_nlhs, 1);
}

TEST_F(WrapperForwarding, AnOutputOfTheWrongClassIsAnError) {
    g_return_double = true;
    EXPECT_THROW(ocu::kal::kalgetsrcimage(1, 1), ocu::Error);
}

TEST_F(WrapperForwarding, FewerInputsThanDeclaredArePassedOnAsGiven) {
    g_return_image = false;
    const std::vector<HostValue> in = {HostValue::scalar(1), HostValue::scalar(640)};
    ocu::kal::call_wrapper("kalcreatepyramid", in, 0);
    EXPECT_EQ(scalars(), (std::vector<double>{0, 1, 640}));
}

TEST_F(WrapperForwarding, TooManyInputsNeverReachThePlugIn) {
    g_seen.clear();
    const std::vector<HostValue> in(2, HostValue::scalar(1));
    EXPECT_THROW(ocu::kal::call_wrapper("kalreduce", in, 0), ocu::Error);
    EXPECT_TRUE(g_seen.empty());
    EXPECT_THROW(ocu::kal::call_wrapper("kalreduce", std::span<const HostValue>(in).first(1), 1),
                 ocu::Error);
    EXPECT_TRUE(g_seen.empty());
}

// Run by the test "engine_client_without_plugin" from a copy of this program in
// an empty folder: there the first wrapper call must fail to bind, with the
// binding's text, and keep failing the same way on the next call.
TEST(Binding, ProgramWithoutThePlugInNextToIt) {
    if (std::getenv("KAL_EXPECT_NO_PLUGIN") == nullptr) {
        GTEST_SKIP() << "runs only from a copy of the program without the plug-in";
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::string text = error_of([] { ocu::kal::kalreduce(1); });
        EXPECT_EQ(
            text.rfind("Cannot find the plug-in \"kalentry\": libkalentry.so is not next to the program (" +
                           ocu::executable_dir() + ") or on the library path (",
                       0),
            0u)
            << text;
    }
}

TEST(HostArrayConversion, TakingTheElementsGivesTheSameArray) {
    ocu::ArrayU8 im(2, 3, 2);
    for (std::size_t i = 0; i < im.numel(); ++i) im[i] = static_cast<std::uint8_t>(3 * i);
    EXPECT_EQ(HostValue::copy_of(im).take_array_u8(), im);
    EXPECT_EQ(HostValue::borrow(im).take_array_u8(), im);  // a borrowed array is copied
    EXPECT_THROW(HostValue(HOST_CLASS_DOUBLE, {2, 2}).take_array_u8(), ocu::Error);
    EXPECT_THROW(HostValue(HOST_CLASS_UINT8, {2, 2}, true).take_array_u8(), ocu::Error);
}
