// The DICOM reader: Ophthalmic Visual Field Static Perimetry Measurements,
// read with DCMTK.
#include <dcmtk/config/osconfig.h>  // must come first among DCMTK headers

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcdict.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcitem.h>
#include <dcmtk/dcmdata/dcmetinf.h>
#include <dcmtk/dcmdata/dcsequen.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/oflog/oflog.h>

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "field/measurement.hpp"
#include "field/reader_util.hpp"

namespace ocu::field {

using detail::at;
using detail::fail;

namespace {

// An attribute as messages name it: "Sensitivity Value (0024,0094)".
struct Attr {
    DcmTagKey key;
    const char* name;
    std::string text() const { return std::string(name) + " " + key.toString().c_str(); }
};

const Attr kSopClass{DCM_SOPClassUID, "SOP Class UID"};
const Attr kPoints{DCM_VisualFieldTestPointSequence, "Visual Field Test Point Sequence"};
const Attr kX{DCM_VisualFieldTestPointXCoordinate, "Visual Field Test Point X-Coordinate"};
const Attr kY{DCM_VisualFieldTestPointYCoordinate, "Visual Field Test Point Y-Coordinate"};
const Attr kSensitivity{DCM_SensitivityValue, "Sensitivity Value"};
const Attr kStimulus{DCM_StimulusResults, "Stimulus Results"};
const Attr kNormals{DCM_VisualFieldTestPointNormalsSequence, "Visual Field Test Point Normals Sequence"};
const Attr kDeviation{DCM_AgeCorrectedSensitivityDeviationValue, "Age Corrected Sensitivity Deviation Value"};
const Attr kAge{DCM_PatientAge, "Patient's Age"};
const Attr kLateralities[] = {{DCM_Laterality, "Laterality"},
                              {DCM_ImageLaterality, "Image Laterality"},
                              {DCM_MeasurementLaterality, "Measurement Laterality"}};

// DCMTK reports through its own logger; its errors reach the user in ours.
void quiet_dcmtk() {
    static std::once_flag once;
    std::call_once(once, [] { OFLog::configure(OFLogger::FATAL_LOG_LEVEL); });
}

// A floating-point value of `item`, stored as FL (or as FD/DS by some writers).
std::optional<double> get_number(DcmItem& item, const DcmTagKey& key) {
    Float32 f = 0;
    if (item.findAndGetFloat32(key, f).good()) return f;
    Float64 d = 0;
    if (item.findAndGetFloat64(key, d).good()) return d;
    return std::nullopt;
}

std::optional<std::string> get_string(DcmItem& item, const DcmTagKey& key) {
    OFString s;
    if (item.findAndGetOFString(key, s).bad()) return std::nullopt;
    return std::string(s.c_str());
}

// Patient's Age, an Age String "nnnD", "nnnW", "nnnM" or "nnnY", in years.
std::optional<double> age_years(const std::string& as) {
    if (as.size() != 4) return std::nullopt;
    for (int i = 0; i < 3; ++i)
        if (as[i] < '0' || as[i] > '9') return std::nullopt;
    const double n = std::stoi(as.substr(0, 3));
    switch (as[3]) {
        case 'D': return n / 365.25;
        case 'W': return n * 7.0 / 365.25;
        case 'M': return n / 12.0;
        case 'Y': return n;
        default: return std::nullopt;
    }
}

}  // namespace

Measurement read_dicom(const std::string& path) {
    quiet_dcmtk();
    if (!dcmDataDict.isDictionaryLoaded()) {
        throw Error(at(path) + ": the DICOM data dictionary of DCMTK is not installed.");
    }
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        throw Error(at(path) + (std::filesystem::exists(path, ec) ? " is not a file." : " does not exist."));
    }
    DcmFileFormat file;
    const OFCondition st = file.loadFile(path.c_str());
    if (st.bad()) {
        throw Error(at(path) + " is not a complete DICOM file (DCMTK: " + st.text() + ").");
    }
    DcmDataset& ds = *file.getDataset();

    std::optional<std::string> sop = get_string(ds, kSopClass.key);
    if (!sop) sop = get_string(*file.getMetaInfo(), DCM_MediaStorageSOPClassUID);
    if (!sop || sop->empty()) throw Error(at(path) + " has no " + kSopClass.text() + ".");
    if (*sop != UID_OphthalmicVisualFieldStaticPerimetryMeasurementsStorage) {
        const char* name = dcmFindNameOfUID(sop->c_str(), nullptr);
        throw Error(at(path) + " is a DICOM object of another class (" + *sop + (name ? std::string(", ") + name : "") +
                    "); a visual field needs Ophthalmic Visual Field Static Perimetry Measurements (" +
                    UID_OphthalmicVisualFieldStaticPerimetryMeasurementsStorage + ").");
    }

    Measurement m;
    m.source = path;
    m.kind = Kind::Threshold;
    for (const Attr& a : kLateralities) {
        const auto v = get_string(ds, a.key);
        if (!v || v->empty() || *v == "B" || *v == "U") continue;  // both, unknown: not an eye
        if (*v == "R") m.eye = Eye::OD;
        else if (*v == "L") m.eye = Eye::OS;
        else throw Error(at(path) + ": " + a.text() + " is \"" + *v + "\"; R or L is needed.");
        break;
    }
    if (const auto as = get_string(ds, kAge.key); as && !as->empty()) {
        const auto years = age_years(*as);
        if (!years) throw Error(at(path) + ": " + kAge.text() + " is \"" + *as + "\", not an age such as 067Y.");
        m.age = detail::check_age(*years, path, "", kAge.text());
    }

    DcmSequenceOfItems* seq = nullptr;
    if (ds.findAndGetSequence(kPoints.key, seq).bad() || !seq) {
        throw Error(at(path) + " has no " + kPoints.text() + ".");
    }
    const unsigned long n = seq->card();
    if (n > kMaxPoints) throw Error(at(path) + ": more than " + std::to_string(kMaxPoints) + " test points.");

    struct Raw {
        TestPoint p;
        std::optional<double> sensitivity, deviation;
    };
    std::vector<Raw> raw;
    raw.reserve(n);
    for (unsigned long i = 0; i < n; ++i) {
        DcmItem& item = *seq->getItem(i);
        Raw r;
        r.p.where = "item " + std::to_string(i + 1) + " of the " + kPoints.text();
        const std::string& where = r.p.where;
        auto need = [&](const Attr& a) {
            const auto v = get_number(item, a.key);
            if (!v) fail(path, where, "no " + a.text() + ".");
            return *v;
        };
        r.p.x = detail::check_deg(need(kX), path, where, kX.text());
        r.p.y = detail::check_deg(need(kY), path, where, kY.text());
        const auto stim = get_string(item, kStimulus.key);
        r.p.seen = !(stim && *stim == "NOT SEEN");
        if (const auto v = get_number(item, kSensitivity.key)) r.sensitivity = detail::check_db(*v, path, where, kSensitivity.text());
        DcmSequenceOfItems* normals = nullptr;
        if (item.findAndGetSequence(kNormals.key, normals).good() && normals && normals->card() > 0) {
            if (const auto v = get_number(*normals->getItem(0), kDeviation.key)) {
                r.deviation = detail::check_db(*v, path, where, kDeviation.text());
            }
        }
        raw.push_back(std::move(r));
    }
    // Total deviation when every seen point has one, else the raw threshold.
    bool all_deviation = !raw.empty();
    for (const Raw& r : raw)
        if (r.p.seen && !r.deviation) all_deviation = false;
    m.kind = all_deviation ? Kind::TotalDeviation : Kind::Threshold;
    for (Raw& r : raw) {
        if (r.p.seen) {
            if (all_deviation) r.p.db = *r.deviation;
            else if (r.sensitivity) r.p.db = *r.sensitivity;
            else fail(path, r.p.where, "no " + kSensitivity.text() + ".");
        }
        m.points.push_back(std::move(r.p));
    }
    check_measurement(m);
    return m;
}

}  // namespace ocu::field
