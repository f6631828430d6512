// Colour vision simulations on 8-bit colour images: a deficiency at an
// interpolated severity, and achromatopsia.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "colour/colour.hpp"
#include "toolkit/large_blocks.hpp"

namespace {

ocu::AnyImage random_colour(std::size_t rows, std::size_t cols) {
    std::mt19937 gen(1);
    std::uniform_int_distribution<int> u(0, 255);
    ocu::ArrayU8 a(rows, cols, 3);
    for (auto& v : a.span()) v = static_cast<std::uint8_t>(u(gen));
    return ocu::AnyImage(std::move(a));
}

void BM_Cvd(benchmark::State& state) {
    const ocu::AnyImage im = random_colour(static_cast<std::size_t>(state.range(0)),
                                           static_cast<std::size_t>(state.range(1)));
    const ocu::colour::Params p{ocu::colour::Deficiency::Deutan, 0.65};
    for (auto _ : state) {
        auto out = ocu::colour::run(im, p);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_Cvd)->Args({480, 640})->Unit(benchmark::kMillisecond);
// Large results are computed by all cores: CPU time of the whole process.
BENCHMARK(BM_Cvd)->Args({3000, 4000})->Unit(benchmark::kMillisecond)->MinTime(2.0)->MeasureProcessCPUTime()->UseRealTime();

void BM_Achromat(benchmark::State& state) {
    const ocu::AnyImage im = random_colour(static_cast<std::size_t>(state.range(0)),
                                           static_cast<std::size_t>(state.range(1)));
    for (auto _ : state) {
        auto out = ocu::colour::simulate_achromatopsia(im);
        benchmark::DoNotOptimize(out.data());
    }
}
// Samples in C order in and out, as the Python module computes 8-bit photos.
void BM_CvdCOrder(benchmark::State& state) {
    const auto rows = static_cast<std::size_t>(state.range(0)), cols = static_cast<std::size_t>(state.range(1));
    const ocu::ArrayU8 im = std::get<ocu::ArrayU8>(random_colour(rows, cols));
    std::vector<std::uint8_t> in(im.numel());
    for (std::size_t r = 0; r < rows; ++r)
        for (std::size_t c = 0; c < cols; ++c)
            for (std::size_t p = 0; p < 3; ++p) in[(r * cols + c) * 3 + p] = im(r, c, p);
    std::vector<double> out(im.numel());
    ocu::View<const std::uint8_t> vin(in.data(), rows, cols, 3);
    ocu::View<double> vout(out.data(), rows, cols, 3);
    vin.row_stride = vout.row_stride = static_cast<std::ptrdiff_t>(3 * cols);
    vin.col_stride = vout.col_stride = 3;
    vin.plane_stride = vout.plane_stride = 1;
    for (auto _ : state) {
        ocu::colour::simulate_cvd(vin, ocu::colour::Deficiency::Deutan, 0.65, vout);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_CvdCOrder)->Args({480, 640})->Unit(benchmark::kMillisecond);

// The first run of a session (or after the kept blocks went back to the
// system): the 4000 x 3000 result's 288 MB are fresh pages.
void BM_CvdFreshMemory(benchmark::State& state) {
    const ocu::AnyImage im = random_colour(static_cast<std::size_t>(state.range(0)),
                                           static_cast<std::size_t>(state.range(1)));
    const ocu::colour::Params p{ocu::colour::Deficiency::Deutan, 0.65};
    for (auto _ : state) {
        state.PauseTiming();
        ocu::large_blocks::release_kept();
        state.ResumeTiming();
        auto out = ocu::colour::run(im, p);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_CvdFreshMemory)->Args({3000, 4000})->Unit(benchmark::kMillisecond)->MinTime(2.0)->MeasureProcessCPUTime()->UseRealTime();

BENCHMARK(BM_Achromat)->Args({480, 640})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Achromat)->Args({3000, 4000})->Unit(benchmark::kMillisecond)->MinTime(2.0)->MeasureProcessCPUTime()->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
