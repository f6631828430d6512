// Reading perimetry measurements: the choice of reader, CSV, JSON, and the
// checks every reader applies. The DICOM reader is in dicom.cpp.
#include "field/measurement.hpp"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QString>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <utility>

#include "field/interpolate.hpp"
#include "field/reader_util.hpp"

namespace ocu::field {

using detail::at;
using detail::fail;
using detail::num;

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

std::string_view strip_bom(std::string_view t) {
    if (t.substr(0, kBom.size()) == kBom) t.remove_prefix(kBom.size());
    return t;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

std::string lower(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return r;
}

std::string extension(const std::string& path) {
    return lower(std::filesystem::path(path).extension().string());
}

// A whole number text as a double: optional sign, digits, point, exponent;
// also "nan" and "inf" (refused later as not finite). Empty when not a number.
std::optional<double> parse_number(std::string_view s, bool decimal_comma) {
    std::string t(s);
    if (decimal_comma) std::replace(t.begin(), t.end(), ',', '.');
    std::string_view v = t;
    if (!v.empty() && v.front() == '+') v.remove_prefix(1);
    if (v.empty() || v.front() == '+' || v.front() == ' ') return std::nullopt;
    double d = 0;
    const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), d);
    if (ec != std::errc() || end != v.data() + v.size()) return std::nullopt;
    return d;
}

// "<0" (blanks allowed): not seen at the brightest stimulus.
bool is_not_seen(std::string_view s) {
    std::string t;
    for (char c : s)
        if (c != ' ') t += c;
    return t == "<0";
}

// ---- CSV ----

// Splits one line at `delim`, honouring double quotes ("a,b" and "" inside).
std::vector<std::string> split_fields(std::string_view line, char delim) {
    std::vector<std::string> out;
    std::string cur;
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                cur += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                cur += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == delim) {
            out.push_back(std::string(trim(cur)));
            cur.clear();
        } else {
            cur += c;
        }
    }
    out.push_back(std::string(trim(cur)));
    return out;
}

// Lines split at "\r\n", "\n" or a lone "\r" (spreadsheets of any system).
std::vector<std::string_view> split_lines(std::string_view t) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (t[i] == '\n' || t[i] == '\r') {
            lines.push_back(t.substr(start, i - start));
            if (t[i] == '\r' && i + 1 < t.size() && t[i + 1] == '\n') ++i;
            start = i + 1;
        }
    }
    if (start < t.size()) lines.push_back(t.substr(start));
    return lines;
}

// Refuses bytes no text file holds (NUL and other control characters).
void check_text(std::string_view t, const std::string& source) {
    std::size_t line = 1;
    for (std::size_t i = 0; i < t.size(); ++i) {
        const auto c = static_cast<unsigned char>(t[i]);
        if (c == '\n') ++line;
        if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%02X", c);
            fail(source, "line " + std::to_string(line),
                 std::string("the byte ") + hex + " is not text; this is not a CSV or JSON file.");
        }
    }
}

}  // namespace

std::optional<Eye> parse_eye(std::string_view text) {
    const std::string t = lower(trim(text));
    if (t == "od" || t == "r" || t == "right") return Eye::OD;
    if (t == "os" || t == "l" || t == "left") return Eye::OS;
    return std::nullopt;
}

const char* eye_name(Eye eye) { return eye == Eye::OD ? "OD" : "OS"; }

Measurement parse_csv(std::string_view text, const std::string& source) {
    text = strip_bom(text);
    if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) throw Error(at(source) + " is empty.");
    check_text(text, source);
    const std::vector<std::string_view> lines = split_lines(text);

    auto skip = [](std::string_view l) {
        l = trim(l);
        return l.empty() || l.front() == '#';
    };
    std::size_t h = 0;
    while (h < lines.size() && skip(lines[h])) ++h;
    if (h == lines.size()) throw Error(at(source) + " holds only comments and blank lines.");
    const std::string hwhere = "line " + std::to_string(h + 1);

    // The header decides the separator.
    const std::string_view header = lines[h];
    char delim = ',';
    if (header.find(',') == std::string_view::npos) {
        if (header.find(';') != std::string_view::npos) delim = ';';
        else if (header.find('\t') != std::string_view::npos) delim = '\t';
    }
    const bool decimal_comma = delim != ',';

    enum Col { X, Y, TD, TH, EYE, AGE, NCOLS };
    constexpr std::array<const char*, NCOLS> kNames{"x_deg", "y_deg", "td_db", "threshold_db", "eye", "age"};
    std::array<std::optional<std::size_t>, NCOLS> col;
    const std::vector<std::string> names = split_fields(header, delim);
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string n = lower(names[i]);
        for (int k = 0; k < NCOLS; ++k) {
            if (n != kNames[k]) continue;
            if (col[k]) fail(source, hwhere, std::string("the header names the column \"") + kNames[k] + "\" twice.");
            col[k] = i;
        }
    }
    const char* kNeeded = " (a header row with x_deg, y_deg and td_db or threshold_db is needed).";
    for (int k : {X, Y})
        if (!col[k]) fail(source, hwhere, std::string("the header has no column \"") + kNames[k] + "\"" + kNeeded);
    if (!col[TD] && !col[TH]) fail(source, hwhere, std::string("the header has no column \"td_db\" or \"threshold_db\"") + kNeeded);
    if (col[TD] && col[TH]) fail(source, hwhere, "the header has both \"td_db\" and \"threshold_db\"; keep one.");
    const int vcol = col[TD] ? TD : TH;

    Measurement m;
    m.source = source;
    m.kind = col[TD] ? Kind::TotalDeviation : Kind::Threshold;
    std::size_t eye_line = 0, age_line = 0;
    for (std::size_t li = h + 1; li < lines.size(); ++li) {
        if (skip(lines[li])) continue;
        const std::vector<std::string> f = split_fields(lines[li], delim);
        if (std::all_of(f.begin(), f.end(), [](const std::string& s) { return s.empty(); })) continue;
        const std::string where = "line " + std::to_string(li + 1);
        auto cell = [&](int k) -> const std::string& {
            static const std::string kEmpty;
            return *col[k] < f.size() ? f[*col[k]] : kEmpty;
        };
        auto number = [&](int k) {
            const std::string& s = cell(k);
            if (s.empty()) fail(source, where, std::string("no value in column \"") + kNames[k] + "\".");
            const auto v = parse_number(s, decimal_comma);
            if (!v) fail(source, where, "\"" + s + "\" in column \"" + kNames[k] + "\" is not a number.");
            return *v;
        };
        if (m.points.size() == kMaxPoints) {
            fail(source, where, "more than " + std::to_string(kMaxPoints) + " test points.");
        }
        TestPoint p;
        p.where = where;
        p.x = detail::check_deg(number(X), source, where, "x_deg");
        p.y = detail::check_deg(number(Y), source, where, "y_deg");
        if (is_not_seen(cell(vcol))) {
            p.seen = false;
        } else {
            p.db = detail::check_db(number(vcol), source, where, kNames[vcol]);
        }
        if (col[EYE] && !cell(EYE).empty()) {
            const auto e = parse_eye(cell(EYE));
            if (!e) fail(source, where, "\"" + cell(EYE) + "\" in column \"eye\" is not an eye (OD, OS, R, L, right or left).");
            if (m.eye && *m.eye != *e) {
                fail(source, where, std::string("eye ") + eye_name(*e) + " differs from " + eye_name(*m.eye) +
                                        " on line " + std::to_string(eye_line) + "; one file holds one eye.");
            }
            if (!m.eye) m.eye = e, eye_line = li + 1;
        }
        if (col[AGE] && !cell(AGE).empty()) {
            const double a = detail::check_age(number(AGE), source, where, "age");
            if (m.age && *m.age != a) {
                fail(source, where, "age " + num(a) + " differs from " + num(*m.age) + " on line " +
                                        std::to_string(age_line) + ".");
            }
            if (!m.age) m.age = a, age_line = li + 1;
        }
        m.points.push_back(std::move(p));
    }
    check_measurement(m);
    return m;
}

// ---- JSON ----

Measurement parse_json(std::string_view text, const std::string& source) {
    text = strip_bom(text);
    if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) throw Error(at(source) + " is empty.");
    QJsonParseError perr{};
    const QJsonDocument doc = QJsonDocument::fromJson(
        QByteArray(text.data(), static_cast<qsizetype>(text.size())), &perr);
    if (perr.error != QJsonParseError::NoError) {
        const auto off = std::min<std::size_t>(static_cast<std::size_t>(std::max(0, perr.offset)), text.size());
        const auto line = 1 + std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(off), '\n');
        fail(source, "line " + std::to_string(line), "not valid JSON (" + perr.errorString().toStdString() + ").");
    }
    if (!doc.isObject()) {
        throw Error(at(source) + ": the JSON is not an object {\"kind\": ..., \"points\": [...]}.");
    }
    const QJsonObject o = doc.object();
    Measurement m;
    m.source = source;

    const QJsonValue kind = o.value("kind");
    if (kind.isUndefined()) throw Error(at(source) + ": no \"kind\" (\"threshold\" or \"total_deviation\").");
    if (kind.toString() == "threshold") m.kind = Kind::Threshold;
    else if (kind.toString() == "total_deviation") m.kind = Kind::TotalDeviation;
    else throw Error(at(source) + ": \"kind\" must be \"threshold\" or \"total_deviation\".");

    const QJsonValue eye = o.value("eye");
    if (!eye.isUndefined() && !eye.isNull()) {
        m.eye = eye.isString() ? parse_eye(eye.toString().toStdString()) : std::nullopt;
        if (!m.eye) throw Error(at(source) + ": \"eye\" is not an eye (OD, OS, R, L, right or left).");
    }
    const QJsonValue age = o.value("age");
    if (!age.isUndefined() && !age.isNull()) {
        if (!age.isDouble()) throw Error(at(source) + ": \"age\" is not a number.");
        m.age = detail::check_age(age.toDouble(), source, "", "\"age\"");
    }

    const QJsonValue pts = o.value("points");
    if (!pts.isArray()) throw Error(at(source) + ": no \"points\" array.");
    const QJsonArray arr = pts.toArray();
    if (static_cast<std::size_t>(arr.size()) > kMaxPoints) {
        throw Error(at(source) + ": more than " + std::to_string(kMaxPoints) + " test points.");
    }
    for (qsizetype i = 0; i < arr.size(); ++i) {
        const std::string where = "point " + std::to_string(i + 1);
        if (!arr[i].isObject()) fail(source, where, "not an object {\"x\": ..., \"y\": ..., \"db\": ...}.");
        const QJsonObject q = arr[i].toObject();
        auto number = [&](const char* key) {
            const QJsonValue v = q.value(key);
            if (v.isUndefined()) fail(source, where, std::string("no \"") + key + "\".");
            if (!v.isDouble()) fail(source, where, std::string("\"") + key + "\" is not a number.");
            return v.toDouble();
        };
        TestPoint p;
        p.where = where;
        p.x = detail::check_deg(number("x"), source, where, "\"x\"");
        p.y = detail::check_deg(number("y"), source, where, "\"y\"");
        const QJsonValue db = q.value("db");
        if (db.isString() && is_not_seen(db.toString().toStdString())) {
            p.seen = false;
        } else {
            p.db = detail::check_db(number("db"), source, where, "\"db\"");
        }
        m.points.push_back(std::move(p));
    }
    check_measurement(m);
    return m;
}

// ---- Checks shared by the readers ----

void check_measurement(Measurement& m) {
    if (m.points.size() > kMaxPoints) {
        throw Error(at(m.source) + ": more than " + std::to_string(kMaxPoints) + " test points.");
    }
    // Places closer than a millionth of a degree are one place.
    std::map<std::pair<long long, long long>, std::size_t> first_at;
    std::vector<TestPoint> kept;
    kept.reserve(m.points.size());
    for (TestPoint& p : m.points) {
        const double ecc = std::hypot(p.x, p.y);
        if (ecc > 90.0) {
            fail(m.source, p.where, "the point (" + num(p.x) + ", " + num(p.y) + ") lies " + num(ecc) +
                                        " degrees from fixation, beyond 90.");
        }
        const std::pair<long long, long long> key{std::llround(p.x * 1e6), std::llround(p.y * 1e6)};
        const auto [it, fresh] = first_at.emplace(key, kept.size());
        if (fresh) {
            kept.push_back(std::move(p));
            continue;
        }
        const TestPoint& q = kept[it->second];
        if (q.seen == p.seen && (!p.seen || q.db == p.db)) continue;  // an exact repeat
        auto value = [](const TestPoint& t) { return t.seen ? num(t.db) + " dB" : std::string("not seen"); };
        throw Error(at(m.source) + ": " + q.where + " and " + p.where + " give different values at the point (" +
                    num(p.x) + ", " + num(p.y) + "): " + value(q) + " and " + value(p) + ".");
    }
    m.points = std::move(kept);
    if (m.points.size() < 3) {
        throw Error(at(m.source) + " has " + std::to_string(m.points.size()) +
                    (m.points.size() == 1 ? " test point" : " test points") + "; at least three are needed.");
    }
    std::vector<Interpolator::Node> nodes;
    nodes.reserve(m.points.size());
    for (const TestPoint& p : m.points) nodes.push_back({p.x, p.y, 0.0});
    if (on_one_line(nodes)) {
        throw Error(at(m.source) + ": all " + std::to_string(m.points.size()) +
                    " test points lie on one line; they must span an area.");
    }
}

// ---- The choice of reader ----

Measurement read_measurement(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    if (!fs::exists(st)) throw Error(at(path) + " does not exist.");
    if (fs::is_directory(st)) throw Error(at(path) + " is a folder, not a measurement file.");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Error("Can't open file \"" + path + "\" for reading;\nyou may not have read permission.");
    std::string head(132, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    if (head.empty()) throw Error(at(path) + " is empty.");
    const std::string ext = extension(path);
    if ((head.size() == 132 && head.compare(128, 4, "DICM") == 0) || ext == ".dcm") return read_dicom(path);

    std::string text = head;
    std::array<char, 65536> buf;
    while (in) {
        in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
        text.append(buf.data(), static_cast<std::size_t>(in.gcount()));
        if (text.size() > kMaxTextBytes) {
            throw Error(at(path) + " is larger than " + std::to_string(kMaxTextBytes >> 20) +
                        " MiB; a perimetry result in CSV or JSON is far smaller.");
        }
    }
    const std::string_view body = strip_bom(text);
    const std::size_t first = body.find_first_not_of(" \t\r\n");
    const bool json = ext == ".json" || (first != std::string_view::npos && body[first] == '{');
    return json ? parse_json(text, path) : parse_csv(text, path);
}

}  // namespace ocu::field
