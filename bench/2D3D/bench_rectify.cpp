// Rectification of a 640 x 480 camera picture (one table read and twelve integer multiplications
// per pixel) against a plain per-pixel copy and memcpy of the same picture, in one run: the ratio
// of the times is the figure to watch.

#include "2D3D/cameramodel2d3d.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

constexpr int kWidth = 640, kHeight = 480;

QImage picture() {
    QImage image(kWidth, kHeight, QImage::Format_RGB888);
    for (int y = 0; y < kHeight; ++y) {
        uchar* line = image.scanLine(y);
        for (int x = 0; x < kWidth * 3; ++x)
            line[x] = uchar(x * 7 + y * 3);
    }
    return image;
}

void BM_Rectify(benchmark::State& state) {
    Calibration2d_TRVAXX c;
    c.intrCalib_2D_fx = c.intrCalib_2D_fy = 560;
    c.intrCalib_2D_mx = 320;
    c.intrCalib_2D_my = 240;
    c.intrCalib_k1 = -0.3f;
    c.intrCalib_k2 = 0.1f;
    CameraModel2D3D model;
    model.setModel(c);
    const QImage source = picture();
    model.prepareRectification(kWidth, kHeight);
    for (auto _ : state)
        benchmark::DoNotOptimize(model.rectify(source));
    state.SetBytesProcessed(state.iterations() * kWidth * kHeight * 3);
}

void BM_PerPixelCopy(benchmark::State& state) {
    const QImage source = picture();
    for (auto _ : state) {
        QImage target(kWidth, kHeight, QImage::Format_RGB888);
        for (int y = 0; y < kHeight; ++y) {
            const uchar* in = source.constScanLine(y);
            uchar* out = target.scanLine(y);
            for (int x = 0; x < kWidth; ++x, in += 3, out += 3)
                for (int c = 0; c < 3; ++c)
                    out[c] = in[c];
        }
        benchmark::DoNotOptimize(target);
    }
    state.SetBytesProcessed(state.iterations() * kWidth * kHeight * 3);
}

void BM_Memcpy(benchmark::State& state) {
    const QImage source = picture();
    for (auto _ : state) {
        QImage target(kWidth, kHeight, QImage::Format_RGB888);
        std::memcpy(target.bits(), source.constBits(), std::size_t(source.sizeInBytes()));
        benchmark::DoNotOptimize(target);
    }
    state.SetBytesProcessed(state.iterations() * kWidth * kHeight * 3);
}

BENCHMARK(BM_Rectify);
BENCHMARK(BM_PerPixelCopy);
BENCHMARK(BM_Memcpy);

} // namespace

BENCHMARK_MAIN();
