// The Python module `ocumbra`: the program's simulations on NumPy arrays,
// with the batch tool's exact results (a float64 result equals the batch
// tool's .npy output for the same input and parameters, bit for bit).
//
// Every function converts its arguments while holding the GIL, then releases
// it for the file access and the computation, so other Python threads run
// meanwhile. What runs in parallel and what is serialised:
//  - read_image, write_image, fixindep, glare and colour are pure: calls from
//    several threads run at the same time (each one also spreads its own work
//    over the cores);
//  - fixdep (and scenario with a visual-field step) prepares blending
//    masks in the pyramid engine, which holds one set for the whole process:
//    its prepare-and-render sequences take one lock (engine_mutex), so such
//    calls run one after another, each with the same result as alone.
//
// Errors: ValueError for a bad argument (the simulation's own text, or one
// naming the argument), OSError for a file that cannot be read or written
// (the program's text naming the file), MemoryError when an image does not
// fit in memory.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "clinical/units.hpp"
#include "colour/colour.hpp"
#include "field/field.hpp"
#include "fixdep/simulation.hpp"
#include "fixindep/fixindep.hpp"
#include "glare/glare.hpp"
#include "python/arrays.hpp"
#include "python/host.hpp"
#include "scenario/scenario.hpp"
#include "toolkit/error.hpp"
#include "toolkit/imageio.hpp"
#include "toolkit/limits.hpp"
#include "toolkit/numtext.hpp"
#include "toolkit/paths.hpp"

namespace py = pybind11;
using namespace ocu;
using ocu::python::ArgumentError;
using ocu::python::FileError;

namespace {

// ---- Arguments ----------------------------------------------------------

// A file name given as str or os.PathLike.
std::string path_arg(const py::handle& h, const char* name) {
    const py::object p = py::module_::import("os").attr("fspath")(h);
    if (!py::isinstance<py::str>(p)) throw ArgumentError(std::string(name) + " must be a file name (str).");
    return p.cast<std::string>();
}

bool is_number(const py::handle& h) {
    return !py::isinstance<py::bool_>(h) &&
           (py::isinstance<py::int_>(h) || py::isinstance<py::float_>(h) || py::hasattr(h, "__float__"));
}

double number_arg(const py::handle& h, const std::string& name) {
    if (!is_number(h)) throw ArgumentError(name + " must be a number.");
    return h.cast<double>();
}

// Decimal acuity from a number or a clinical text: "0.5", "20/40", "6/12",
// "logMAR 0.3" (clinical/units.hpp).
double acuity_arg(const py::handle& h) {
    if (py::isinstance<py::str>(h)) return clinical::parse_acuity(h.cast<std::string>(), "acuity");
    if (!is_number(h)) {
        throw ArgumentError("acuity must be a decimal acuity (a number) or a text such as \"20/40\" or \"logMAR 0.3\".");
    }
    return h.cast<double>();
}

// The contrast factor from a number, {"factor": f} or {"logcs": score}, the
// forms of a scenario file.
double contrast_arg(const py::handle& h) {
    if (!py::isinstance<py::dict>(h)) {
        if (!is_number(h)) {
            throw ArgumentError("contrast must be a contrast factor (a number), {\"factor\": f} or {\"logcs\": score}.");
        }
        return h.cast<double>();
    }
    const py::dict d = py::reinterpret_borrow<py::dict>(h);
    if (d.size() != 1) throw ArgumentError("contrast must have one key, \"factor\" or \"logcs\".");
    const auto [key, value] = *d.begin();
    const std::string k = py::str(key).cast<std::string>();
    if (k == "factor") return number_arg(value, "contrast[\"factor\"]");
    if (k == "logcs") return clinical::contrast_factor_from_logcs(number_arg(value, "contrast[\"logcs\"]"));
    throw ArgumentError("contrast: unknown key \"" + k + "\" (use \"factor\" or \"logcs\").");
}

// The glare dialog's slider and the batch tool give the integers 0 to 10.
double glare_arg(const py::handle& h) {
    const double v = number_arg(h, "glare");
    if (!(v >= 0 && v <= 10) || v != std::floor(v)) {
        throw ArgumentError("glare needs a whole number from 0 to 10, got " + num2str(v) + ".");
    }
    return v;
}

// An error reading the text file `path` (a measurement, a scenario): OSError
// when the file cannot be read at all, ValueError when its content is wrong
// (as Python's own readers do: open() vs json.load()).
[[noreturn]] void file_content_error(const std::string& path, const Error& e) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(path, ec) && std::ifstream(path).good()) throw ArgumentError(e.what());
    throw FileError(e.what());
}

AnyImage read_file(const std::string& path, std::int64_t max_side = 0) {
    try {
        return imread(path, max_side);
    } catch (const Error& e) {
        throw FileError(e.what());
    }
}

// The polar plot from `field`: a measurement file name, or a dict with "file"
// and optionally "other_eye", "eye", "age" and "periphery" (as in a scenario file).
AnyImage field_plot(const py::handle& h) {
    std::string file, other;
    field::PlotOptions opts;
    if (py::isinstance<py::dict>(h)) {
        for (const auto& [key, value] : py::reinterpret_borrow<py::dict>(h)) {
            const std::string k = py::str(key).cast<std::string>();
            if (k == "file") file = path_arg(value, "field[\"file\"]");
            else if (k == "other_eye") other = path_arg(value, "field[\"other_eye\"]");
            else if (k == "age") opts.age = number_arg(value, "field[\"age\"]");
            else if (k == "eye" || k == "periphery") {
                if (!py::isinstance<py::str>(value)) throw ArgumentError("field[\"" + k + "\"] must be a text.");
                const std::string v = value.cast<std::string>();
                if (k == "eye" && (v == "OD" || v == "OS")) opts.eye = v == "OD" ? field::Eye::OD : field::Eye::OS;
                else if (k == "periphery" && (v == "hull" || v == "normal"))
                    opts.periphery = v == "hull" ? field::Periphery::Hull : field::Periphery::Normal;
                else throw ArgumentError("field[\"" + k + "\"]: unknown value \"" + v + "\" (use " +
                                         (k == "eye" ? "\"OD\" or \"OS\")." : "\"hull\" or \"normal\")."));
            } else {
                throw ArgumentError("field: unknown key \"" + k +
                                    "\" (use \"file\", \"other_eye\", \"eye\", \"age\", \"periphery\").");
            }
        }
        if (file.empty()) throw ArgumentError("field needs the key \"file\".");
    } else {
        file = path_arg(h, "field");
    }
    py::gil_scoped_release unlocked;
    field::Measurement m, o;
    for (const std::string* f : {&file, &other}) {
        if (f->empty()) continue;
        try {
            (f == &file ? m : o) = field::read_measurement(*f);
        } catch (const Error& e) {
            file_content_error(*f, e);
        }
    }
    return other.empty() ? field::polar_plot(m, opts).image : field::binocular_polar_plot(m, o, opts).image;
}

std::vector<fixdep::Fixation> points_arg(const py::handle& h) {
    const char* form = "at must be a list of (x, y) fixation points: 1-based column and row, finite numbers.";
    if (!py::isinstance<py::sequence>(h) || py::isinstance<py::str>(h)) throw ArgumentError(form);
    std::vector<fixdep::Fixation> points;
    for (const py::handle p : py::reinterpret_borrow<py::sequence>(h)) {
        if (!py::isinstance<py::sequence>(p) || py::isinstance<py::str>(p) || py::len(p) != 2) throw ArgumentError(form);
        const py::sequence xy = py::reinterpret_borrow<py::sequence>(p);
        if (!is_number(xy[0]) || !is_number(xy[1])) throw ArgumentError(form);
        const double x = xy[0].cast<double>(), y = xy[1].cast<double>();
        if (!std::isfinite(x) || !std::isfinite(y)) throw ArgumentError(form);
        points.push_back({x, y});
    }
    if (points.empty()) throw ArgumentError(form);
    return points;
}

py::array result(ArrayD&& a) { return python::numpy_from_image(AnyImage(std::move(a))); }

// ---- The functions ------------------------------------------------------

py::array read_image(const py::handle& path) {
    const std::string p = path_arg(path, "path");
    AnyImage im;
    {
        py::gil_scoped_release unlocked;
        im = read_file(p);
    }
    return python::numpy_from_image(im);
}

void write_image(const py::array& array, const py::handle& path) {
    const AnyImage im = python::image_from_numpy(array, "array");
    const std::string p = path_arg(path, "path");
    std::string ext = p.substr(p.find_last_of('.') == std::string::npos ? p.size() : p.find_last_of('.'));
    for (char& ch : ext) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    const bool known = ext == ".npy" || ext == ".png" || ext == ".bmp" || ext == ".tif" || ext == ".tiff" ||
                       ext == ".jpg" || ext == ".jpeg";
    py::gil_scoped_release unlocked;
    try {
        if (ext == ".npy") write_npy(im, p);
        else imwrite(im, p);
    } catch (const Error& e) {
        if (!known) throw ArgumentError(e.what());
        throw FileError(e.what());
    }
}

py::array run_fixindep(const py::array& img, double width, const py::handle& acuity, const py::handle& contrast) {
    fixindep::Params p;
    p.width = width;
    p.mar = acuity_arg(acuity);
    p.contrastf = contrast_arg(contrast);
    fixindep::check(p);
    const AnyImage im = python::image_from_numpy(img, "img");
    ArrayD out;
    {
        py::gil_scoped_release unlocked;
        out = fixindep::run(im, p);
    }
    return result(std::move(out));
}

py::object run_fixdep(const py::array& img, double width, const py::handle& acuity, const py::handle& polar,
                      const py::handle& field, const py::handle& at, bool resmap) {
    fixdep::Params p;
    p.width = width;
    p.mar = acuity_arg(acuity);
    if (!polar.is_none() && !field.is_none()) throw ArgumentError("give polar or field, not both.");
    const bool centre = at.is_none();  // one image, fixating the centre
    std::vector<fixdep::Fixation> points = centre ? std::vector<fixdep::Fixation>() : points_arg(at);
    const AnyImage im = python::image_from_numpy(img, "img");
    if (py::isinstance<py::array>(polar)) {
        p.polim = python::image_from_numpy(py::reinterpret_borrow<py::array>(polar), "polar");
        if (std::max(image_rows(p.polim), image_cols(p.polim)) > static_cast<std::size_t>(kMaxPolarPlotSide)) {
            throw ArgumentError("polar is too large (at most " + std::to_string(kMaxPolarPlotSide) + " per side).");
        }
    } else if (!field.is_none()) {
        p.polim = field_plot(field);
    } else {
        const std::string file = polar.is_none() ? find_data_file(fixdep::kDefaultPolarPlot) : path_arg(polar, "polar");
        py::gil_scoped_release unlocked;
        p.polim = read_file(file, kMaxPolarPlotSide);
    }

    std::vector<ArrayD> images;
    ArrayD map;
    {
        py::gil_scoped_release unlocked;
        fixdep::check(image_cols(im), image_rows(im), p);
        std::lock_guard<std::mutex> lock(python::engine_mutex());
        python::ensure_engine();
        fixdep::Session s = fixdep::prepare(image_cols(im), image_rows(im), p);
        p.polim = AnyImage();
        if (resmap) map = s.release_resmap();
        if (centre) points.push_back(s.centre());
        for (const fixdep::Fixation& f : points) images.push_back(fixdep::render(s, f, im));
    }
    py::object out;
    if (!centre) {
        py::list l;
        for (ArrayD& a : images) l.append(result(std::move(a)));
        out = std::move(l);
    } else {
        out = result(std::move(images.front()));
    }
    if (resmap) return py::make_tuple(out, result(std::move(map)));
    return out;
}

py::array run_glare(const py::array& img, double width, const py::handle& glare) {
    glare::Params p;
    p.width = width;
    p.glarefact = glare_arg(glare);
    glare::check(p);
    const AnyImage im = python::image_from_numpy(img, "img");
    // Computed straight into the result's C order.
    python::NumpyResult res = python::new_numpy_result(image_rows(im), image_cols(im), image_planes(im));
    {
        py::gil_scoped_release unlocked;
        glare::run(im, p, res.view);
    }
    return res.array;
}

py::array run_colour(const py::array& img, const std::string& type, double severity) {
    colour::Params p;
    p.type = colour::parse_deficiency(type);
    p.severity = severity;
    colour::check_severity(severity);
    // 8-bit colour, as photos come: read where NumPy keeps it and computed
    // straight into the result's C order.
    const auto view = python::u8_view(img, "img");
    if (view && view->planes == 3) {
        python::NumpyResult res = python::new_numpy_result(view->rows, view->cols, 3);
        {
            py::gil_scoped_release unlocked;
            colour::simulate_cvd(*view, p.type, p.severity, res.view);
        }
        return res.array;
    }
    const AnyImage im = python::image_from_numpy(img, "img");
    ArrayD out;
    {
        py::gil_scoped_release unlocked;
        out = colour::run(im, p);
    }
    return result(std::move(out));
}

py::object run_scenario(const py::array& img, const py::handle& file, const py::handle& preset, const py::handle& at) {
    if (file.is_none() == preset.is_none()) throw ArgumentError("give a scenario file or a preset, one of them.");
    const bool centre = at.is_none();  // the scenario's fixation, else the image centre: one image
    std::vector<fixdep::Fixation> points = centre ? std::vector<fixdep::Fixation>() : points_arg(at);
    scenario::Scenario s;
    if (!preset.is_none()) {
        if (!py::isinstance<py::str>(preset)) throw ArgumentError("preset must be a name (see presets()).");
        s = scenario::preset(preset.cast<std::string>());
    } else {
        const std::string path = path_arg(file, "file");
        py::gil_scoped_release unlocked;
        try {
            s = scenario::read_scenario(path);
        } catch (const Error& e) {
            file_content_error(path, e);
        }
    }
    if (s.width_photo) {
        throw ArgumentError("The scenario's width is \"photo\", which needs the photo's file (its EXIF focal "
                            "length); use ocumbra-sim scenario with the file, or give the width in degrees.");
    }
    const AnyImage im = python::image_from_numpy(img, "img");
    std::vector<ArrayD> images;
    {
        py::gil_scoped_release unlocked;
        const scenario::Params p = scenario::resolve(s, std::string());
        scenario::check(image_cols(im), image_rows(im), p);
        // The field step uses the engine's one set of masks.
        std::unique_lock<std::mutex> lock(python::engine_mutex(), std::defer_lock);
        if (p.steps.field) {
            lock.lock();
            python::ensure_engine();
        }
        scenario::Prepared prepared = scenario::prepare(im, p);
        if (centre) points.push_back(s.fixation.value_or(prepared.centre()));
        for (const fixdep::Fixation& f : points) images.push_back(prepared.render(f));
    }
    if (centre) return result(std::move(images.front()));
    py::list l;
    for (ArrayD& a : images) l.append(result(std::move(a)));
    return l;
}

py::dict presets() {
    py::dict d;
    for (const scenario::Scenario& s : scenario::presets()) d[py::str(s.name)] = s.description;
    return d;
}

// ---- Documentation ------------------------------------------------------

constexpr const char* kModuleDoc = R"(Simulations of impaired vision on NumPy images, as the ocumbra program runs them.

Images are NumPy arrays rows x cols (gray) or rows x cols x 3 (red, green,
blue) of uint8, uint16 or float64 samples (float64 images are taken as 0..1
values; NaN and infinities are refused). Every simulation returns float64
values 0..1 in C order, bit for bit what `ocumbra-sim ... OUTPUT.npy` writes
for the same input and parameters.

Shared parameters (defaults are the ocumbra window's):
  width    horizontal angle the image covers in the viewer's eye, degrees,
           more than 0 and less than 180 (default 20);
  acuity   decimal visual acuity (default 1, normal), or a clinical text:
           Snellen "20/40" or "6/12", logMAR "logMAR 0.3" or "0.3 logMAR";
  contrast contrast factor (default 1; 2 = twice the contrast needed), or a
           Pelli-Robson score {"logcs": 1.65}: factor 10^(1.95 - logcs).

Functions: read_image, write_image, fixindep, fixdep, glare, colour,
scenario (the combined simulation of a scenario file or preset), presets.

The GIL is released while a function computes. fixdep calls and scenarios
with a visual-field step (they use the plug-in's one set of blending masks)
run one at a time; all other calls run in parallel from several threads.

Errors: ValueError for bad arguments (and perimetry or scenario files whose
content is wrong), OSError for files that cannot be read or written, with the
program's own messages.)";

constexpr const char* kReadDoc = R"(read_image(path) -> numpy.ndarray

Reads an image file (.png, .jpg/.jpeg, .bmp, .tif/.tiff) as the program reads
it: rows x cols for gray, rows x cols x 3 for colour; uint8 samples for 8-bit
files, uint16 for 16-bit ones. A photo with an orientation tag comes back
upright. OSError when the file is missing, unreadable or damaged.)";

constexpr const char* kWriteDoc = R"(write_image(array, path) -> None

Writes an image or a result by the extension of `path`:
  .npy                  the exact array (dtype and shape kept, C order);
  .png .bmp .tif(f) .jpg(.jpeg)
                        an 8-bit image, float64 values clipped to 0..1 and
                        scaled to 0..255 (as the program's Save does); uint8
                        samples as they are; uint16 kept in .png and .tif.
The file is written under a temporary name and renamed, so a failed write
leaves nothing. ValueError for an unknown extension or a bad array, OSError
when the file cannot be written.)";

constexpr const char* kFixindepDoc = R"(fixindep(img, width=20, acuity=1, contrast=1) -> numpy.ndarray

Reduced acuity and contrast sensitivity over the whole image: a blur chosen per
pixel from the local contrast, fine high-contrast detail surviving longer than
faint detail.

  img       rows x cols or rows x cols x 3, uint8/uint16/float64 (0..1)
  width     angle the image spans, degrees (0 < width < 180; default 20)
  acuity    decimal acuity (> 0; default 1) or "20/200", "6/60",
            "logMAR 1.0" ...; the smallest detail seen is 1/acuity arcmin
  contrast  contrast factor (> 0; default 1), or {"logcs": score} for a
            Pelli-Robson score (0..2.4; 1.95 is normal), or {"factor": f}

Returns float64 0..1 of the image's size (one plane when the three colour
planes of `img` are equal). Same as `ocumbra-sim fixindep`.)";

constexpr const char* kFixdepDoc = R"(fixdep(img, width=20, acuity=1, polar=None, field=None, at=None, resmap=False)

A visual-field defect: the image as seen while fixating a point, the
resolution falling off towards the periphery, limited by the acuity, and lost
where the visual field is blind.

  img     rows x cols or rows x cols x 3, uint8/uint16/float64 (0..1)
  width   angle the image spans, degrees (0 < width < 180; default 20)
  acuity  decimal acuity (> 0; default 1) or "20/40", "logMAR 0.3" ...
  polar   the visual field as a polar plot: a file name or an image array
          (400 x 400 colour; the blue plane is the sensitivity); default the
          built-in polarplotREmd.bmp (central scotoma)
  field   instead of polar: a perimetry file (CSV, JSON or DICOM) or a dict
          {"file": ..., "other_eye": ..., "eye": "OD"|"OS", "age": years,
           "periphery": "hull"|"normal"}, made into the plot as
          `ocumbra-sim field` does
  at      fixation points [(x, y), ...]: 1-based column and row, may be
          fractional or outside the image; default the image centre
          (round(cols / 2), round(rows / 2))
  resmap  also return the resolution map (2 rows x 2 cols, blind parts 0)

Returns one float64 image (0..1, the image's size) when `at` is None, else a
list with one image per point; with resmap=True a tuple (that, map). The
masks are prepared once per call and reused for every point. Same as
`ocumbra-sim fixdep [--at X,Y]...` (which keeps the last point's image).
Calls from several threads run one at a time (the engine holds one set of
masks per process).)";

constexpr const char* kGlareDoc = R"(glare(img, width=20, glare=1) -> numpy.ndarray

Light scattered inside the eye, added to the image as a veil in linear light,
falling off with the square of the angle; the result is scaled so that its
largest value is 1.

  img    rows x cols or rows x cols x 3, uint8/uint16/float64
  width  angle the image spans, degrees (0 < width < 180; default 20)
  glare  glare factor, a whole number 0..10 (default 1: about a young healthy
         eye; higher for cataract and other media opacities; 0 no veil)

Same as `ocumbra-sim glare`.)";

constexpr const char* kColourDoc = R"(colour(img, type, severity=1) -> numpy.ndarray

Colour vision deficiency (Machado, Oliveira & Fernandes 2009).

  img       rows x cols x 3 colour (a gray image comes back as its 0..1
            values), uint8/uint16/float64 (0..1), sRGB
  type      "protan" (red cones), "deutan" (green cones), "tritan" (blue
            cones) or "achromat" (no working cones: rod monochromacy)
  severity  0 (normal) .. 1 (dichromacy), default 1; not used for "achromat"

Returns float64 0..1 of the image's size. Same as `ocumbra-sim colour`.)";

constexpr const char* kScenarioDoc = R"(scenario(img, file=None, preset=None, at=None)

The combined simulation of a scenario: one description of a person's vision
(clinical units) whose enabled steps run in the order light meets them:
glare, acuity and contrast (fixindep), colour, visual field (fixdep). Each step
takes the previous one's exact result.

  img     rows x cols or rows x cols x 3, uint8/uint16/float64 (0..1)
  file    a scenario file (JSON; see the README's "Scenario files"), or
  preset  the name of a built-in scenario (presets())
  at      fixation points [(x, y), ...] for the field step: 1-based column and
          row; default the scenario's "fixation", else the image centre

Returns one float64 image (0..1, the image's size) when `at` is None, else a
list with one image per point (the steps before the field step run once).
Same as `ocumbra-sim scenario (FILE | --preset NAME) [--at X,Y]...`. A
scenario whose width is "photo" needs the photo's file: use the batch tool.
Errors: ValueError for a bad argument, a preset that does not exist or a
scenario file with mistakes (the message names the key), OSError for a file
that cannot be read.)";

constexpr const char* kPresetsDoc = R"(presets() -> dict

The built-in scenarios, name -> one-line description, in the order the
program lists them. Illustrative, not clinical advice: their acuity, contrast
and glare values are in the README's presets table; their visual fields are
the example perimetry files shipped with the program.)";

}  // namespace

PYBIND11_MODULE(ocumbra, m) {
    // Each docstring starts with its own signature line, which shows the
    // defaults and accepted forms better than the generated one.
    py::options options;
    options.disable_function_signatures();
    m.doc() = kModuleDoc;
    python::locate_program_files();
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const FileError& e) {
            PyErr_SetString(PyExc_OSError, e.what());
        } catch (const ArgumentError& e) {
            PyErr_SetString(PyExc_ValueError, e.what());
        } catch (const Error& e) {
            PyErr_SetString(PyExc_ValueError, e.what());
        }
    });

    m.def("read_image", &read_image, py::arg("path"), kReadDoc);
    m.def("write_image", &write_image, py::arg("array"), py::arg("path"), kWriteDoc);
    m.def("fixindep", &run_fixindep, py::arg("img"), py::arg("width") = 20.0, py::arg("acuity") = 1,
          py::arg("contrast") = 1, kFixindepDoc);
    m.def("fixdep", &run_fixdep, py::arg("img"), py::arg("width") = 20.0, py::arg("acuity") = 1,
          py::arg("polar") = py::none(), py::arg("field") = py::none(), py::arg("at") = py::none(),
          py::arg("resmap") = false, kFixdepDoc);
    m.def("glare", &run_glare, py::arg("img"), py::arg("width") = 20.0, py::arg("glare") = 1, kGlareDoc);
    m.def("colour", &run_colour, py::arg("img"), py::arg("type"), py::arg("severity") = 1.0, kColourDoc);
    m.def("scenario", &run_scenario, py::arg("img"), py::arg("file") = py::none(), py::arg("preset") = py::none(),
          py::arg("at") = py::none(), kScenarioDoc);
    m.def("presets", &presets, kPresetsDoc);
}
