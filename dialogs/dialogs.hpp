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
// Typed text is read with gui::str2double: a text that is not a number is
// stored and returned as NaN without a message (the simulations check the
// values, see toolkit/viewing.hpp). Closing a dialog through the window system or its Close
// menu deletes it during the wait; the output step then has no state record
// and fails with an ocu::Error, so the calling command ends and changes
// nothing. Everything here runs on the user-interface thread.
#include <optional>
#include <string>

#include "toolkit/array.hpp"
#include "toolkit/gui/framework.hpp"

namespace ocu::dlg {

// The window functions as the framework calls them (open mode with the
// caller's values, or callback mode from a control's callback text).
gui::Results fixindepparms(const gui::Args& varargin, int nargout);
gui::Results fixdepparms(const gui::Args& varargin, int nargout);
gui::Results glareparms2(const gui::Args& varargin, int nargout);

// Makes the three window functions known to the framework by name, so that
// their controls' callback texts can be evaluated. Each window function does
// it on its first call; calling it more than once is harmless.
void register_dialogs();

// Typed calls of the window functions.
struct FixindepValues {
    double width = 20, mar = 1, contrastf = 1;
};
FixindepValues fixindepparms(double width, double mar, double contrastf);

struct FixdepValues {
    double width = 20, mar = 1;
    AnyImage polarim;
};
FixdepValues fixdepparms(double width, double mar);

struct GlareValues {
    double width = 20, glarefact = 1;
};
GlareValues glareparms2(double width, double glarefact);

// The dialogs' state records (besides the control handles by tag).
struct FixindepState : gui::StateBase {
    double width = 20;
    double mar = 1;
    double contrastf = 1;
};

struct FixdepState : gui::StateBase {
    double width = 20;
    double mar = 1;
    std::string polarfln = "polarplotREmd.bmp";  // file name of the current plot, no folder
    AnyImage polarim;                             // the current plot as read
    std::optional<std::string> pathname;          // folder of the last plot opened from the menu
};

struct GlareState : gui::StateBase {
    double width = 20;
    double mar = 1;  // the glare factor
};

// The default polar plot's file name.
inline constexpr const char* kDefaultPolarPlot = "polarplotREmd.bmp";

}  // namespace ocu::dlg
