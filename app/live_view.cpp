#include "app/live_view.hpp"

#include <algorithm>
#include <any>
#include <array>
#include <cmath>
#include <exception>
#include <system_error>
#include <thread>
#include <utility>

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QImage>
#include <QMouseEvent>

#include "app/view.hpp"
#include "app/work.hpp"
#include "fixdep/render.hpp"
#include "fixdep/simulation.hpp"
#include "toolkit/gui/imshow.hpp"
#include "toolkit/large_blocks.hpp"

namespace ocu::app {

// What frames are rendered from, made from the record once per stored
// record: the masks' session, the image converted once, and the screen
// value of each rendered sample. The rest belongs to the job in flight (at
// most one): the worker writes it, the window reads it once the job is done.
struct LiveView::Scene {
    std::uint64_t revision = 0;              // of the record it was made from
    std::optional<fixdep::Session> session;  // a copy of the record's
    std::shared_ptr<const fixdep::SquaredImage> image;  // shared with the record
    std::size_t image_planes = 0;
    std::array<std::uint8_t, 256> table{};
    // The reduced photo of a large one (FixationPreview), converted once.
    std::optional<fixdep::Session> preview_session;
    std::shared_ptr<const fixdep::SquaredImage> preview_image;
    // The job's.
    ArrayU8 planes;                    // the engine's rendered planes
    ArrayU8 preview_planes;            // ...of the preview
    std::optional<QPointF> planes_at;  // ...for this point
    ArrayD imt;                        // a result
    QImage picture;                    // the picture of what was rendered last
    QImage shrunk;                     // ...of a result, scaled to the size it is painted at
    std::string error;                 // why the last rendering failed
    int step = 1;
};

namespace {

constexpr const char* kAppdataName = "ocuLiveView";

// The main window's record, read in place (no copy of its images).
const OcumbraState* record_of(QWidget* fig) {
    const std::any* r = gui::detail::stored_record(gui::Handle(fig));
    return r ? std::any_cast<OcumbraState>(r) : nullptr;
}

// A frame's picture: reduced by the largest whole step that keeps
// kFrameDetail of the size it is painted at (painting scales it the rest of
// the way, smoothly).
QImage frame_picture(const ArrayU8& planes, const std::array<std::uint8_t, 256>& table, QSize shown) {
    int step = 1;
    if (!shown.isEmpty()) {
        const double over = std::max(static_cast<double>(planes.cols()) / shown.width(),
                                     static_cast<double>(planes.rows()) / shown.height());
        step = std::max(1, static_cast<int>(std::floor(over / kFrameDetail + 1e-9)));
    }
    return gui::display_picture(planes, table, step);
}

bool following(QWidget* fig) {
    const auto* a = fig->findChild<QAction*>(QString::fromUtf8(
        tag::followpointer_menu.name.data(), static_cast<qsizetype>(tag::followpointer_menu.name.size())));
    return a && a->isChecked();
}

}  // namespace

LiveView::LiveView(QWidget* fig) : fig_(fig) {
    rest_.setSingleShot(true);
    rest_.setInterval(kRestMs);
    connect(&rest_, &QTimer::timeout, this, [this] {
        if (!last_pos_) return;
        waiting_ = Want{*last_pos_, last_stamp_, true};
        pump();
    });
    if (const OcumbraState* s = record_of(fig)) {
        if (QWidget* area = gui::image_area((*s)[tag::axes1])) area->installEventFilter(this);
    }
}

LiveView::~LiveView() = default;

bool LiveView::eventFilter(QObject* o, QEvent* e) {
    if (!fig_ || (e->type() != QEvent::MouseMove && e->type() != QEvent::MouseButtonPress) ||
        !following(fig_))
        return false;
    auto* area = dynamic_cast<gui::ImageArea*>(o);
    if (!area) return false;
    const auto* me = static_cast<QMouseEvent*>(e);
    const QPointF d = area->widget_to_data(me->position());
    if (e->type() == QEvent::MouseMove) {
        pointer_at(d, me->timestamp());
    } else if (me->button() == Qt::LeftButton) {
        press_at(d, me->timestamp());
    }
    return false;
}

void LiveView::pointer_at(QPointF d, quint64 stamp) {
    last_pos_ = d;
    last_stamp_ = stamp;
    waiting_ = Want{d, stamp, false};
    rest_.start();
    pump();
}

void LiveView::press_at(QPointF d, quint64 stamp) {
    last_pos_ = d;
    last_stamp_ = stamp;
    rest_.stop();
    waiting_ = Want{d, stamp, true};
    pump();
}

void LiveView::stop() {
    waiting_.reset();
    last_pos_.reset();
    rest_.stop();
}

void LiveView::pump() {
    if (in_flight_ || !waiting_ || !fig_) return;
    const gui::Handle fig(fig_.data());
    const OcumbraState* s = record_of(fig_);
    // The masks and image to render: the fixation-dependent command's, or
    // the field step of a combined run (rendered from its kept intermediate).
    const fixdep::Session* session = nullptr;
    if (s && s->combined) {
        session = s->combined->session();
    } else if (s && s->fixdep_session) {
        session = &*s->fixdep_session;
    }
    if (!s || !s->fixactive || !session || !has_pixels(s->im) || is_working(fig)) {
        waiting_.reset();
        return;
    }
    gui::ImageArea* area = gui::image_area((*s)[tag::axes1]);
    const std::size_t planes = s->combined ? image_planes(s->combined->intermediate()) : image_planes(s->im);
    if (!area || (planes != 1 && planes != 3)) {
        waiting_.reset();
        return;
    }
    const std::uint64_t revision = gui::guidata_revision(fig);
    if (!scene_ || scene_->revision != revision) {
        auto scene = std::make_shared<Scene>();
        scene->revision = revision;
        scene->session = *session;
        // The converted image is shared, not copied (36 MB for a 12-megapixel
        // photo, on the user-interface thread).
        scene->image = s->combined ? std::shared_ptr<const fixdep::SquaredImage>(s->combined, &s->combined->squared())
                       : s->fixdep_squared ? s->fixdep_squared
                                           : std::make_shared<const fixdep::SquaredImage>(s->im);
        scene->image_planes = planes;
        scene->table = gui::screen_values(fixdep::shown_value_table(), planes == 1, gui::gray_levels());
        if (s->fixdep_preview && !s->combined) {
            scene->preview_session = s->fixdep_preview->session;
            scene->preview_image = s->fixdep_preview->squared;
        }
        // The memory of the first result at rest, made ready meanwhile on a
        // thread of its own: a 12-megapixel colour result is 288 MB, whose
        // fresh pages took some 30 ms of the rest's rendering.
        const std::size_t result_bytes = scene->image->rows() * scene->image->cols() * planes * sizeof(double);
        try {
            std::thread([result_bytes] { large_blocks::prepare(result_bytes); }).detach();
        } catch (const std::system_error&) {
            // No thread for it: the result maps its pages itself.
        }
        scene_ = std::move(scene);
    }
    const Want w = *std::exchange(waiting_, std::nullopt);
    const int step = area->picture_step();
    // Pictures are made at the size they are shown (scaled on the worker), so
    // that painting them is a plain copy.
    const QSize shown = (area->image_rect(0).size() * area->devicePixelRatioF()).toSize();
    // Shown at or below the preview's scale: a frame from the preview.
    // A frame from the preview while it has kFrameDetail of the detail shown.
    const bool from_preview = !w.result && scene_->preview_session && !shown.isEmpty() &&
                              kFrameDetail * shown.width() <= static_cast<double>(scene_->preview_image->cols()) &&
                              kFrameDetail * shown.height() <= static_cast<double>(scene_->preview_image->rows());
    in_flight_ = true;
    ++started_;
    if (from_preview) ++preview_frames_;
    const std::weak_ptr<LiveView> self = live_view(fig);
    worker().post([self, scene = scene_, w, step, revision, from_preview, shown] {
        bool ok = true;
        try {
            if (from_preview) {
                // The same point in the preview's pixel coordinates.
                const fixdep::SquaredImage& im = *scene->image;
                const fixdep::SquaredImage& small = *scene->preview_image;
                const double kx = static_cast<double>(im.cols()) / static_cast<double>(small.cols());
                const double ky = static_cast<double>(im.rows()) / static_cast<double>(small.rows());
                fixdep::render_planes(*scene->preview_session,
                                      {(w.d.x() - 0.5) / kx + 0.5, (w.d.y() - 0.5) / ky + 0.5}, small,
                                      scene->preview_planes);
                scene->step = 1;
                scene->picture = frame_picture(scene->preview_planes, scene->table, shown);
            } else {
                if (!w.result || scene->planes_at != w.d) {
                    scene->planes_at.reset();
                    fixdep::render_planes(*scene->session, {w.d.x(), w.d.y()}, *scene->image, scene->planes);
                    scene->planes_at = w.d;
                }
                if (w.result) {
                    // A result keeps its picture at the reduction the area
                    // asks for, with the shrunk one for painting now.
                    fixdep::planes_to_result(scene->planes, scene->image_planes, scene->imt);
                    PlanesPicture p = planes_picture(scene->planes, scene->table, {step, shown});
                    scene->picture = std::move(p.picture);
                    scene->shrunk = std::move(p.shrunk);
                    scene->step = step;
                } else {
                    scene->picture = frame_picture(scene->planes, scene->table, shown);
                    scene->step = 1;
                }
            }
        } catch (const std::exception& e) {
            ok = false;  // a frame that cannot be rendered is not shown; the click reports such errors
            scene->error = e.what();
        } catch (...) {
            ok = false;
            scene->error = "unknown error";
        }
        QMetaObject::invokeMethod(
            qApp,
            [self, w, revision, ok] {
                if (const std::shared_ptr<LiveView> v = self.lock()) v->done(w, revision, ok);
            },
            Qt::QueuedConnection);
    });
}

void LiveView::done(const Want& w, std::uint64_t revision, bool ok) {
    in_flight_ = false;
    const std::shared_ptr<Scene> scene = scene_;
    if (!ok && scene) last_error_ = scene->error;
    // Only for the record it was rendered from, and while following.
    if (ok && fig_ && scene && following(fig_) &&
        gui::guidata_revision(gui::Handle(fig_.data())) == revision) {
        const OcumbraState* s = record_of(fig_);
        gui::ImageArea* area = s ? gui::image_area((*s)[tag::axes1]) : nullptr;
        if (area && s->fixactive) {
            if (w.result) {
                // Stored as the fixation click stores its result.
                OcumbraState now = *s;
                now.imt = std::exchange(scene->imt, ArrayD());
                now.imt_for_im = true;
                now.fixpoint = fixdep::Fixation{w.d.x(), w.d.y()};
                show_result(now, now.imt, std::move(scene->picture), scene->step, std::move(scene->shrunk));
                store_state(gui::Handle(fig_.data()), std::move(now));
                scene->revision =
                    gui::guidata_revision(gui::Handle(fig_.data()));  // the same image and masks
                ++results_shown_;
            } else {
                area->show_frame(result_half(*s), std::move(scene->picture));
                show_marker(*s, w.d);
                ++frames_shown_;
            }
            area->trace_next_paint(w.result ? "result" : "frame", w.stamp);
            last_shown_ = w.d;
        }
    }
    pump();
}

std::optional<QSize> preview_size(std::size_t cols, std::size_t rows, QSizeF place) {
    if (place.isEmpty() || cols == 0 || rows == 0 || cols * rows < kPreviewPixels) return std::nullopt;
    const double s = std::min(place.width() / static_cast<double>(cols), place.height() / static_cast<double>(rows));
    if (!(s <= kPreviewScale)) return std::nullopt;
    return QSize(std::max(1, static_cast<int>(std::lround(s * static_cast<double>(cols)))),
                 std::max(1, static_cast<int>(std::lround(s * static_cast<double>(rows)))));
}

std::shared_ptr<LiveView> live_view(const gui::Handle& fig) {
    const std::any kept = gui::getappdata(fig, kAppdataName);
    if (const auto* p = std::any_cast<std::shared_ptr<LiveView>>(&kept)) return *p;
    QWidget* w = gui::figure_of(fig);
    if (!w) throw Error("H must be the handle to a figure or figure descendent.");
    auto made = std::make_shared<LiveView>(w);
    gui::setappdata(fig, kAppdataName, made);
    return made;
}

}  // namespace ocu::app
