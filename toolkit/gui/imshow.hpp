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
// The image area keeps square pixels: the image is scaled uniformly to fit
// the area and centred. Data coordinates are image pixel coordinates, 1-based:
// the centre of pixel (row r, column c) lies at x = c, y = r; the image covers
// x in [0.5, columns + 0.5] and y in [0.5, rows + 0.5], row 1 at the top. The
// axes are not drawn (the display preference "ImshowAxesVisible" is "off";
// "ImshowBorder" "loose", "ImshowTruesize" "auto": the program's windows all
// hold visible controls, so a window is never resized to the image).
#include <cstddef>

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

// The image area widget (class name "ImageArea" in layout files).
class ImageArea : public QWidget {
public:
    explicit ImageArea(QWidget* parent = nullptr);

    // Replaces what is shown.
    void set_image(const AnyImage& image);
    void clear();
    bool has_image() const { return rows_ > 0; }
    const QImage& picture() const { return picture_; }
    // Size of the shown array.
    std::size_t image_rows() const { return rows_; }
    std::size_t image_cols() const { return cols_; }

    // Where the image lies in widget coordinates.
    QRectF image_rect() const;
    // Widget position <-> data coordinates (x along columns, y along rows).
    QPointF widget_to_data(QPointF p) const;
    QPointF data_to_widget(QPointF d) const;

    QSize sizeHint() const override { return {400, 300}; }

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    QImage picture_;
    std::size_t rows_ = 0, cols_ = 0;
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

}  // namespace ocu::gui
