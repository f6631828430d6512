// Fixation-dependent simulation on a 1920 x 1080 colour image with the
// built-in polar plot: the resolution map alone, the whole preparation (map
// and blending masks; also for 4000 x 3000), and one fixation click with the
// masks prepared.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "fixdep/simulation.hpp"
#include "toolkit/imageio.hpp"
#include "toolkit/paths.hpp"
#include "bench/bench_images.hpp"

namespace {

constexpr std::size_t kCols = 1920, kRows = 1080;

using ocu::bench::polar_plot;
using ocu::bench::test_image;

void BM_ResolutionMap_1920x1080(benchmark::State& state) {
    const double pixdist = ocu::viewing::viewing_distance(kCols, 20.0);
    for (auto _ : state) {
        ocu::ArrayD restot = ocu::fixdep::resmaptotim(polar_plot(), kCols, kRows, pixdist, 1.0);
        benchmark::DoNotOptimize(restot.data());
    }
}

void BM_Prepare_1920x1080(benchmark::State& state) {
    for (auto _ : state) {
        ocu::fixdep::Session s = ocu::fixdep::prepare(kCols, kRows, {20.0, 1.0, polar_plot()});
        benchmark::DoNotOptimize(s.resmap().data());
    }
}

// The preparation of a 12-megapixel photo: a larger map and more levels.
void BM_Prepare_4000x3000(benchmark::State& state) {
    for (auto _ : state) {
        ocu::fixdep::Session s = ocu::fixdep::prepare(4000, 3000, {20.0, 1.0, polar_plot()});
        benchmark::DoNotOptimize(s.resmap().data());
    }
}

void BM_FixationClick_1920x1080_Colour(benchmark::State& state) {
    const ocu::AnyImage im = test_image(kRows, kCols);
    ocu::fixdep::Session session = ocu::fixdep::prepare(kCols, kRows, {20.0, 1.0, polar_plot()});
    double x = 300.0;
    for (auto _ : state) {
        ocu::ArrayD imt = ocu::fixdep::render(session, {x, 500.0}, im);
        benchmark::DoNotOptimize(imt.data());
        x = x > 1600.0 ? 300.0 : x + 97.0;  // a different point each click
    }
}

// The same click rendered into the previous result's storage, as a window
// that keeps its last result as scratch space does.
void BM_FixationClick_1920x1080_Colour_Reused(benchmark::State& state) {
    const ocu::AnyImage im = test_image(kRows, kCols);
    ocu::fixdep::Session session = ocu::fixdep::prepare(kCols, kRows, {20.0, 1.0, polar_plot()});
    ocu::ArrayD imt;
    double x = 300.0;
    for (auto _ : state) {
        ocu::fixdep::render(session, {x, 500.0}, im, imt);
        benchmark::DoNotOptimize(imt.data());
        x = x > 1600.0 ? 300.0 : x + 97.0;
    }
}

void BM_FixationClick_1920x1080_Gray(benchmark::State& state) {
    ocu::ArrayU8 rgb = test_image(kRows, kCols);
    const ocu::AnyImage im(ocu::ArrayU8(kRows, kCols, 1, std::vector<std::uint8_t>(
                                            rgb.data(), rgb.data() + kRows * kCols)));
    ocu::fixdep::Session session = ocu::fixdep::prepare(kCols, kRows, {20.0, 1.0, polar_plot()});
    double x = 300.0;
    for (auto _ : state) {
        ocu::ArrayD imt = ocu::fixdep::render(session, {x, 500.0}, im);
        benchmark::DoNotOptimize(imt.data());
        x = x > 1600.0 ? 300.0 : x + 97.0;
    }
}

}  // namespace

BENCHMARK(BM_ResolutionMap_1920x1080)->Unit(benchmark::kMillisecond);
// The preparation runs on all cores: CPU time of the whole process.
BENCHMARK(BM_Prepare_1920x1080)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_Prepare_4000x3000)->Unit(benchmark::kMillisecond)->Iterations(2)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_FixationClick_1920x1080_Colour)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FixationClick_1920x1080_Colour_Reused)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FixationClick_1920x1080_Gray)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
