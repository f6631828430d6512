#pragma once
// Perimetry measurements and their readers.
//
// Shared rules for this header:
//  - Coordinates are degrees from fixation as the patient sees the field, the
//    orientation of a printed field chart: x to the patient's right, y upward.
//  - Values are decibels, either total deviation (Kind::TotalDeviation) or raw
//    threshold (Kind::Threshold). A point the patient did not see at the
//    brightest stimulus (written "<0", or DICOM Stimulus Results "NOT SEEN")
//    has seen == false and its value is not used.
//  - Every reader checks what it reads, and the error (ocu::Error) starts with
//    File "<path>" and names the line (CSV), the point (JSON) or the item and
//    attribute (DICOM):
//      no file, an empty file, a binary file given as text, a file too large;
//      a missing required column, key or attribute; a value that is missing,
//      not a number, NaN or infinite; a value outside -50..60 dB; a point more
//      than 90 degrees from fixation; fewer than three points; all points on
//      one line; two values at the same place that differ (an exact repeat of
//      a point is dropped); an unknown eye; an age outside 0..120 years;
//      a DICOM object of another class or a truncated one.
//  - Readers keep no state and do not depend on the working folder.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ocu::field {

// The eye a field was measured on: OD right, OS left.
enum class Eye { OD, OS };

// What the values are.
enum class Kind { TotalDeviation, Threshold };

struct TestPoint {
    double x = 0;       // degrees, to the patient's right
    double y = 0;       // degrees, upward
    double db = 0;      // total deviation or threshold (see Kind); unused when !seen
    bool seen = true;   // false: not seen at the brightest stimulus
    std::string where;  // "line 12", "point 5", "item 5 of ...": for messages
};

struct Measurement {
    std::string source;          // the file it was read from (messages name it)
    std::optional<Eye> eye;      // when the file says
    std::optional<double> age;   // years, when the file says
    Kind kind = Kind::Threshold;
    std::vector<TestPoint> points;
};

// Reads a measurement, choosing the reader by content: a DICOM file (the
// "DICM" mark at byte 128, or the extension .dcm), JSON (the first character
// after blanks is '{', or the extension .json), otherwise CSV.
Measurement read_measurement(const std::string& path);

// CSV: a header row naming the columns x_deg, y_deg and one of td_db or
// threshold_db, optionally eye (OD/OS, R/L, right/left) and age; other columns
// are ignored. Comma, semicolon or tab separated (the header decides; with
// semicolons or tabs a decimal comma is accepted, as European spreadsheets
// write it).
// Lines starting with '#' and blank lines are skipped; a UTF-8 byte-order mark
// and Windows line ends are accepted. "<0" means not seen.
Measurement parse_csv(std::string_view text, const std::string& source);

// JSON: {"eye": "OD", "age": 67, "kind": "threshold" | "total_deviation",
//        "points": [{"x": 3, "y": 3, "db": 28}, {"x": 9, "y": 3, "db": "<0"}, ...]}
// "kind" and "points" are required; other keys are ignored. Parsed with Qt's
// QJsonDocument.
Measurement parse_json(std::string_view text, const std::string& source);

// DICOM Ophthalmic Visual Field Static Perimetry Measurements
// (SOP class 1.2.840.10008.5.1.4.1.1.80.1), read with DCMTK. Every item of the
// Visual Field Test Point Sequence needs its X and Y coordinates; its value is
// the Age Corrected Sensitivity Deviation Value of its normals sequence when
// every seen point has one (total deviation), else its Sensitivity Value
// (threshold). Stimulus Results "NOT SEEN" means not seen. The eye comes from
// Laterality, else Image Laterality, else Measurement Laterality; the age from
// Patient's Age, where present.
Measurement read_dicom(const std::string& path);

// Parses an eye as written in a file or on a command line: OD, OS, R, L,
// right, left (any case). Empty when it is none of these.
std::optional<Eye> parse_eye(std::string_view text);
const char* eye_name(Eye eye);  // "OD" or "OS"

// The checks shared by all readers (see the rules above), applied to a
// measurement after reading: drops exact repeats, throws for the rest.
void check_measurement(Measurement& m);

// Largest number of test points a file may hold (a perimetry result has at
// most a few hundred) and largest text file read.
inline constexpr std::size_t kMaxPoints = 10000;
inline constexpr std::size_t kMaxTextBytes = 16u << 20;

}  // namespace ocu::field
