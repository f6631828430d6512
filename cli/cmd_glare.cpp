// ocumbra-sim glare [--width DEG|photo] [--glare N] INPUT OUTPUT
//
// The glare simulation: the veil of light scattered inside the eye, added to
// the image in linear light, for an image `--width` degrees wide and a glare
// factor N (an integer 0 to 10, as the glare dialog offers). OUTPUT gets the
// displayed result imt of a fresh computation (".npy" holds exactly the doubles
// the computation returns; any other extension goes through the image writer,
// as the window's Save command does).
#include <cmath>
#include <utility>
#include <string>

#include "cli/commands.hpp"
#include "cli/options.hpp"
#include "cli/output.hpp"
#include "glare/glare.hpp"
#include "toolkit/error.hpp"

namespace ocu::cli {

namespace {

// The glare dialog's slider gives the integers 0 to 10.
double parse_glare_factor(const std::string& text) {
    const double v = parse_number(text, "--glare");
    if (v < 0 || v > 10 || v != std::floor(v)) {
        throw UsageError("--glare needs a whole number from 0 to 10, got \"" + text + "\"");
    }
    return v;
}

int glare_body(const Args& args) {
    const Parsed p = parse_args(args, {"--width", "--glare", kSideBySide}, 2);
    const std::string& input = p.positional[0];
    glare::Params params;  // width 20, glare factor 1, exponents 2
    const bool photo_width = p.last("--width", "") == "photo";
    if (p.has("--width") && !photo_width) params.width = parse_width_option(p.last("--width", ""), input);
    if (p.has("--glare")) params.glarefact = parse_glare_factor(p.last("--glare", ""));
    check_outputs({p.positional[1]}, {input});
    if (photo_width) params.width = parse_width_option("photo", input);

    const AnyImage im = read_input(input);
    glare::Result result = glare::run(im, params);
    write_output(output_of(p, im, std::move(result.imt)), p.positional[1]);
    return 0;
}

}  // namespace

int run_glare(const Args& args) {
    return run_guarded([&args] { return glare_body(args); });
}

}  // namespace ocu::cli
