#include "scenario/scenario.hpp"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QLocale>
#include <QString>

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <system_error>
#include <unistd.h>

#include "clinical/photo.hpp"
#include "clinical/units.hpp"
#include "field/field.hpp"
#include "toolkit/error.hpp"
#include "toolkit/imageio.hpp"

namespace fs = std::filesystem;

namespace ocu::scenario {

namespace {

constexpr std::size_t kMaxScenarioBytes = 1u << 20;

struct StepName {
    const char* name;
    bool Steps::*flag;
};
constexpr std::array<StepName, 4> kStepNames{{{"glare", &Steps::glare},
                                              {"acuity", &Steps::acuity},
                                              {"colour", &Steps::colour},
                                              {"field", &Steps::field}}};

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A JSON value as a user reads it in a message.
std::string shown(const QJsonValue& v) {
    switch (v.type()) {
        case QJsonValue::String: {
            std::string q = "\"";
            q += v.toString().toStdString();
            q += '"';
            return q;
        }
        case QJsonValue::Double:
            return QByteArray::number(v.toDouble(), 'g', QLocale::FloatingPointShortest).toStdString();
        case QJsonValue::Bool: return v.toBool() ? "true" : "false";
        case QJsonValue::Null: return "null";
        case QJsonValue::Array: return "an array";
        case QJsonValue::Object: return "an object";
        default: return "nothing";
    }
}

// Reads one scenario and names the file and key in every error.
class Reader {
public:
    Reader(std::string source, std::string base_dir) : source_(std::move(source)), base_(std::move(base_dir)) {}

    [[noreturn]] void fail(const std::string& key, const std::string& what) const {
        throw Error("Scenario \"" + source_ + "\", key \"" + key + "\": " + what);
    }
    [[noreturn]] void fail_type(const std::string& key, const char* wanted, const QJsonValue& v) const {
        fail(key, std::string("must be ") + wanted + ", got " + shown(v) + ".");
    }

    void only_keys(const QJsonObject& o, const std::string& prefix, std::initializer_list<const char*> known) const {
        for (auto it = o.begin(); it != o.end(); ++it) {
            const std::string k = it.key().toStdString();
            bool ok = false;
            for (const char* n : known) ok = ok || k == n;
            if (!ok) {
                std::string list;
                for (const char* n : known) list += std::string(list.empty() ? "" : ", ") + n;
                fail(prefix + k, "unknown key (known here: " + list + ").");
            }
        }
    }

    double number(const QJsonValue& v, const std::string& key) const {
        if (!v.isDouble() || !std::isfinite(v.toDouble())) fail_type(key, "a number", v);
        return v.toDouble();
    }
    std::string text(const QJsonValue& v, const std::string& key) const {
        if (!v.isString()) fail_type(key, "a text", v);
        return v.toString().toStdString();
    }
    // Runs a check of the simulations and names the key in its error.
    template <class F>
    auto checked(const std::string& key, F&& f) const {
        try {
            return f();
        } catch (const Error& e) {
            fail(key, e.what());
        }
    }

    // A file name from the scenario: relative ones against the scenario's
    // folder; the file must exist.
    std::string file(const QJsonValue& v, const std::string& key) const {
        const std::string name = text(v, key);
        if (name.empty()) fail(key, "the file name is empty.");
        fs::path p(name);
        if (p.is_relative() && !base_.empty()) p = fs::path(base_) / p;
        const std::string path = p.lexically_normal().string();
        std::error_code ec;
        if (!fs::is_regular_file(path, ec)) fail(key, "the file \"" + path + "\" does not exist.");
        return path;
    }

    Scenario read(const QJsonObject& o) const {
        only_keys(o, "", {"name", "description", "comment", "steps", "width", "acuity", "contrast", "glare",
                          "colour", "field", "fixation"});
        Scenario s;
        if (o.contains("name")) s.name = text(o["name"], "name");
        if (o.contains("description")) s.description = text(o["description"], "description");
        if (o.contains("comment")) (void)text(o["comment"], "comment");
        read_steps(o, s);
        if (o.contains("width")) read_width(o["width"], s);
        if (o.contains("acuity")) read_acuity(o["acuity"], s);
        if (o.contains("contrast")) s.contrast = read_contrast(o["contrast"]);
        if (o.contains("glare")) {
            const double g = number(o["glare"], "glare");
            if (g < 0 || g > 10 || g != std::floor(g)) {
                fail("glare", "must be a whole number from 0 to 10, got " + shown(o["glare"]) + ".");
            }
            s.glare = g;
        }
        if (o.contains("colour")) s.colour = read_colour(o["colour"]);
        if (o.contains("field")) s.field = read_field(o["field"]);
        if (o.contains("fixation")) {
            const QJsonValue v = o["fixation"];
            const QJsonArray a = v.toArray();
            if (!v.isArray() || a.size() != 2 || !a[0].isDouble() || !a[1].isDouble() ||
                !std::isfinite(a[0].toDouble()) || !std::isfinite(a[1].toDouble())) {
                fail_type("fixation", "[x, y], two numbers (1-based column and row)", v);
            }
            s.fixation = fixdep::Fixation{a[0].toDouble(), a[1].toDouble()};
        }
        if (s.steps.colour && !s.colour) fail("colour", "the colour step is on but the scenario has no \"colour\".");
        if (s.steps.field && !s.field) fail("field", "the field step is on but the scenario has no \"field\".");
        return s;
    }

private:
    void read_steps(const QJsonObject& o, Scenario& s) const {
        if (!o.contains("steps")) {
            fail("steps", "missing: list the steps to run, e.g. [\"glare\", \"acuity\", \"colour\", \"field\"].");
        }
        const QJsonValue v = o["steps"];
        if (!v.isArray()) fail_type("steps", "an array of step names", v);
        for (const QJsonValue& e : v.toArray()) {
            const std::string name = text(e, "steps");
            const StepName* found = nullptr;
            for (const StepName& n : kStepNames)
                if (name == n.name) found = &n;
            if (!found) fail("steps", "unknown step " + shown(e) + " (known: glare, acuity, colour, field).");
            if (s.steps.*(found->flag)) fail("steps", "the step " + shown(e) + " is listed twice.");
            s.steps.*(found->flag) = true;
        }
        if (!s.steps.any()) fail("steps", "no step is enabled: list at least one of glare, acuity, colour, field.");
    }

    void read_width(const QJsonValue& v, Scenario& s) const {
        if (v.isString() && v.toString() == "photo") {
            s.width_photo = true;
            return;
        }
        if (!v.isDouble()) fail_type("width", "a number of degrees or \"photo\"", v);
        const double w = v.toDouble();
        checked("width", [w] { viewing::check_width(w); });
        s.width = w;
    }

    void read_acuity(const QJsonValue& v, Scenario& s) const {
        if (v.isString()) {
            s.acuity_text = v.toString().toStdString();
            s.acuity = checked("acuity", [&] { return clinical::parse_acuity(s.acuity_text, "acuity"); });
            return;
        }
        const double a = number(v, "acuity");
        checked("acuity", [a] { viewing::check_acuity(a); });
        s.acuity = a;
    }

    Contrast read_contrast(const QJsonValue& v) const {
        if (!v.isObject()) fail_type("contrast", "an object, {\"factor\": F} or {\"logcs\": S}", v);
        const QJsonObject o = v.toObject();
        only_keys(o, "contrast.", {"factor", "logcs", "reference"});
        Contrast c;
        if (o.contains("factor") == o.contains("logcs")) {
            fail("contrast", "give exactly one of \"factor\" and \"logcs\".");
        }
        if (o.contains("factor")) {
            if (o.contains("reference")) fail("contrast.reference", "applies to \"logcs\" only.");
            c.value = number(o["factor"], "contrast.factor");
            checked("contrast.factor", [&c] { viewing::check_contrast(c.value); });
            return c;
        }
        c.kind = Contrast::Kind::LogCS;
        c.value = number(o["logcs"], "contrast.logcs");
        if (o.contains("reference")) c.reference = number(o["reference"], "contrast.reference");
        // Each is a score on the chart's scale; the conversion checks both.
        checked("contrast.logcs", [&c] { return clinical::contrast_factor_from_logcs(c.value); });
        if (c.reference) {
            checked("contrast.reference", [&c] { return clinical::contrast_factor_from_logcs(*c.reference); });
        }
        return c;
    }

    colour::Params read_colour(const QJsonValue& v) const {
        if (!v.isObject()) fail_type("colour", "an object, {\"type\": ..., \"severity\": ...}", v);
        const QJsonObject o = v.toObject();
        only_keys(o, "colour.", {"type", "severity"});
        if (!o.contains("type")) fail("colour.type", "missing: protan, deutan, tritan or achromat.");
        colour::Params c;
        const std::string type = text(o["type"], "colour.type");
        c.type = checked("colour.type", [&type] { return colour::parse_deficiency(type); });
        if (o.contains("severity")) {
            c.severity = number(o["severity"], "colour.severity");
            checked("colour.severity", [&c] { colour::check_severity(c.severity); });
        }
        return c;
    }

    Field read_field(const QJsonValue& v) const {
        Field f;
        if (v.isString()) {
            f.file = file(v, "field");
            return f;
        }
        if (!v.isObject()) fail_type("field", "a file name or an object with \"file\"", v);
        const QJsonObject o = v.toObject();
        only_keys(o, "field.", {"file", "other_eye", "eye", "age", "periphery"});
        if (!o.contains("file")) fail("field.file", "missing: the polar plot or perimetry file.");
        f.file = file(o["file"], "field.file");
        const bool plot = is_polar_plot_file(f.file);
        for (const char* k : {"other_eye", "eye", "age", "periphery"}) {
            if (plot && o.contains(k)) {
                fail(std::string("field.") + k, "applies to perimetry files only, not to a polar plot image.");
            }
        }
        if (o.contains("other_eye")) f.other_eye = file(o["other_eye"], "field.other_eye");
        if (o.contains("eye")) {
            f.eye = field::parse_eye(text(o["eye"], "field.eye"));
            if (!f.eye) fail("field.eye", "must be OD or OS, got " + shown(o["eye"]) + ".");
        }
        if (o.contains("age")) {
            const double age = number(o["age"], "field.age");
            if (age < 0 || age > 120) fail("field.age", "must be a number of years from 0 to 120, got " + shown(o["age"]) + ".");
            f.age = age;
        }
        if (o.contains("periphery")) {
            const std::string p = text(o["periphery"], "field.periphery");
            if (p == "hull") f.periphery = field::Periphery::Hull;
            else if (p == "normal") f.periphery = field::Periphery::Normal;
            else fail("field.periphery", "must be \"hull\" or \"normal\", got " + shown(o["periphery"]) + ".");
        }
        return f;
    }

    std::string source_, base_;
};

// `path` relative to `base_dir` when it lies inside it, else absolute.
std::string written_path(const std::string& path, const std::string& base_dir) {
    std::error_code ec;
    const fs::path abs = fs::absolute(path, ec).lexically_normal();
    if (!base_dir.empty()) {
        const fs::path base = fs::absolute(base_dir, ec).lexically_normal();
        const fs::path rel = abs.lexically_relative(base);
        if (!rel.empty() && *rel.begin() != "..") return rel.generic_string();
    }
    return abs.generic_string();
}

}  // namespace

double Contrast::factor() const {
    if (kind == Kind::Factor) return value;
    return clinical::contrast_factor_from_logcs(value, reference.value_or(clinical::kNormalLogCS));
}

Scenario parse_scenario(std::string_view json, const std::string& source, const std::string& base_dir) {
    if (json.starts_with("\xEF\xBB\xBF")) json.remove_prefix(3);  // a byte-order mark, as editors write it
    QJsonParseError err{};
    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray(json.data(), static_cast<qsizetype>(json.size())), &err);
    if (err.error != QJsonParseError::NoError) {
        throw Error("Scenario \"" + source + "\" is not valid JSON (" + err.errorString().toStdString() +
                    " at character " + std::to_string(err.offset) + ").");
    }
    if (!doc.isObject()) throw Error("Scenario \"" + source + "\" must hold one JSON object {...}.");
    return Reader(source, base_dir).read(doc.object());
}

Scenario read_scenario(const std::string& path) {
    std::error_code ec;
    if (!fs::exists(path, ec)) throw Error("Scenario file \"" + path + "\" does not exist.");
    if (!fs::is_regular_file(path, ec)) throw Error("Scenario file \"" + path + "\" is not a regular file.");
    if (fs::file_size(path, ec) > kMaxScenarioBytes) throw Error("Scenario file \"" + path + "\" is too large.");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Error("Can't open scenario file \"" + path + "\" for reading.");
    std::ostringstream text;
    text << in.rdbuf();
    return parse_scenario(text.str(), path, fs::path(path).parent_path().string());
}

std::string to_json(const Scenario& s, const std::string& base_dir) {
    QJsonObject o;
    if (!s.name.empty()) o["name"] = QString::fromStdString(s.name);
    if (!s.description.empty()) o["description"] = QString::fromStdString(s.description);
    QJsonArray steps;
    for (const StepName& n : kStepNames)
        if (s.steps.*(n.flag)) steps.append(QString(n.name));
    o["steps"] = steps;
    if (s.width_photo) o["width"] = "photo";
    else if (s.width) o["width"] = *s.width;
    if (!s.acuity_text.empty()) o["acuity"] = QString::fromStdString(s.acuity_text);
    else o["acuity"] = s.acuity;
    QJsonObject c;
    if (s.contrast.kind == Contrast::Kind::Factor) {
        c["factor"] = s.contrast.value;
    } else {
        c["logcs"] = s.contrast.value;
        if (s.contrast.reference) c["reference"] = *s.contrast.reference;
    }
    o["contrast"] = c;
    o["glare"] = s.glare;
    if (s.colour) {
        o["colour"] = QJsonObject{{"type", QString::fromStdString(std::string(colour::deficiency_name(s.colour->type)))},
                                  {"severity", s.colour->severity}};
    }
    if (s.field) {
        QJsonObject f;
        f["file"] = QString::fromStdString(written_path(s.field->file, base_dir));
        if (!is_polar_plot_file(s.field->file)) {
            if (!s.field->other_eye.empty()) f["other_eye"] = QString::fromStdString(written_path(s.field->other_eye, base_dir));
            if (s.field->eye) f["eye"] = field::eye_name(*s.field->eye);
            if (s.field->age) f["age"] = *s.field->age;
            f["periphery"] = s.field->periphery == field::Periphery::Hull ? "hull" : "normal";
        }
        o["field"] = f;
    }
    if (s.fixation) o["fixation"] = QJsonArray{s.fixation->x, s.fixation->y};
    return QJsonDocument(o).toJson(QJsonDocument::Indented).toStdString();
}

void write_scenario(const Scenario& s, const std::string& path) {
    const fs::path target(path);
    const std::string text = to_json(s, target.parent_path().string());
    std::string hidden = ".";
    hidden += target.filename().string();
    hidden += ".tmp";
    const std::string tmp = (target.parent_path() / hidden).string();
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            std::remove(tmp.c_str());
            throw Error("Can't write scenario file \"" + path + "\".");
        }
    }
    std::error_code ec;
    fs::rename(tmp, target, ec);
    if (ec) {
        std::remove(tmp.c_str());
        throw Error("Can't write scenario file \"" + path + "\": " + ec.message() + ".");
    }
}

bool is_polar_plot_file(const std::string& path) {
    const std::string ext = lower(fs::path(path).extension().string());
    return ext == ".bmp" || ext == ".tif" || ext == ".tiff" || ext == ".png" || ext == ".jpg" || ext == ".jpeg";
}

AnyImage polar_plot_of(const Field& f) {
    if (is_polar_plot_file(f.file)) return imread(f.file, kMaxPolarPlotSide);
    const field::PlotOptions opts{.periphery = f.periphery, .age = f.age, .eye = f.eye};
    const field::Measurement m = field::read_measurement(f.file);
    if (f.other_eye.empty()) return AnyImage(field::polar_plot(m, opts).image);
    return AnyImage(field::binocular_polar_plot(m, field::read_measurement(f.other_eye), opts).image);
}

Params resolve(const Scenario& s, const std::string& photo_path) {
    Params p;
    p.steps = s.steps;
    p.width = s.width_photo ? clinical::photo_width_degrees(photo_path) : s.width.value_or(viewing::kDefaultWidth);
    p.mar = s.acuity;
    p.contrastf = s.contrast.factor();
    p.glarefact = s.glare;
    if (s.colour) p.colour = *s.colour;
    if (s.steps.field) {
        if (!s.field) throw Error("The field step is on but the scenario has no field.");
        p.polim = polar_plot_of(*s.field);
    }
    return p;
}

}  // namespace ocu::scenario
