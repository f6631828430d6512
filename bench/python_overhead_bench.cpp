// The C++ side of the Python module's call overhead: each simulation's run on
// a 640 x 480 colour photo, as ocumbra's module calls it. bench/python_overhead.py
// runs this and times the module's calls on the same image.
//
// The image: the sample photo NatIm13.jpg (400 x 600) repeated to 480 rows and
// 640 columns (row r, column c of it is the photo's row r mod 400, column
// c mod 600), so both sides build it without sharing a file.
#include <benchmark/benchmark.h>

#include "colour/colour.hpp"
#include "fixdep/simulation.hpp"
#include "fixindep/fixindep.hpp"
#include "glare/glare.hpp"
#include "toolkit/imageio.hpp"
#include "toolkit/paths.hpp"

namespace {

const ocu::AnyImage& photo_640x480() {
    static const ocu::AnyImage im = [] {
        const auto src = std::get<ocu::ArrayU8>(ocu::imread(ocu::find_data_file("NatIm13.jpg")));
        ocu::ArrayU8 a(480, 640, 3);
        for (std::size_t p = 0; p < 3; ++p)
            for (std::size_t c = 0; c < 640; ++c)
                for (std::size_t r = 0; r < 480; ++r) a(r, c, p) = src(r % src.rows(), c % src.cols(), p);
        return ocu::AnyImage(std::move(a));
    }();
    return im;
}

void BM_Fixindep(benchmark::State& state) {
    ocu::fixindep::Params p;
    p.mar = 0.1;
    for (auto _ : state) benchmark::DoNotOptimize(ocu::fixindep::run(photo_640x480(), p).data());
}
BENCHMARK(BM_Fixindep)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

void BM_Fixdep(benchmark::State& state) {
    ocu::fixdep::Params p;
    p.polim = ocu::imread(ocu::find_data_file(ocu::fixdep::kDefaultPolarPlot));
    for (auto _ : state) benchmark::DoNotOptimize(ocu::fixdep::run(photo_640x480(), p).data());
}
BENCHMARK(BM_Fixdep)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

void BM_Glare(benchmark::State& state) {
    const ocu::glare::Params p{20, 5, 2, 2};
    for (auto _ : state) benchmark::DoNotOptimize(ocu::glare::run(photo_640x480(), p).imt.data());
}
BENCHMARK(BM_Glare)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

void BM_Colour(benchmark::State& state) {
    const ocu::colour::Params p{ocu::colour::Deficiency::Deutan, 1};
    for (auto _ : state) benchmark::DoNotOptimize(ocu::colour::run(photo_640x480(), p).data());
}
BENCHMARK(BM_Colour)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
