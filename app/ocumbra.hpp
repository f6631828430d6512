#pragma once
// The main window `ocumbra`: its window function, its state record and the
// pieces its commands share.
#include <optional>
#include <string>

#include "fixdep/simulation.hpp"
#include "toolkit/array.hpp"
#include "toolkit/gui/framework.hpp"

namespace ocu::app {

// The main window's state record `handles`. Control handles by tag through
// `handles["axes1"]` etc.; the parameters and images below.
struct OcumbraState : gui::StateBase {
    gui::Handle output;      // the main window: first result of ocumbra
    double prepfixdep = 0;   // 1 once a fixation-dependent run prepared its map and masks
    double prepglare = 0;    // stays 0
    double powcam = 2;       // luminance = (value / 255) ^ powcam
    double powmon = 2;       // displayed value = luminance ^ (1 / powmon)
    double prevtrans = -1;   // last simulation on this image: -1 none, 1, 2, 3
    double width = 20;       // angular width of the image, degrees
    double mar = 1;          // decimal visual acuity
    double glarefact = 1;    // glare factor
    double contrastf = 1;    // contrast factor
    std::string filename = "NatIm13.jpg";  // current image file, without folder
    std::string pathname;    // its folder with trailing separator; empty = working folder
    double fixactive = 0;    // 1 in fixation mode
    AnyImage im;             // source image as read
    AnyImage imt;            // current result
    std::optional<AnyImage> polim;  // polar plot of the last fixation-dependent run
    std::optional<ArrayD> restot;   // resolution map of the last fixation-dependent run
    std::optional<fixdep::Session> fixdep_session;  // the masks that run left in the engine
};

using Ops = gui::LocalOps<OcumbraState>;

// The main window function: no arguments opens the window (or re-uses it);
// ("<callback>", object, [], state record) runs that callback.
gui::Results ocumbra(const gui::Args& varargin = {}, int nargout = 0);

// The table of the main window's local operations.
const Ops& ocumbra_ops();

// The commands register themselves into the table, one file per group.
void add_file_commands(Ops& ops);
void add_simulation_commands(Ops& ops);

// Accepts up to two arguments and does nothing.
void sysbeep(const gui::Args& args = {});

// The default image shown at start.
inline constexpr const char* kDefaultImage = "NatIm13.jpg";

}  // namespace ocu::app
