#pragma once
// The three parameter dialogs. Each is a window function of the window
// framework (layout file "<name>.fig" next to the executable): called in open
// mode with the caller's current values, it shows its window, waits modally
// until OK is pressed, and returns the values last stored by its callbacks.
//
//   fixindepparms(width, mar, contrastf) -> width, mar, contrastf
//   fixdepparms(width, mar)              -> width, mar, polarim
//   glareparms2(width, glarefact)        -> width, glarefact (integer 0..10)
//
// Typed text is read with gui::str2double (NaN for a text that is not a
// number). OK (or Enter) returns only values the simulation accepts: it calls
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

#include "fixdep/simulation.hpp"
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

// Typed calls of the window functions.
struct FixindepValues {
    double width = viewing::kDefaultWidth, mar = viewing::kDefaultAcuity,
           contrastf = viewing::kDefaultContrast;
};
FixindepValues fixindepparms(double width, double mar, double contrastf);

struct FixdepValues {
    double width = viewing::kDefaultWidth, mar = viewing::kDefaultAcuity;
    AnyImage polarim;
};
FixdepValues fixdepparms(double width, double mar);

struct GlareValues {
    double width = viewing::kDefaultWidth, glarefact = viewing::kDefaultGlare;
};
GlareValues glareparms2(double width, double glarefact);

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
}  // namespace tag

// The dialogs' state records (besides the control handles by tag).
struct FixindepState : gui::StateBase {
    double width = viewing::kDefaultWidth;
    double mar = viewing::kDefaultAcuity;
    double contrastf = viewing::kDefaultContrast;
};

struct FixdepState : gui::StateBase {
    double width = viewing::kDefaultWidth;
    double mar = viewing::kDefaultAcuity;
    std::string polarfln = fixdep::kDefaultPolarPlot;  // file name of the current plot, no folder
    AnyImage polarim;                                  // the current plot as read
    std::optional<std::string> pathname;               // folder of the last plot opened from the menu
};

struct GlareState : gui::StateBase {
    double width = viewing::kDefaultWidth;
    double mar = viewing::kDefaultGlare;  // the glare factor
};

}  // namespace ocu::dlg
