// Whole fixation-independent computation, stored 8-bit colour image to imt.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "fixindep/fixindep.hpp"

namespace {

// A deterministic photo-like colour image: smooth gradients, a few edges and
// some pixel noise, so that all three contrast bands occur.
ocu::ArrayU8 test_image(std::size_t rows, std::size_t cols) {
    ocu::ArrayU8 im(rows, cols, 3);
    std::uint32_t state = 12345;
    for (std::size_t p = 0; p < 3; ++p)
        for (std::size_t c = 0; c < cols; ++c)
            for (std::size_t r = 0; r < rows; ++r) {
                state = state * 1664525u + 1013904223u;
                const double noise = static_cast<double>(state >> 24) / 255.0 * 20.0;
                double v = 60.0 + 120.0 * static_cast<double>(c) / static_cast<double>(cols) +
                           30.0 * static_cast<double>(p) + noise;
                if ((r / 40 + c / 50) % 3 == 0) v *= 0.5;
                im(r, c, p) = static_cast<std::uint8_t>(v > 255.0 ? 255.0 : v);
            }
    return im;
}

void run(benchmark::State& state, std::size_t rows, std::size_t cols, double acuity,
         ocu::fixindep::Filtering filtering) {
    const ocu::AnyImage im = test_image(rows, cols);
    for (auto _ : state) {
        ocu::ArrayD imt = ocu::fixindep::run(im, {20.0, acuity, 1.0, 2.0, 2.0, filtering});
        benchmark::DoNotOptimize(imt.data());
    }
}

using ocu::fixindep::Filtering;

void BM_Fixindep_640x480_Acuity01(benchmark::State& s) { run(s, 480, 640, 0.1, Filtering::Separable); }
void BM_Fixindep_640x480_Acuity1(benchmark::State& s) { run(s, 480, 640, 1.0, Filtering::Separable); }
void BM_Fixindep_640x480_Acuity01_Direct2D(benchmark::State& s) {
    run(s, 480, 640, 0.1, Filtering::Direct2D);
}
void BM_Fixindep_4000x3000_Acuity01(benchmark::State& s) { run(s, 3000, 4000, 0.1, Filtering::Separable); }

}  // namespace

BENCHMARK(BM_Fixindep_640x480_Acuity01)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fixindep_640x480_Acuity1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fixindep_640x480_Acuity01_Direct2D)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Fixindep_4000x3000_Acuity01)->Unit(benchmark::kMillisecond)->Iterations(1)->MeasureProcessCPUTime()->UseRealTime();

BENCHMARK_MAIN();
