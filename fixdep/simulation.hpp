#pragma once
// The fixation-dependent simulation as the window command and the batch tool
// run it: prepare once (resolution map and the engine's blending masks), then
// render for as many fixation points as wanted.
//
//   fixdep::Params p{width, mar, polim};
//   fixdep::Session s = fixdep::prepare(sx, sy, p);     // once per run
//   ArrayD imt = fixdep::render(s, s.centre(), im);     // the first view
//   fixdep::render(s, {x, y}, im, imt);                 // each click, into imt's storage
//   ArrayD once = fixdep::run(im, p);                   // prepare + the first view
//
// Shared rules for this header:
//  - sx = image columns, sy = image rows; fixation points are 1-based
//    (column, row), possibly fractional or outside the image.
//  - width and mar are checked as toolkit/viewing.hpp says; the polar plot as
//    resmap.hpp says (check_polar_plot).
//  - All input checks run before the first engine call, so a refused input
//    leaves the engine's masks of the previous preparation in place.
//  - The masks live in the pyramid engine (the plug-in), which holds one set
//    per pyramid for the whole process: a Session stands for the masks its
//    prepare() left with its pyramid (render.hpp: kMainPyramid unless asked
//    otherwise), and rendering uses whatever masks that pyramid holds, so
//    preparing another Session of the same pyramid changes what every such
//    Session renders with. All engine calls of a process come from one thread
//    at a time (the window's worker, app/work.hpp; the batch tool's only
//    thread).
//  - Errors: ocu::Error with a text for the user.
#include <cstddef>

#include "fixdep/render.hpp"
#include "fixdep/resmap.hpp"
#include "toolkit/array.hpp"
#include "toolkit/viewing.hpp"

namespace ocu::fixdep {

struct Fixation {
    double x = 0.0;  // column, 1-based
    double y = 0.0;  // row, 1-based
};

// The parameters of one run; the defaults are the main window's. The polar
// plot has no default here: the dialog and the batch tool read
// "polarplotREmd.bmp" (kDefaultPolarPlot) when none is chosen.
struct Params {
    double width = viewing::kDefaultWidth;  // angular width of the image, degrees
    double mar = viewing::kDefaultAcuity;   // decimal visual acuity
    AnyImage polim;                         // polar plot of the visual field, as read
};

inline constexpr const char* kDefaultPolarPlot = "polarplotREmd.bmp";

// Checks width, acuity, the image size (at least 2 x 2) and the polar plot, in
// this order, and throws for the first that is refused.
void check(std::size_t sx, std::size_t sy, const Params& p);
// The same without the image: width, acuity and the polar plot (what the
// dialog checks before it returns its values).
void check(const Params& p);

// The result of a preparation for an image of sx columns and sy rows.
class Session {
public:
    std::size_t cols() const { return sx_; }
    std::size_t rows() const { return sy_; }
    // The resolution map restot (2*sy x 2*sx, blind parts 0): what the window
    // keeps and saves. Empty once released.
    const ArrayD& resmap() const { return restot_; }
    // Hands the map over to the caller (rendering does not need it: the
    // engine holds the masks made from it); resmap() is empty afterwards.
    ArrayD release_resmap();
    // The first fixation point of a run: (round(sx / 2), round(sy / 2)).
    Fixation centre() const;
    // The engine pyramid holding its masks.
    int pyramid() const { return pyramid_; }

private:
    friend Session prepare(std::size_t sx, std::size_t sy, const Params& p, const Progress* progress,
                           int pyramid);
    Session(std::size_t sx, std::size_t sy, ArrayD restot, int pyramid);
    std::size_t sx_ = 0, sy_ = 0;
    ArrayD restot_;
    int pyramid_ = kMainPyramid;
};

// Checks the inputs, computes the resolution map for the polar plot, and
// builds the blending masks of `pyramid` from it with blind parts (0) handed
// over as -1. `progress` hears when the map is made and when the masks are;
// it may stop the preparation before the masks are made (toolkit/progress.hpp),
// not after.
Session prepare(std::size_t sx, std::size_t sy, const Params& p, const Progress* progress = nullptr,
                int pyramid = kMainPyramid);

// The image `im` seen while fixating `f`, with the masks the engine holds
// (fixdepimage, render.hpp). Values 0..1, the size and plane count of `im`;
// `im` may have another size than the session was prepared for.
ArrayD render(const Session& s, Fixation f, const AnyImage& im);
// The same rendering written into `into`, whose storage is re-used when it
// already has the result's size (fixdepimage's second form).
void render(const Session& s, Fixation f, const AnyImage& im, ArrayD& into);
// The same from an image converted once (SquaredImage, render.hpp): exactly
// the rendering of the image it was made from.
void render(const Session& s, Fixation f, const SquaredImage& im, ArrayD& into);
// The engine's rendered planes only (fixdepimage_planes, render.hpp), with
// the masks of the session's pyramid; planes_to_result turns them into the
// result the forms above give.
void render_planes(const Session& s, Fixation f, const SquaredImage& im, ArrayU8& planes,
                   const Progress* progress = nullptr);

// prepare for the size of `im`, then render fixating its centre.
ArrayD run(const AnyImage& im, const Params& p);

// ---- Pieces of the preparation, open to tests ----

// Builds the blending masks from a resolution map: the map with every 0
// replaced by -1 goes to prepblendmasks, with the level count
// mask_level_count chooses for the map and the image size (restot's halves). `restot` is used as scratch space
// (no map-sized copy is made) and holds its original values again on return,
// also when the engine fails.
void prepare_masks(ArrayD& restot, int pyramid = kMainPyramid);

// The map with every element equal to 0 replaced by -1, others unchanged.
ArrayD blind_as_minus_one(ArrayD restot);

// The first fixation point for an image of sx columns and sy rows:
// (round(sx / 2), round(sy / 2)), halves rounded away from zero.
Fixation centre_fixation(std::size_t sx, std::size_t sy);

}  // namespace ocu::fixdep
