#pragma once
// Scenario files: one description of a person's vision that drives the
// combined simulation (pipeline.hpp), and the built-in presets.
//
// A scenario file is a JSON object (read with Qt's QJsonDocument):
//
//   {
//     "name": "cataract",
//     "description": "Cataract: blur, reduced contrast and much glare",
//     "steps": ["glare", "acuity", "field"],          // which steps run (order fixed)
//     "width": 20,                  // degrees, or "photo" (from the photo's EXIF)
//     "acuity": "20/50",            // decimal number, or text in any clinical unit
//     "contrast": {"logcs": 1.35},  // or {"factor": 2}; "reference" overrides 1.95
//     "glare": 6,                   // whole number 0..10
//     "colour": {"type": "tritan", "severity": 0.3},
//     "field": {"file": "fields/normal_24-2_OD.csv", "other_eye": "os.json",
//               "eye": "OD", "age": 70, "periphery": "hull"},   // or "field": "plot.bmp"
//     "fixation": [300, 200]        // 1-based column, row; default the centre
//   }
//
// Rules:
//  - "steps" is required: a non-empty array of distinct names from "glare",
//    "acuity" (acuity and contrast), "colour", "field". The colour step needs
//    "colour", the field step needs "field"; every other key is optional and
//    takes the window's default (width 20, acuity 1, contrast factor 1, glare 1).
//    Keys of steps that are off are still checked and kept.
//  - "field" is a polar plot image (.bmp, .tif, .tiff, .png, .jpg, .jpeg) or
//    a perimetry measurement (CSV, JSON, DICOM; field/measurement.hpp), either
//    as a text (the file) or an object whose "file" is required; "other_eye",
//    "eye", "age" and "periphery" apply to measurements only.
//  - Relative file names are taken against the scenario file's folder; the
//    files must exist.
//  - Unknown keys, wrong types and values out of range are errors
//    (ocu::Error) that name the file, the key (nested keys as "contrast.logcs")
//    and the value; nothing is run.
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "colour/colour.hpp"
#include "field/measurement.hpp"
#include "field/polarplot.hpp"
#include "fixdep/simulation.hpp"
#include "scenario/pipeline.hpp"

namespace ocu::scenario {

struct Contrast {
    enum class Kind { Factor, LogCS };
    Kind kind = Kind::Factor;
    double value = viewing::kDefaultContrast;  // the factor, or the Pelli-Robson score
    std::optional<double> reference;          // logcs only: the normal score (default 1.95)
    // The contrast factor it stands for.
    double factor() const;
    friend bool operator==(const Contrast&, const Contrast&) = default;
};

struct Field {
    std::string file;       // polar plot image or measurement file
    std::string other_eye;  // measurement of the other eye, or empty
    std::optional<field::Eye> eye;
    std::optional<double> age;
    field::Periphery periphery = field::Periphery::Hull;
    friend bool operator==(const Field&, const Field&) = default;
};

struct Scenario {
    std::string name;
    std::string description;
    Steps steps;
    std::optional<double> width;  // degrees; empty: the default, unless width_photo
    bool width_photo = false;     // "photo": from the input photo's EXIF focal length
    double acuity = viewing::kDefaultAcuity;  // decimal
    std::string acuity_text;      // as written when given as text ("20/40"), else empty
    Contrast contrast;
    double glare = viewing::kDefaultGlare;
    std::optional<colour::Params> colour;
    std::optional<Field> field;
    std::optional<fixdep::Fixation> fixation;
};

// Reads a scenario from JSON text; `source` names it in messages, relative
// file names are taken against `base_dir` ("" = the working folder).
Scenario parse_scenario(std::string_view json, const std::string& source, const std::string& base_dir);
// Reads a scenario file.
Scenario read_scenario(const std::string& path);

// The scenario as JSON text that parse_scenario reads back to the same
// scenario; file names inside `base_dir` are written relative to it.
std::string to_json(const Scenario& s, const std::string& base_dir);
// Writes a scenario file (through a temporary file, as the image writer does).
void write_scenario(const Scenario& s, const std::string& path);

// Whether `path` names a polar plot image by its extension (else a measurement).
bool is_polar_plot_file(const std::string& path);
// The polar plot of a field: the image as read, or the plot drawn from the
// measurement (both eyes when other_eye is given).
AnyImage polar_plot_of(const Field& f);

// The values of the combined run for the photo in `photo_path`: the width
// from the photo's EXIF when width_photo, the contrast factor, and the polar
// plot when the field step is on.
Params resolve(const Scenario& s, const std::string& photo_path);

// ---- Presets: illustrative, not clinical advice ----

// The built-in scenarios, in the order they are listed. Their files are the
// examples in the program's data folder (data/fields/).
std::span<const Scenario> presets();
// The preset called `name`; an ocu::Error listing the names when there is none.
const Scenario& preset(std::string_view name);

}  // namespace ocu::scenario
