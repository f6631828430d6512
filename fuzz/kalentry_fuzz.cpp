// Random sequences of calls into the plug-in's entry, through the program's
// host array interface. The entry and the engine are linked in directly (the
// fuzz build instruments them); the pyramid table lives across inputs, as it
// does in the program.
//
// Each input is decoded into up to 64 calls. A call is mostly well formed (a
// valid function index, the right inputs of the right classes, level images of
// the size the pyramid expects) and sometimes not (wrong counts, classes,
// complex or empty arrays, scalars that are NaN, infinite, fractional or far
// outside the 32-bit range). Sizes stay small so that no run allocates much.
//
// Beyond "no crash, no sanitizer report", every call must either succeed or
// fail with one of the engine's messages, and a level image that comes back
// must have the size of its level.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "engine/host_array.h"
#include "engine_client/host_value.hpp"
#include "toolkit/error.hpp"

using ocu::kal::HostValue;

namespace {

const std::set<std::string>& known_messages() {
    static const std::set<std::string> m = {
        "Incorrect number of arguments.\n",
        "Input must be a noncomplex scalar double.\n",
        "Invalid function index.\n",
        "This function requires 1 arguments.",
        "This function requires 2 arguments.",
        "This function requires 3 arguments.",
        "This function requires 4 arguments.",
        "This function requires 4 return values.",
        "Too many return values were specified.",
        "Input 1 must be double.",
        "Input 2 must be double.",
        "Input 3 must be double.",
        "Input 4 must be double.",
        "Input 1 may not be complex.",
        "Input 2 may not be complex.",
        "Input 3 may not be complex.",
        "Input 4 may not be complex.",
        "Input 2 must be uint8.",
        "Input 3 must be uint8.",
        "Invalid value for 'n'",
        "Input 2 must be a 2D resmap",
        "Invalid blending mask index",
        "The resmap for this image has not yet been set",
        "Input 2 must be a 2D image",
        "Input 3 must be a 2D image",
        "The input image is not the correct size",
        "The pyramid does not have this many levels",
        "The pyramid size is not valid",
        "Invalid fixation point",
    };
    return m;
}

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "kalentry_fuzz: %s\n", what.c_str());
    std::abort();
}

// What the harness knows of each pyramid from its own successful calls.
struct Shape {
    bool shaped = false;
    std::int64_t rows = 0, cols = 0, levels = 0;
};
std::array<Shape, 17> g_shapes;


class Decoder {
public:
    explicit Decoder(FuzzedDataProvider& p) : p_(p) {}

    double special() {
        static constexpr double kSpecial[] = {
            std::numeric_limits<double>::quiet_NaN(),
            std::numeric_limits<double>::infinity(),
            -std::numeric_limits<double>::infinity(),
            2147483648.0,
            -2147483649.0,
            4294967297.0,
            1e300,
            -1.0,
            0.0,
            -0.7,
            1e5,
        };
        return kSpecial[p_.ConsumeIntegralInRange<std::size_t>(0, std::size(kSpecial) - 1)];
    }

    // A scalar value around `typical` (0..hi), now and then a special one.
    double scalar(int hi) {
        const int mode = p_.ConsumeIntegralInRange(0, 15);
        if (mode == 0) return special();
        const double v = p_.ConsumeIntegralInRange(-1, hi);
        if (mode == 1) return v + 0.5;
        return v;
    }

    HostValue scalar_arg(int hi) {
        const int mode = p_.ConsumeIntegralInRange(0, 31);
        if (mode == 0) return HostValue(HOST_CLASS_DOUBLE, {0, p_.ConsumeIntegralInRange<std::size_t>(0, 2)});
        if (mode == 1) return HostValue(HOST_CLASS_UINT8, {1, 1});
        if (mode == 2) return HostValue(HOST_CLASS_DOUBLE, {1, 1}, true);
        if (mode == 3) {  // a longer array: only its first element counts
            HostValue a(HOST_CLASS_DOUBLE, {1, 3});
            a.mutable_doubles()[0] = scalar(hi);
            return a;
        }
        return HostValue::scalar(scalar(hi));
    }

    std::vector<std::size_t> small_dims(std::size_t max_extent) {
        std::vector<std::size_t> d = {p_.ConsumeIntegralInRange<std::size_t>(0, max_extent),
                                      p_.ConsumeIntegralInRange<std::size_t>(0, max_extent)};
        if (p_.ConsumeIntegralInRange(0, 15) == 0) d.push_back(p_.ConsumeIntegralInRange<std::size_t>(1, 3));
        return d;
    }

    // An image for level `level` of pyramid n: usually of the right size.
    HostValue image(int n, double level) {
        std::vector<std::size_t> dims;
        const Shape& s = g_shapes[static_cast<std::size_t>(n >= 1 && n <= 16 ? n : 0)];
        const int mode = p_.ConsumeIntegralInRange(0, 7);
        if (mode < 6 && s.shaped && level >= 1 && level <= 64) {
            const int k = static_cast<int>(level) - 1;
            dims = {static_cast<std::size_t>(s.rows >> std::min(k, 62)),
                    static_cast<std::size_t>(s.cols >> std::min(k, 62))};
            if (mode == 5) dims.push_back(2);
        } else {
            dims = small_dims(40);
        }
        const bool as_double = p_.ConsumeIntegralInRange(0, 15) == 0;
        const bool complex = p_.ConsumeIntegralInRange(0, 15) == 0;
        HostValue a(as_double ? HOST_CLASS_DOUBLE : HOST_CLASS_UINT8, dims, complex);
        if (!as_double && a.numel() > 0) {
            const std::uint8_t seed = p_.ConsumeIntegral<std::uint8_t>();
            std::uint8_t* b = a.mutable_bytes();
            for (std::size_t i = 0; i < a.numel(); ++i) b[i] = static_cast<std::uint8_t>(seed + 37 * i);
        }
        return a;
    }

    HostValue map() {
        std::vector<std::size_t> dims = small_dims(48);
        const bool as_uint8 = p_.ConsumeIntegralInRange(0, 15) == 0;
        const bool complex = p_.ConsumeIntegralInRange(0, 15) == 0;
        HostValue a(as_uint8 ? HOST_CLASS_UINT8 : HOST_CLASS_DOUBLE, dims, complex);
        if (as_uint8 || a.numel() == 0) return a;
        static constexpr double kValues[] = {0.0, -1.0, 1.0, 0.5, 0.3, 0.05, 0.8, 0.41294708713,
                                             std::numeric_limits<double>::quiet_NaN(),
                                             std::numeric_limits<double>::infinity(),
                                             -std::numeric_limits<double>::infinity(), 1e300};
        const std::size_t kinds = p_.ConsumeIntegralInRange<std::size_t>(1, std::size(kValues));
        double* d = a.mutable_doubles();
        for (std::size_t i = 0; i < a.numel(); ++i) {
            const unsigned char b = p_.ConsumeIntegral<unsigned char>();
            d[i] = (b & 1) ? kValues[(b >> 1) % kinds] : static_cast<double>(b >> 1) / 100.0;
        }
        return a;
    }

    void run_call() {
        // The function index.
        const int imode = p_.ConsumeIntegralInRange(0, 31);
        double index = p_.ConsumeIntegralInRange(0, 11);
        if (imode == 0) index = special();
        if (imode == 1) index += 0.75;
        if (imode == 2) index = p_.ConsumeBool() ? 12 : -1;

        const int op = (index > -1.0 && index < 12.0) ? static_cast<int>(index) : 5;
        std::vector<HostValue> in;
        if (p_.ConsumeIntegralInRange(0, 63) == 0) {
            in.push_back(HostValue(p_.ConsumeBool() ? HOST_CLASS_UINT8 : HOST_CLASS_DOUBLE, {1, 2}));
        } else {
            in.push_back(HostValue::scalar(index));
        }

        // The arguments of that index.
        HostValue n = scalar_arg(17);
        const int nval = std::isfinite(n.first()) ? static_cast<int>(std::fmod(n.first(), 1e6)) : 0;
        in.push_back(n);
        switch (op) {
            case 0:
                in.push_back(scalar_arg(40));  // columns
                in.push_back(scalar_arg(40));  // rows
                in.push_back(scalar_arg(7));   // levels
                break;
            case 1: in.push_back(map()); break;
            case 2:
            case 3: in.push_back(scalar_arg(7)); break;
            case 4: in.push_back(image(nval, 1)); break;
            case 6:
            case 7: in.push_back(scalar_arg(7)); break;
            case 8:
            case 9: {
                HostValue level = scalar_arg(7);
                const double lv = level.numel() > 0 && level.is_double() ? level.first() : 0.0;
                in.push_back(std::move(level));
                in.push_back(image(nval, lv));
                break;
            }
            case 10:
                in.push_back(scalar_arg(80));
                in.push_back(scalar_arg(80));
                break;
            default: break;
        }
        // Now and then one input too many or too few.
        const int cmode = p_.ConsumeIntegralInRange(0, 31);
        if (cmode == 0) in.push_back(HostValue::scalar(1));
        if (cmode == 1 && !in.empty()) in.pop_back();
        if (cmode == 2) in.clear();

        int nout = op == 2 ? 4 : (op == 3 || op == 6 || op == 7 || op == 11) ? 1 : 0;
        if (p_.ConsumeIntegralInRange(0, 15) == 0) nout = p_.ConsumeIntegralInRange(-1, 5);

        call(in, nout, op, index);
    }

private:
    void call(const std::vector<HostValue>& in, int nout, int op, double index) {
        if (nout < 0) {
            std::vector<const HostArray*> prhs;
            for (const HostValue& a : in) prhs.push_back(&a);
            HostArray* plhs[4] = {};
            try {
                mexFunction(nout, plhs, static_cast<int>(prhs.size()), prhs.data());
            } catch (const ocu::kal::HostRaised& e) {
                check_message(e.text());
                return;
            }
            fail("a negative output count was accepted");
        }
        std::vector<HostValue> out;
        try {
            out = ocu::kal::call_entry(&mexFunction, in, nout);
        } catch (const ocu::Error& e) {
            check_message(e.what());
            return;
        }
        after_success(in, out, op, index);
    }

    static void check_message(const std::string& text) {
        if (known_messages().count(text) == 0) fail("unexpected error text: " + text);
    }

    // Keeps the harness's shapes and checks the sizes of returned levels.
    static void after_success(const std::vector<HostValue>& in, const std::vector<HostValue>& out,
                              int op, double index) {
        if (!(index > -1.0 && index < 12.0) || in.size() < 2) fail("an invalid call succeeded");
        const auto n = static_cast<std::int64_t>(in[1].first());
        if (n < 1 || n > 16) fail("a call on a pyramid outside 1..16 succeeded");
        Shape& s = g_shapes[static_cast<std::size_t>(n)];
        if (op == 0) {
            s.shaped = true;
            s.cols = static_cast<std::int64_t>(in[2].first());
            s.rows = static_cast<std::int64_t>(in[3].first());
            s.levels = static_cast<std::int64_t>(in[4].first());
            return;
        }
        if (!s.shaped) return;  // a pyramid the table added without shaping it
        std::int64_t level = 0;
        if (op == 6 || op == 7) level = static_cast<std::int64_t>(in[2].first());
        if (op == 11) level = 1;
        if (level == 0) return;
        if (out.empty()) fail("no image returned");
        const HostValue& im = out[0];
        if (!im.is_uint8() || im.ndims() != 2) fail("level image is not a 2-D uint8 array");
        const auto want_rows = static_cast<std::size_t>(s.rows >> (level - 1));
        const auto want_cols = static_cast<std::size_t>(s.cols >> (level - 1));
        if (level < 1 || level > s.levels || im.rows() != want_rows || im.cols() != want_cols) {
            fail("level " + std::to_string(level) + " has size " + std::to_string(im.rows()) + " x " +
                 std::to_string(im.cols()) + ", expected " + std::to_string(want_rows) + " x " +
                 std::to_string(want_cols));
        }
    }

    FuzzedDataProvider& p_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider p(data, size);
    Decoder d(p);
    for (int i = 0; i < 64 && p.remaining_bytes() > 0; ++i) d.run_call();
    return 0;
}
