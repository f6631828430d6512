// ocumbra-sim colour --type protan|deutan|tritan|achromat [--severity S] INPUT OUTPUT
//
// Colour vision deficiency: the Machado, Oliveira & Fernandes (2009) model
// for protan, deutan and tritan at a severity 0..1 (default 1, dichromacy),
// or achromatopsia (no severity). OUTPUT gets the displayed result (".npy"
// exactly, other extensions through the image writer).
#include "cli/commands.hpp"
#include "cli/options.hpp"
#include "cli/output.hpp"
#include "colour/colour.hpp"

namespace ocu::cli {

namespace {

int colour_body(const Args& args) {
    const Parsed p = parse_args(args, {"--type", "--severity", kSideBySide}, 2);
    if (!p.has("--type")) throw UsageError("--type is required: protan, deutan, tritan or achromat");
    colour::Params params;
    const std::string type = p.last("--type", "");
    params.type = checked_option("--type", [&type] { return colour::parse_deficiency(type); });
    if (p.has("--severity")) {
        params.severity = parse_number(p.last("--severity", ""), "--severity");
        checked_option("--severity", [&params] { colour::check_severity(params.severity); });
    }
    check_outputs({p.positional[1]}, {p.positional[0]});

    const AnyImage im = read_input(p.positional[0]);
    write_output(output_of(p, im, colour::run(im, params)), p.positional[1]);
    return 0;
}

}  // namespace

int run_colour(const Args& args) {
    return run_guarded([&args] { return colour_body(args); });
}

}  // namespace ocu::cli
