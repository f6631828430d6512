// Reading a 12-megapixel JPEG (4000 x 3000) with imread.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QString>
#include <cmath>
#include <cstdlib>
#include <string>

#include "toolkit/imageio.hpp"

namespace {

// Writes a photo-like test picture once (smooth gradients plus fine texture,
// so the JPEG is about as large as a camera's) and removes it at exit.
const std::string& big_jpeg() {
    static const std::string path = [] {
        const std::string p = "/tmp/ocu_bench_12mp_" + std::to_string(::getpid()) + ".jpg";
        QImage img(4000, 3000, QImage::Format_RGB888);
        for (int y = 0; y < img.height(); ++y) {
            uchar* line = img.scanLine(y);
            for (int x = 0; x < img.width(); ++x) {
                const double t = std::sin(x * 0.01) * std::cos(y * 0.013);
                const int texture = static_cast<int>((x * 7919u + y * 104729u) % 23u);
                line[3 * x] = static_cast<uchar>(100 + 80 * t + texture);
                line[3 * x + 1] = static_cast<uchar>(120 + 60 * std::sin(y * 0.004) + texture);
                line[3 * x + 2] = static_cast<uchar>((x + y) / 40 % 200 + texture);
            }
        }
        QImageWriter writer(QString::fromStdString(p), "jpeg");
        writer.setQuality(90);
        if (!writer.write(img)) std::abort();
        std::atexit([] { ::unlink(big_jpeg().c_str()); });
        return p;
    }();
    return path;
}

void BM_ImreadJpeg12Mp(benchmark::State& state) {
    const std::string& path = big_jpeg();
    for (auto _ : state) benchmark::DoNotOptimize(ocu::imread(path));
    state.SetItemsProcessed(state.iterations() * 4000 * 3000);
}
BENCHMARK(BM_ImreadJpeg12Mp)->Unit(benchmark::kMillisecond);

// For comparison: the codec alone, up to Qt's interleaved picture.
void BM_QtDecodeJpeg12Mp(benchmark::State& state) {
    const QString path = QString::fromStdString(big_jpeg());
    for (auto _ : state) {
        QImageReader reader(path);
        benchmark::DoNotOptimize(reader.read());
    }
    state.SetItemsProcessed(state.iterations() * 4000 * 3000);
}
BENCHMARK(BM_QtDecodeJpeg12Mp)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
