#include "cli/commands.hpp"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace ocu::cli {

namespace {

constexpr Command kCommands[] = {
    {"fixindep", "[--width DEG] [--acuity A] [--contrast F | --logcs S] [--side-by-side] INPUT OUTPUT",
     "reduced acuity and contrast sensitivity over the whole image", &run_fixindep},
    {"fixdep",
     "[--width DEG] [--acuity A] [--polar FILE | --field FILE [--other-eye FILE]] [--at X,Y]... "
     "[--resmap FILE] [--side-by-side] INPUT OUTPUT",
     "a visual-field defect from a polar plot, rendered around fixation points", &run_fixdep},
    {"glare", "[--width DEG] [--glare N] [--side-by-side] INPUT OUTPUT", "light scattered inside the eye, added as a veil",
     &run_glare},
    {"colour", "--type protan|deutan|tritan|achromat [--severity S] [--side-by-side] INPUT OUTPUT",
     "colour vision deficiency at a severity 0..1, or achromatopsia", &run_colour},
    {"field", "[--eye OD|OS] [--age N] [--periphery hull|normal] [--other-eye FILE] INPUT OUTPUT.bmp",
     "the polar plot of a perimetry measurement (CSV, JSON, DICOM)", &run_field},
    {"scenario", "(FILE.json | --preset NAME) [--width DEG] [--at X,Y]... [--side-by-side] INPUT OUTPUT",
     "the combined simulation of a scenario file or a built-in preset", &run_scenario},
    {"presets", "", "list the built-in scenarios", &run_presets},
    {"convert", "INPUT OUTPUT", "read INPUT as the program reads any image and write it to OUTPUT",
     &run_convert},
    {"batch",
     "[--jobs N] [--skip-existing] [--shard I/N] [--pattern '{stem}_{sim}.png'] --out DIR "
     "SIMULATION [ITS OPTIONS] INPUT...",
     "run a command above over files, folders and glob patterns, in parallel jobs", &run_batch},
};

std::size_t name_width() {
    std::size_t w = 0;
    for (const Command& c : kCommands) w = std::max(w, c.name.size());
    return w;
}

std::string padded(std::string_view name) {
    std::string s(name);
    s.resize(name_width(), ' ');
    return s;
}

}  // namespace

std::span<const Command> commands() { return kCommands; }

const Command* find_command(std::string_view name) {
    for (const Command& c : kCommands)
        if (c.name == name) return &c;
    return nullptr;
}

const char* usage_text() {
    static const std::string text = [] {
        std::string s = "usage:\n";
        for (const Command& c : kCommands)
            s += "  ocumbra-sim " + (c.usage.empty() ? std::string(c.name) : padded(c.name) + " " + std::string(c.usage)) + "\n";
        return s;
    }();
    return text.c_str();
}

std::string command_help(const Command& c, std::string_view options_help) {
    std::string s = "Usage: ocumbra-sim " + std::string(c.name) + " " + std::string(c.usage) + "\n\n" +
                    std::string(c.summary) + "\n";

    // The options the usage line names, in its order, each once.
    std::vector<std::string> names;
    for (std::size_t i = c.usage.find("--"); i != std::string_view::npos; i = c.usage.find("--", i)) {
        std::size_t end = i + 2;
        while (end < c.usage.size() && (std::isalnum(static_cast<unsigned char>(c.usage[end])) ||
                                        c.usage[end] == '-' || c.usage[end] == '_'))
            ++end;
        const std::string name(c.usage.substr(i, end - i));
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
        i = end;
    }

    std::vector<std::string_view> lines;
    for (std::size_t pos = 0; pos < options_help.size();) {
        const std::size_t nl = options_help.find('\n', pos);
        const std::size_t end = nl == std::string_view::npos ? options_help.size() : nl;
        lines.push_back(options_help.substr(pos, end - pos));
        pos = end + 1;
    }
    auto indent = [](std::string_view line) { return line.find_first_not_of(' '); };

    std::string described;
    for (const std::string& name : names) {
        for (std::size_t k = 0; k < lines.size(); ++k) {
            const std::string_view line = lines[k];
            const std::size_t ind = indent(line);
            if (ind == std::string_view::npos || line.compare(ind, name.size(), name) != 0 ||
                line.size() <= ind + name.size() || line[ind + name.size()] != ' ')
                continue;
            described.append(line).append("\n");
            for (++k; k < lines.size(); ++k) {
                const std::size_t more = indent(lines[k]);
                if (more == std::string_view::npos || more <= ind || lines[k].compare(more, 2, "--") == 0)
                    break;
                described.append(lines[k]).append("\n");
            }
            break;
        }
    }
    if (!described.empty()) s += "\nOptions:\n" + described;
    s += "\nSee ocumbra-sim --help for the output formats and the exit status.\n";
    return s;
}

std::string help_usage_text() {
    std::string s;
    for (const Command& c : kCommands) {
        s += (s.empty() ? "Usage: " : "  or:  ");
        s += "ocumbra-sim " + std::string(c.name) + " " + std::string(c.usage) + "\n";
    }
    s += "  or:  ocumbra-sim COMMAND --help\n";
    s += "  or:  ocumbra-sim --help | --version\n";
    return s;
}

std::string summaries_text() {
    std::string s;
    for (const Command& c : kCommands) s += "  " + padded(c.name) + "  " + std::string(c.summary) + "\n";
    return s;
}

}  // namespace ocu::cli
