#include "cli/commands.hpp"

#include <algorithm>

namespace ocu::cli {

namespace {

constexpr Command kCommands[] = {
    {"fixindep", "[--width DEG] [--acuity DEC] [--contrast F] INPUT OUTPUT",
     "reduced acuity and contrast sensitivity over the whole image", &run_fixindep},
    {"fixdep", "[--width DEG] [--acuity DEC] [--polar FILE] [--at X,Y]... [--resmap FILE] INPUT OUTPUT",
     "a visual-field defect from a polar plot, rendered around fixation points", &run_fixdep},
    {"glare", "[--width DEG] [--glare N] INPUT OUTPUT", "light scattered inside the eye, added as a veil",
     &run_glare},
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
            s += "  ocumbra-sim " + padded(c.name) + " " + std::string(c.usage) + "\n";
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
