// ocumbra-sim fixindep [--width DEG] [--acuity DEC] [--contrast F] INPUT OUTPUT
//
// The fixation-independent simulation: the contrast-dependent local blur of
// the whole image for a visual acuity and a contrast factor, with the image
// `--width` degrees wide. OUTPUT gets the displayed result imt (".npy" holds
// exactly the doubles the computation returns; any other extension goes
// through the image writer, as the window's Save command does).
#include "cli/commands.hpp"
#include "cli/options.hpp"
#include "cli/output.hpp"
#include "fixindep/fixindep.hpp"

namespace ocu::cli {

namespace {

int fixindep_body(const Args& args) {
    const Parsed p = parse_args(args, {"--width", "--acuity", "--contrast"}, 2);
    fixindep::Params params;  // width 20, acuity 1, contrast 1, exponents 2
    if (p.has("--width")) params.width = parse_number(p.last("--width", ""), "--width");
    if (p.has("--acuity")) params.mar = parse_number(p.last("--acuity", ""), "--acuity");
    if (p.has("--contrast")) params.contrastf = parse_number(p.last("--contrast", ""), "--contrast");

    const AnyImage im = read_input(p.positional[0]);
    const ArrayD imt = fixindep::run(im, params);
    write_output(imt, p.positional[1]);
    return 0;
}

}  // namespace

int run_fixindep(const Args& args) {
    return run_guarded([&args] { return fixindep_body(args); });
}

}  // namespace ocu::cli
