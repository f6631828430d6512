#pragma once
// The steps every simulation command of the main window shares, in the order
// it takes them:
//
//   require_image(handles);                       // something to work on
//   values = dialog(..., photo_file(handles));    // the parameters (may cancel)
//   <simulation>::check(params);                  // refused before the busy status
//   BusyStatus busy(handles[tag::statustext]);
//   imt = compute<ArrayD>(hObject, [&](const Progress* p) {   // on the worker (work.hpp):
//       return <simulation>::run(handles.im, params, p); });  // Esc/Cancel, progress bar
//   finish_command(hObject, std::move(handles), std::move(imt), Transform::X, busy);
//
// so that a failed or cancelled command changes nothing.
#include <string>

#include "app/ocumbra.hpp"
#include "app/status.hpp"

namespace ocu::app {

// A simulation needs an image to work on.
void require_image(const OcumbraState& handles);

// The common end of the simulation commands: show the result (view.hpp), keep it as
// `imt` with the simulation that made it, store the record, idle status. A
// result of any other command than Condition drops the kept combined run.
void finish_command(const gui::Handle& hObject, OcumbraState&& handles, AnyImage&& imt, Transform prevtrans,
                    BusyStatus& busy);

// The file of the current image (what the dialogs' "From photo" reads):
// its folder and name, or for an image without folder the file the opening
// step reads (working folder first, then the program's data folder). Empty
// when there is no image.
std::string photo_file(const OcumbraState& handles);

// The scenario of the main window's current values, as the Condition dialog
// starts from it: the last combined run's steps (at first glare, acuity and
// field), width, acuity, contrast factor, glare factor, colour vision, and
// the field's file(s) (the default polar plot before any field was chosen).
scenario::Scenario current_scenario(const OcumbraState& handles);

}  // namespace ocu::app
