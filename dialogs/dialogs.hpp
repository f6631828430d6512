#pragma once
// The parameter dialogs. Each is a window function of the window
// framework (layout file "<name>.fig" next to the executable): called in open
// mode with the caller's current values, it shows its window, waits modally
// until OK is pressed, and returns the values last stored by its callbacks.
//
//   fixindepparms(width, mar, contrastf[, photo]) -> width, mar, contrastf
//   fixdepparms(width, mar[, photo])   -> width, mar, polarim, plot file, other eye's file, eye
//   glareparms2(width, glarefact[, photo])        -> width, glarefact (integer 0..10)
//   colourparms(type, severity)                   -> type, severity
//   conditionparms(scenario JSON)                 -> scenario JSON
//
// `photo` is the file of the image the simulation will run on: the "From
// photo" button beside a width field takes the width from its EXIF focal
// length (clinical/photo.hpp); without one the button says so and the dialog
// stays as it was.
//
// Typed text is read with gui::str2double (NaN for a text that is not a
// number); acuity fields also read the clinical notations ("20/40", "6/12",
// "logMAR 0.3", clinical/units.hpp), while a plain number stays a decimal
// acuity. The contrast field is a factor or, with the unit beside it set to
// log CS, a Pelli-Robson score (factor 10^(1.95 - score)); the dialog returns
// the factor. OK (or Enter) returns only values the simulation accepts: it calls
// the simulation's own `check` (toolkit/viewing.hpp), and a refused value
// leaves the dialog open with every field as typed, the focus on that field
// and a message that names the field by its label and quotes its text.
// Cancel, Escape and the window's close button cancel the dialog: the window
// function throws gui::Cancelled, which ends the calling command quietly and
// changes nothing. The fixation-dependent dialog's File > Close deletes the
// dialog after its question; the output step then has no state record and
// fails with an ocu::Error, so the calling command ends with that message
// and changes nothing. Everything here runs on the user-interface thread.
#include <optional>
#include <string>

#include "colour/colour.hpp"
#include "field/measurement.hpp"
#include "fixdep/simulation.hpp"
#include "scenario/scenario.hpp"
#include "toolkit/array.hpp"
#include "toolkit/gui/framework.hpp"
#include "toolkit/viewing.hpp"

namespace ocu::dlg {

// The window functions as the framework calls them (open mode with the
// caller's values, or callback mode from a control's callback text). Each
// makes itself known to the framework by name on its first call, so that its
// controls' callback texts can be evaluated.
gui::Results fixindepparms(const gui::Args& varargin, int nargout);
gui::Results fixdepparms(const gui::Args& varargin, int nargout);
gui::Results glareparms2(const gui::Args& varargin, int nargout);
gui::Results colourparms(const gui::Args& varargin, int nargout);
gui::Results conditionparms(const gui::Args& varargin, int nargout);

// Typed calls of the window functions. `photo`: the current image's file
// (empty: none; "From photo" then says so).
struct FixindepValues {
    double width = viewing::kDefaultWidth, mar = viewing::kDefaultAcuity,
           contrastf = viewing::kDefaultContrast;
};
FixindepValues fixindepparms(double width, double mar, double contrastf, const std::string& photo = {});

// Where the returned polar plot came from: a plot image, or a perimetry
// measurement (with the other eye's for the binocular field).
struct PlotSource {
    std::string file;       // the plot image or the measurement file, with its folder
    std::string other_eye;  // the other eye's measurement file, or empty
    std::optional<field::Eye> eye;  // the eye of `file`, when it is a measurement
};

struct FixdepValues {
    double width = viewing::kDefaultWidth, mar = viewing::kDefaultAcuity;
    AnyImage polarim;
    PlotSource source;
};
FixdepValues fixdepparms(double width, double mar, const std::string& photo = {});

struct GlareValues {
    double width = viewing::kDefaultWidth, glarefact = viewing::kDefaultGlare;
};
GlareValues glareparms2(double width, double glarefact, const std::string& photo = {});

// The colour vision deficiency: its type and severity 0..1 (whole percent
// from the slider; the achromat type keeps the severity as it was).
colour::Params colourparms(const colour::Params& current);

// The combined simulation: `current` is the scenario of the main window's
// current values (every dialog's); the dialog lists the presets with their
// descriptions, opens and saves scenario files, lets the steps be chosen and
// returns the scenario to run. Keys a preset or file lacks (colour, field)
// are taken from `current`, so that switching a step on always has values.
scenario::Scenario conditionparms(const scenario::Scenario& current);

// The dialogs' controls, by the tags of their layout files.
namespace tag {
inline constexpr gui::Tag figure1{"figure1"};  // the dialog window
inline constexpr gui::Tag edit_width{"edit_width"};
inline constexpr gui::Tag edit_mar{"edit_mar"};
inline constexpr gui::Tag edit_contrastfactor{"edit_contrastfactor"};  // fixindepparms
inline constexpr gui::Tag slider2{"slider2"};                          // glareparms2: the glare factor
inline constexpr gui::Tag text8{"text8"};                              // glareparms2: the factor as text
inline constexpr gui::Tag text_polarfln{"text_polarfln"};  // fixdepparms: the polar plot's file name
inline constexpr gui::Tag pushbutton_cancel{"pushbutton_cancel"};  // every dialog: Cancel
inline constexpr gui::Tag pushbutton_widthphoto{"pushbutton_widthphoto"};  // "From photo" beside edit_width
inline constexpr gui::Tag text_contrastfactor{"text_contrastfactor"};      // fixindepparms: the contrast label
inline constexpr gui::Tag popup_contrastunit{"popup_contrastunit"};  // fixindepparms: factor or log CS
// colourparms
inline constexpr gui::Tag radiobutton_protan{"radiobutton_protan"};
inline constexpr gui::Tag radiobutton_deutan{"radiobutton_deutan"};
inline constexpr gui::Tag radiobutton_tritan{"radiobutton_tritan"};
inline constexpr gui::Tag radiobutton_achromat{"radiobutton_achromat"};
inline constexpr gui::Tag slider_severity{"slider_severity"};  // 0..100 %
inline constexpr gui::Tag text_severity{"text_severity"};      // the severity as text, "60 %"
// conditionparms
inline constexpr gui::Tag popup_condition{"popup_condition"};    // current settings, presets, a file
inline constexpr gui::Tag text_description{"text_description"};  // what the chosen entry describes
inline constexpr gui::Tag text_values{"text_values"};            // its values
inline constexpr gui::Tag checkbox_glare{"checkbox_glare"};
inline constexpr gui::Tag checkbox_acuity{"checkbox_acuity"};
inline constexpr gui::Tag checkbox_colour{"checkbox_colour"};
inline constexpr gui::Tag checkbox_field{"checkbox_field"};
}  // namespace tag

// The dialogs' state records (besides the control handles by tag).
struct FixindepState : gui::StateBase {
    double width = viewing::kDefaultWidth;
    double mar = viewing::kDefaultAcuity;
    double contrastf = viewing::kDefaultContrast;  // the factor, also when typed as log CS
    bool logcs_unit = false;                       // the contrast field holds a Pelli-Robson score
    double logcs = 0;                              // that score as typed (NaN: not a number)
    std::string photo;                             // the current image's file
};

struct FixdepState : gui::StateBase {
    double width = viewing::kDefaultWidth;
    double mar = viewing::kDefaultAcuity;
    std::string polarfln = fixdep::kDefaultPolarPlot;  // file name of the current plot, no folder
    AnyImage polarim;                                  // the current plot as read
    std::optional<std::string> pathname;               // folder of the last plot opened from the menu
    PlotSource source;                                 // where polarim came from
    std::optional<field::Measurement> imported;        // the last perimetry import (its eye set)
    std::string photo;                                 // the current image's file
};

struct GlareState : gui::StateBase {
    double width = viewing::kDefaultWidth;
    double mar = viewing::kDefaultGlare;  // the glare factor
    std::string photo;                    // the current image's file
};

struct ColourState : gui::StateBase {
    colour::Params params;
};

struct ConditionState : gui::StateBase {
    scenario::Scenario current;                // the main window's values
    scenario::Scenario scenario;               // what OK runs (the entry chosen, steps as ticked)
    std::optional<scenario::Scenario> opened;  // the scenario file opened last
    std::string opened_file;                   // its file name, without folder
};

}  // namespace ocu::dlg
