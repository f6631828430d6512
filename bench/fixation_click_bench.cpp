// The main window's fixation rendering as a person meets it, from the event
// to the new picture painted in the image area, on the default image
// (600 x 400), a 1920 x 1080 and a 4000 x 3000 colour photo:
//   - BM_FixationClick: the specified press-then-click: the window's
//     callback dispatch, the state record, one rendering through the engine on
//     the worker (the masks are prepared once beforehand by the
//     fixation-dependent command), the display conversion and the repaint. The
//     pointer input answers at once, as if the person clicked immediately.
//   - BM_FollowFrame: View -> Follow pointer, one pointer move to its frame
//     painted (the 1920 x 1080 and 4000 x 3000 photos, shown reduced, from
//     their previews at the size shown).
//   - BM_RestResult: the full-resolution result while following (a press, as
//     at rest): rendering, stored record, repaint.
// The screen is an offscreen 1920 x 1080 one unless QT_QPA_PLATFORM says
// otherwise.
#include <benchmark/benchmark.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <array>
#include <cstdio>
#include <memory>
#include <string>

#include "app/live_view.hpp"
#include "app/ocumbra.hpp"
#include "app/startup.hpp"
#include "toolkit/gui/imshow.hpp"
#include "toolkit/gui/platform.hpp"
#include "toolkit/imageio.hpp"
#include "toolkit/paths.hpp"

namespace {

using namespace ocu;

// The fixation points of the clicks, as fractions of the image size.
constexpr std::array<std::array<double, 2>, 4> kPoints{{{0.25, 0.25}, {0.75, 0.75}, {0.5, 0.5}, {0.03, 0.95}}};

class ClickPlatform : public gui::QtPlatform {
public:
    std::array<double, 2> pointer_input(const gui::Handle&) override {
        const auto& p = kPoints[next_++ % kPoints.size()];
        return {0.5 + p[0] * cols, 0.5 + p[1] * rows};
    }
    void report_error(const std::string& text) override {
        std::fprintf(stderr, "error: %s\n", text.c_str());
        failed = true;
    }
    bool failed = false;
    double cols = 600, rows = 400;

private:
    std::size_t next_ = 0;
};

ClickPlatform* g_platform = nullptr;
gui::Handle g_fig;
int g_size = -1;  // the photo the window holds: 0 default, 1 1080p, 2 12 MP

// A smooth colour photo with some texture, rows x cols.
AnyImage synthetic_photo(std::size_t rows, std::size_t cols) {
    ArrayU8 a(rows, cols, 3);
    for (std::size_t p = 0; p < 3; ++p)
        for (std::size_t c = 0; c < cols; ++c)
            for (std::size_t r = 0; r < rows; ++r)
                a(r, c, p) = static_cast<std::uint8_t>((r * (p + 1) * 255 / rows + c * 255 / cols + (r * c) % 17) % 256);
    return a;
}

// Runs the fixation-dependent command with the dialog's defaults.
bool run_fixdep() {
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&timer] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && w->property("ocuLayoutFile").toString().endsWith("fixdepparms.fig")) {
                timer.stop();
                QTest::mouseClick(w->findChild<QPushButton*>("pushbutton_fixdepparms"), Qt::LeftButton);
            }
        }
    });
    timer.start(5);
    gui::figure_of(g_fig)->findChild<QAction*>("fixdep")->trigger();
    return !g_platform->failed;
}

// The window holding photo `size`, in fixation mode, the image area about
// as large as the photo is shown.
bool use_photo(int size) {
    if (size == g_size) return true;
    QWidget* fig = gui::figure_of(g_fig);
    if (size == 0) {
        app::open_image_file(g_fig, find_data_file("NatIm13.jpg"));
        fig->resize(700, 560);
    } else {
        const std::size_t rows = size == 1 ? 1080 : 3000, cols = size == 1 ? 1920 : 4000;
        const std::string path = QDir::tempPath().toStdString() + "/ocumbra_bench_" + std::to_string(cols) + ".bmp";
        imwrite(synthetic_photo(rows, cols), path);
        app::open_image_file(g_fig, path);
        QFile::remove(QString::fromStdString(path));
        // 1080p in an area of about 1000 x 560; 12 MP about 1600 x 1200.
        if (size == 1) fig->resize(1020, 640);
        if (size == 2) fig->resize(1620, 1280);
    }
    QApplication::processEvents();
    if (!run_fixdep()) return false;
    const auto handles = gui::guidata<app::OcumbraState>(g_fig);
    g_platform->cols = static_cast<double>(image_cols(handles->im));
    g_platform->rows = static_cast<double>(image_rows(handles->im));
    g_size = size;
    return handles->fixactive;
}

gui::ImageArea* area() {
    return gui::image_area(gui::guidata<app::OcumbraState>(g_fig)->controls(app::tag::axes1.name));
}

void label(benchmark::State& state) {
    const char* names[] = {"600x400", "1920x1080", "4000x3000"};
    state.SetLabel(names[state.range(0)]);
}

void BM_FixationClick(benchmark::State& state) {
    if (!use_photo(static_cast<int>(state.range(0)))) {
        state.SkipWithError("not in fixation mode");
        return;
    }
    label(state);
    gui::ImageArea* a = area();
    const QPoint at(a->width() / 2, a->height() / 2);
    for (auto _ : state) {
        QTest::mousePress(a, Qt::LeftButton, {}, at);
        a->repaint();  // the new image on screen
        QTest::mouseRelease(a, Qt::LeftButton, {}, at);
        if (g_platform->failed) {
            state.SkipWithError("the click failed");
            return;
        }
    }
}
BENCHMARK(BM_FixationClick)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Processes events until `done` (false after 5 s without it).
template <class F>
bool wait_for(F&& done) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > 5000) return false;
        // Sleeps until the next event, at most 2 ms (processEvents with a
        // time limit never sleeps: a spinning harness would take a core from
        // the work it measures).
        QTimer::singleShot(2, [] {});
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void pointer_event(QWidget* w, QEvent::Type type, QPointF p) {
    const Qt::MouseButton b = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(type, p, w->mapToGlobal(p), b, b, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

// Follow pointer on while it lives; off again and idle afterwards.
struct Following {
    std::shared_ptr<app::LiveView> live;
    QAction* entry;
    Following() : live(app::live_view(g_fig)), entry(gui::figure_of(g_fig)->findChild<QAction*>("followpointer_menu")) {
        if (!entry->isChecked()) entry->trigger();
    }
    ~Following() {
        wait_for([this] { return live->idle(); });
        if (entry->isChecked()) entry->trigger();
    }
};

void BM_FollowFrame(benchmark::State& state) {
    if (!use_photo(static_cast<int>(state.range(0)))) {
        state.SkipWithError("not in fixation mode");
        return;
    }
    label(state);
    const Following f;
    gui::ImageArea* a = area();
    const QRectF r = a->image_rect();
    int i = 0;
    for (auto _ : state) {
        // A frame, or the result when the pointer rested meanwhile (a frame
        // of a 12 MP photo waits behind a full-resolution result).
        const int shown = f.live->frames_shown() + f.live->results_shown();
        const auto& p = kPoints[static_cast<std::size_t>(i++) % kPoints.size()];
        pointer_event(a, QEvent::MouseMove, r.topLeft() + QPointF(p[0] * r.width(), p[1] * r.height()));
        if (!wait_for([&] { return f.live->frames_shown() + f.live->results_shown() != shown; })) {
            state.SkipWithError(("no frame: " + f.live->last_error()).c_str());
            return;
        }
        a->repaint();
    }
    state.counters["preview_frames"] = f.live->preview_frames();
    state.counters["results"] = f.live->results_shown();
}
BENCHMARK(BM_FollowFrame)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_RestResult(benchmark::State& state) {
    if (!use_photo(static_cast<int>(state.range(0)))) {
        state.SkipWithError("not in fixation mode");
        return;
    }
    label(state);
    const Following f;
    gui::ImageArea* a = area();
    const QRectF r = a->image_rect();
    int i = 0;
    for (auto _ : state) {
        const int shown = f.live->results_shown();
        const auto& p = kPoints[static_cast<std::size_t>(i++) % kPoints.size()];
        pointer_event(a, QEvent::MouseButtonPress, r.topLeft() + QPointF(p[0] * r.width(), p[1] * r.height()));
        if (!wait_for([&] { return f.live->results_shown() != shown; })) {
            state.SkipWithError("no result");
            return;
        }
        a->repaint();
    }
}
BENCHMARK(BM_RestResult)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// One copy of the main window's state record in fixation mode (source image,
// result, polar plot and resolution map): the window framework hands each
// callback copies of it.
void BM_StateRecordCopy(benchmark::State& state) {
    if (!use_photo(static_cast<int>(state.range(0)))) {
        state.SkipWithError("not in fixation mode");
        return;
    }
    label(state);
    const auto handles = gui::guidata<app::OcumbraState>(g_fig);
    for (auto _ : state) {
        app::OcumbraState copy = *handles;
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(BM_StateRecordCopy)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    QFile screen(QDir::tempPath() + "/ocumbra_bench_screen.json");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && screen.open(QIODevice::WriteOnly)) {
        screen.write(R"({"screens": [{"name": "bench", "x": 0, "y": 0, "width": 1920, "height": 1080,
                      "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
        screen.close();
        qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + screen.fileName()).toUtf8());
    }
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    auto platform = std::make_unique<ClickPlatform>();
    g_platform = platform.get();
    gui::set_platform(std::move(platform));
    g_fig = gui::handle(app::ocumbra({}, 1).at(0));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    gui::set_platform(nullptr);
    screen.remove();
    return 0;
}
