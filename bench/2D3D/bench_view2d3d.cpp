// GUI-thread cost of the joint view: per result (the overlay redrawn over the current picture:
// grid, 1024 sensor pixels, object boxes, field of view) and per camera picture (a 640 x 480
// picture rectified and shown), each as a share of the sensor's 40 ms cycle and as a ratio to a
// copy of the picture measured in the same run. The scene is a frame of the virtual sensor's.
// Runs on the offscreen platform unless another is set.

#include "2D3D/view2d3d_trvaxx.h"

#include "bench/common/ratioreporter.h"
#include "result/resultcache_trvaxx.h"
#include "result/resulttransformer_trvaxx.h"
#include "simulator/camera/camerarenderer.h"
#include "tests/support/truthrecord.h"
#include "visualization2d/view2d.h"

#include <benchmark/benchmark.h>

#include <QApplication>

#include <memory>

namespace {

struct Setup {
    ResultCache_TRVAXX cache;
    ResultTransformer_TRVAXX transformer{&cache};
    View2D3D_TRVAXX view;
    QImage picture;

    Setup() {
        trvsim::SceneSettings settings;
        settings.pose = trvsim::defaultCameraPose();
        const trvsim::Scene scene(settings);
        auto truth = std::make_unique<trvsim::FrameTruth>();
        scene.render(10, *truth);
        trvsim::CameraRenderer camera;
        picture = camera.render(*truth);
        QObject::connect(&transformer, SIGNAL(processNewData(PrimedResultSP_TRVAXX_t)), &view,
                         SLOT(processNewData(PrimedResultSP_TRVAXX_t)));
        view.resize(700, 520);
        view.show();
        view.setRectifyImageEnabled(true);
        cache.setResult(resulttest::recordFromTruth(*truth, "OD "));
        view.newImage(picture);
        QCoreApplication::processEvents();
    }
};

std::unique_ptr<Setup> instance;
Setup& setup() {
    if (!instance)
        instance = std::make_unique<Setup>();
    return *instance;
}

void BM_JointViewPerResult(benchmark::State& state) {
    Setup& s = setup();
    for (auto _ : state) {
        s.transformer.slotProcessNewData();
        s.view.pane()->viewport()->repaint();
    }
}

void BM_JointViewPerRectifiedPicture(benchmark::State& state) {
    Setup& s = setup();
    for (auto _ : state) {
        s.view.newImage(s.picture);
        s.view.pane()->viewport()->repaint();
    }
}

void BM_CopyOfThePicture(benchmark::State& state) {
    const QImage source = setup().picture;
    for (auto _ : state) {
        QImage copy = source.copy();
        benchmark::DoNotOptimize(copy.bits());
    }
}

BENCHMARK(BM_JointViewPerResult)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_JointViewPerRectifiedPicture)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CopyOfThePicture)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bench::RatioReporter reporter;
    bench::runWithRatios(argc, argv, reporter);
    bench::printCycleShares(reporter, "Joint view", "BM_CopyOfThePicture", "a copy of the picture",
                            {{"BM_JointViewPerResult", "per result (overlay over the current picture)"},
                             {"BM_JointViewPerRectifiedPicture", "per camera picture (rectified, shown)"}});
    instance.reset();
    benchmark::Shutdown();
    return 0;
}
