#pragma once
// Work off the user-interface thread.
//
// The window has one worker thread for the whole process (worker()). Every
// simulation command computes on it, and so does the fixation click: it is
// the one caller of the pyramid engine, whose table is
// process-wide and unguarded, so no two engine calls ever overlap.
//
// A command's compute step goes through compute(), which keeps the command's
// shape (dialog, check, BusyStatus, compute, finish_command) and only moves
// the computing:
//
//   BusyStatus busy(handles[tag::statustext]);
//   ArrayD imt = compute<ArrayD>(hObject, [&](const Progress* p) { return fixindep::run(im, params, p); });
//   finish_command(...);
//
// While the worker computes, the command waits in a nested event loop: the
// window keeps repainting and resizing; the commands that would start other
// work (every entry of the File, Transform and View menus that changes the
// record or writes a file) are disabled; and when the work takes longer than
// a moment, a progress bar (fed by the computation's reports, see
// toolkit/progress.hpp) and a Cancel button appear in the status line. Cancel,
// Escape or closing the window stop the work at its next report; compute()
// then throws gui::Cancelled, so the command ends quietly without storing
// anything: the stored state stays as it was. Work past its last point of
// stopping (a report that cannot stop, e.g. once the engine holds new masks)
// finishes and its result is kept, so that the record always matches what
// the engine holds. Errors of the computation pass
// on as they would have on the user-interface thread. The result is the
// computation's own: nothing here touches it.
//
// User-interface thread only (compute, is_working); the job runs on the
// worker and must not touch widgets or the window's record.
#include <functional>
#include <optional>
#include <utility>

#include "toolkit/gui/framework.hpp"
#include "toolkit/progress.hpp"
#include "toolkit/serial_worker.hpp"

namespace ocu::app {

// The one worker thread of the window's process.
SerialWorker& worker();

// Runs job(progress) on the worker while window `fig` goes on as described
// above; returns when it has finished, throws gui::Cancelled when it was
// stopped, and passes its errors on.
void run_on_worker(const gui::Handle& fig, const std::function<void(const Progress*)>& job);

template <class R, class F>
R compute(const gui::Handle& fig, F&& f) {
    std::optional<R> out;
    run_on_worker(fig, [&](const Progress* p) { out.emplace(f(p)); });
    return std::move(*out);
}

// A command's computation is running for window `fig` (presses in fixation
// mode do nothing meanwhile).
bool is_working(const gui::Handle& fig);

// The entries left enabled while work runs: they change only what is shown.
bool stays_enabled_while_working(const std::string& tag);

// How long work runs before the progress bar and Cancel button appear.
inline constexpr int kProgressDelayMs = 250;

}  // namespace ocu::app
