#pragma once
// The fixation click of the main window, as a small state of its own.
//
// In fixation mode a press in the window starts a wait for the click that
// chooses the fixation point: the phase is then Waiting, the cursor a cross
// and the status line says how to go on (kFixationHint). The wait ends
// (Idle again) with
//   - the click: wait() gives the point together with the window's record as
//     stored at that moment, and the caller renders for that record;
//   - Escape or the window closed: wait() gives nothing, quietly;
//   - a command that stored the window's record meanwhile (another image, a
//     new result, fixation mode left: store_state ends the wait at once, and
//     a store made any other way is found when the wait returns): wait()
//     gives nothing, so the click never overwrites what that command did.
//
//   std::shared_ptr<FixationClick> click = fixation_click(fig);
//   if (auto chosen = click->wait(fig, statustext)) render(chosen->point, chosen->handles);
//
// One FixationClick per main window, kept with it; user-interface thread only.
#include <memory>
#include <optional>

#include "app/ocumbra.hpp"
#include "fixdep/simulation.hpp"
#include "toolkit/gui/framework.hpp"

namespace ocu::app {

inline constexpr const char* kFixationHint = "STATUS: click the point to fixate, Esc to cancel";

class FixationClick {
public:
    enum class Phase { Idle, Waiting };

    // What a wait gave: the chosen point (1-based column and row, possibly
    // fractional or outside the image) and the record stored with the
    // window when it was chosen, still in fixation mode.
    struct Chosen {
        fixdep::Fixation point;
        OcumbraState handles;
    };

    Phase phase() const { return phase_; }

    // Waits for the click in window `fig`, showing the hint on `statustext`
    // meanwhile (the text it showed comes back afterwards). Nothing when the
    // wait was cancelled or superseded (see above), or when a wait already
    // runs. Errors of the pointer input other than a cancel pass on.
    std::optional<Chosen> wait(const gui::Handle& fig, const gui::Handle& statustext);

    // The window's record was stored by a command: a wait that runs ends
    // without a point.
    void superseded(const gui::Handle& fig);

private:
    Phase phase_ = Phase::Idle;
};

// The fixation click of the main window `fig`, made on first use.
std::shared_ptr<FixationClick> fixation_click(const gui::Handle& fig);

}  // namespace ocu::app
