// Perimetry readers: CSV as spreadsheets write it, JSON, DICOM written here
// with DCMTK, the choice of reader, the shipped examples, and the bad input
// that each must refuse with an error naming the file and the line, point or
// attribute.
#include <dcmtk/config/osconfig.h>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli_testutil.hpp"
#include "field/measurement.hpp"
#include "testutil.hpp"
#include "toolkit/imageio.hpp"
#include "toolkit/paths.hpp"

using namespace ocu;
using namespace ocu::field;
using ocu::testutil::error_of;
using ocu::testutil::expect_error;
using ::testing::HasSubstr;

namespace {

std::string write(const ocu::testutil::TempDir& dir, const std::string& name, const std::string& bytes) {
    const std::string path = dir.file(name);
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

// The error of parsing `csv` as the file "f.csv".
std::string csv_error(const std::string& csv) {
    return error_of([&] { parse_csv(csv, "f.csv"); });
}

struct DicomPoint {
    float x, y, sensitivity;
    bool seen = true;
    std::optional<float> deviation;
};

// An Ophthalmic Visual Field Static Perimetry Measurements object written
// with DCMTK; `drop` removes one attribute from the second point.
void write_dicom(const std::string& path, const std::vector<DicomPoint>& pts, const char* laterality,
                 const char* age, const char* sop = UID_OphthalmicVisualFieldStaticPerimetryMeasurementsStorage,
                 std::optional<DcmTagKey> drop = std::nullopt) {
    DcmFileFormat file;
    DcmDataset* ds = file.getDataset();
    ASSERT_TRUE(ds->putAndInsertString(DCM_SOPClassUID, sop).good());
    ASSERT_TRUE(ds->putAndInsertString(DCM_SOPInstanceUID, "2.25.1234567").good());
    if (laterality) ds->putAndInsertString(DCM_Laterality, laterality);
    if (age) ds->putAndInsertString(DCM_PatientAge, age);
    for (std::size_t i = 0; i < pts.size(); ++i) {
        DcmItem* item = nullptr;
        ASSERT_TRUE(ds->findOrCreateSequenceItem(DCM_VisualFieldTestPointSequence, item, -2).good());
        item->putAndInsertFloat32(DCM_VisualFieldTestPointXCoordinate, pts[i].x);
        item->putAndInsertFloat32(DCM_VisualFieldTestPointYCoordinate, pts[i].y);
        item->putAndInsertString(DCM_StimulusResults, pts[i].seen ? "SEEN" : "NOT SEEN");
        if (pts[i].seen) item->putAndInsertFloat32(DCM_SensitivityValue, pts[i].sensitivity);
        if (pts[i].deviation) {
            DcmItem* normals = nullptr;
            item->findOrCreateSequenceItem(DCM_VisualFieldTestPointNormalsSequence, normals, -2);
            normals->putAndInsertFloat32(DCM_AgeCorrectedSensitivityDeviationValue, *pts[i].deviation);
        }
        if (drop && i == 1) item->findAndDeleteElement(*drop);
    }
    ASSERT_TRUE(file.saveFile(path.c_str(), EXS_LittleEndianExplicit).good());
}

const std::vector<DicomPoint> kDicomPoints = {
    {3, 3, 28, true, -1.5f}, {-3, 3, 30, true, 0.5f}, {-3, -3, 0, false, std::nullopt}, {3, -3, 12.5f, true, -14}};

}  // namespace

TEST(FieldCsv, SpreadsheetExportWithByteOrderMarkAndWindowsLineEnds) {
    const std::string csv =
        "\xEF\xBB\xBF# exported\r\nx_deg,y_deg,threshold_db,eye,age,pattern_db\r\n"
        "3,3,28,R,67,-1\r\n\"-3\",3,<0,right,67,\r\n-3,-3, < 0 ,OD,67,2\r\n9,-3,+31.5,od,67,0\r\n,,,\r\n";
    const Measurement m = parse_csv(csv, "f.csv");
    EXPECT_EQ(m.kind, Kind::Threshold);
    ASSERT_EQ(m.eye, Eye::OD);
    ASSERT_EQ(m.age, 67.0);
    ASSERT_EQ(m.points.size(), 4u);
    EXPECT_EQ(m.points[0].db, 28.0);
    EXPECT_EQ(m.points[0].where, "line 3");
    EXPECT_FALSE(m.points[1].seen);
    EXPECT_EQ(m.points[1].x, -3.0);
    EXPECT_FALSE(m.points[2].seen);
    EXPECT_EQ(m.points[3].db, 31.5);
    EXPECT_EQ(m.points[3].where, "line 6");
}

TEST(FieldCsv, SemicolonsWithDecimalCommasAndOldMacLineEnds) {
    const Measurement m = parse_csv("X_DEG;Y_DEG;TD_DB\r3;3;-2,5\r-3;3;0\r0;-3;1,25\r", "f.csv");
    EXPECT_EQ(m.kind, Kind::TotalDeviation);
    EXPECT_FALSE(m.eye.has_value());
    ASSERT_EQ(m.points.size(), 3u);
    EXPECT_EQ(m.points[0].db, -2.5);
    EXPECT_EQ(m.points[2].db, 1.25);
}

TEST(FieldCsv, BadInputNamesFileAndLine) {
    const std::string h = "x_deg,y_deg,td_db\n";
    EXPECT_EQ(csv_error(h + "3,3,0\n3,abc,0\n"), "File \"f.csv\", line 3: \"abc\" in column \"y_deg\" is not a number.");
    EXPECT_EQ(csv_error(h + "3,3,0\n3,,0\n"), "File \"f.csv\", line 3: no value in column \"y_deg\".");
    EXPECT_EQ(csv_error(h + "3,3\n"), "File \"f.csv\", line 2: no value in column \"td_db\".");
    EXPECT_EQ(csv_error("x_deg,td_db\n3,0\n"),
              "File \"f.csv\", line 1: the header has no column \"y_deg\" (a header row with x_deg, y_deg "
              "and td_db or threshold_db is needed).");
    EXPECT_THAT(csv_error("x_deg,y_deg,eye\n"), HasSubstr("line 1: the header has no column \"td_db\" or \"threshold_db\""));
    EXPECT_THAT(csv_error("x_deg,y_deg,td_db,threshold_db\n"), HasSubstr("has both"));
    EXPECT_EQ(csv_error(h + "3,3,0\n-3,3,0\n"), "File \"f.csv\" has 2 test points; at least three are needed.");
    EXPECT_EQ(csv_error(h + "1,1,0\n2,2,0\n5,5,-3\n-4,-4,0\n"),
              "File \"f.csv\": all 4 test points lie on one line; they must span an area.");
    EXPECT_EQ(csv_error(h + "3,3,0\n-3,3,0\n3,3,-4\n"),
              "File \"f.csv\": line 2 and line 4 give different values at the point (3, 3): 0 dB and -4 dB.");
    EXPECT_EQ(csv_error(h + "3,3,0\n-3,3,0\n89,15,0\n"),
              "File \"f.csv\", line 4: the point (89, 15) lies 90.2552 degrees from fixation, beyond 90.");
    EXPECT_EQ(csv_error(h + "3,3,nan\n"), "File \"f.csv\", line 2: td_db is nan, not a finite number.");
    EXPECT_EQ(csv_error(h + "inf,3,0\n"), "File \"f.csv\", line 2: x_deg is inf, not a finite number.");
    EXPECT_EQ(csv_error(h + "3,3,-50.5\n"), "File \"f.csv\", line 2: td_db is -50.5 dB, outside -50..60 dB.");
    EXPECT_EQ(csv_error(h + "3,3,61\n"), "File \"f.csv\", line 2: td_db is 61 dB, outside -50..60 dB.");
    EXPECT_EQ(csv_error("x_deg,y_deg,td_db,eye\n3,3,0,OD\n-3,3,0,OS\n"),
              "File \"f.csv\", line 3: eye OS differs from OD on line 2; one file holds one eye.");
    EXPECT_THAT(csv_error("x_deg,y_deg,td_db,eye\n3,3,0,OU\n"), HasSubstr("line 2: \"OU\" in column \"eye\" is not an eye"));
    EXPECT_EQ(csv_error("\xEF\xBB\xBF \r\n"), "File \"f.csv\" is empty.");
    EXPECT_EQ(csv_error("# only a comment\n"), "File \"f.csv\" holds only comments and blank lines.");
    // An exact repeat of a point is no conflict.
    EXPECT_EQ(parse_csv(h + "3,3,0\n-3,3,0\n0,-3,0\n3,3,0\n", "f.csv").points.size(), 3u);
}

TEST(FieldJson, ReadsThePointsAndRefusesBadInput) {
    const Measurement m = parse_json(
        R"({"eye": "left", "age": 67, "kind": "total_deviation",
            "points": [{"x": 3, "y": 3, "db": -3}, {"x": -3, "y": 3, "db": "<0"}, {"x": 0, "y": -3, "db": 1.5}]})",
        "f.json");
    EXPECT_EQ(m.eye, Eye::OS);
    EXPECT_EQ(m.age, 67.0);
    EXPECT_EQ(m.kind, Kind::TotalDeviation);
    ASSERT_EQ(m.points.size(), 3u);
    EXPECT_EQ(m.points[0].db, -3.0);
    EXPECT_FALSE(m.points[1].seen);
    EXPECT_EQ(m.points[2].where, "point 3");

    auto err = [](const std::string& j) { return error_of([&] { parse_json(j, "f.json"); }); };
    EXPECT_THAT(err("{\"kind\": \"threshold\",\n \"points\": [1,]}"), HasSubstr("File \"f.json\", line 2: not valid JSON ("));
    EXPECT_EQ(err(R"({"points": []})"), "File \"f.json\": no \"kind\" (\"threshold\" or \"total_deviation\").");
    EXPECT_EQ(err(R"({"kind": "threshold"})"), "File \"f.json\": no \"points\" array.");
    EXPECT_EQ(err(R"({"kind": "threshold", "points": [{"x": 1, "y": 2, "db": 3}, {"x": 1, "y": 3}]})"),
              "File \"f.json\", point 2: no \"db\".");
    EXPECT_EQ(err(R"({"kind": "threshold", "points": [{"x": "1", "y": 2, "db": 3}]})"),
              "File \"f.json\", point 1: \"x\" is not a number.");
    EXPECT_EQ(err(R"({"kind": "threshold", "age": 130, "points": []})"),
              "File \"f.json\": \"age\" is 130, not an age of 0..120 years.");
    EXPECT_EQ(err("[1, 2]"), "File \"f.json\": the JSON is not an object {\"kind\": ..., \"points\": [...]}.");
}

TEST(FieldDicom, WrittenWithDcmtkAndReadBack) {
    ocu::testutil::TempDir dir;
    // Thresholds: not every seen point has a deviation value.
    std::vector<DicomPoint> pts = kDicomPoints;
    pts[1].deviation.reset();
    const std::string path = dir.file("field.dcm");
    write_dicom(path, pts, "R", "067Y");
    Measurement m = read_dicom(path);
    EXPECT_EQ(m.eye, Eye::OD);
    EXPECT_EQ(m.age, 67.0);
    EXPECT_EQ(m.kind, Kind::Threshold);
    ASSERT_EQ(m.points.size(), 4u);
    EXPECT_EQ(m.points[1].x, -3.0);
    EXPECT_EQ(m.points[1].db, 30.0);
    EXPECT_FALSE(m.points[2].seen);
    EXPECT_EQ(m.points[3].db, 12.5);

    // Every seen point with a deviation value: total deviation; chosen by
    // content whatever the file's name.
    const std::string td = dir.file("export.bin");
    write_dicom(td, kDicomPoints, "L", "006M");
    m = read_measurement(td);
    EXPECT_EQ(m.eye, Eye::OS);
    EXPECT_EQ(m.age, 0.5);
    EXPECT_EQ(m.kind, Kind::TotalDeviation);
    EXPECT_EQ(m.points[0].db, -1.5);
    EXPECT_EQ(m.points[3].db, -14.0);
}

TEST(FieldDicom, MissingAttributeOtherClassAndTruncatedFile) {
    ocu::testutil::TempDir dir;
    const std::string item2 = "File \"" + dir.file("a.dcm") + "\", item 2 of the Visual Field Test Point Sequence (0024,0089): ";
    write_dicom(dir.file("a.dcm"), kDicomPoints, "R", "067Y", UID_OphthalmicVisualFieldStaticPerimetryMeasurementsStorage,
                DCM_VisualFieldTestPointYCoordinate);
    expect_error([&] { read_dicom(dir.file("a.dcm")); }, item2 + "no Visual Field Test Point Y-Coordinate (0024,0091).");
    std::vector<DicomPoint> pts = kDicomPoints;
    pts[0].deviation.reset();
    write_dicom(dir.file("a.dcm"), pts, "R", "067Y", UID_OphthalmicVisualFieldStaticPerimetryMeasurementsStorage,
                DCM_SensitivityValue);
    expect_error([&] { read_dicom(dir.file("a.dcm")); }, item2 + "no Sensitivity Value (0024,0094).");

    write_dicom(dir.file("ct.dcm"), kDicomPoints, "R", nullptr, UID_CTImageStorage);
    EXPECT_THAT(error_of([&] { read_measurement(dir.file("ct.dcm")); }),
                HasSubstr("is a DICOM object of another class (1.2.840.10008.5.1.4.1.1.2"));

    write_dicom(dir.file("full.dcm"), kDicomPoints, "R", "067Y");
    const std::string bytes = ocu::testutil::slurp(dir.file("full.dcm"));
    const std::string cut = write(dir, "cut.dcm", bytes.substr(0, bytes.size() - 7));
    EXPECT_THAT(error_of([&] { read_measurement(cut); }), HasSubstr("File \"" + cut + "\" is not a complete DICOM file"));

    write_dicom(dir.file("age.dcm"), kDicomPoints, "R", "67");
    EXPECT_THAT(error_of([&] { read_dicom(dir.file("age.dcm")); }), HasSubstr("Patient's Age (0010,1010) is \"67\""));
}

TEST(FieldRead, ChoosesTheReaderAndRefusesWhatIsNoMeasurement) {
    ocu::testutil::TempDir dir;
    EXPECT_EQ(read_measurement(write(dir, "a.txt", "\n  {\"kind\": \"threshold\", \"points\": [{\"x\": 1, \"y\": 0, \"db\": 3},"
                                                   "{\"x\": 0, \"y\": 1, \"db\": 3}, {\"x\": 1, \"y\": 1, \"db\": 3}]}"))
                  .points.size(),
              3u);
    expect_error([&] { read_measurement(dir.file("none.csv")); }, "File \"" + dir.file("none.csv") + "\" does not exist.");
    const std::string empty = write(dir, "empty.csv", "");
    expect_error([&] { read_measurement(empty); }, "File \"" + empty + "\" is empty.");
    // An image given as CSV.
    const std::string bmp = ocu::find_data_file("polarplotREmd.bmp");
    EXPECT_THAT(error_of([&] { read_measurement(bmp); }),
                ::testing::AllOf(HasSubstr("File \"" + bmp + "\", line 1: the byte 0x"),
                                 HasSubstr(" is not text; this is not a CSV or JSON file.")));
}

TEST(FieldRead, TheShippedExamples) {
    struct Example {
        const char* name;
        std::size_t points;
        std::optional<Eye> eye;
        Kind kind;
    };
    for (const Example& e : {Example{"normal_24-2_OD.csv", 54, Eye::OD, Kind::Threshold},
                             Example{"glaucoma_early_24-2_OD.csv", 54, Eye::OD, Kind::TotalDeviation},
                             Example{"glaucoma_advanced_24-2_OS.json", 54, Eye::OS, Kind::Threshold},
                             Example{"macular_degeneration_10-2_OD.csv", 68, std::nullopt, Kind::Threshold},
                             Example{"hemianopia_right_24-2_OD.csv", 54, Eye::OD, Kind::TotalDeviation},
                             Example{"hemianopia_right_24-2_OS.dcm", 54, Eye::OS, Kind::Threshold}}) {
        SCOPED_TRACE(e.name);
        const Measurement m = read_measurement(ocu::find_data_file(std::string("fields/") + e.name));
        EXPECT_EQ(m.points.size(), e.points);
        EXPECT_EQ(m.eye, e.eye);
        EXPECT_EQ(m.kind, e.kind);
    }
}
