// The fixation rendering as a live view needs it, on photo-sized colour images
// with the masks prepared beforehand:
//  - BM_Render: one fixation rendered into the storage of the previous result
//    (squaring, pyramid fill and reduction, the grey coarsest level, encode,
//    the rendered planes back from the engine, square root);
//  - BM_RenderPlanes: the engine's part of that: the squared planes (made
//    once) loaded, reduced, rendered and read back;
//  - BM_PlanesPicture: the picture of the rendered 1920 x 1080 planes through
//    the table of screen values, at steps 1 and 2;
//  - BM_ClickPath: the same followed by the conversion of the result into the
//    picture the image area shows (no window, no repaint).
// The work is spread over the cores, so the CPU time is that of the whole
// process and the headline figure is the real time.
#include <benchmark/benchmark.h>

#include <QImage>

#include <cstdint>
#include <memory>
#include <utility>
#include <variant>

#include "fixdep/simulation.hpp"
#include "toolkit/gui/imshow.hpp"
#include "toolkit/imageio.hpp"
#include "toolkit/paths.hpp"
#include "bench/bench_images.hpp"

namespace {

using ocu::bench::polar_plot;
using ocu::bench::test_image;

// One prepared image size at a time: the engine holds one set of masks.
struct Prepared {
    std::size_t cols = 0, rows = 0;
    ocu::AnyImage image;
    ocu::fixdep::Session session;
};

Prepared& prepared(std::size_t cols, std::size_t rows) {
    static std::unique_ptr<Prepared> p;
    if (!p || p->cols != cols || p->rows != rows) {
        p.reset();
        p = std::make_unique<Prepared>(Prepared{cols, rows, test_image(rows, cols),
                                                ocu::fixdep::prepare(cols, rows, {20.0, 1.0, polar_plot()})});
        p->session.release_resmap();
    }
    return *p;
}

// Fixation points that move across the image, a different one each time.
struct Walk {
    double x, y, step, lo, hi;
    ocu::fixdep::Fixation next() {
        x = x > hi ? lo : x + step;
        return {x, y};
    }
};

Walk walk(std::size_t cols, std::size_t rows) {
    const double c = static_cast<double>(cols);
    return {0.15 * c, 0.45 * static_cast<double>(rows), 0.05 * c, 0.15 * c, 0.85 * c};
}

void BM_Render(benchmark::State& state) {
    const auto cols = static_cast<std::size_t>(state.range(0)), rows = static_cast<std::size_t>(state.range(1));
    Prepared& p = prepared(cols, rows);
    Walk w = walk(cols, rows);
    ocu::ArrayD imt;
    ocu::fixdep::render(p.session, w.next(), p.image, imt);  // the kept storage
    for (auto _ : state) {
        ocu::fixdep::render(p.session, w.next(), p.image, imt);
        benchmark::DoNotOptimize(imt.data());
    }
}

// The engine's part alone, as a frame of the live view needs it: the three
// planes of the photo (converted to the squared scale once beforehand) loaded,
// reduced and rendered, and the rendered planes read back.
void BM_RenderPlanes(benchmark::State& state) {
    const auto cols = static_cast<std::size_t>(state.range(0)), rows = static_cast<std::size_t>(state.range(1));
    Prepared& p = prepared(cols, rows);
    Walk w = walk(cols, rows);
    const ocu::fixdep::SquaredImage squared(p.image);
    ocu::ArrayU8 planes;
    ocu::fixdep::render_planes(p.session, w.next(), squared, planes);  // the kept storage
    for (auto _ : state) {
        ocu::fixdep::render_planes(p.session, w.next(), squared, planes);
        benchmark::DoNotOptimize(planes.data());
    }
}

// The picture of the rendered planes through the table of screen values, at
// step 1 (a click's result shown at full size) and step 2 (a frame shown at
// about half size).
void BM_PlanesPicture(benchmark::State& state) {
    Prepared& p = prepared(1920, 1080);
    const ocu::fixdep::SquaredImage squared(p.image);
    ocu::ArrayU8 planes;
    ocu::fixdep::render_planes(p.session, walk(1920, 1080).next(), squared, planes);
    const auto table = ocu::gui::screen_values(ocu::fixdep::shown_value_table(), false);
    for (auto _ : state) {
        const QImage picture = ocu::gui::display_picture(planes, table, static_cast<int>(state.range(0)));
        benchmark::DoNotOptimize(picture.constBits());
    }
}

void BM_ClickPath(benchmark::State& state) {
    const auto cols = static_cast<std::size_t>(state.range(0)), rows = static_cast<std::size_t>(state.range(1));
    Prepared& p = prepared(cols, rows);
    Walk w = walk(cols, rows);
    ocu::AnyImage shown{ocu::ArrayD()};
    ocu::fixdep::render(p.session, w.next(), p.image, std::get<ocu::ArrayD>(shown));
    for (auto _ : state) {
        ocu::fixdep::render(p.session, w.next(), p.image, std::get<ocu::ArrayD>(shown));
        const QImage picture = ocu::gui::to_qimage(shown);
        benchmark::DoNotOptimize(picture.constBits());
    }
}

}  // namespace

BENCHMARK(BM_Render)->Args({1920, 1080})->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_RenderPlanes)->Args({1920, 1080})->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_PlanesPicture)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_ClickPath)
    ->Args({1920, 1080})
    ->Args({4000, 3000})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

BENCHMARK_MAIN();
