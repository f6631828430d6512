// The plug-in driven the way the program drives it: through the wrappers, the
// stub and the loaded libkalentry.so (run from the build's bin folder).
#include <benchmark/benchmark.h>

#include <cmath>

#include "engine_client/kal.hpp"

namespace {

constexpr std::size_t kRows = 1080, kCols = 1920, kLevels = 6;

// A resolution map of twice the image's size: full resolution at the centre,
// falling off with distance from it.
ocu::ArrayD radial_map() {
    ocu::ArrayD m(2 * kRows, 2 * kCols);
    for (std::size_t c = 0; c < m.cols(); ++c)
        for (std::size_t r = 0; r < m.rows(); ++r) {
            const double d = std::hypot(static_cast<double>(r) - kRows, static_cast<double>(c) - kCols);
            m(r, c) = 1.0 / (1.0 + d / 150.0);
        }
    return m;
}

ocu::ArrayU8 test_image() {
    ocu::ArrayU8 im(kRows, kCols);
    for (std::size_t c = 0; c < kCols; ++c)
        for (std::size_t r = 0; r < kRows; ++r) im(r, c) = static_cast<std::uint8_t>((r * 3 + c * 5) % 256);
    return im;
}

void prepare_masks() {
    static bool done = false;
    if (done) return;
    ocu::kal::kalcreatepyramid(1, kRows, kCols, 6);
    ocu::kal::kalsetbase(1, ocu::ArrayU8(kCols, kRows, 1, std::uint8_t{255}));
    ocu::kal::kalreduce(1);
    ocu::kal::kalsetresmap(1, radial_map());
    done = true;
}

// Filling pyramid 1 with one plane: create, set the base, reduce.
void BM_PreparePlane(benchmark::State& state) {
    prepare_masks();
    const ocu::ArrayU8 im = test_image();
    for (auto _ : state) {
        ocu::kal::kalcreatepyramid(1, kCols, kRows, kLevels);
        ocu::kal::kalsetbase(1, im);
        ocu::kal::kalreduce(1);
    }
}
BENCHMARK(BM_PreparePlane)->Unit(benchmark::kMillisecond);

// One fixation: coarsest level replaced, encode, rendered image returned.
void BM_RenderPlane(benchmark::State& state) {
    prepare_masks();
    ocu::kal::kalcreatepyramid(1, kCols, kRows, kLevels);
    ocu::kal::kalsetbase(1, test_image());
    ocu::kal::kalreduce(1);
    double x = 400;
    for (auto _ : state) {
        ocu::ArrayU8 top = ocu::kal::kalgetsrcimage(1, kLevels);
        ocu::kal::kalsetsrcimage(1, kLevels, ocu::ArrayU8(top.rows(), top.cols(), 1, std::uint8_t{64}));
        ocu::kal::kalencode(1, x, 500);
        benchmark::DoNotOptimize(ocu::kal::kalgetencodedimage(1));
        x = x > 1500 ? 400 : x + 97;
    }
}
BENCHMARK(BM_RenderPlane)->Unit(benchmark::kMillisecond);

// The cost of one call through a wrapper, the stub and the entry's checks.
void BM_CallOverhead(benchmark::State& state) {
    ocu::kal::kalcreatepyramid(2, 1, 1, 1);
    for (auto _ : state) ocu::kal::kalreduce(2);
}
BENCHMARK(BM_CallOverhead);

}  // namespace

BENCHMARK_MAIN();
