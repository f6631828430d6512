#pragma once
// The view that follows the pointer (View -> "Follow pointer", in fixation
// mode): the fixation point follows the pointer over the image area and the
// image is rendered again for each position.
//
// Renderings run on the window's worker thread (work.hpp), the one caller of
// the engine, with at most one in flight. Positions that arrive meanwhile are
// not queued: the newest replaces the one waiting, and when the rendering in
// flight comes back the newest known position is rendered next. So no frame
// is rendered for a position older than the newest one known when its
// rendering started, and the window never waits for a rendering. A frame is
// shown, not stored. When the pointer rests (kRestMs) or on a press, the
// result at that point follows: exactly the fixation click's result there,
// stored as imt as the click stores it (Save result as saves it).
//
// A frame or result whose record was stored meanwhile by anything else (a
// command, a click) is dropped; while a command computes, nothing starts.
// One LiveView per main window, kept with it; user-interface thread only.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QSize>
#include <QSizeF>
#include <QTimer>

#include "app/ocumbra.hpp"

namespace ocu::app {

inline constexpr int kRestMs = 150;

// Live frames are made from a picture at least this fraction of the size it
// is painted at (painting enlarges it the rest of the way): a frame lasts
// only until the next one, and the result at rest has the full picture.
inline constexpr double kFrameDetail = 0.8;

// A photo of at least kPreviewPixels pixels, fitted to its place at most
// kPreviewScale of its size, gets a preview at the size it is shown: frames
// from it have all the detail shown, at a fraction of the work.
inline constexpr std::size_t kPreviewPixels = 1'000'000;
inline constexpr double kPreviewScale = 0.9;

// The size (columns x rows) of the preview of a photo of cols x rows fitted to
// a place of `place` device pixels (square pixels), or nothing when it gets
// none.
std::optional<QSize> preview_size(std::size_t cols, std::size_t rows, QSizeF place);

class LiveView : public QObject {
public:
    explicit LiveView(QWidget* fig);
    ~LiveView() override;

    // The pointer is at data position `d` of the image area; `stamp` is the
    // time of its event (for the frame log).
    void pointer_at(QPointF d, quint64 stamp);
    // The result at `d` now (a press while following).
    void press_at(QPointF d, quint64 stamp);
    // Forgets the position waiting and the rest (following turned off).
    void stop();

    // Nothing in flight, waiting or resting.
    bool idle() const { return !in_flight_ && !waiting_ && !rest_.isActive(); }
    // Renderings started, frames and results shown so far.
    int renderings_started() const { return started_; }
    int frames_shown() const { return frames_shown_; }
    int results_shown() const { return results_shown_; }
    // Frames rendered from the preview of a large photo.
    int preview_frames() const { return preview_frames_; }
    // Why the last rendering that failed failed (empty: none failed).
    const std::string& last_error() const { return last_error_; }
    // The position of the last frame or result shown.
    std::optional<QPointF> last_shown() const { return last_shown_; }

    struct Scene;  // what frames are rendered from (live_view.cpp)

protected:
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    struct Want {
        QPointF d;
        quint64 stamp = 0;
        bool result = false;  // the stored result, not only a frame
    };
    void pump();
    void done(const Want& w, std::uint64_t revision, bool ok);

    QPointer<QWidget> fig_;
    std::shared_ptr<Scene> scene_;
    std::optional<Want> waiting_;
    std::optional<QPointF> last_pos_;
    quint64 last_stamp_ = 0;
    bool in_flight_ = false;
    QTimer rest_;
    int started_ = 0, frames_shown_ = 0, results_shown_ = 0, preview_frames_ = 0;
    std::optional<QPointF> last_shown_;
    std::string last_error_;
};

// The live view of main window `fig`, made on first use.
std::shared_ptr<LiveView> live_view(const gui::Handle& fig);

}  // namespace ocu::app
