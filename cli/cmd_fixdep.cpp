// ocumbra-sim fixdep [--width DEG] [--acuity DEC] [--polar FILE] [--at X,Y]...
//                    [--resmap FILE] INPUT OUTPUT
//
// The fixation-dependent simulation: the resolution map and the blending
// masks are prepared once, then the image is rendered for each --at point in
// turn (1-based column,row; default the image centre); OUTPUT gets the last
// rendering. --resmap also writes the resolution map (".npy" exactly, any
// other extension through the image writer, as the window's Save resmap does).
#include <string>
#include <utility>
#include <vector>

#include "cli/commands.hpp"
#include "cli/options.hpp"
#include "cli/output.hpp"
#include "fixdep/simulation.hpp"
#include "toolkit/limits.hpp"
#include "toolkit/paths.hpp"

namespace ocu::cli {

namespace {

int fixdep_body(const Args& args) {
    const Parsed p = parse_args(args, {"--width", "--acuity", "--polar", "--at", "--resmap"}, 2);
    fixdep::Params params;  // width 20, acuity 1
    if (p.has("--width")) params.width = parse_number(p.last("--width", ""), "--width");
    if (p.has("--acuity")) params.mar = parse_number(p.last("--acuity", ""), "--acuity");
    std::vector<fixdep::Fixation> points;
    if (p.has("--at")) {
        for (const auto& text : p.options.at("--at")) {
            const auto [x, y] = parse_point(text, "--at");
            points.push_back({x, y});
        }
    }
    const std::string polar_file =
        p.has("--polar") ? p.last("--polar", "") : find_data_file(fixdep::kDefaultPolarPlot);

    const AnyImage im = read_input(p.positional[0]);
    params.polim = read_input(polar_file, kMaxPolarPlotSide);
    fixdep::Session session = fixdep::prepare(image_cols(im), image_rows(im), params);
    params.polim = AnyImage();  // the map is made; the plot is not needed any more
    ArrayD restot = session.release_resmap();
    const bool want_resmap = p.has("--resmap");
    if (!want_resmap) restot = ArrayD();  // the engine keeps what it needs of the map
    if (points.empty()) points.push_back(session.centre());

    ArrayD result;
    for (const fixdep::Fixation& f : points) {
        result = ArrayD();  // the previous rendering is not needed any more
        result = fixdep::render(session, f, im);
    }
    write_output(result, p.positional[1]);
    if (want_resmap) write_output(restot, p.last("--resmap", ""));
    return 0;
}

}  // namespace

int run_fixdep(const Args& args) {
    return run_guarded([&args] { return fixdep_body(args); });
}

}  // namespace ocu::cli
