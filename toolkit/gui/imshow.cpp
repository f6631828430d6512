// Image display (see imshow.hpp).
#include "toolkit/gui/imshow.hpp"

#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <type_traits>
#include <utility>
#include <vector>

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>
#include <QWheelEvent>

#include "toolkit/gui/internal.hpp"
#include "toolkit/parallel.hpp"

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

namespace {

// The picture of a rows x cols image with `planes` (1 or 3) planes reduced by
// `step`; value(p, i) is the screen value (0..255) of element i of plane p.
// Each pixel is the rounded mean of its block of step x step samples (fewer at
// the right and bottom edges).
//
// The image is column-major and the picture row by row, so the work goes in
// tiles of kTile picture columns by picture rows covering about kBandSamples
// image rows: each image column is read in runs of a few cache lines one
// after another, and the picture lines a tile writes stay cached. Column
// tiles are spread over the threads.
template <class Value>
QImage reduced_picture(std::size_t rows, std::size_t cols, std::size_t planes, int step, Value&& value) {
    constexpr std::size_t kTile = 64, kBandSamples = 256;
    const auto k = static_cast<std::size_t>(std::max(step, 1));
    const std::size_t kBand = std::max<std::size_t>(1, kBandSamples / k);  // picture rows
    const std::size_t orows = (rows + k - 1) / k, ocols = (cols + k - 1) / k;
    if (rows == 0 || cols == 0) return {};
    if (orows > 32767 || ocols > 32767) throw Error("The image is too large to be shown.");
    QImage img(static_cast<int>(ocols), static_cast<int>(orows), QImage::Format_RGB32);
    uchar* bits = img.bits();
    const auto bpl = static_cast<std::size_t>(img.bytesPerLine());
    const std::size_t n = rows * cols;
    const std::size_t np = planes == 3 ? 3 : 1;
    const std::size_t last = np - 1;  // the plane of green and blue: red's in gray
    parallel_for(
        (ocols + kTile - 1) / kTile,
        [&](std::size_t t0, std::size_t t1) {
            // Per picture column of a tile, per plane, per picture row of a band.
            std::vector<std::uint32_t> sum(k == 1 ? 0 : kTile * 3 * kBand);
            for (std::size_t tile = t0; tile < t1; ++tile) {
                const std::size_t j0 = tile * kTile, j1 = std::min(ocols, j0 + kTile);
                for (std::size_t i0 = 0; i0 < orows; i0 += kBand) {
                    const std::size_t i1 = std::min(orows, i0 + kBand);
                    if (k == 1) {
                        for (std::size_t i = i0; i < i1; ++i) {
                            auto* line = reinterpret_cast<QRgb*>(bits + i * bpl);
                            for (std::size_t j = j0; j < j1; ++j) {
                                const std::size_t at = j * rows + i;
                                line[j] = qRgb(static_cast<int>(value(at)),
                                               static_cast<int>(value((last > 0 ? n : 0) + at)),
                                               static_cast<int>(value(last * n + at)));
                            }
                        }
                        continue;
                    }
                    const std::size_t r0 = i0 * k, r1 = std::min(rows, i1 * k);
                    for (std::size_t j = j0; j < j1; ++j) {
                        std::uint32_t* s = sum.data() + (j - j0) * 3 * kBand;
                        std::fill(s, s + np * kBand, 0u);
                        const std::size_t c0 = j * k, c1 = std::min(cols, c0 + k);
                        for (std::size_t p = 0; p < np; ++p) {
                            std::uint32_t* sp = s + p * kBand;
                            for (std::size_t c = c0; c < c1; ++c) {
                                const std::size_t base = p * n + c * rows;
                                std::uint32_t* out = sp;
                                std::size_t r = r0;
                                const std::size_t whole = r0 + (r1 - r0) / k * k;  // rows of whole blocks
                                if (k == 2) {
                                    for (; r < whole; r += 2) *out++ += value(base + r) + value(base + r + 1);
                                } else {
                                    for (; r < whole; r += k) {
                                        std::uint32_t block = 0;
                                        for (std::size_t t = 0; t < k; ++t) block += value(base + r + t);
                                        *out++ += block;
                                    }
                                }
                                for (; r < r1; ++r) *out += value(base + r);  // the clipped last block
                            }
                        }
                    }
                    // The rounded mean (v + count / 2) div count, by a
                    // multiplication: the quotient of two integers below 2^31
                    // and 2^16 is either whole or at least 1 / count from the
                    // next whole number, far more than the product's error
                    // plus the 2^-20 that lifts a whole quotient computed a
                    // little low.
                    const auto whole = static_cast<std::uint32_t>(k * k);
                    const double inv_whole = 1.0 / whole;
                    for (std::size_t i = i0; i < i1; ++i) {
                        const std::size_t h = std::min(rows, (i + 1) * k) - i * k;
                        auto* line = reinterpret_cast<QRgb*>(bits + i * bpl);
                        for (std::size_t j = j0; j < j1; ++j) {
                            const std::size_t w = std::min(cols, (j + 1) * k) - j * k;
                            const auto count = static_cast<std::uint32_t>(w * h);
                            const double inv = count == whole ? inv_whole : 1.0 / count;
                            auto mean = [count, inv](std::uint32_t v) {
                                return count < (1u << 16)
                                           ? static_cast<int>(static_cast<double>(v + count / 2) * inv + 0x1p-20)
                                           : static_cast<int>((v + count / 2) / count);
                            };
                            const std::uint32_t* s = sum.data() + (j - j0) * 3 * kBand + (i - i0);
                            line[j] = qRgb(mean(s[0]), mean(s[(last > 0 ? 1 : 0) * kBand]), mean(s[last * kBand]));
                        }
                    }
                }
            }
        },
        1);
    return img;
}

}  // namespace

QImage display_picture(const AnyImage& image, int step, int levels) {
    if (step <= 1) return to_qimage(image, levels);
    const std::size_t planes = image_planes(image);
    if (planes != 1 && planes != 3) {
        throw Error("An image with " + std::to_string(planes) + " planes cannot be shown; it needs 1 or 3.");
    }
    return std::visit(
        [&](const auto& a) {
            using T = typename std::decay_t<decltype(a)>::value_type;
            const T* d = a.data();
            if (planes == 3) {
                if constexpr (std::is_same_v<T, std::uint8_t>) {
                    return reduced_picture(a.rows(), a.cols(), 3, step,
                                           [d](std::size_t i) { return static_cast<std::uint32_t>(d[i]); });
                } else {
                    return reduced_picture(a.rows(), a.cols(), 3, step, [d](std::size_t i) {
                        return static_cast<std::uint32_t>(component(d[i]));
                    });
                }
            }
            return reduced_picture(a.rows(), a.cols(), 1, step, [d, levels](std::size_t i) {
                return static_cast<std::uint32_t>(gray(d[i], levels));
            });
        },
        image);
}

std::array<std::uint8_t, 256> screen_values(const std::array<double, 256>& samples, bool gray_image, int levels) {
    std::array<std::uint8_t, 256> t{};
    for (std::size_t i = 0; i < 256; ++i)
        t[i] = static_cast<std::uint8_t>(gray_image ? gray(samples[i], levels) : component(samples[i]));
    return t;
}

QImage display_picture(const ArrayU8& planes, const std::array<std::uint8_t, 256>& table, int step) {
    const std::size_t np = planes.planes();
    if (np != 1 && np != 3) {
        throw Error("An image with " + std::to_string(np) + " planes cannot be shown; it needs 1 or 3.");
    }
    const std::uint8_t* d = planes.data();
    return reduced_picture(planes.rows(), planes.cols(), np, step,
                           [d, &table](std::size_t i) { return static_cast<std::uint32_t>(table[d[i]]); });
}

// ---------------------------------------------------------------------------
// The image area

namespace {

constexpr double kPairGap = 4.0;  // widget pixels between the halves of a pair

// The file named by OCUMBRA_FRAME_LOG, open for appending (null without it).
std::FILE* frame_log() {
    static std::FILE* f = [] {
        const QByteArray path = qgetenv("OCUMBRA_FRAME_LOG");
        return path.isEmpty() ? nullptr : std::fopen(path.constData(), "a");
    }();
    return f;
}

quint64 monotonic_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<quint64>(ts.tv_sec) * 1000u + static_cast<quint64>(ts.tv_nsec) / 1000000u;
}

}  // namespace

ImageArea::ImageArea(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setMinimumSize(50, 50);
    setMouseTracking(true);  // pointer moves without a button pressed, for a view that follows them
}

void ImageArea::set_image(const AnyImage& image) { set_image(std::make_shared<const AnyImage>(image)); }

ImageArea::Half ImageArea::half_of(std::shared_ptr<const AnyImage> image, QImage picture, int step, QImage shrunk) {
    const qint64 of = shrunk.isNull() || picture.isNull() ? 0 : picture.cacheKey();
    return Half{std::move(image), std::move(picture), step, false, of == 0 ? QImage() : std::move(shrunk), of};
}

void ImageArea::set_image(std::shared_ptr<const AnyImage> image, QImage picture, int picture_step, QImage shrunk) {
    const AnyImage& a = *image;
    const std::size_t planes = ocu::image_planes(a);
    if (ocu::image_rows(a) > 0 && ocu::image_cols(a) > 0 && planes != 1 && planes != 3) {
        throw Error("An image with " + std::to_string(planes) + " planes cannot be shown; it needs 1 or 3.");
    }
    if (ocu::image_rows(a) > 32767 || ocu::image_cols(a) > 32767) throw Error("The image is too large to be shown.");
    half_ = {};
    const bool empty = ocu::image_rows(a) == 0 || ocu::image_cols(a) == 0;
    rows_ = empty ? 0 : ocu::image_rows(a);
    cols_ = empty ? 0 : ocu::image_cols(a);
    halves_ = empty ? 0 : 1;
    if (!empty) half_[0] = half_of(std::move(image), std::move(picture), picture_step, std::move(shrunk));
    set_view_centre(centre_);
    update();
}

void ImageArea::set_pair(std::shared_ptr<const AnyImage> first, std::shared_ptr<const AnyImage> second) {
    if (ocu::image_rows(*first) != ocu::image_rows(*second) || ocu::image_cols(*first) != ocu::image_cols(*second)) {
        throw Error("Images side by side must have the same size.");
    }
    set_image(std::move(first));
    if (halves_ == 1) {
        half_[1] = Half{std::move(second), {}, 0, false, {}, 0};
        halves_ = 2;
    }
    update();
}

void ImageArea::replace(int half, std::shared_ptr<const AnyImage> image, QImage picture, int picture_step,
                        QImage shrunk) {
    if (half < 0 || half >= halves_) throw Error("The image area shows no such half.");
    if (ocu::image_rows(*image) != rows_ || ocu::image_cols(*image) != cols_) {
        if (halves_ == 1) {
            set_image(std::move(image), std::move(picture), picture_step, std::move(shrunk));
            return;
        }
        throw Error("Images side by side must have the same size.");
    }
    half_[static_cast<std::size_t>(half)] = half_of(std::move(image), std::move(picture), picture_step, std::move(shrunk));
    update();
}

void ImageArea::show_frame(int half, QImage frame) {
    if (half < 0 || half >= halves_) return;
    Half& h = half_[static_cast<std::size_t>(half)];
    h.picture = std::move(frame);
    h.step = 0;
    h.frame = true;
    update();
}

void ImageArea::clear() {
    half_ = {};
    halves_ = 0;
    rows_ = cols_ = 0;
    update();
}

QImage ImageArea::picture(int half) const {
    if (half < 0 || half >= halves_) return {};
    const Half& h = half_[static_cast<std::size_t>(half)];
    if (h.frame) return h.picture;
    return to_qimage(*h.image, gray_levels());
}

void ImageArea::set_zoom(ZoomMode mode, double scale) {
    zoom_ = mode;
    if (mode == ZoomMode::Fixed) fixed_scale_ = scale > 0 ? scale : 1.0;
    set_view_centre(centre_);
    update();
}

QSizeF ImageArea::place_size() const {
    if (halves_ < 2) return QSizeF(width(), height());
    if (width() >= height()) return QSizeF((width() - kPairGap) / 2.0, height());
    return QSizeF(width(), (height() - kPairGap) / 2.0);
}

QRectF ImageArea::place_rect(int half) const {
    const QSizeF s = place_size();
    if (halves_ < 2 || half == 0) return QRectF(QPointF(0, 0), s);
    if (width() >= height()) return QRectF(QPointF(s.width() + kPairGap, 0), s);
    return QRectF(QPointF(0, s.height() + kPairGap), s);
}

double ImageArea::widget_scale() const {
    if (!has_image()) return 1.0;
    if (zoom_ == ZoomMode::Fixed) return fixed_scale_ / devicePixelRatioF();
    const QSizeF s = place_size();
    return std::max(1e-9, std::min(s.width() / static_cast<double>(cols_), s.height() / static_cast<double>(rows_)));
}

double ImageArea::scale() const { return widget_scale() * devicePixelRatioF(); }

int ImageArea::picture_step() const {
    const double s = scale();
    if (s >= 1.0) return 1;
    return std::max(1, static_cast<int>(std::floor(1.0 / s)));
}

void ImageArea::set_view_centre(QPointF d) {
    if (!has_image()) {
        centre_ = d;
        return;
    }
    const double s = widget_scale();
    const QSizeF place = place_size();
    auto clamp_axis = [s](double v, double n, double room) {
        const double half_view = room / 2.0 / s;  // data units from the centre to the edge
        if (n <= 2.0 * half_view) return (n + 1.0) / 2.0;  // the image fits: centred
        return std::clamp(v, 0.5 + half_view, n + 0.5 - half_view);
    };
    const double cx = d.isNull() ? (static_cast<double>(cols_) + 1.0) / 2.0 : d.x();
    const double cy = d.isNull() ? (static_cast<double>(rows_) + 1.0) / 2.0 : d.y();
    centre_ = QPointF(clamp_axis(cx, static_cast<double>(cols_), place.width()),
                      clamp_axis(cy, static_cast<double>(rows_), place.height()));
    update();
}

void ImageArea::set_marker(std::optional<QPointF> d) {
    if (d == marker_) return;
    marker_ = d;
    update();
}

QRectF ImageArea::image_rect(int half) const {
    if (!has_image()) return {};
    const double s = widget_scale();
    const double w = s * static_cast<double>(cols_), h = s * static_cast<double>(rows_);
    const QRectF place = place_rect(half);
    if (zoom_ == ZoomMode::Fit) {
        return QRectF(place.left() + (place.width() - w) / 2.0, place.top() + (place.height() - h) / 2.0, w, h);
    }
    // The view centre (data) lies at the centre of the place.
    const double left = place.center().x() - (centre_.x() - 0.5) * s;
    const double top = place.center().y() - (centre_.y() - 0.5) * s;
    return QRectF(left, top, w, h);
}

int ImageArea::half_at(QPointF p) const {
    if (halves_ < 2) return 0;
    if (width() >= height()) return p.x() < width() / 2.0 ? 0 : 1;
    return p.y() < height() / 2.0 ? 0 : 1;
}

QPointF ImageArea::widget_to_data(QPointF p) const {
    const QRectF r = image_rect(half_at(p));
    if (r.isEmpty()) return {};
    const double scale = r.width() / static_cast<double>(cols_);
    return {0.5 + (p.x() - r.left()) / scale, 0.5 + (p.y() - r.top()) / scale};
}

QPointF ImageArea::data_to_widget(QPointF d, int half) const {
    const QRectF r = image_rect(half);
    if (r.isEmpty()) return {};
    const double scale = r.width() / static_cast<double>(cols_);
    return {r.left() + (d.x() - 0.5) * scale, r.top() + (d.y() - 0.5) * scale};
}

const QImage& ImageArea::picture_for(Half& h) {
    if (h.frame) return h.picture;
    const int want = picture_step();
    if (h.picture.isNull() || h.step < 1 || h.step > want || want > 2 * h.step) {
        h.picture = display_picture(*h.image, want, gray_levels());
        h.step = want;
    }
    return h.picture;
}

void ImageArea::trace_next_paint(const char* kind, quint64 stamp) {
    if (!frame_log()) return;
    trace_kind_ = kind;
    trace_stamp_ = stamp;
}

void ImageArea::paintEvent(QPaintEvent*) {
    if (!has_image()) return;
    QPainter p(this);
    for (int i = 0; i < halves_; ++i) {
        Half& h = half_[static_cast<std::size_t>(i)];
        const QImage& pic = picture_for(h);
        if (pic.isNull()) continue;
        const QRectF r = image_rect(i);
        p.save();
        p.setClipRect(place_rect(i));
        const QSize device = (r.size() * devicePixelRatioF()).toSize();
        if (h.frame && pic.size() == device && devicePixelRatioF() == 1.0) {
            // A quick picture made at the size it is shown: a plain copy.
            p.drawImage(QPoint(qRound(r.left()), qRound(r.top())), pic);
        } else if (h.frame) {
            // A quick picture while the pointer moves: scaled as it is drawn.
            p.setRenderHint(QPainter::SmoothPixmapTransform, true);
            p.drawImage(r, pic);
        } else if (device.width() < pic.width() && !device.isEmpty()) {
            // Shrinking: smoothly, once per picture and size; repaints copy the result.
            if (h.shrunk_of != pic.cacheKey() || h.shrunk.size() != device) {
                h.shrunk = pic.scaled(device, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
                h.shrunk_of = pic.cacheKey();
            }
            p.drawImage(r, h.shrunk);
        } else {
            // Enlarging: square blocks.
            p.drawImage(r, pic);
        }
        p.restore();
    }
    if (marker_) {
        for (int i = 0; i < halves_; ++i) {
            const QPointF c = data_to_widget(*marker_, i);
            p.save();
            p.setClipRect(place_rect(i));
            p.setRenderHint(QPainter::Antialiasing, true);
            for (const auto& [colour, width] : {std::pair{QColor(Qt::white), 3.0}, std::pair{QColor(200, 0, 0), 1.5}}) {
                p.setPen(QPen(colour, width));
                p.drawLine(c + QPointF(-7, 0), c + QPointF(7, 0));
                p.drawLine(c + QPointF(0, -7), c + QPointF(0, 7));
            }
            p.restore();
        }
    }
    if (trace_kind_) {
        if (std::FILE* f = frame_log()) {
            std::fprintf(f, "%s %llu %llu\n", trace_kind_, static_cast<unsigned long long>(trace_stamp_),
                         static_cast<unsigned long long>(monotonic_ms() & 0xFFFFFFFFu));
            std::fflush(f);
        }
        trace_kind_ = nullptr;
    }
}

void ImageArea::wheelEvent(QWheelEvent* e) {
    if (zoom_ != ZoomMode::Fixed || !has_image()) {
        QWidget::wheelEvent(e);
        return;
    }
    // Forty widget pixels a notch; Shift (or a sideways wheel) scrolls across.
    const QPoint a = e->angleDelta();
    double dx = a.x(), dy = a.y();
    if (e->modifiers() & Qt::ShiftModifier) std::swap(dx, dy);
    const double s = widget_scale();
    set_view_centre(centre_ - QPointF(dx / 120.0 * 40.0 / s, dy / 120.0 * 40.0 / s));
    e->accept();
}

void ImageArea::note_pointer(const QMouseEvent* e) {
    last_pointer_ = widget_to_data(e->position());
    last_pointer_time_ = e->timestamp();
}

void ImageArea::mouseMoveEvent(QMouseEvent* e) {
    note_pointer(e);
    e->accept();  // the move is this area's; the window's motion callback sees it first (callbacks.cpp)
}

void ImageArea::mousePressEvent(QMouseEvent* e) {
    note_pointer(e);
    QWidget::mousePressEvent(e);  // passes the press on to the window, as before
}

void ImageArea::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    set_view_centre(centre_);
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

QPointF current_point(const Handle& ax) {
    ImageArea* a = image_area(ax);
    if (!a) throw Error("The handle is not an image area.");
    return a->last_pointer();
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
