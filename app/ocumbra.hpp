#pragma once
// The main window `ocumbra`: its window function, its state record and the
// pieces its commands share.
#include <memory>
#include <optional>
#include <string>

#include "colour/colour.hpp"
#include "fixdep/simulation.hpp"
#include "scenario/pipeline.hpp"
#include "scenario/scenario.hpp"
#include "toolkit/array.hpp"
#include "toolkit/gui/framework.hpp"
#include "toolkit/shared.hpp"
#include "toolkit/viewing.hpp"

namespace ocu::app {

// The main window's controls, by the tags of its layout file.
namespace tag {
inline constexpr gui::Tag figure1{"figure1"};        // the main window
inline constexpr gui::Tag axes1{"axes1"};            // the image area
inline constexpr gui::Tag statustext{"statustext"};  // the status line
inline constexpr gui::Tag popupmenu1{"popupmenu1"};  // the selection list
inline constexpr gui::Tag FileMenu{"FileMenu"};
inline constexpr gui::Tag OpenMenuItem{"OpenMenuItem"};
inline constexpr gui::Tag Save_as{"Save_as"};
inline constexpr gui::Tag Save_resmap{"Save_resmap"};
inline constexpr gui::Tag PrintMenuItem{"PrintMenuItem"};
inline constexpr gui::Tag CloseMenuItem{"CloseMenuItem"};
inline constexpr gui::Tag original_menu{"original_menu"};
inline constexpr gui::Tag transformed_menu{"transformed_menu"};
inline constexpr gui::Tag transform{"transform"};  // the menu of the simulations
inline constexpr gui::Tag fixindep{"fixindep"};
inline constexpr gui::Tag fixdep{"fixdep"};
inline constexpr gui::Tag glare{"glare"};
// The View menu's display entries (view_commands.cpp): they change only the display.
inline constexpr gui::Tag ViewMenu{"ViewMenu"};
inline constexpr gui::Tag actualpixels_menu{"actualpixels_menu"};
inline constexpr gui::Tag fittowindow_menu{"fittowindow_menu"};
inline constexpr gui::Tag followpointer_menu{"followpointer_menu"};  // checkable; live_view.hpp
inline constexpr gui::Tag sidebyside_menu{"sidebyside_menu"};        // checkable
inline constexpr gui::Tag showfixation_menu{"showfixation_menu"};    // checkable
inline constexpr gui::Tag Save_sidebyside{"Save_sidebyside"};
// Work in the background (work.hpp): shown in the status line while it runs.
inline constexpr gui::Tag progressbar{"progressbar"};
inline constexpr gui::Tag cancelwork{"pushbutton_cancelwork"};
inline constexpr gui::Tag colour{"colour"};
inline constexpr gui::Tag condition{"condition"};
}  // namespace tag

// For a large photo shown reduced, what the view that follows the pointer
// renders its quick frames from (live_view.hpp): the photo resampled to the
// size it was shown at when the fixation-dependent command ran (area_mean),
// with a resolution map and masks of its own in engine pyramid 2, prepared by
// that command with the full-size ones.
struct FixationPreview {
    fixdep::Session session;
    AnyImage image;
    std::shared_ptr<const fixdep::SquaredImage> squared;  // image, converted for rendering
};

// Which simulation produced the result `imt` on the current image. The values
// are the numbers the window's state has always used for them.
// Colour vision and the combined simulation (Condition) come after them.
enum class Transform : int { None = -1, Fixindep = 1, Fixdep = 2, Glare = 3, Colour = 4, Condition = 5 };

// The steps the Condition dialog starts with: the three original simulations.
inline constexpr scenario::Steps kDefaultSteps{.glare = true, .acuity = true, .field = true};

// The main window's state record `handles`. Control handles by tag through
// `handles[tag::axes1]` etc.; the parameters and images below. The images are
// held as Shared values (toolkit/shared.hpp): the framework hands every
// callback a copy of the record, and a copy shares the pixels instead of
// copying them.
struct OcumbraState : gui::StateBase {
    gui::Handle output;                            // the main window: first result of ocumbra
    bool prepfixdep = false;                       // a fixation-dependent run prepared its map and masks
    bool prepglare = false;                        // stays false
    double powcam = 2;                             // luminance = (value / 255) ^ powcam
    double powmon = 2;                             // displayed value = luminance ^ (1 / powmon)
    Transform prevtrans = Transform::None;         // the simulation that made imt on this image
    double width = viewing::kDefaultWidth;         // angular width of the image, degrees
    double mar = viewing::kDefaultAcuity;          // decimal visual acuity
    double glarefact = viewing::kDefaultGlare;     // glare factor
    double contrastf = viewing::kDefaultContrast;  // contrast factor
    std::string filename = "NatIm13.jpg";          // current image file, without folder
    std::string pathname;           // its folder with trailing separator; empty = working folder
    bool fixactive = false;         // fixation mode: clicks choose the fixation point
    Shared<AnyImage> im;            // source image as read
    Shared<AnyImage> imt;           // current result
    bool imt_for_im = true;         // imt was made from im (or is im itself); false after
                                    // opening another image until a simulation runs on it
    Shared<AnyImage> polim;         // polar plot of the last fixation-dependent run
    Shared<ArrayD> restot;          // resolution map of the last fixation-dependent run
    std::optional<fixdep::Session> fixdep_session;  // the masks that run left in the engine
    // im converted once to the scale renderings work on, by that run, for
    // the renderings of clicks and the live view. Shared by the copies.
    std::shared_ptr<const fixdep::SquaredImage> fixdep_squared;
    std::optional<fixdep::Fixation> fixpoint;       // the fixation point of imt in fixation mode
    std::optional<FixationPreview> fixdep_preview;  // for a large photo shown reduced
    colour::Params colour;                          // colour vision: type and severity
    std::optional<scenario::Field> field_source;    // the file(s) polim came from; empty: the default plot
    scenario::Steps steps = kDefaultSteps;          // the steps of the last combined run
    // The last combined run, kept while it is the result shown: its
    // intermediate image and field masks, so that a click renders only the
    // field step. Shared, not copied, by the copies of the record.
    std::shared_ptr<scenario::Prepared> combined;
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
void add_condition_commands(Ops& ops);
void add_help_commands(Ops& ops);
void add_view_commands(Ops& ops);

// Stores the main window's record with the window `h` belongs to (guidata),
// as every command does at its end, and brings what depends on it in line:
// "Save resolution map" is enabled only in fixation mode, and a fixation
// click still waiting ends without rendering (fixation_click.hpp).
void store_state(const gui::Handle& h, OcumbraState handles);

// An image with pixels (the opening step leaves none when the default image
// cannot be read).
inline bool has_pixels(const AnyImage& im) { return image_rows(im) > 0 && image_cols(im) > 0; }

// What the commands say when there is nothing to work on.
inline constexpr const char* kOpenImageFirst = "Open an image first.";
inline constexpr const char* kNoResultYet =
    "There is no result for this image yet: choose a simulation from the Transform menu first.";

// Accepts up to two arguments and does nothing.
void sysbeep(const gui::Args& args = {});

// The default image shown at start.
inline constexpr const char* kDefaultImage = "NatIm13.jpg";

}  // namespace ocu::app
