// The combined simulation on the default image (NatIm13.jpg, 600 x 400
// colour) with the default polar plot: each simulation alone, the combined
// run of glare, acuity/contrast and field (its time should be at most the sum
// of the three alone plus 10 %), all four steps, and a fixation click after a
// combined run against a click after the fixation-dependent simulation alone.
// Run with --benchmark_repetitions=10: the "_min" rows are the fastest run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "colour/colour.hpp"
#include "fixdep/simulation.hpp"
#include "fixindep/fixindep.hpp"
#include "glare/glare.hpp"
#include "scenario/pipeline.hpp"
#include "toolkit/imageio.hpp"
#include "toolkit/paths.hpp"

namespace {

namespace sc = ocu::scenario;

const ocu::AnyImage& photo() {
    static const ocu::AnyImage im = ocu::imread(ocu::program_data_dir() + "NatIm13.jpg");
    return im;
}

sc::Params params(sc::Steps steps) {
    sc::Params p;
    p.steps = steps;
    p.mar = 0.3;
    p.contrastf = 2;
    p.glarefact = 4;
    p.colour = {ocu::colour::Deficiency::Deutan, 0.7};
    p.polim = ocu::imread(ocu::program_data_dir() + "polarplotREmd.bmp");
    return p;
}

void BM_GlareAlone(benchmark::State& state) {
    const sc::Params p = params({});
    for (auto _ : state) benchmark::DoNotOptimize(ocu::glare::run(photo(), {.width = p.width, .glarefact = p.glarefact}).imt.data());
}

void BM_AcuityAlone(benchmark::State& state) {
    const sc::Params p = params({});
    ocu::fixindep::Params f;
    f.mar = p.mar;
    f.contrastf = p.contrastf;
    for (auto _ : state) benchmark::DoNotOptimize(ocu::fixindep::run(photo(), f).data());
}

void BM_ColourAlone(benchmark::State& state) {
    const sc::Params p = params({});
    for (auto _ : state) benchmark::DoNotOptimize(ocu::colour::run(photo(), p.colour).data());
}

// Prepare and the first view, as the fixation-dependent command does.
void BM_FieldAlone(benchmark::State& state) {
    const sc::Params p = params({});
    for (auto _ : state) benchmark::DoNotOptimize(ocu::fixdep::run(photo(), {p.width, p.mar, p.polim}).data());
}

void BM_CombinedGlareAcuityField(benchmark::State& state) {
    const sc::Params p = params({.glare = true, .acuity = true, .field = true});
    for (auto _ : state) benchmark::DoNotOptimize(sc::run(photo(), p).data());
}

void BM_CombinedAllFour(benchmark::State& state) {
    const sc::Params p = params({.glare = true, .acuity = true, .colour = true, .field = true});
    for (auto _ : state) benchmark::DoNotOptimize(sc::run(photo(), p).data());
}

void BM_ClickAfterFieldAlone(benchmark::State& state) {
    const sc::Params p = params({});
    ocu::fixdep::Session s = ocu::fixdep::prepare(600, 400, {p.width, p.mar, p.polim});
    ocu::ArrayD view;
    double x = 100;
    for (auto _ : state) {
        ocu::fixdep::render(s, {x, 200}, photo(), view);
        benchmark::DoNotOptimize(view.data());
        x = x > 500 ? 100 : x + 37;
    }
}

void BM_ClickAfterCombined(benchmark::State& state) {
    sc::Prepared s = sc::prepare(photo(), params({.glare = true, .acuity = true, .colour = true, .field = true}));
    ocu::ArrayD view;
    double x = 100;
    for (auto _ : state) {
        s.render({x, 200}, view);
        benchmark::DoNotOptimize(view.data());
        x = x > 500 ? 100 : x + 37;
    }
}

// The fastest of the repetitions: the figure least disturbed by other work
// on a shared machine.
double fastest(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

}  // namespace

BENCHMARK(BM_GlareAlone)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", fastest);
BENCHMARK(BM_AcuityAlone)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", fastest);
BENCHMARK(BM_ColourAlone)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", fastest);
BENCHMARK(BM_FieldAlone)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", fastest);
BENCHMARK(BM_CombinedGlareAcuityField)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", fastest);
BENCHMARK(BM_CombinedAllFour)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", fastest);
BENCHMARK(BM_ClickAfterFieldAlone)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", fastest);
BENCHMARK(BM_ClickAfterCombined)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", fastest);
BENCHMARK_MAIN();
