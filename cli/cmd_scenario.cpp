// ocumbra-sim scenario (FILE.json | --preset NAME) [--width DEG|photo] [--at X,Y]... INPUT OUTPUT
// ocumbra-sim presets
//
// The combined simulation of a scenario file or a built-in preset
// (scenario/): glare, acuity and contrast, colour and the visual field, the
// steps the scenario enables, in this order. The field step is rendered for
// each --at point in turn (default the scenario's fixation, else the image
// centre); OUTPUT gets the last rendering. --width replaces the scenario's
// width ("photo": from INPUT's EXIF focal length).
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.hpp"
#include "cli/options.hpp"
#include "cli/output.hpp"
#include "scenario/scenario.hpp"
#include "toolkit/error.hpp"

namespace ocu::cli {

namespace {

int scenario_body(const Args& args) {
    const Parsed p = parse_args(args, {"--preset", "--width", "--at", kSideBySide}, 2, 3);
    const bool from_preset = p.has("--preset");
    if (from_preset != (p.positional.size() == 2)) {
        throw UsageError(from_preset ? "with --preset, give INPUT and OUTPUT only"
                                     : "give a scenario FILE.json (or --preset NAME), INPUT and OUTPUT");
    }
    scenario::Scenario s =
        from_preset ? checked_option("--preset", [&p] { return scenario::preset(p.last("--preset", "")); })
                    : scenario::Scenario{};
    const std::string& input = p.positional[from_preset ? 0 : 1];
    const std::string& output = p.positional[from_preset ? 1 : 2];
    std::vector<fixdep::Fixation> points;
    if (p.has("--at")) {
        for (const auto& text : p.options.at("--at")) {
            const auto [x, y] = parse_point(text, "--at");
            points.push_back({x, y});
        }
    }
    const std::string width = p.last("--width", "");
    if (p.has("--width") && width != "photo") (void)parse_width_option(width, input);
    check_outputs({output}, {input, from_preset ? std::string() : p.positional[0]});

    if (!from_preset) s = scenario::read_scenario(p.positional[0]);
    if (p.has("--width")) {
        s.width_photo = width == "photo";
        if (!s.width_photo) s.width = parse_width_option(width, input);
    }
    if (points.empty()) points.push_back(s.fixation.value_or(fixdep::Fixation{}));
    const bool centre = !p.has("--at") && !s.fixation;

    const scenario::Params params = scenario::resolve(s, input);
    const AnyImage im = read_input(input);
    scenario::Prepared prepared = scenario::prepare(im, params);
    if (centre) points.front() = prepared.centre();
    ArrayD result;
    for (const fixdep::Fixation& f : points) prepared.render(f, result);
    write_output(output_of(p, im, std::move(result)), output);
    return 0;
}

int presets_body(const Args& args) {
    (void)parse_args(args, {}, 0);
    std::size_t w = 0;
    for (const scenario::Scenario& s : scenario::presets()) w = std::max(w, s.name.size());
    std::printf("Built-in scenarios (illustrative, not clinical advice):\n");
    for (const scenario::Scenario& s : scenario::presets()) {
        std::printf("  %-*s  %s\n", static_cast<int>(w), s.name.c_str(), s.description.c_str());
    }
    return 0;
}

}  // namespace

int run_scenario(const Args& args) {
    return run_guarded([&args] { return scenario_body(args); });
}

int run_presets(const Args& args) {
    return run_guarded([&args] { return presets_body(args); });
}

}  // namespace ocu::cli
