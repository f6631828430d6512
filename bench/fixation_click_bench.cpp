// A fixation click in the main window on the default image, from the press
// to the new image painted in the image area: the window's callback dispatch,
// the state record, one fixation rendering through the engine (the masks are
// prepared once beforehand by the fixation-dependent command), the display
// conversion and the repaint. The pointer input answers at once with the next
// of a few fixation points, as if the person clicked immediately.
#include <benchmark/benchmark.h>

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <array>
#include <cstdio>
#include <memory>

#include "app/ocumbra.hpp"
#include "toolkit/gui/imshow.hpp"
#include "toolkit/gui/platform.hpp"

namespace {

using namespace ocu;

class ClickPlatform : public gui::QtPlatform {
public:
    std::array<double, 2> pointer_input(const gui::Handle&) override {
        static constexpr std::array<std::array<double, 2>, 4> points{
            {{150, 100}, {450, 300}, {300.5, 200.5}, {20, 380}}};
        return points[next_++ % points.size()];
    }
    void report_error(const std::string& text) override {
        std::fprintf(stderr, "error: %s\n", text.c_str());
        failed = true;
    }
    bool failed = false;

private:
    std::size_t next_ = 0;
};

ClickPlatform* g_platform = nullptr;
gui::Handle g_fig;

// Opens the main window and runs the fixation-dependent command with the
// dialog's defaults (width 20, acuity 1, the default polar plot).
bool prepare() {
    g_fig = gui::handle(app::ocumbra({}, 1).at(0));
    QWidget* fig = gui::figure_of(g_fig);
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
    fig->findChild<QAction*>("fixdep")->trigger();
    return !g_platform->failed;
}

void BM_FixationClick(benchmark::State& state) {
    auto handles = gui::guidata<app::OcumbraState>(g_fig);
    if (!handles || !handles->fixactive) {
        state.SkipWithError("not in fixation mode");
        return;
    }
    gui::ImageArea* area = gui::image_area((*handles)[app::tag::axes1]);
    const QPoint at(area->width() / 2, area->height() / 2);
    for (auto _ : state) {
        QTest::mousePress(area, Qt::LeftButton, {}, at);
        area->repaint();  // the new image on screen
        QTest::mouseRelease(area, Qt::LeftButton, {}, at);
        if (g_platform->failed) {
            state.SkipWithError("the click failed");
            return;
        }
    }
}
BENCHMARK(BM_FixationClick)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// One copy of the main window's state record in fixation mode (source image,
// result, polar plot and resolution map): the window framework hands each
// callback copies of it.
void BM_StateRecordCopy(benchmark::State& state) {
    const auto handles = gui::guidata<app::OcumbraState>(g_fig);
    if (!handles) {
        state.SkipWithError("no state record");
        return;
    }
    for (auto _ : state) {
        app::OcumbraState copy = *handles;
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(BM_StateRecordCopy)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    auto platform = std::make_unique<ClickPlatform>();
    g_platform = platform.get();
    gui::set_platform(std::move(platform));
    if (!prepare()) return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    gui::set_platform(nullptr);
    return 0;
}
