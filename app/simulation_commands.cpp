// The main window's simulation commands and the fixation click. Each
// follows the same shape: parameters from its dialog, checked by the
// simulation's `check` before anything else happens; the busy status line
// (BusyStatus); the simulation's `run` on the window's worker thread
// (compute, work.hpp: the window stays alive, Esc or Cancel stops it); the result
// shown and stored as `imt`; and `handles` stored with guidata at the end, so
// that a failed command changes nothing.
#include "app/simulation_commands.hpp"

#include <any>
#include <cmath>
#include <utility>

#include "app/command_steps.hpp"
#include "app/fixation_click.hpp"
#include "app/live_view.hpp"
#include "app/ocumbra.hpp"
#include "app/status.hpp"
#include "app/view.hpp"
#include "app/work.hpp"
#include "colour/colour.hpp"
#include "dialogs/dialogs.hpp"
#include "fixdep/render.hpp"
#include "fixdep/simulation.hpp"
#include "fixindep/fixindep.hpp"
#include "toolkit/arrayops.hpp"
#include "toolkit/gui/imshow.hpp"
#include "toolkit/gui/platform.hpp"
#include "toolkit/large_blocks.hpp"
#include "toolkit/paths.hpp"

namespace ocu::app {

using gui::Handle;
using gui::Value;

std::optional<ArrayD>& glare_veil() {
    static std::optional<ArrayD> dim;
    return dim;
}

GlareComputations& glare_computations() {
    static GlareComputations c{[](const AnyImage& im, const glare::Params& p, const Progress* progress) {
                                   return glare::run(im, p, progress);
                               },
                               &glare::reuse_veil};
    return c;
}

void set_glare_computations(GlareComputations c) {
    if (!c.full)
        c.full = [](const AnyImage& im, const glare::Params& p, const Progress* progress) {
            return glare::run(im, p, progress);
        };
    if (!c.reuse) c.reuse = &glare::reuse_veil;
    glare_computations() = std::move(c);
}

void require_image(const OcumbraState& handles) {
    if (!has_pixels(handles.im)) throw Error(kOpenImageFirst);
}

// The common end of the three simulation commands: show the result, keep it
// as `imt` with the simulation that made it, store the record, idle status.
void finish_command(const Handle& hObject, OcumbraState&& handles, AnyImage&& imt, Transform prevtrans,
                    BusyStatus& busy) {
    handles.imt_for_im = true;
    handles.imt = std::move(imt);
    show_result(handles, handles.imt);
    handles.prevtrans = prevtrans;
    // Clicks render the combined run only while its result is the one shown.
    if (prevtrans != Transform::Condition) handles.combined.reset();
    store_state(hObject, std::move(handles));
    busy.done();
}

std::string photo_file(const OcumbraState& handles) {
    if (!has_pixels(handles.im) || handles.filename.empty()) return {};
    return handles.pathname.empty() ? find_data_file(handles.filename) : handles.pathname + handles.filename;
}

namespace {

// What the glare command computes: the shown result again (nothing changed),
// the kept veil re-weighted (only the glare factor changed), or everything.
// The values are the command's `type` numbers.
enum class GlareWork { ShownResult = 0, Full = 1, ReuseVeil = 2 };

// The menu holding the simulations.
OCU_HEAD(transform_Callback)
void transform_Callback(Handle, const Value&, OcumbraState) {}

// Fixation-independent simulation: acuity and contrast over the whole image.
OCU_HEAD(fixindep_Callback)
void fixindep_Callback(Handle hObject, const Value&, OcumbraState handles) {
    require_image(handles);
    handles.fixactive = false;
    const dlg::FixindepValues p =
        dlg::fixindepparms(handles.width, handles.mar, handles.contrastf, photo_file(handles));
    handles.width = p.width;
    handles.mar = p.mar;
    handles.contrastf = p.contrastf;
    const fixindep::Params params{.width = handles.width,
                                  .mar = handles.mar,
                                  .contrastf = handles.contrastf,
                                  .powcam = handles.powcam,
                                  .powmon = handles.powmon};
    fixindep::check(params);

    BusyStatus busy(handles[tag::statustext]);
    AnyImage imt = compute<ArrayD>(
        hObject, [&](const Progress* progress) { return fixindep::run(handles.im, params, progress); });
    finish_command(hObject, std::move(handles), std::move(imt), Transform::Fixindep, busy);
}

// Fixation-dependent simulation: the resolution map and the engine's blending
// masks once, the first view fixating the image centre, then fixation mode.
OCU_HEAD(fixdep_Callback)
void fixdep_Callback(Handle hObject, const Value&, OcumbraState handles) {
    require_image(handles);
    handles.fixactive = true;
    dlg::FixdepValues p = dlg::fixdepparms(handles.width, handles.mar, photo_file(handles));
    handles.width = p.width;
    handles.mar = p.mar;
    handles.polim = std::move(p.polarim);
    scenario::Field source;
    source.file = p.source.file;
    source.other_eye = p.source.other_eye;
    source.eye = p.source.eye;
    handles.field_source = std::move(source);
    const fixdep::Params params{.width = handles.width, .mar = handles.mar, .polim = *handles.polim};
    const std::size_t sx = image_cols(handles.im);
    const std::size_t sy = image_rows(handles.im);
    fixdep::check(sx, sy, params);

    BusyStatus busy(handles[tag::statustext]);
    // A large photo shown reduced also gets a copy at the size it is shown,
    // for the quick frames of the view that follows the pointer (live_view.hpp).
    const gui::ImageArea* area = gui::image_area(handles[tag::axes1]);
    const std::optional<QSize> small_size = preview_size(sx, sy, area ? area->place_pixels() : QSizeF());
    struct Prepared {
        fixdep::Session session;
        std::shared_ptr<const fixdep::SquaredImage> squared;
        ArrayD imt;
        std::optional<FixationPreview> preview;
    };
    Prepared r = compute<Prepared>(hObject, [&](const Progress* progress) {
        Progress part;
        fixdep::Session session = fixdep::prepare(sx, sy, params, part_of(progress, 0.0, 0.8, part));
        // The engine holds the new masks: the run goes on to its end unstopped.
        auto squared = std::make_shared<const fixdep::SquaredImage>(handles.im);
        ArrayD first;
        fixdep::render(session, session.centre(), *squared, first);
        // The next result of this size (the first click, or the first rest of
        // the view that follows the pointer) finds its pages mapped.
        large_blocks::prepare(first.numel() * sizeof(double));
        std::optional<FixationPreview> preview;
        if (small_size) {
            AnyImage small = area_mean(handles.im, static_cast<std::size_t>(small_size->height()),
                                       static_cast<std::size_t>(small_size->width()));
            fixdep::Session ps = fixdep::prepare(image_cols(small), image_rows(small), params, nullptr,
                                                 fixdep::kPreviewPyramid);
            (void)ps.release_resmap();  // the engine holds what frames need
            auto small_squared = std::make_shared<const fixdep::SquaredImage>(small);
            preview = FixationPreview{std::move(ps), std::move(small), std::move(small_squared)};
        }
        return Prepared{std::move(session), std::move(squared), std::move(first), std::move(preview)};
    });
    handles.restot = r.session.release_resmap();
    handles.prepfixdep = true;
    handles.fixdep_session = std::move(r.session);
    handles.fixdep_squared = std::move(r.squared);
    handles.fixdep_preview = std::move(r.preview);
    handles.fixpoint = handles.fixdep_session->centre();
    AnyImage imt = std::move(r.imt);
    finish_command(hObject, std::move(handles), std::move(imt), Transform::Fixdep, busy);
}

// Glare: a full computation, or a re-use of the kept veil when only the glare
// factor changed, or of the shown result when nothing changed.
OCU_HEAD(glare_Callback)
void glare_Callback(Handle hObject, const Value&, OcumbraState handles) {
    require_image(handles);
    handles.fixactive = false;
    const double oldwidth = handles.width;
    const double oldglarefact = handles.glarefact;
    const dlg::GlareValues p = dlg::glareparms2(handles.width, handles.glarefact, photo_file(handles));
    handles.width = p.width;
    handles.glarefact = p.glarefact;
    const glare::Params params{.width = handles.width,
                               .glarefact = handles.glarefact,
                               .powcam = handles.powcam,
                               .powmon = handles.powmon};
    glare::check(params);

    BusyStatus busy(handles[tag::statustext]);
    // Exact comparisons: only a value typed identically counts as unchanged.
    GlareWork work = GlareWork::Full;
    if (handles.prevtrans == Transform::Glare && handles.width == oldwidth) {
        work = handles.glarefact == oldglarefact ? GlareWork::ShownResult : GlareWork::ReuseVeil;
    }
    // A veil of another image size cannot be re-used (it is kept program-wide).
    std::optional<ArrayD>& dim = glare_veil();
    if (work == GlareWork::ReuseVeil &&
        !(dim && dim->rows() == image_rows(handles.im) && dim->cols() == image_cols(handles.im))) {
        work = GlareWork::Full;
    }

    AnyImage imt;
    switch (work) {
        case GlareWork::ShownResult:
            imt = handles.imt;
            break;
        case GlareWork::ReuseVeil:
            imt = compute<ArrayD>(hObject, [&](const Progress*) {
                return glare_computations().reuse(handles.im, *dim, params);
            });
            break;
        case GlareWork::Full: {
            // The veil is kept only once the command has its result.
            glare::Result result = compute<glare::Result>(hObject, [&](const Progress* progress) {
                return glare_computations().full(handles.im, params, progress);
            });
            dim = std::move(result.dim);
            imt = std::move(result.imt);
            break;
        }
    }
    finish_command(hObject, std::move(handles), std::move(imt), Transform::Glare, busy);
}

// Colour vision: a colour vision deficiency of the chosen type and severity
// over the whole image.
OCU_HEAD(colour_Callback)
void colour_Callback(Handle hObject, const Value&, OcumbraState handles) {
    require_image(handles);
    handles.fixactive = false;
    handles.colour = dlg::colourparms(handles.colour);
    const colour::Params params = handles.colour;
    colour::check(params);

    BusyStatus busy(handles[tag::statustext]);
    AnyImage imt = compute<ArrayD>(hObject, [&](const Progress*) { return colour::run(handles.im, params); });
    finish_command(hObject, std::move(handles), std::move(imt), Transform::Colour, busy);
}

// A press in the main window while in fixation mode: wait for the click
// that chooses the fixation point (fixation_click.hpp) and render for it,
// with the masks prepared by the last fixation-dependent or combined run, on
// the record as stored when the click came. After a combined run only its
// field step is rendered again, from the kept intermediate image.
OCU_HEAD(figure1_WindowButtonDownFcn)
void figure1_WindowButtonDownFcn(Handle hObject, const Value&, OcumbraState handles) {
    // Fixation mode is entered only by a fixation-dependent or combined run,
    // which leaves its session.
    if (!handles.fixactive || !(handles.fixdep_session || handles.combined) || is_working(hObject)) return;
    // While the view follows the pointer, a press renders at once (live_view.hpp).
    if (follow_pointer_on(handles)) return;
    const Handle statustext = handles[tag::statustext];
    handles = OcumbraState{};  // the wait may be long: do not hold a copy of the images
    std::optional<FixationClick::Chosen> chosen = fixation_click(hObject)->wait(hObject, statustext);
    if (!chosen) return;
    OcumbraState& now = chosen->handles;

    BusyStatus busy(now[tag::statustext]);
    // The engine's planes become both the result and, through a table, its
    // picture at the size it is shown, on the worker: the window only copies
    // the picture to the screen. Without a field step (a combined run of the
    // other steps) the result does not depend on the point.
    const fixdep::Session* session = now.combined ? now.combined->session() : &*now.fixdep_session;
    const PictureSize size = result_picture_size(now);
    const std::size_t planes = now.combined ? image_planes(now.combined->intermediate()) : image_planes(now.im);
    const auto table = gui::screen_values(fixdep::shown_value_table(), planes == 1, gui::gray_levels());
    // A new result (the previous one is shared with the stored record and the display).
    ArrayD imt;
    PlanesPicture picture;
    run_on_worker(hObject, [&](const Progress*) {
        if (!session) {
            now.combined->render(chosen->point, imt);
            return;
        }
        fixdep::SquaredImage own;  // only without the one the run kept
        if (!now.combined && !now.fixdep_squared) own = fixdep::SquaredImage(now.im);
        const fixdep::SquaredImage& squared = now.combined         ? now.combined->squared()
                                              : now.fixdep_squared ? *now.fixdep_squared
                                                                   : own;
        ArrayU8 rendered;
        fixdep::render_planes(*session, chosen->point, squared, rendered);
        fixdep::planes_to_result(rendered, squared.planes(), imt);
        picture = planes_picture(rendered, table, size);
    });
    now.imt = std::move(imt);
    now.imt_for_im = true;
    now.fixpoint = chosen->point;
    gui::ImageArea* area = gui::image_area(now[tag::axes1]);
    show_result(now, now.imt, std::move(picture.picture), size.step, std::move(picture.shrunk));
    store_state(hObject, std::move(now));
    if (area) area->trace_next_paint("click", area->last_pointer_time());  // the click that chose the point
    busy.done();
}

}  // namespace

void add_simulation_commands(Ops& ops) {
    OCU_GUI_CALLBACK(ops, transform_Callback);
    OCU_GUI_CALLBACK(ops, fixindep_Callback);
    OCU_GUI_CALLBACK(ops, fixdep_Callback);
    OCU_GUI_CALLBACK(ops, glare_Callback);
    OCU_GUI_CALLBACK(ops, colour_Callback);
    OCU_GUI_CALLBACK(ops, figure1_WindowButtonDownFcn);
}

}  // namespace ocu::app
