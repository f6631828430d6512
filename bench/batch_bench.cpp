// Throughput of `ocumbra-sim batch` over 100 photos of 640 x 480 with one and
// with two jobs (the tool is run as a separate process; wall-clock time).
// Each photo is the sample NatIm13.jpg (400 x 600) repeated to 480 x 640 from
// a different starting row and column, written once as PNG.
#include <benchmark/benchmark.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "toolkit/imageio.hpp"
#include "toolkit/paths.hpp"

namespace {

namespace fs = std::filesystem;
constexpr int kPhotos = 100;

fs::path g_made;  // the folder once made, removed at the end

const fs::path& work_dir() {
    static const fs::path dir = [] {
        const fs::path d = fs::temp_directory_path() / ("ocumbra_batch_bench_" + std::to_string(::getpid()));
        fs::create_directories(d / "in");
        const auto src = std::get<ocu::ArrayU8>(ocu::imread(ocu::find_data_file("NatIm13.jpg")));
        for (int k = 0; k < kPhotos; ++k) {
            ocu::ArrayU8 a(480, 640, 3);
            const std::size_t dr = 3 * static_cast<std::size_t>(k), dc = 5 * static_cast<std::size_t>(k);
            for (std::size_t p = 0; p < 3; ++p)
                for (std::size_t c = 0; c < 640; ++c)
                    for (std::size_t r = 0; r < 480; ++r)
                        a(r, c, p) = src((r + dr) % src.rows(), (c + dc) % src.cols(), p);
            ocu::imwrite(ocu::AnyImage(std::move(a)), (d / "in" / std::to_string(k)).string() + ".png");
        }
        g_made = d;
        return d;
    }();
    return dir;
}

const char* const kSimulations[] = {"glare --glare 5", "fixindep --acuity 0.1", "fixdep"};

void BM_Batch(benchmark::State& state) {
    const std::string sim = kSimulations[state.range(0)];
    const int jobs = static_cast<int>(state.range(1));
    const fs::path in = work_dir() / "in", out = work_dir() / "out";
    state.SetLabel(sim);
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(out);
        state.ResumeTiming();
        std::string cmd = "'";
        cmd.append(ocu::program_data_dir()).append("ocumbra-sim' batch --jobs ").append(std::to_string(jobs));
        cmd.append(" --out '").append(out.string()).append("' ").append(sim);
        cmd.append(" '").append(in.string()).append("' >/dev/null");
        if (std::system(cmd.c_str()) != 0) state.SkipWithError("the batch failed");
    }
    state.SetItemsProcessed(state.iterations() * kPhotos);
}
BENCHMARK(BM_Batch)
    ->ArgsProduct({{0, 1, 2}, {1, 2}})
    ->ArgNames({"sim", "jobs"})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    if (!g_made.empty()) fs::remove_all(g_made, ec);
    return 0;
}
