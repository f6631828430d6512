#pragma once
// Showing image arrays in an image area.
//
// Mapping of samples to screen values:
//   - 3 planes: colour, each sample a component shown directly
//     (double 0..1, uint8 0..255, uint16 0..65535, logical 0..1);
//   - 1 plane: gray, scaled (double and logical 0 black .. 1 white, uint8
//     0..255, uint16 0..65535) through a gray table of 256 levels when the
//     screen has more than 16 bits of colour, else 64 levels: level
//     k = floor(N * (v - lo) / (hi - lo)) clamped to 0..N-1 (NaN gives 0),
//     shown as round(255 * k / (N - 1)).
// Double colour components are clipped to 0..1 and scaled to 0..255 with
// rounding of halves away from zero (NaN gives 0); uint16 ones become
// round(v / 257).
//
// The image area keeps square pixels. It shows one image, or two of the same
// size side by side (a pair: the first left, the second right; the first
// above the second when the area is taller than wide), both at one scale. The
// scale either fits the image (each half of a pair) into the area, centred
// (ZoomMode::Fit, the default), or is fixed (ZoomMode::Fixed: 1 is one image
// pixel per screen pixel); an image larger than its place is then shown
// around a centre point that the wheel moves (Shift+wheel sideways).
//
// Data coordinates are image pixel coordinates, 1-based: the centre of pixel
// (row r, column c) lies at x = c, y = r; the image covers x in
// [0.5, columns + 0.5] and y in [0.5, rows + 0.5], row 1 at the top. In a
// pair, a point belongs to the half of the area it lies in (left or right,
// upper or lower) and maps to the pixel coordinates of that half's image,
// also beyond its edges. The axes are not drawn (the display preference
// "ImshowAxesVisible" is "off"; "ImshowBorder" "loose", "ImshowTruesize"
// "auto": the program's windows all hold visible controls, so a window is
// never resized to the image).
//
// Only what is seen is converted: an image shown smaller than its size is
// converted once at a reduced size (the mean of k x k pixels, k the largest
// whole reduction that stays at least as large as shown) and drawn scaled
// from there. A caller that makes pictures elsewhere (another thread) may
// hand one in with the image (display_picture with the step the area asks
// for, picture_step), so that the area converts nothing.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QWidget>

#include "toolkit/array.hpp"
#include "toolkit/gui/framework.hpp"

namespace ocu::gui {

// Number of gray levels in the gray table for the screen in use.
int gray_levels();

// The screen picture of an image array (Format_RGB32); throws ocu::Error for
// arrays with other than 1 or 3 planes.
QImage to_qimage(const AnyImage& image, int gray_levels = 256);

// The screen picture of `image` reduced by `step` (>= 1) in both directions:
// pixel (r, c) is the rounded mean of the screen values of the image pixels
// (r*step .. r*step+step-1, c*step ..), clipped at the image's edge. Step 1
// is to_qimage. Safe on any thread.
QImage display_picture(const AnyImage& image, int step, int gray_levels = 256);
// The same for 8-bit planes (rows x cols x 1 or 3) whose screen value is
// table[sample] (for one plane the gray value, the same in all three colours).
QImage display_picture(const ArrayU8& planes, const std::array<std::uint8_t, 256>& table, int step);

// The screen values of 256 double samples, as to_qimage shows them: the
// colour component, or for a gray image (`gray`) the gray level.
std::array<std::uint8_t, 256> screen_values(const std::array<double, 256>& samples, bool gray, int gray_levels = 256);

enum class ZoomMode { Fit, Fixed };

// The image area widget (class name "ImageArea" in layout files).
class ImageArea : public QWidget {
public:
    explicit ImageArea(QWidget* parent = nullptr);

    // Replaces what is shown by one image.
    void set_image(const AnyImage& image);
    // `shrunk`: the picture already scaled down to the size it is painted at
    // now (made elsewhere, as paint would make it), or none.
    void set_image(std::shared_ptr<const AnyImage> image, QImage picture = {}, int picture_step = 0,
                   QImage shrunk = {});
    // Replaces what is shown by two images of the same size side by side.
    void set_pair(std::shared_ptr<const AnyImage> first, std::shared_ptr<const AnyImage> second);
    // Replaces the image of one half (0 the only image or the first of a
    // pair, 1 the second) by another of the same size, with its picture made
    // elsewhere at `picture_step` (or none: made here when needed).
    void replace(int half, std::shared_ptr<const AnyImage> image, QImage picture = {}, int picture_step = 0,
                 QImage shrunk = {});
    // Shows `frame` (a picture of the whole image at any resolution, e.g. a
    // quick rendering) in one half until the next set_* or replace.
    void show_frame(int half, QImage frame);
    void clear();
    bool has_image() const { return rows_ > 0; }
    bool is_pair() const { return halves_ == 2; }
    // The screen picture of a half's image at full resolution, or its frame
    // when one is shown (made on demand; for tests and printing).
    QImage picture(int half = 0) const;
    // Size of the shown array (of each half).
    std::size_t image_rows() const { return rows_; }
    std::size_t image_cols() const { return cols_; }

    // Zoom: fit to the area, or a fixed number of screen pixels per image pixel.
    void set_zoom(ZoomMode mode, double scale = 1.0);
    ZoomMode zoom_mode() const { return zoom_; }
    // Screen (device) pixels per image pixel as shown now.
    double scale() const;
    // The size of one half's place in device pixels: what an image fitted to
    // it fills at most.
    QSizeF place_pixels() const { return place_size() * devicePixelRatioF(); }
    // The reduction a picture handed in should have for the current size.
    int picture_step() const;
    // Centre of the view in data coordinates when the image is larger than
    // its place (fixed zoom); clamped so that the view stays on the image.
    void set_view_centre(QPointF d);

    // A small cross at a data position in every half; none when empty.
    void set_marker(std::optional<QPointF> d);
    std::optional<QPointF> marker() const { return marker_; }

    // Where the image of half `half` lies in widget coordinates (also beyond
    // the widget when it is larger).
    QRectF image_rect(int half = 0) const;
    // The half a widget position belongs to (0 for a single image).
    int half_at(QPointF p) const;
    // Widget position <-> data coordinates (x along columns, y along rows).
    QPointF widget_to_data(QPointF p) const;
    QPointF data_to_widget(QPointF d, int half = 0) const;

    // The data position of the last pointer event over the area, and that
    // event's time stamp (the window system's milliseconds).
    QPointF last_pointer() const { return last_pointer_; }
    quint64 last_pointer_time() const { return last_pointer_time_; }
    // Notes the position of a pointer event meant for this area (the
    // framework does so before it runs a motion callback).
    void note_pointer_from(const QMouseEvent* e) { note_pointer(e); }

    // With OCUMBRA_FRAME_LOG naming a file: the next paint appends a line
    // "<kind> <stamp> <painted>" (milliseconds: `stamp` the event the content
    // answers, `painted` the monotonic clock at the end of the paint, modulo
    // 2^32 as the window system's stamps are).
    void trace_next_paint(const char* kind, quint64 stamp);

    QSize sizeHint() const override { return {400, 300}; }

protected:
    void paintEvent(QPaintEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    struct Half {
        std::shared_ptr<const AnyImage> image;
        QImage picture;  // the image's picture at `step`, or a frame (step 0)
        int step = 0;
        bool frame = false;
        QImage shrunk;          // the picture scaled down to the size it is painted at
        qint64 shrunk_of = 0;   // ...made from the picture with this cache key
    };
    // A half's record of its image, picture and (made elsewhere) shrunk picture.
    static Half half_of(std::shared_ptr<const AnyImage> image, QImage picture, int step, QImage shrunk);
    // Scale in widget (logical) pixels per image pixel, and the size of one half's place.
    double widget_scale() const;
    QSizeF place_size() const;
    QRectF place_rect(int half) const;
    void note_pointer(const QMouseEvent* e);
    const QImage& picture_for(Half& h);

    std::array<Half, 2> half_;
    int halves_ = 0;
    std::size_t rows_ = 0, cols_ = 0;
    ZoomMode zoom_ = ZoomMode::Fit;
    double fixed_scale_ = 1.0;
    QPointF centre_;  // view centre in data coordinates (fixed zoom)
    std::optional<QPointF> marker_;
    QPointF last_pointer_;
    quint64 last_pointer_time_ = 0;
    const char* trace_kind_ = nullptr;
    quint64 trace_stamp_ = 0;
};

// The image area of a handle (null if it is not one).
ImageArea* image_area(const Handle& h);

// Makes `ax` the current image area of its window and that window current.
void axes(const Handle& ax);
// The current image area of the current window (the one last made current
// with `axes`, else the window's first image area); null if none.
ImageArea* gca();

// Shows `image` in the current image area of the current window, replacing
// what it showed; with no current window a new window with one image area
// is created and shown. Returns the image area used.
ImageArea* imshow(const AnyImage& image);
// Shows `image` in the given image area.
ImageArea* imshow(const Handle& ax, const AnyImage& image);

// The data position of the last pointer event over image area `ax`.
QPointF current_point(const Handle& ax);

}  // namespace ocu::gui
