#pragma once
// The combined simulation: the steps of one person's vision applied to a photo
// in the order light meets them.
//
//   1. glare       light scattered in the eye's media (glare::run)
//   2. acuity      reduced acuity and contrast sensitivity (fixindep::run)
//   3. colour      the cones: a colour vision deficiency (colour::run)
//   4. field       the visual field, rendered for a fixation point
//                  (fixdep::prepare + fixdep::render)
//
//   scenario::Params p;                       // steps, viewing values, polar plot
//   p.steps = {.glare = true, .acuity = true, .field = true};
//   scenario::Prepared s = scenario::prepare(im, p);   // steps 1-3, the field's masks
//   ArrayD first = s.render(s.centre());               // the field step for one point
//   ArrayD click = s.render({120, 80});                // a click: the field step only
//
// How one step's result feeds the next (step_input). Every simulation returns
// doubles 0..1 (displayed values) and takes the stored samples of a photo.
// The result is handed on without rounding, in the scale the next step reads:
//  - acuity (fixindep) and colour take a double image as values 0..1, the
//    same scale as v / 255 of an 8-bit photo: the result goes on unchanged.
//  - field (fixdep) uses sample values as they are on the 0..255 scale
//    (it squares v / 255, renders, and shows the square root): the result is
//    multiplied by 255, so a value x is read as the sample 255 x.
//  - glare uses the values as they are and scales its result to a largest
//    value of 1, so any scale gives the same picture; it is the first step
//    and always gets the photo itself.
// So one step alone is bit for bit that simulation alone on the photo, and
// two steps are the two simulations chained by hand: the first one's .npy
// result read back as the second one's input (ocumbra-sim reads .npy input
// and applies this same rule).
//
// Shared rules for this header:
//  - The values are checked by each enabled step's own check (viewing.hpp,
//    colour::check_severity, the polar plot of fixdep) before any work; at
//    least one step must be enabled. Errors are ocu::Error with a text for the
//    user.
//  - The field step's masks live in the pyramid engine, one set per process
//    (fixdep/simulation.hpp): preparing another field simulation changes what
//    a Prepared renders with.
#include <cstddef>
#include <optional>

#include "colour/colour.hpp"
#include "fixdep/simulation.hpp"
#include "toolkit/array.hpp"
#include "toolkit/progress.hpp"
#include "toolkit/viewing.hpp"

namespace ocu::scenario {

enum class Step { Glare, Acuity, Colour, Field };

// Which steps a run applies; they always run in the order above.
struct Steps {
    bool glare = false;
    bool acuity = false;  // acuity and contrast (the fixation-independent simulation)
    bool colour = false;
    bool field = false;
    bool any() const { return glare || acuity || colour || field; }
    friend bool operator==(const Steps&, const Steps&) = default;
};

// The values of one combined run, in the simulations' own units.
struct Params {
    Steps steps;
    double width = viewing::kDefaultWidth;         // degrees; every step that needs it
    double mar = viewing::kDefaultAcuity;          // decimal acuity: acuity and field steps
    double contrastf = viewing::kDefaultContrast;  // acuity step
    double glarefact = viewing::kDefaultGlare;     // glare step
    colour::Params colour;                         // colour step
    AnyImage polim;                                // field step: the polar plot, as read
};

// Refuses a run with no step, then checks the values of each enabled step for
// an image of sx columns and sy rows, in the order of the steps.
void check(std::size_t sx, std::size_t sy, const Params& p);

// The input of step `next` made from the previous step's result (see above).
AnyImage step_input(Step next, ArrayD previous);

// A combined run up to the field step, kept for rendering fixation points.
class Prepared {
public:
    // The result for fixation point f: the field step rendered from the kept
    // intermediate image, or (without a field step) the last step's result,
    // which does not depend on f.
    ArrayD render(fixdep::Fixation f);
    // The same written into `into`, whose storage is re-used when it has the
    // result's size (for click after click).
    void render(fixdep::Fixation f, ArrayD& into);
    // The image centre, (round(sx / 2), round(sy / 2)): the default fixation.
    fixdep::Fixation centre() const { return fixdep::centre_fixation(sx_, sy_); }
    bool has_field() const { return session_.has_value(); }
    // The image the field step renders (the input of the field step), or
    // without a field step the final result. The field step also keeps it
    // converted to its squared 8-bit scale, once, so that a click costs what
    // a click after the fixation-dependent simulation alone costs.
    const AnyImage& intermediate() const { return intermediate_; }
    // The resolution map of the field step (empty without one).
    const ArrayD& resmap() const;
    // The field step's session and its input converted once (null and empty
    // without a field step): what a caller that renders fixation points
    // itself (the window's live view) renders from.
    const fixdep::Session* session() const { return session_ ? &*session_ : nullptr; }
    const fixdep::SquaredImage& squared() const { return squared_; }

private:
    friend Prepared prepare(const AnyImage& im, const Params& p, const Progress* progress);
    Prepared() = default;
    std::size_t sx_ = 0, sy_ = 0;
    AnyImage intermediate_;
    fixdep::SquaredImage squared_;  // the intermediate as the field step renders it
    std::optional<fixdep::Session> session_;
};

// Checks p, applies the enabled steps before the field step to `im` (the
// stored photo) and prepares the field step's masks. `progress` hears of each
// step's progress (each enabled step an equal part) and may stop the run
// where a step may (toolkit/progress.hpp).
Prepared prepare(const AnyImage& im, const Params& p, const Progress* progress = nullptr);

// prepare, then render for `f` (default: the image centre).
ArrayD run(const AnyImage& im, const Params& p, std::optional<fixdep::Fixation> f = {});

}  // namespace ocu::scenario
