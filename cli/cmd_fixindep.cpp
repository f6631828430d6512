// ocumbra-sim fixindep [--width DEG|photo] [--acuity A] [--contrast F | --logcs S] INPUT OUTPUT
//
// The fixation-independent simulation: the contrast-dependent local blur of
// the whole image for a visual acuity (decimal, Snellen or logMAR) and a
// contrast factor (or a Pelli-Robson score), with the image `--width` degrees
// wide. OUTPUT gets the displayed result imt (".npy" holds exactly the doubles
// the computation returns; any other extension goes through the image writer,
// as the window's Save command does).
#include "cli/commands.hpp"
#include "cli/options.hpp"
#include "cli/output.hpp"
#include "fixindep/fixindep.hpp"

namespace ocu::cli {

namespace {

int fixindep_body(const Args& args) {
    const Parsed p = parse_args(args, {"--width", "--acuity", "--contrast", "--logcs", kSideBySide}, 2);
    const std::string& input = p.positional[0];
    fixindep::Params params;  // width 20, acuity 1, contrast 1, exponents 2
    if (p.has("--acuity")) params.mar = parse_acuity_option(p.last("--acuity", ""));
    params.contrastf = parse_contrast_options(p, params.contrastf);
    const bool photo_width = p.last("--width", "") == "photo";
    if (p.has("--width") && !photo_width) params.width = parse_width_option(p.last("--width", ""), input);
    check_outputs({p.positional[1]}, {input});
    if (photo_width) params.width = parse_width_option("photo", input);

    const AnyImage im = read_input(input);
    write_output(output_of(p, im, fixindep::run(im, params)), p.positional[1]);
    return 0;
}

}  // namespace

int run_fixindep(const Args& args) {
    return run_guarded([&args] { return fixindep_body(args); });
}

}  // namespace ocu::cli
