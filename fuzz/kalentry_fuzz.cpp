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
// Beyond "no crash, no sanitizer report", the harness keeps its own model of
// the pyramid table (size, shapes, number of masks) and predicts from it the
// outcome of every call: success, or the exact message of the first check that
// fails. A level image that comes back must have the size of its level.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "engine/host_array.h"
#include "engine_client/host_value.hpp"
#include "toolkit/error.hpp"

using ocu::kal::HostValue;

namespace {

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "kalentry_fuzz: %s\n", what.c_str());
    std::abort();
}

// The harness's own account of the pyramid table.
class Model {
public:
    // "" when the call must succeed, else the message it must fail with.
    std::string predict(const std::vector<HostValue>& in, int nlhs) const {
        if (in.empty()) return "Incorrect number of arguments.\n";
        const HostValue& f = in[0];
        if (!f.is_double() || f.is_complex() || f.rows() != 1 || f.cols() != 1) {
            return "Input must be a noncomplex scalar double.\n";
        }
        std::int64_t index = 0;
        if (!integer(f.first(), index) || index < 0 || index > 11) return "Invalid function index.\n";

        static constexpr int kNeed[12] = {4, 2, 2, 2, 2, 1, 2, 2, 3, 3, 3, 1};
        const int need = kNeed[index];
        if (static_cast<int>(in.size()) - 1 != need) {
            return "This function requires " + std::to_string(need) + " arguments.";
        }
        if (index == 2 && nlhs != 4) return "This function requires 4 return values.";
        if (index != 2 && nlhs != 0 && nlhs != 1) return "Too many return values were specified.";
        for (int i = 1; i <= need; ++i) {
            const HostValue& a = in[static_cast<std::size_t>(i)];
            const bool image = (index == 4 && i == 2) || ((index == 8 || index == 9) && i == 3);
            const std::string num = "Input " + std::to_string(i);
            if (image) {
                if (!a.is_uint8()) return num + " must be uint8.";
            } else {
                if (!a.is_double()) return num + " must be double.";
                if (a.is_complex()) return num + " may not be complex.";
            }
        }

        std::int64_t n = 0;
        const bool n_ok = integer(value(in[1]), n);
        if (index == 0) {
            if (!n_ok || n < 1 || n > 16) return kInvalidN;
            std::int64_t c = 0, r = 0, l = 0;
            if (!integer(value(in[2]), c) || !integer(value(in[3]), r) || !integer(value(in[4]), l) ||
                c < 0 || r < 0 || l < 0 || l > 32 || r * c > (std::int64_t{1} << 27)) {
                return "The pyramid size is not valid";
            }
            return "";
        }
        if (!n_ok || n < 1 || n > size_) return kInvalidN;
        const Pyr& p = pyr_[static_cast<std::size_t>(n)];
        std::int64_t k = 0;
        switch (index) {
            case 1: return in[2].ndims() == 2 ? "" : "Input 2 must be a 2D resmap";
            case 2:
            case 3:
                if (!integer(value(in[2]), k) || k < 1 || k > p.levels - 1) return kBadMask;
                if (p.masks == 0) return kNoResmap;
                return k > p.masks ? kBadMask : "";
            case 4:
                if (in[2].ndims() != 2) return "Input 2 must be a 2D image";
                if (p.levels == 0) return kNoLevels;
                return same_size(in[2], p, 1) ? "" : kWrongSize;
            case 6:
            case 7: return integer(value(in[2]), k) && k >= 1 && k <= p.levels ? "" : kNoLevels;
            case 8:
            case 9:
                if (!integer(value(in[2]), k) || k < 1 || k > p.levels) return kNoLevels;
                if (in[3].ndims() != 2) return "Input 3 must be a 2D image";
                return same_size(in[3], p, k) ? "" : kWrongSize;
            case 10:
                if (p.masks == 0) return kNoResmap;
                if (std::isnan(value(in[2])) || std::isnan(value(in[3]))) return "Invalid fixation point";
                if (p.levels == 0) return kNoLevels;
                return p.levels - 1 > p.masks ? kNoResmap : "";
            case 11: return p.levels == 0 ? kNoLevels : "";
            default: return "";  // 5
        }
    }

    // Takes in a call that succeeded.
    void apply(const std::vector<HostValue>& in) {
        const auto index = static_cast<std::int64_t>(in[0].first());
        const auto n = static_cast<std::size_t>(static_cast<std::int64_t>(in[1].first()));
        if (index == 0) {
            size_ = std::max<std::int64_t>(size_, static_cast<std::int64_t>(n));
            Pyr& p = pyr_[n];
            p.cols = static_cast<std::int64_t>(in[2].first());
            p.rows = static_cast<std::int64_t>(in[3].first());
            p.levels = static_cast<std::int64_t>(in[4].first());
        } else if (index == 1) {
            pyr_[n].masks = std::max<std::int64_t>(pyr_[n].levels - 1, 0);
        }
    }

    // Checks the outputs of a call that succeeded.
    void check_outputs(const std::vector<HostValue>& in, const std::vector<HostValue>& out) const {
        const auto index = static_cast<std::int64_t>(in[0].first());
        const Pyr& p = pyr_[static_cast<std::size_t>(static_cast<std::int64_t>(in[1].first()))];
        std::int64_t level = 0;
        if (index == 6 || index == 7) level = static_cast<std::int64_t>(in[2].first());
        if (index == 11) level = 1;
        if (index == 2) {
            if (out.size() != 4) fail("getmaskrects returned " + std::to_string(out.size()) + " outputs");
            for (const HostValue& v : out) {
                if (!v.is_double() || v.cols() != 1 || v.rows() != out[0].rows()) fail("bad rectangle columns");
            }
        }
        if (index == 3 && (out.size() != 1 || !out[0].is_uint8() || out[0].ndims() != 2)) fail("bad mask");
        if (level == 0) return;
        if (out.size() != 1) fail("no image returned");
        const HostValue& im = out[0];
        const auto rows = static_cast<std::size_t>(p.rows >> (level - 1));
        const auto cols = static_cast<std::size_t>(p.cols >> (level - 1));
        if (!im.is_uint8() || im.ndims() != 2 || im.rows() != rows || im.cols() != cols) {
            fail("level " + std::to_string(level) + " has size " + std::to_string(im.rows()) + " x " +
                 std::to_string(im.cols()) + ", expected " + std::to_string(rows) + " x " +
                 std::to_string(cols));
        }
    }

    // Level k's size as the image generator should make it (0 x 0 if unknown).
    std::vector<std::size_t> level_dims(double n, double level) const {
        std::int64_t in = 0, k = 0;
        if (!integer(n, in) || in < 1 || in > size_ || !integer(level, k) || k < 1 || k > 62) {
            return {0, 0};
        }
        const Pyr& p = pyr_[static_cast<std::size_t>(in)];
        return {static_cast<std::size_t>(p.rows >> (k - 1)), static_cast<std::size_t>(p.cols >> (k - 1))};
    }

private:
    struct Pyr {
        std::int64_t rows = 0, cols = 0, levels = 0, masks = 0;
    };

    // Truncation toward zero, when the result fits 32 bits.
    static bool integer(double v, std::int64_t& out) {
        if (!std::isfinite(v)) return false;
        const double t = std::trunc(v);
        if (t < -2147483648.0 || t > 2147483647.0) return false;
        out = static_cast<std::int64_t>(t);
        return true;
    }
    static double value(const HostValue& a) {
        return a.numel() == 0 ? std::numeric_limits<double>::quiet_NaN() : a.first();
    }
    static bool same_size(const HostValue& im, const Pyr& p, std::int64_t level) {
        return static_cast<std::int64_t>(im.dims()[0]) == (p.rows >> (level - 1)) &&
               static_cast<std::int64_t>(im.dims()[1]) == (p.cols >> (level - 1));
    }

    static constexpr const char* kInvalidN = "Invalid value for 'n'";
    static constexpr const char* kBadMask = "Invalid blending mask index";
    static constexpr const char* kNoResmap = "The resmap for this image has not yet been set";
    static constexpr const char* kNoLevels = "The pyramid does not have this many levels";
    static constexpr const char* kWrongSize = "The input image is not the correct size";

    std::int64_t size_ = 0;
    std::array<Pyr, 17> pyr_{};
};

Model g_model;

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

    // An image for level `level` of pyramid n: usually of the size it expects.
    HostValue image(double n, double level) {
        std::vector<std::size_t> dims = g_model.level_dims(n, level);
        const int mode = p_.ConsumeIntegralInRange(0, 7);
        if (mode == 5) dims.push_back(2);
        if (mode >= 6) dims = small_dims(40);
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
        const double nval = n.first();
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

        call(in, nout);
    }

private:
    // Runs the call and compares its outcome with the model's prediction.
    static void call(const std::vector<HostValue>& in, int nout) {
        const std::string want = g_model.predict(in, nout);
        std::string got;
        std::vector<HostValue> out;
        if (nout < 0) {
            std::vector<const HostArray*> prhs;
            for (const HostValue& a : in) prhs.push_back(&a);
            HostArray* plhs[4] = {};
            try {
                mexFunction(nout, plhs, static_cast<int>(prhs.size()), prhs.data());
            } catch (const ocu::kal::HostRaised& e) {
                got = e.text();
            }
            if (got.empty()) fail("a negative output count was accepted");
        } else {
            try {
                out = ocu::kal::call_entry(&mexFunction, in, nout);
            } catch (const ocu::Error& e) {
                got = e.what();
            }
        }
        if (got != want) fail("expected \"" + want + "\", got \"" + got + "\"");
        if (got.empty()) {
            g_model.apply(in);
            g_model.check_outputs(in, out);
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
