// The main window's Condition command: the combined simulation of a preset, a
// scenario file or the current values of all dialogs (scenario/). With a
// field step, fixation mode follows as after the fixation-dependent command,
// and a click renders only the field step from the kept intermediate image.
#include <memory>

#include "app/command_steps.hpp"
#include "app/ocumbra.hpp"
#include "app/status.hpp"
#include "app/work.hpp"
#include "dialogs/dialogs.hpp"
#include "scenario/pipeline.hpp"
#include "scenario/scenario.hpp"
#include "toolkit/paths.hpp"

namespace ocu::app {

using gui::Handle;
using gui::Value;

scenario::Scenario current_scenario(const OcumbraState& handles) {
    scenario::Scenario s;
    s.steps = handles.steps.any() ? handles.steps : kDefaultSteps;
    s.width = handles.width;
    s.acuity = handles.mar;
    s.contrast.kind = scenario::Contrast::Kind::Factor;
    s.contrast.value = handles.contrastf;
    s.glare = handles.glarefact;
    s.colour = handles.colour;
    if (handles.field_source) {
        s.field = handles.field_source;
    } else {
        s.field.emplace();
        s.field->file = find_data_file(fixdep::kDefaultPolarPlot);
    }
    return s;
}

namespace {

OCU_HEAD(condition_Callback)
void condition_Callback(Handle hObject, const Value&, OcumbraState handles) {
    require_image(handles);
    handles.fixactive = false;
    const scenario::Scenario s = dlg::conditionparms(current_scenario(handles));
    scenario::Params params = scenario::resolve(s, photo_file(handles));
    scenario::check(image_cols(handles.im), image_rows(handles.im), params);

    BusyStatus busy(handles[tag::statustext]);
    struct Run {
        std::shared_ptr<scenario::Prepared> prepared;
        ArrayD imt;
    };
    // On the worker (work.hpp); once the field step's masks are made, the run
    // goes on to its end unstopped.
    Run run = compute<Run>(hObject, [&](const Progress* progress) {
        auto prep = std::make_shared<scenario::Prepared>(scenario::prepare(handles.im, params, progress));
        ArrayD first = prep->render(s.fixation.value_or(prep->centre()));
        return Run{std::move(prep), std::move(first)};
    });
    std::shared_ptr<scenario::Prepared> prepared = std::move(run.prepared);
    AnyImage imt = std::move(run.imt);
    // The scenario's values become the dialogs' values.
    handles.width = params.width;
    handles.mar = params.mar;
    handles.contrastf = params.contrastf;
    handles.glarefact = params.glarefact;
    if (s.colour) handles.colour = *s.colour;
    handles.steps = s.steps;
    // The engine now holds the combined run's masks, not those of an earlier
    // fixation-dependent run.
    handles.fixdep_session.reset();
    handles.fixdep_squared.reset();
    if (prepared->has_field()) {
        handles.polim = std::move(params.polim);
        handles.field_source = s.field;
        handles.restot = prepared->resmap();
        handles.prepfixdep = true;
        handles.fixactive = true;
        handles.combined = std::move(prepared);
    } else {
        handles.combined.reset();  // nothing to click for: do not hold its images
    }
    finish_command(hObject, std::move(handles), std::move(imt), Transform::Condition, busy);
}

}  // namespace

void add_condition_commands(Ops& ops) { OCU_GUI_CALLBACK(ops, condition_Callback); }

}  // namespace ocu::app
