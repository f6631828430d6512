// The pyramid engine's work per fixation click and per resolution map:
// reduce + encode of one 1920 x 1080 plane with six levels, and setresmap of
// the 3840 x 2160 map that goes with it.
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <cstdint>
#include <random>
#include <vector>

#include "engine/pyramid.hpp"
#include "engine/workers.hpp"

namespace {

constexpr int kCols = 1920, kRows = 1080, kLevels = 6;

// A map like the program's for a 40-degree-wide picture: full resolution at
// the centre, falling with eccentricity, with a blind patch (-1).
std::vector<double> resolutionMap(int rows, int cols) {
    std::vector<double> map(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols));
    const double pixdist = (cols / 4.0) / std::tan(20.0 * std::numbers::pi / 180.0);
    for (int c = 0; c < cols; ++c)
        for (int r = 0; r < rows; ++r) {
            const double rd = std::hypot(c - cols / 2.0, r - rows / 2.0);
            const double ecc = std::atan(rd / pixdist) * 57.29577951308232;
            double v = std::min(1.0, 1.0 / (0.044 * ecc * ecc + 0.2 * ecc + 1.0));
            if (std::hypot(c - cols * 0.7, r - rows * 0.4) < rows * 0.08) v = -1.0;
            map[static_cast<std::size_t>(c) * static_cast<std::size_t>(rows) + static_cast<std::size_t>(r)] = v;
        }
    return map;
}

std::vector<std::uint8_t> photo(int rows, int cols) {
    std::vector<std::uint8_t> img(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols));
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> noise(0, 40);
    for (int c = 0; c < cols; ++c)
        for (int r = 0; r < rows; ++r)
            img[static_cast<std::size_t>(c) * static_cast<std::size_t>(rows) + static_cast<std::size_t>(r)] =
                static_cast<std::uint8_t>((r * 7 + c * 3) % 200 + noise(rng));
    return img;
}

// The program's sequence: masks from a pyramid of half the map's size, then
// the pyramid re-shaped for the image.
void prepare(kal::PyramidTable& t, const std::vector<std::uint8_t>& img) {
    const std::vector<double> map = resolutionMap(2 * kRows, 2 * kCols);
    t.createPyramid(1, kCols, kRows, kLevels);
    t.setResMap(1, 2 * kRows, 2 * kCols, map.data());
    t.setBase(1, kRows, kCols, img.data());
}

// The argument is the number of worker threads (0: one per core).
void BM_ReduceEncode1080p(benchmark::State& state) {
    kal::workerCountOverride() = static_cast<unsigned>(state.range(0));
    kal::PyramidTable t;
    const std::vector<std::uint8_t> img = photo(kRows, kCols);
    prepare(t, img);
    int i = 0;
    for (auto _ : state) {
        t.reduce(1);
        t.encode(1, 700 + (i % 2) * 400, 500);
        ++i;
        benchmark::DoNotOptimize(t.pyramid(1).enc[0].pixels.data());
    }
}
BENCHMARK(BM_ReduceEncode1080p)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_Reduce1080p(benchmark::State& state) {
    kal::workerCountOverride() = static_cast<unsigned>(state.range(0));
    kal::PyramidTable t;
    const std::vector<std::uint8_t> img = photo(kRows, kCols);
    prepare(t, img);
    for (auto _ : state) {
        t.reduce(1);
        benchmark::DoNotOptimize(t.pyramid(1).src[5].pixels.data());
    }
}
BENCHMARK(BM_Reduce1080p)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_Encode1080p(benchmark::State& state) {
    kal::workerCountOverride() = static_cast<unsigned>(state.range(0));
    kal::PyramidTable t;
    const std::vector<std::uint8_t> img = photo(kRows, kCols);
    prepare(t, img);
    t.reduce(1);
    for (auto _ : state) {
        t.encode(1, 960, 540);
        benchmark::DoNotOptimize(t.pyramid(1).enc[0].pixels.data());
    }
}
BENCHMARK(BM_Encode1080p)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_SetResMap4K(benchmark::State& state) {
    kal::workerCountOverride() = static_cast<unsigned>(state.range(0));
    kal::PyramidTable t;
    const std::vector<double> map = resolutionMap(2 * kRows, 2 * kCols);
    t.createPyramid(1, kRows, kCols, kLevels);  // as the program does: columns R/2, rows C/2
    for (auto _ : state) {
        t.setResMap(1, 2 * kRows, 2 * kCols, map.data());
        benchmark::DoNotOptimize(t.pyramid(1).masks.data());
    }
}
BENCHMARK(BM_SetResMap4K)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
