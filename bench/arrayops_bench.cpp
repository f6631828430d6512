// Same-size correlation of a 640 x 480 image with a 107 x 107 Gaussian-like
// kernel: the general 2-D form against the separable form.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "toolkit/arrayops.hpp"
#include "toolkit/parallel.hpp"

namespace {

constexpr std::size_t kRows = 480, kCols = 640, kTaps = 107;

const ocu::ArrayD& image() {
    static const ocu::ArrayD x = [] {
        std::mt19937 rng(1);
        std::uniform_real_distribution<double> u(0.0, 1.0);
        ocu::ArrayD a(kRows, kCols);
        for (auto& v : a.span()) v = u(rng);
        return a;
    }();
    return x;
}

const std::vector<double>& taps() {
    static const std::vector<double> g = [] {
        std::vector<double> t(kTaps);
        const double sigma = 18.0, mid = (kTaps - 1) / 2.0;
        double sum = 0.0;
        for (std::size_t i = 0; i < kTaps; ++i) {
            const double d = static_cast<double>(i) - mid;
            t[i] = std::exp(-d * d / (2 * sigma * sigma));
            sum += t[i];
        }
        for (auto& v : t) v /= sum;
        return t;
    }();
    return g;
}

// Argument: thread count (0 = all cores).
void BM_Correlate2D(benchmark::State& state) {
    ocu::thread_count_override() = static_cast<unsigned>(state.range(0));
    const auto& g = taps();
    ocu::ArrayD k(kTaps, kTaps);
    for (std::size_t j = 0; j < kTaps; ++j)
        for (std::size_t i = 0; i < kTaps; ++i) k(i, j) = g[i] * g[j];
    for (auto _ : state) benchmark::DoNotOptimize(ocu::correlate_same(image(), k));
    ocu::thread_count_override() = 0;
}
BENCHMARK(BM_Correlate2D)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_CorrelateSeparable(benchmark::State& state) {
    ocu::thread_count_override() = static_cast<unsigned>(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(ocu::correlate_same_separable(image(), taps(), taps()));
    ocu::thread_count_override() = 0;
}
BENCHMARK(BM_CorrelateSeparable)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
