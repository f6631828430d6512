// Image display (see imshow.hpp).
#include "toolkit/gui/imshow.hpp"

#include <algorithm>
#include <cmath>
#include <type_traits>

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

#include "toolkit/gui/internal.hpp"

namespace ocu::gui {

int gray_levels() {
    const QScreen* s = QGuiApplication::primaryScreen();
    return (s && s->depth() <= 16) ? 64 : 256;
}

namespace {

// Value range of a sample type as shown: [0, hi].
template <class T>
double full_scale() {
    if constexpr (std::is_same_v<T, std::uint8_t>) return 255.0;
    else if constexpr (std::is_same_v<T, std::uint16_t>) return 65535.0;
    else return 1.0;  // double, logical
}

template <class T>
double sample(const T& v) {
    if constexpr (std::is_same_v<T, Logical>) return v == Logical::True ? 1.0 : 0.0;
    else return static_cast<double>(v);
}

// One colour component in 0..255.
template <class T>
int component(const T& v) {
    if constexpr (std::is_same_v<T, std::uint8_t>) {
        return v;
    } else if constexpr (std::is_same_v<T, std::uint16_t>) {
        return static_cast<int>(std::floor(v / 257.0 + 0.5));
    } else {
        const double d = sample(v);
        if (!(d > 0)) return 0;  // also NaN
        if (d >= 1) return 255;
        return static_cast<int>(std::floor(d * 255.0 + 0.5));
    }
}

// One gray sample through the gray table of n levels.
template <class T>
int gray(const T& v, int n) {
    const double d = sample(v);
    if (std::isnan(d)) return 0;
    const double pos = d / full_scale<T>() * n;
    const int k = pos <= 0 ? 0 : (pos >= n ? n - 1 : static_cast<int>(std::floor(pos)));
    return static_cast<int>(std::floor(255.0 * k / (n - 1) + 0.5));
}

template <class T>
QImage picture_of(const Array<T>& a, int levels) {
    const int rows = static_cast<int>(a.rows()), cols = static_cast<int>(a.cols());
    QImage img(cols, rows, QImage::Format_RGB32);
    if (a.planes() == 3) {
        for (int r = 0; r < rows; ++r) {
            auto* line = reinterpret_cast<QRgb*>(img.scanLine(r));
            for (int c = 0; c < cols; ++c) {
                const auto rr = static_cast<std::size_t>(r), cc = static_cast<std::size_t>(c);
                line[c] = qRgb(component(a(rr, cc, 0)), component(a(rr, cc, 1)), component(a(rr, cc, 2)));
            }
        }
    } else {
        // Table lookup for the 8-bit case; direct otherwise.
        for (int r = 0; r < rows; ++r) {
            auto* line = reinterpret_cast<QRgb*>(img.scanLine(r));
            for (int c = 0; c < cols; ++c) {
                const int g = gray(a(static_cast<std::size_t>(r), static_cast<std::size_t>(c)), levels);
                line[c] = qRgb(g, g, g);
            }
        }
    }
    return img;
}

}  // namespace

QImage to_qimage(const AnyImage& image, int levels) {
    const std::size_t planes = image_planes(image);
    if (image_rows(image) == 0 || image_cols(image) == 0) return {};
    if (planes != 1 && planes != 3) {
        throw Error("An image with " + std::to_string(planes) + " planes cannot be shown; it needs 1 or 3.");
    }
    if (image_rows(image) > 32767 || image_cols(image) > 32767) throw Error("The image is too large to be shown.");
    return std::visit([levels](const auto& a) { return picture_of(a, levels); }, image);
}

ImageArea::ImageArea(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setMinimumSize(50, 50);
}

void ImageArea::set_image(const AnyImage& image) {
    QImage pic = to_qimage(image, gray_levels());
    picture_ = std::move(pic);
    rows_ = picture_.isNull() ? 0 : ocu::image_rows(image);
    cols_ = picture_.isNull() ? 0 : ocu::image_cols(image);
    update();
}

void ImageArea::clear() {
    picture_ = QImage();
    rows_ = cols_ = 0;
    update();
}

QRectF ImageArea::image_rect() const {
    if (!has_image()) return {};
    const double scale = std::min(width() / static_cast<double>(cols_), height() / static_cast<double>(rows_));
    const double w = scale * static_cast<double>(cols_), h = scale * static_cast<double>(rows_);
    return QRectF((width() - w) / 2.0, (height() - h) / 2.0, w, h);
}

QPointF ImageArea::widget_to_data(QPointF p) const {
    const QRectF r = image_rect();
    if (r.isEmpty()) return {};
    const double scale = r.width() / static_cast<double>(cols_);
    return {0.5 + (p.x() - r.left()) / scale, 0.5 + (p.y() - r.top()) / scale};
}

QPointF ImageArea::data_to_widget(QPointF d) const {
    const QRectF r = image_rect();
    if (r.isEmpty()) return {};
    const double scale = r.width() / static_cast<double>(cols_);
    return {r.left() + (d.x() - 0.5) * scale, r.top() + (d.y() - 0.5) * scale};
}

void ImageArea::paintEvent(QPaintEvent*) {
    if (!has_image()) return;
    QPainter p(this);
    const QRectF r = image_rect();
    // Smooth when shrinking, square blocks when enlarging.
    p.setRenderHint(QPainter::SmoothPixmapTransform, r.width() < static_cast<double>(cols_));
    p.drawImage(r, picture_);
}

ImageArea* image_area(const Handle& h) {
    if (!is_valid(h)) return nullptr;
    return dynamic_cast<ImageArea*>(h.data());
}

void axes(const Handle& ax) {
    ImageArea* a = image_area(ax);
    if (!a) throw Error("The handle is not an image area.");
    QWidget* fig = figure_of(ax);
    if (!fig) throw Error("The image area is not inside a window.");
    figure(Handle(fig));
    detail::set_current_axes(fig, a);
}

ImageArea* gca() {
    QWidget* fig = gcf();
    if (!fig) return nullptr;
    return dynamic_cast<ImageArea*>(detail::current_axes(fig));
}

ImageArea* imshow(const Handle& ax, const AnyImage& image) {
    ImageArea* a = image_area(ax);
    if (!a) throw Error("The handle is not an image area.");
    a->set_image(image);
    return a;
}

ImageArea* imshow(const AnyImage& image) {
    if (ImageArea* a = gca()) return imshow(Handle(a), image);
    // No window: a new one holding one image area.
    auto* fig = new QWidget;
    fig->setObjectName("figure1");
    auto* layout = new QVBoxLayout(fig);
    auto* a = new ImageArea(fig);
    a->setObjectName("axes1");
    layout->addWidget(a);
    detail::register_figure(fig);
    a->set_image(image);
    const int w = std::clamp(static_cast<int>(image_cols(image)), 100, 1200);
    const int h = std::clamp(static_cast<int>(image_rows(image)), 100, 900);
    fig->resize(w + 20, h + 20);
    fig->show();
    return a;
}

}  // namespace ocu::gui
