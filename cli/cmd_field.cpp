// ocumbra-sim field [--eye OD|OS] [--age N] [--periphery hull|normal]
//                   [--other-eye FILE] INPUT OUTPUT.bmp
//
// The polar plot of a perimetry measurement (CSV, JSON or DICOM; field/):
// one eye's field, or with --other-eye the binocular field of both. OUTPUT is
// the 400 x 400 24-bit plot the fixation-dependent simulation reads (--polar).
#include <string>

#include "cli/commands.hpp"
#include "cli/field_options.hpp"
#include "cli/options.hpp"
#include "cli/output.hpp"
#include "field/field.hpp"

namespace ocu::cli {

scenario::Field field_from_options(const Parsed& p, const std::string& file) {
    scenario::Field f;
    f.file = file;
    f.other_eye = p.last("--other-eye", "");
    if (p.has("--eye")) {
        f.eye = field::parse_eye(p.last("--eye", ""));
        if (!f.eye) throw UsageError("--eye needs OD or OS, got \"" + p.last("--eye", "") + "\"");
    }
    if (p.has("--age")) {
        const double age = parse_number(p.last("--age", ""), "--age");
        if (age < 0 || age > 120) {
            throw UsageError("--age needs a number of years from 0 to 120, got \"" + p.last("--age", "") + "\"");
        }
        f.age = age;
    }
    if (p.has("--periphery")) {
        const std::string v = p.last("--periphery", "");
        if (v == "hull") f.periphery = field::Periphery::Hull;
        else if (v == "normal") f.periphery = field::Periphery::Normal;
        else throw UsageError("--periphery needs hull or normal, got \"" + v + "\"");
    }
    return f;
}

namespace {

int field_body(const Args& args) {
    const Parsed p = parse_args(args, {"--eye", "--age", "--periphery", "--other-eye"}, 2);
    const scenario::Field f = field_from_options(p, p.positional[0]);
    check_outputs({p.positional[1]}, {f.file, f.other_eye});
    write_output(scenario::polar_plot_of(f), p.positional[1]);
    return 0;
}

}  // namespace

int run_field(const Args& args) {
    return run_guarded([&args] { return field_body(args); });
}

}  // namespace ocu::cli
