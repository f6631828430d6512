// The eight wrappers around the pyramid engine plug-in. Each fixes one
// function index and forwards its own inputs unchanged after it.
#include "engine_client/kal.hpp"

#include <array>
#include <string>
#include <vector>

#include "engine_client/kalentry.hpp"
#include "toolkit/callcheck.hpp"
#include "toolkit/error.hpp"

namespace ocu::kal {
namespace {

struct Wrapper {
    const char* name;
    double index;  // the plug-in's function index
    int inputs;    // declared inputs
    int outputs;   // declared outputs
};

constexpr std::array<Wrapper, 8> kWrappers{{
    {"kalcreatepyramid", 0, 4, 0},
    {"kalsetresmap", 1, 2, 0},
    {"kalsetbase", 4, 2, 0},
    {"kalreduce", 5, 1, 0},
    {"kalgetsrcimage", 6, 2, 1},
    {"kalsetsrcimage", 8, 3, 0},
    {"kalencode", 10, 3, 0},
    {"kalgetencodedimage", 11, 1, 1},
}};

const Wrapper& find_wrapper(std::string_view name) {
    for (const Wrapper& w : kWrappers) {
        if (name == w.name) return w;
    }
    throw Error("Unknown engine wrapper \"" + std::string(name) + "\".");
}

// The wrapper body: index first, then the inputs as given. The plug-in is
// asked for exactly the outputs the wrapper declares, whatever its caller asks.
std::vector<HostValue> run(const Wrapper& w, std::span<const HostValue* const> inputs, int nout) {
    check_arg_count(w.name, 1, ArgKind::Inputs, inputs.size(), w.inputs);
    if (nout < 0) throw Error("The number of requested outputs cannot be negative.");
    check_arg_count(w.name, 1, ArgKind::Outputs, static_cast<std::size_t>(nout), w.outputs);

    const HostValue index = HostValue::scalar(w.index);
    std::vector<const HostValue*> args;
    args.reserve(inputs.size() + 1);
    args.push_back(&index);
    args.insert(args.end(), inputs.begin(), inputs.end());
    std::vector<HostValue> out = kalentry(std::span<const HostValue* const>(args), w.outputs);
    if (nout > 0 && out.empty()) {
        throw Error(std::string("The plug-in \"kalentry\" returned no output to ") + w.name + ".");
    }
    while (out.size() > static_cast<std::size_t>(nout)) out.pop_back();
    return out;
}

std::vector<HostValue> run(std::string_view name, std::initializer_list<const HostValue*> inputs,
                           int nout) {
    return run(find_wrapper(name), std::span<const HostValue* const>(inputs.begin(), inputs.size()),
               nout);
}

ArrayU8 image_output(std::vector<HostValue> out) { return std::move(out.at(0)).take_array_u8(); }

}  // namespace

std::vector<HostValue> call_wrapper(std::string_view name, std::span<const HostValue> inputs,
                                    int nout) {
    const Wrapper& w = find_wrapper(name);
    std::vector<const HostValue*> ptrs;
    ptrs.reserve(inputs.size());
    for (const HostValue& a : inputs) ptrs.push_back(&a);
    return run(w, ptrs, nout);
}

void kalcreatepyramid(double n, double cols, double rows, double levels) {
    const HostValue a = HostValue::scalar(n), b = HostValue::scalar(cols),
                    c = HostValue::scalar(rows), d = HostValue::scalar(levels);
    run("kalcreatepyramid", {&a, &b, &c, &d}, 0);
}

void kalsetresmap(double n, const ArrayD& map) {
    const HostValue a = HostValue::scalar(n), b = HostValue::borrow(map);
    run("kalsetresmap", {&a, &b}, 0);
}

void kalsetbase(double n, const ArrayU8& image) {
    const HostValue a = HostValue::scalar(n), b = HostValue::borrow(image);
    run("kalsetbase", {&a, &b}, 0);
}

void kalreduce(double n) {
    const HostValue a = HostValue::scalar(n);
    run("kalreduce", {&a}, 0);
}

ArrayU8 kalgetsrcimage(double n, double level) {
    const HostValue a = HostValue::scalar(n), b = HostValue::scalar(level);
    return image_output(run("kalgetsrcimage", {&a, &b}, 1));
}

void kalsetsrcimage(double n, double level, const ArrayU8& image) {
    const HostValue a = HostValue::scalar(n), b = HostValue::scalar(level),
                    c = HostValue::borrow(image);
    run("kalsetsrcimage", {&a, &b, &c}, 0);
}

void kalencode(double n, double x, double y) {
    const HostValue a = HostValue::scalar(n), b = HostValue::scalar(x), c = HostValue::scalar(y);
    run("kalencode", {&a, &b, &c}, 0);
}

ArrayU8 kalgetencodedimage(double n) {
    const HostValue a = HostValue::scalar(n);
    return image_output(run("kalgetencodedimage", {&a}, 1));
}

}  // namespace ocu::kal
