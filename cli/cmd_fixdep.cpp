// ocumbra-sim fixdep [--width DEG|photo] [--acuity A] [--polar FILE | --field FILE
//                    [--other-eye FILE] [--eye OD|OS] [--age N] [--periphery hull|normal]]
//                    [--at X,Y]... [--resmap FILE] INPUT OUTPUT
//
// The fixation-dependent simulation: the resolution map and the blending
// masks are prepared once, then the image is rendered for each --at point in
// turn (1-based column,row; default the image centre); OUTPUT gets the last
// rendering. The visual field is a polar plot (--polar; default the program's
// own polarplotREmd.bmp from its data folder) or the plot drawn from a
// perimetry measurement (--field, as `ocumbra-sim field` draws it). --resmap
// also writes the resolution map (".npy" exactly, any other extension through
// the image writer, as the window's Save resmap does).
//
// A double INPUT (a .npy result of another command, values 0..1) is read as
// the sample values 255 x, the rule of the combined simulation
// (scenario/pipeline.hpp).
#include <string>
#include <utility>
#include <vector>

#include "cli/commands.hpp"
#include "cli/field_options.hpp"
#include "cli/options.hpp"
#include "cli/output.hpp"
#include "fixdep/simulation.hpp"
#include "scenario/pipeline.hpp"
#include "toolkit/limits.hpp"
#include "toolkit/paths.hpp"

namespace ocu::cli {

namespace {

int fixdep_body(const Args& args) {
    const Parsed p = parse_args(args,
                                {"--width", "--acuity", "--polar", "--field", "--other-eye", "--eye", "--age",
                                 "--periphery", "--at", "--resmap", kSideBySide},
                                2);
    const std::string& input = p.positional[0];
    fixdep::Params params;  // width 20, acuity 1
    const bool photo_width = p.last("--width", "") == "photo";
    if (p.has("--width") && !photo_width) params.width = parse_width_option(p.last("--width", ""), input);
    if (p.has("--acuity")) params.mar = parse_acuity_option(p.last("--acuity", ""));
    std::vector<fixdep::Fixation> points;
    if (p.has("--at")) {
        for (const auto& text : p.options.at("--at")) {
            const auto [x, y] = parse_point(text, "--at");
            points.push_back({x, y});
        }
    }
    if (p.has("--polar") && p.has("--field")) throw UsageError("give --polar or --field, not both");
    if (!p.has("--field")) {
        for (const char* o : {"--other-eye", "--eye", "--age", "--periphery"})
            if (p.has(o)) throw UsageError(std::string(o) + " goes with --field");
    }
    const bool from_field = p.has("--field");
    const scenario::Field field = from_field ? field_from_options(p, p.last("--field", "")) : scenario::Field{};
    // The default plot is the program's own, whatever the working folder holds.
    const std::string polar_file =
        p.has("--polar") ? p.last("--polar", "") : program_data_dir() + fixdep::kDefaultPolarPlot;
    const bool want_resmap = p.has("--resmap");
    std::vector<std::string> outputs{p.positional[1]};
    if (want_resmap) outputs.push_back(p.last("--resmap", ""));
    check_outputs(outputs, {input, from_field ? field.file : polar_file, field.other_eye});
    if (photo_width) params.width = parse_width_option("photo", input);

    AnyImage im = read_input(input);
    const AnyImage original = p.has(kSideBySide) ? im : AnyImage();  // as read, for --side-by-side
    if (auto* d = std::get_if<ArrayD>(&im)) im = scenario::step_input(scenario::Step::Field, std::move(*d));
    params.polim = from_field ? scenario::polar_plot_of(field) : read_input(polar_file, kMaxPolarPlotSide);
    fixdep::Session session = fixdep::prepare(image_cols(im), image_rows(im), params);
    params.polim = AnyImage();  // the map is made; the plot is not needed any more
    ArrayD restot = session.release_resmap();
    if (!want_resmap) restot = ArrayD();  // the engine keeps what it needs of the map
    if (points.empty()) points.push_back(session.centre());

    ArrayD result;
    for (const fixdep::Fixation& f : points) {
        result = ArrayD();  // the previous rendering is not needed any more
        result = fixdep::render(session, f, im);
    }
    write_output(output_of(p, original, std::move(result)), p.positional[1]);
    if (want_resmap) write_output(restot, p.last("--resmap", ""));
    return 0;
}

}  // namespace

int run_fixdep(const Args& args) {
    return run_guarded([&args] { return fixdep_body(args); });
}

}  // namespace ocu::cli
