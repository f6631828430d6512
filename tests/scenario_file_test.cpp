// Scenario files: a full example read back to the values worked out by hand,
// relative paths, writing a scenario back, and files with mistakes (each error
// names the key).
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "cli_testutil.hpp"
#include "scenario/scenario.hpp"
#include "toolkit/error.hpp"

using namespace ocu;
using namespace ocu::testutil;
namespace sc = ocu::scenario;

namespace {

// A folder with a measurement and a polar plot to point scenarios at.
struct Folder {
    TempDir dir;
    Folder() {
        std::filesystem::create_directory(dir.file("fields"));
        std::ofstream(dir.file("fields/m.csv")) << "x_deg,y_deg,td_db\n3,3,0\n-3,3,0\n3,-3,0\n";
        std::ofstream(dir.file("other.csv")) << "x_deg,y_deg,td_db\n3,3,0\n-3,3,0\n3,-3,0\n";
        std::ofstream(dir.file("plot.bmp")) << "a plot";
    }
};

}  // namespace

TEST(ScenarioFile, FullExampleReadsToTheValuesByHand) {
    Folder f;
    const std::string text = R"({
      "name": "cataract", "description": "blur and glare", "comment": "made by hand",
      "steps": ["field", "glare", "acuity", "colour"],
      "width": 30, "acuity": "20/50", "contrast": {"logcs": 1.35}, "glare": 6,
      "colour": {"type": "tritan", "severity": 0.3},
      "field": {"file": "fields/m.csv", "other_eye": "other.csv", "eye": "OD", "age": 70, "periphery": "normal"},
      "fixation": [300, 200.5]
    })";
    const sc::Scenario s = sc::parse_scenario(text, "x.json", f.dir.path());
    EXPECT_EQ(s.name, "cataract");
    EXPECT_EQ(s.description, "blur and glare");
    EXPECT_EQ(s.steps, (sc::Steps{true, true, true, true}));
    EXPECT_EQ(s.width, 30.0);
    EXPECT_FALSE(s.width_photo);
    EXPECT_DOUBLE_EQ(s.acuity, 0.4);
    EXPECT_EQ(s.acuity_text, "20/50");
    EXPECT_NEAR(s.contrast.factor(), 3.981071705534972, 1e-12);  // 10^(1.95 - 1.35)
    EXPECT_EQ(s.glare, 6.0);
    ASSERT_TRUE(s.colour);
    EXPECT_EQ(s.colour->type, colour::Deficiency::Tritan);
    EXPECT_EQ(s.colour->severity, 0.3);
    ASSERT_TRUE(s.field);
    EXPECT_EQ(s.field->file, f.dir.file("fields/m.csv"));  // against the scenario's folder
    EXPECT_EQ(s.field->other_eye, f.dir.file("other.csv"));
    EXPECT_EQ(s.field->eye, field::Eye::OD);
    EXPECT_EQ(s.field->age, 70.0);
    EXPECT_EQ(s.field->periphery, field::Periphery::Normal);
    ASSERT_TRUE(s.fixation);
    EXPECT_EQ(s.fixation->x, 300);
    EXPECT_EQ(s.fixation->y, 200.5);

    // Defaults, a plot as a plain text, a reference of its own, width "photo".
    const sc::Scenario d = sc::parse_scenario(
        R"({"steps": ["acuity", "field"], "width": "photo", "acuity": 0.25,
            "contrast": {"logcs": 1.2, "reference": 1.8}, "field": "plot.bmp"})",
        "d.json", f.dir.path());
    EXPECT_TRUE(d.width_photo);
    EXPECT_EQ(d.acuity, 0.25);
    EXPECT_TRUE(d.acuity_text.empty());
    EXPECT_NEAR(d.contrast.factor(), std::pow(10.0, 0.6), 1e-12);
    EXPECT_EQ(d.glare, 1.0);
    EXPECT_FALSE(d.fixation);
    EXPECT_TRUE(sc::is_polar_plot_file(d.field->file));
    // Saved by an editor that writes a byte-order mark and Windows line ends.
    EXPECT_EQ(sc::parse_scenario("\xEF\xBB\xBF{\"steps\": [\"glare\"],\r\n \"glare\": 4}\r\n", "b.json", "").glare, 4.0);
}

TEST(ScenarioFile, WrittenBackAndReadAgainIsTheSame) {
    Folder f;
    sc::Scenario s = sc::parse_scenario(
        R"({"name": "n", "steps": ["glare", "field"], "width": 25, "acuity": "logMAR 0.3",
            "contrast": {"factor": 2.5}, "glare": 3, "colour": {"type": "achromat"},
            "field": {"file": "fields/m.csv", "eye": "OS", "age": 61}, "fixation": [10, 20]})",
        "s.json", f.dir.path());
    const std::string path = f.dir.file("saved.json");
    sc::write_scenario(s, path);
    const std::string text = slurp(path);
    EXPECT_NE(text.find("\"fields/m.csv\""), std::string::npos) << text;  // relative to its folder
    const sc::Scenario back = sc::read_scenario(path);
    EXPECT_EQ(back.name, s.name);
    EXPECT_EQ(back.steps, s.steps);
    EXPECT_EQ(back.width, s.width);
    EXPECT_EQ(back.acuity, s.acuity);
    EXPECT_EQ(back.acuity_text, "logMAR 0.3");
    EXPECT_EQ(back.contrast, s.contrast);
    EXPECT_EQ(back.glare, s.glare);
    EXPECT_EQ(back.colour->type, colour::Deficiency::Achromat);
    EXPECT_EQ(back.field, s.field);
    EXPECT_EQ(back.fixation->y, 20);

    // Saved elsewhere, the file names stay valid (absolute).
    TempDir other;
    sc::write_scenario(s, other.file("moved.json"));
    EXPECT_EQ(sc::read_scenario(other.file("moved.json")).field, s.field);
}

TEST(ScenarioFile, MistakesNameTheKey) {
    Folder f;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"({"steps": ["glare"], "glre": 2})", "glre"},
        {R"({"glare": 2})", "steps"},
        {R"({"steps": "glare"})", "steps"},
        {R"({"steps": []})", "steps"},
        {R"({"steps": ["blur"]})", "steps"},
        {R"({"steps": ["glare", "glare"]})", "steps"},
        {R"({"steps": ["glare"], "name": 3})", "name"},
        {R"({"steps": ["glare"], "width": "wide"})", "width"},
        {R"({"steps": ["glare"], "width": 180})", "width"},
        {R"({"steps": ["acuity"], "acuity": "20/0"})", "acuity"},
        {R"({"steps": ["acuity"], "acuity": "logMAR 3.5"})", "acuity"},
        {R"({"steps": ["acuity"], "acuity": true})", "acuity"},
        {R"({"steps": ["acuity"], "acuity": -1})", "acuity"},
        {R"({"steps": ["acuity"], "contrast": 2})", "contrast"},
        {R"({"steps": ["acuity"], "contrast": {"factor": 2, "logcs": 1}})", "contrast"},
        {R"({"steps": ["acuity"], "contrast": {"factr": 2}})", "contrast.factr"},
        {R"({"steps": ["acuity"], "contrast": {"factor": 0}})", "contrast.factor"},
        {R"({"steps": ["acuity"], "contrast": {"logcs": 2.5}})", "contrast.logcs"},
        {R"({"steps": ["acuity"], "contrast": {"logcs": 1.5, "reference": -1}})", "contrast.reference"},
        {R"({"steps": ["glare"], "glare": 11})", "glare"},
        {R"({"steps": ["glare"], "glare": 2.5})", "glare"},
        {R"({"steps": ["glare"], "glare": "5"})", "glare"},
        {R"({"steps": ["colour"]})", "colour"},
        {R"({"steps": ["colour"], "colour": {"severity": 1}})", "colour.type"},
        {R"({"steps": ["colour"], "colour": {"type": "protanopia"}})", "colour.type"},
        {R"({"steps": ["colour"], "colour": {"type": "protan", "severity": 1.5}})", "colour.severity"},
        {R"({"steps": ["field"]})", "field"},
        {R"({"steps": ["field"], "field": "missing.csv"})", "field"},
        {R"({"steps": ["field"], "field": {"eye": "OD"}})", "field.file"},
        {R"({"steps": ["field"], "field": {"file": "plot.bmp", "eye": "OD"}})", "field.eye"},
        {R"({"steps": ["field"], "field": {"file": "fields/m.csv", "eye": "left-ish"}})", "field.eye"},
        {R"({"steps": ["field"], "field": {"file": "fields/m.csv", "periphery": "edge"}})", "field.periphery"},
        {R"({"steps": ["field"], "field": {"file": "fields/m.csv", "age": 150}})", "field.age"},
        {R"({"steps": ["field"], "field": {"file": "fields/m.csv", "other_eye": "no.csv"}})", "field.other_eye"},
        {R"({"steps": ["glare"], "fixation": [1]})", "fixation"},
        {R"({"steps": ["glare"], "fixation": [1, "2"]})", "fixation"},
    };
    for (const auto& [json, key] : cases) {
        try {
            sc::parse_scenario(json, "bad.json", f.dir.path());
            ADD_FAILURE() << "accepted: " << json;
        } catch (const Error& e) {
            const std::string msg = e.what();
            EXPECT_NE(msg.find("Scenario \"bad.json\", key \"" + key + "\""), std::string::npos) << json << "\n" << msg;
        }
    }
    EXPECT_THROW(sc::parse_scenario(R"({"steps": [)", "bad.json", ""), Error);
    EXPECT_THROW(sc::parse_scenario("[1, 2]", "bad.json", ""), Error);
    EXPECT_THROW(sc::read_scenario(f.dir.file("none.json")), Error);
}
