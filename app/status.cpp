#include "app/status.hpp"

#include "toolkit/gui/platform.hpp"

namespace ocu::app {

BusyStatus::BusyStatus(gui::Handle statustext) : status_(std::move(statustext)) {
    previous_ = gui::get_string(status_);
    gui::set_string(status_, kBusyText);
    gui::set_foreground(status_, kBusyColour);
    gui::platform().flush();
}

void BusyStatus::done() {
    if (done_) return;
    done_ = true;
    if (!gui::is_valid(status_)) return;
    gui::set_string(status_, previous_);
    gui::set_foreground(status_, kIdleColour);
}

BusyStatus::~BusyStatus() {
    try {
        done();
    } catch (...) {
        // The window went away during the command: nothing to restore.
    }
}

}  // namespace ocu::app
