// libFuzzer target: any bytes given to the CSV reader end in a measurement or
// an ocu::Error, never a crash, a hang or a huge allocation. A measurement it
// accepts is drawn as a polar plot too, so that odd point sets reach the
// triangulation.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "field/measurement.hpp"
#include "field/polarplot.hpp"
#include "toolkit/error.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const ocu::field::Measurement m = ocu::field::parse_csv(text, "fuzz.csv");
        if (m.points.size() < 3) std::abort();
        ocu::field::PlotOptions opts;
        if (!m.eye) opts.eye = ocu::field::Eye::OD;
        const ocu::field::PolarPlot p = ocu::field::polar_plot(m, opts);
        if (p.image.rows() != 400 || p.image.cols() != 400 || p.image.planes() != 3) std::abort();
    } catch (const ocu::Error&) {
    }
    return 0;
}
