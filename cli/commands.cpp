#include "cli/commands.hpp"

#include <algorithm>

namespace ocu::cli {

namespace {

constexpr Command kCommands[] = {
    {"fixindep", "[--width DEG] [--acuity A] [--contrast F | --logcs S] INPUT OUTPUT",
     "reduced acuity and contrast sensitivity over the whole image", &run_fixindep},
    {"fixdep",
     "[--width DEG] [--acuity A] [--polar FILE | --field FILE [--other-eye FILE]] [--at X,Y]... "
     "[--resmap FILE] INPUT OUTPUT",
     "a visual-field defect from a polar plot, rendered around fixation points", &run_fixdep},
    {"glare", "[--width DEG] [--glare N] INPUT OUTPUT", "light scattered inside the eye, added as a veil",
     &run_glare},
    {"colour", "--type protan|deutan|tritan|achromat [--severity S] INPUT OUTPUT",
     "colour vision deficiency at a severity 0..1, or achromatopsia", &run_colour},
    {"field", "[--eye OD|OS] [--age N] [--periphery hull|normal] [--other-eye FILE] INPUT OUTPUT.bmp",
     "the polar plot of a perimetry measurement (CSV, JSON, DICOM)", &run_field},
    {"scenario", "(FILE.json | --preset NAME) [--width DEG] [--at X,Y]... INPUT OUTPUT",
     "the combined simulation of a scenario file or a built-in preset", &run_scenario},
    {"presets", "", "list the built-in scenarios", &run_presets},
    {"convert", "INPUT OUTPUT", "read INPUT as the program reads any image and write it to OUTPUT",
     &run_convert},
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

std::string summaries_text() {
    std::string s;
    for (const Command& c : kCommands) s += "  " + padded(c.name) + "  " + std::string(c.summary) + "\n";
    return s;
}

}  // namespace ocu::cli
