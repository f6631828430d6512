#include "app/fixation_click.hpp"

#include <any>
#include <array>
#include <cstdint>
#include <string>

#include "toolkit/gui/platform.hpp"

namespace ocu::app {

namespace {

constexpr const char* kAppdataName = "ocuFixationClick";

// Shows the hint on the status line for as long as it lives, then the text
// the line showed before (if the window is still there).
class StatusHint {
public:
    StatusHint(gui::Handle status, const std::string& hint) : status_(std::move(status)) {
        previous_ = gui::get_string(status_);
        gui::set_string(status_, hint);
    }
    ~StatusHint() {
        if (gui::is_valid(status_)) gui::set_string(status_, previous_);
    }
    StatusHint(const StatusHint&) = delete;
    StatusHint& operator=(const StatusHint&) = delete;

private:
    gui::Handle status_;
    std::string previous_;
};

}  // namespace

std::optional<FixationClick::Chosen> FixationClick::wait(const gui::Handle& fig, const gui::Handle& statustext) {
    if (phase_ == Phase::Waiting) return std::nullopt;
    const std::uint64_t revision = gui::guidata_revision(fig);
    std::array<double, 2> xy{};
    {
        const StatusHint hint(statustext, kFixationHint);
        phase_ = Phase::Waiting;
        struct BackToIdle {
            Phase& phase;
            ~BackToIdle() { phase = Phase::Idle; }
        } idle{phase_};
        try {
            xy = gui::platform().pointer_input(fig);
        } catch (const gui::Cancelled&) {
            return std::nullopt;
        }
    }
    // The record as stored now, and only if no command stored it meanwhile.
    if (!gui::is_valid(fig) || gui::guidata_revision(fig) != revision) return std::nullopt;
    std::optional<OcumbraState> now = gui::guidata<OcumbraState>(fig);
    if (!now || !now->fixactive || !(now->fixdep_session || now->combined)) return std::nullopt;
    return Chosen{{xy[0], xy[1]}, std::move(*now)};
}

void FixationClick::superseded(const gui::Handle& fig) {
    if (phase_ == Phase::Waiting) gui::platform().end_pointer_input(fig);
}

std::shared_ptr<FixationClick> fixation_click(const gui::Handle& fig) {
    const std::any kept = gui::getappdata(fig, kAppdataName);
    if (const auto* p = std::any_cast<std::shared_ptr<FixationClick>>(&kept)) return *p;
    auto made = std::make_shared<FixationClick>();
    gui::setappdata(fig, kAppdataName, made);
    return made;
}

}  // namespace ocu::app
