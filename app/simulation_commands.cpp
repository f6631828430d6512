// The main window's simulation commands and the fixation click. Each
// follows the same shape: parameters from its dialog, the busy status line
// (BusyStatus), the simulation, the result shown and stored as `imt`, and
// `handles` stored with guidata at the end, so that a failed command
// changes nothing.
#include "app/ocumbra.hpp"
#include "app/status.hpp"
#include "toolkit/gui/imshow.hpp"
#include "toolkit/gui/platform.hpp"

namespace ocu::app {

using gui::Handle;
using gui::Value;

namespace {

// The menu holding the three simulations.
OCU_HEAD(transform_Callback) void transform_Callback(Handle, const Value&, OcumbraState) {}

// Fixation-independent simulation (not connected to its dialog yet).
OCU_HEAD(fixindep_Callback) void fixindep_Callback(Handle, const Value&, OcumbraState) {}

// Fixation-dependent simulation (not connected to its dialog yet).
OCU_HEAD(fixdep_Callback) void fixdep_Callback(Handle, const Value&, OcumbraState) {}

// Glare simulation (not connected to its dialog yet).
OCU_HEAD(glare_Callback) void glare_Callback(Handle, const Value&, OcumbraState) {}

// A press in the main window: a new fixation point while in fixation mode.
OCU_HEAD(figure1_WindowButtonDownFcn) void figure1_WindowButtonDownFcn(Handle, const Value&, OcumbraState handles) {
    if (handles.fixactive != 1) return;
}

}  // namespace

void add_simulation_commands(Ops& ops) {
    OCU_GUI_CALLBACK(ops, transform_Callback);
    OCU_GUI_CALLBACK(ops, fixindep_Callback);
    OCU_GUI_CALLBACK(ops, fixdep_Callback);
    OCU_GUI_CALLBACK(ops, glare_Callback);
    OCU_GUI_CALLBACK(ops, figure1_WindowButtonDownFcn);
}

}  // namespace ocu::app
