// Glare: full computation (veil and image) and re-use of a kept veil.
#include <benchmark/benchmark.h>

#include <random>

#include "glare/glare.hpp"

namespace {

ocu::AnyImage random_colour(std::size_t rows, std::size_t cols) {
    std::mt19937 gen(1);
    std::uniform_int_distribution<int> u(0, 255);
    ocu::ArrayU8 a(rows, cols, 3);
    for (auto& v : a.span()) v = static_cast<std::uint8_t>(u(gen));
    return ocu::AnyImage(std::move(a));
}

void BM_GlareFull(benchmark::State& state) {
    const auto rows = static_cast<std::size_t>(state.range(0));
    const auto cols = static_cast<std::size_t>(state.range(1));
    const ocu::AnyImage im = random_colour(rows, cols);
    const ocu::glare::Params s{20, 1, 2, 2};
    for (auto _ : state) {
        auto run = ocu::glare::run(im, s);
        benchmark::DoNotOptimize(run.imt.data());
    }
}
BENCHMARK(BM_GlareFull)->Args({480, 640})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GlareFull)->Args({3000, 4000})->Unit(benchmark::kMillisecond)->Iterations(3)->MeasureProcessCPUTime()->UseRealTime();

void BM_GlareKnown(benchmark::State& state) {
    const ocu::AnyImage im = random_colour(480, 640);
    const ocu::glare::Params s{20, 1, 2, 2};
    const auto run = ocu::glare::run(im, s);
    for (auto _ : state) {
        auto imt = ocu::glare::glareimknown2(im, 4, run.dim, 2, 2);
        benchmark::DoNotOptimize(imt.data());
    }
}
BENCHMARK(BM_GlareKnown)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
