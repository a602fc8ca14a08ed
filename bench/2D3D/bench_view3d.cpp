// The 3D view's work on the GUI thread for one result with every scene part in use (20 objects,
// collision avoidance, the object table, the corner image, the cloud's 1024 points and their
// colours), as a share of the sensor's 40 ms cycle. Each iteration gets a fresh primed result, so
// the lazily computed images it asks for are part of the cost. The scene graph's frame (render
// into the widget's framebuffer and read it back) is measured apart. Run under xvfb-run.

#include "2D3D/view3d_trvaxx.h"
#include "result/resultchain_trvaxx.h"
#include "result/resulttransformer_trvaxx.h"

#include "bench/common/ratioreporter.h"

#include <benchmark/benchmark.h>

#include <QApplication>

#include <cmath>
#include <cstdio>

namespace {

constexpr double kCycleSeconds = 0.040;

ResultDataSP_TRVAXX busyRecord() {
    auto r = ResultDataSP_TRVAXX::create();
    r->sensorWidth = TRVAXX_SENSOR_WIDTH;
    r->sensorHeight = TRVAXX_SENSOR_HEIGHT;
    r->cameraVariant = QStringLiteral("OD");
    for (int i = 0; i < TRVAXX_PIXEL_COUNT; ++i) {
        const float col = float(i % 64), row = float(i / 64);
        r->X[size_t(i)] = 2.0f + 0.1f * row + std::sin(col) * 0.2f;
        r->Y[size_t(i)] = 1.6f - 0.05f * col;
        r->Z[size_t(i)] = 0.1f * row;
        r->cameraAxisDistance[size_t(i)] = r->X[size_t(i)];
        r->normalizedAmplitude[size_t(i)] = float((i * 37) % 4000);
        r->confidence[size_t(i)] = uint16_t((i % 4) << 1);
    }
    for (int k = 0; k < TRVAXX_OBJECT_COUNT; ++k) {
        DetectedObject_TRVAXX& o = r->objects.objects[size_t(k)];
        o.id = k;
        o.type = k % 5 == 0 ? 2 : 1;
        o.x1 = 3.0f + float(k);
        o.x2 = o.x1 + 0.8f;
        o.y1 = float(k % 4) - 2.0f;
        o.y2 = o.y1 + 0.6f;
        o.zMax = 1.5f;
        o.vX = -1.0f;
    }
    r->objects.crashPredicted = 1;
    r->objects.crashPredictorValid = 1;
    r->objects.crashObjectID = 3;
    r->cameraCalibration = {0.1f, 0.0f, 1.3f, 0.0f, float(M_PI / 2), float(-M_PI / 2)};
    return r;
}

struct Fixture {
    ResultChain_TRVAXX chain;
    ResultTransformer_TRVAXX transformer{&chain.cache()};
    PrimedResultSP_TRVAXX_t last;
    View3D_TRVAXX view;

    Fixture() {
        QObject::connect(&transformer, &ResultTransformer_TRVAXX::processNewData,
                         [this](PrimedResultSP_TRVAXX_t p) { last = p; });
        chain.cache().setResult(busyRecord());
        view.resize(1024, 700);
        view.setTablesVisible(true);
        view.show();
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents();
        view.processNewData(next()); // builds the variant's parts
    }
    PrimedResultSP_TRVAXX_t next() {
        transformer.slotProcessNewData();
        return last;
    }
};

Fixture* fixture = nullptr;

void BM_ProcessNewData(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        PrimedResultSP_TRVAXX_t p = fixture->next();
        state.ResumeTiming();
        fixture->view.processNewData(p);
    }
}
BENCHMARK(BM_ProcessNewData)->Unit(benchmark::kMicrosecond);

void BM_Frame(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(fixture->view.getOsgView()->grabFramebuffer());
}
BENCHMARK(BM_Frame)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Fixture f;
    fixture = &f;
    bench::RatioReporter reporter;
    bench::runWithRatios(argc, argv, reporter);
    const double process = reporter.time("BM_ProcessNewData") * 1e-6; // µs → s
    const double frame = reporter.time("BM_Frame") * 1e-6;
    std::printf("\n3D view per result on the GUI thread: %.2f %% of the 40 ms cycle\n",
                100.0 * process / kCycleSeconds);
    std::printf("scene-graph frame with read-back (apart): %.2f %% of the 40 ms cycle\n",
                100.0 * frame / kCycleSeconds);
    return 0;
}
