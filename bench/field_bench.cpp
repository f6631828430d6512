// A 24-2 perimetry file read and drawn as the 400 x 400 polar plot: import,
// conversion, Delaunay interpolation, blind spot and drawing, per file.
#include <benchmark/benchmark.h>

#include <string>

#include "field/field.hpp"
#include "toolkit/imageio.hpp"
#include "toolkit/paths.hpp"

namespace {

void import_and_plot(benchmark::State& state, const std::string& name) {
    const std::string path = ocu::find_data_file("fields/" + name);
    for (auto _ : state) {
        const ocu::field::Measurement m = ocu::field::read_measurement(path);
        ocu::field::PolarPlot p = ocu::field::polar_plot(m);
        benchmark::DoNotOptimize(p.image.data());
    }
}

void BM_Field24_2_Csv_ToPolarPlot(benchmark::State& state) { import_and_plot(state, "glaucoma_early_24-2_OD.csv"); }
void BM_Field24_2_Json_ToPolarPlot(benchmark::State& state) { import_and_plot(state, "glaucoma_advanced_24-2_OS.json"); }
void BM_Field24_2_Dicom_ToPolarPlot(benchmark::State& state) { import_and_plot(state, "hemianopia_right_24-2_OS.dcm"); }

}  // namespace

BENCHMARK(BM_Field24_2_Csv_ToPolarPlot)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Field24_2_Json_ToPolarPlot)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Field24_2_Dicom_ToPolarPlot)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
