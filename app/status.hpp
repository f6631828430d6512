#pragma once
// The status line around a computation:
//   BusyStatus busy(handles["statustext"]);   // remembers the text, shows the
//                                               // busy text in dark red, flushes
//   ... compute, show, store handles ...
//   busy.done();                               // puts the text back, black
// A command that fails before done() gets its status line back as well.
#include <string>

#include "toolkit/gui/framework.hpp"

namespace ocu::app {

inline constexpr const char* kBusyText = "STATUS: resultaat berekenen...";
inline constexpr gui::Rgb kBusyColour{0.8, 0, 0};
inline constexpr gui::Rgb kIdleColour{0, 0, 0};

class BusyStatus {
public:
    explicit BusyStatus(gui::Handle statustext);
    ~BusyStatus();
    BusyStatus(const BusyStatus&) = delete;
    BusyStatus& operator=(const BusyStatus&) = delete;
    void done();

private:
    gui::Handle status_;
    std::string previous_;
    bool done_ = false;
};

}  // namespace ocu::app
