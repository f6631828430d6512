// The main window's colour vision command: a colour vision deficiency of the
// chosen type and severity over the whole image (colour/).
#include "app/command_steps.hpp"
#include "app/ocumbra.hpp"
#include "app/status.hpp"
#include "colour/colour.hpp"
#include "dialogs/dialogs.hpp"

namespace ocu::app {

using gui::Handle;
using gui::Value;

namespace {

OCU_HEAD(colour_Callback)
void colour_Callback(Handle hObject, const Value&, OcumbraState handles) {
    require_image(handles);
    handles.fixactive = false;
    handles.colour = dlg::colourparms(handles.colour);
    const colour::Params params = handles.colour;
    colour::check_severity(params.severity);

    BusyStatus busy(handles[tag::statustext]);
    AnyImage imt = colour::run(handles.im, params);
    finish_command(hObject, std::move(handles), std::move(imt), Transform::Colour, busy);
}

}  // namespace

void add_colour_commands(Ops& ops) { OCU_GUI_CALLBACK(ops, colour_Callback); }

}  // namespace ocu::app
