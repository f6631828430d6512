// The built-in scenarios. Illustrative values for demonstration and teaching,
// typical of each condition as described in the clinical literature, not
// clinical advice and not any patient's data. Their fields are the
// constructed examples of data/fields/. The README's presets table lists the
// same numbers.
#include <string>
#include <vector>

#include "clinical/units.hpp"
#include "scenario/scenario.hpp"
#include "toolkit/error.hpp"
#include "toolkit/paths.hpp"

namespace ocu::scenario {

namespace {

struct PresetRow {
    const char* name;
    const char* description;
    Steps steps;
    const char* acuity;  // clinical notation
    double logcs;        // Pelli-Robson score
    double glare;
    const char* field;      // file in the data folder's fields/, or nullptr
    const char* other_eye;  // or nullptr
    std::optional<field::Eye> eye;
    field::Periphery periphery;
    std::optional<colour::Params> colour;
};

constexpr Steps kGAF{.glare = true, .acuity = true, .field = true};

const PresetRow kRows[] = {
    {"normal70", "Normal vision at 70: slightly lower acuity and contrast, a little more glare (illustrative)",
     kGAF, "6/7.5", 1.80, 2, "normal_24-2_OD.csv", nullptr, std::nullopt, field::Periphery::Hull, std::nullopt},
    {"cataract", "Cataract: blur, reduced contrast and strong glare from the clouded lens (illustrative)",
     {.glare = true, .acuity = true}, "20/50", 1.35, 7, nullptr, nullptr, std::nullopt, field::Periphery::Hull,
     std::nullopt},
    {"amd-early", "Early age-related macular degeneration: mild blur and a shallow central depression (illustrative)",
     kGAF, "logMAR 0.2", 1.50, 2, "amd_early_10-2_OD.csv", nullptr, std::nullopt, field::Periphery::Normal,
     std::nullopt},
    {"amd-late", "Late age-related macular degeneration: a dense central scotoma, low acuity (illustrative)", kGAF,
     "20/200", 0.90, 3, "macular_degeneration_10-2_OD.csv", nullptr, field::Eye::OD, field::Periphery::Normal,
     std::nullopt},
    {"glaucoma-early", "Early glaucoma: a superior nasal step, acuity kept (illustrative)", kGAF, "20/20", 1.65, 2,
     "glaucoma_early_24-2_OD.csv", nullptr, std::nullopt, field::Periphery::Hull, std::nullopt},
    {"glaucoma-advanced", "Advanced glaucoma: about 10 degrees of field left around fixation (illustrative)", kGAF,
     "20/40", 1.20, 3, "glaucoma_advanced_24-2_OS.json", nullptr, std::nullopt, field::Periphery::Hull,
     std::nullopt},
    {"diabetic-retinopathy",
     "Diabetic retinopathy: patchy field losses, blur, reduced contrast and a blue-yellow loss (illustrative)",
     {.glare = true, .acuity = true, .colour = true, .field = true}, "20/40", 1.35, 3,
     "diabetic_retinopathy_24-2_OD.csv", nullptr, std::nullopt, field::Periphery::Hull,
     colour::Params{colour::Deficiency::Tritan, 0.4}},
    {"retinitis-pigmentosa", "Retinitis pigmentosa: a narrow tunnel of about 5 degrees, glare sensitive (illustrative)",
     kGAF, "20/40", 1.20, 4, "retinitis_pigmentosa_10-2_OD.csv", nullptr, std::nullopt, field::Periphery::Hull,
     std::nullopt},
    {"hemianopia-right", "Right homonymous hemianopia after a stroke: the right half of both eyes' fields lost (illustrative)",
     {.field = true}, "20/20", 1.95, 1, "hemianopia_right_24-2_OD.csv", "hemianopia_right_24-2_OS.dcm",
     std::nullopt, field::Periphery::Hull, std::nullopt},
};

std::vector<Scenario> build() {
    const std::string dir = program_data_dir() + "fields/";
    std::vector<Scenario> out;
    for (const PresetRow& r : kRows) {
        Scenario s;
        s.name = r.name;
        s.description = r.description;
        s.steps = r.steps;
        s.acuity_text = r.acuity;
        s.acuity = clinical::parse_acuity(r.acuity, "acuity");
        s.contrast = Contrast{.kind = Contrast::Kind::LogCS, .value = r.logcs, .reference = std::nullopt};
        s.glare = r.glare;
        s.colour = r.colour;
        if (r.field) {
            Field f;
            f.file = dir + r.field;
            if (r.other_eye) f.other_eye = dir + r.other_eye;
            f.eye = r.eye;
            f.periphery = r.periphery;
            s.field = f;
        }
        out.push_back(std::move(s));
    }
    return out;
}

}  // namespace

std::span<const Scenario> presets() {
    static const std::vector<Scenario> all = build();
    return all;
}

const Scenario& preset(std::string_view name) {
    std::string names;
    for (const Scenario& s : presets()) {
        if (s.name == name) return s;
        names += (names.empty() ? "" : ", ") + s.name;
    }
    throw Error("There is no preset \"" + std::string(name) + "\"; the presets are " + names + ".");
}

}  // namespace ocu::scenario
