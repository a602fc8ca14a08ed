// GUI-thread cost of the 2D view per result: a recorded OD cycle goes through the result chain
// once; each iteration then makes a fresh primed result from it (as the transformer does per
// cycle), hands it to the visible view (images converted, panes and pixel panel updated) and
// paints the view. Reported as a share of the sensor's 40 ms cycle and as a ratio to a copy of the
// result record measured in the same run. Runs on the offscreen platform unless another is set.

#include "2D3D/view2d_trvaxx.h"

#include "bench/common/ratioreporter.h"
#include "result/dataoutput_trvaxx.h"
#include "result/resultchain_trvaxx.h"
#include "result/resulttransformer_trvaxx.h"
#include "tests/support/resultstreambuilder.h"

#include <benchmark/benchmark.h>

#include <QApplication>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

struct Setup {
    ResultChain_TRVAXX chain;
    ResultTransformer_TRVAXX transformer{&chain.cache()};
    View2D_TRVAXX view;
    bool ok = false;

    Setup() {
        resulttest::Identification id;
        resulttest::CycleBuilder cycle(resulttest::Variant::OD, id);
        cycle.fillImage(7);
        const QByteArray packet = DataOutput_TRVAXX::serializeChunks(cycle.chunks());
        ok = chain.processPacket(packet.constData(), unsigned(packet.size())) ==
             ResultChain_TRVAXX::PacketResult::Processed;
        QObject::connect(&transformer, SIGNAL(processNewData(PrimedResultSP_TRVAXX_t)), &view,
                         SLOT(processNewData(PrimedResultSP_TRVAXX_t)));
        QObject::connect(&transformer, SIGNAL(sizeChanged(uint, uint)), &view, SLOT(setSize(uint, uint)));
        view.show();
        view.pixelPosChanged(20, 5); // the panel shows a pixel too
        QCoreApplication::processEvents();
    }
};

// Made on first use, destroyed before the application object.
std::unique_ptr<Setup> instance;
Setup& setup() {
    if (!instance)
        instance = std::make_unique<Setup>();
    return *instance;
}

enum class Paint { None, Changed, Whole };

void perResult(benchmark::State& state, bool visible, Paint paint) {
    Setup& s = setup();
    if (!s.ok) {
        state.SkipWithError("the recorded cycle did not interpret");
        return;
    }
    s.view.setVisible(visible);
    for (auto _ : state) {
        s.transformer.slotProcessNewData();
        if (paint == Paint::Changed)
            QCoreApplication::processEvents(); // the update requests of what changed
        else if (paint == Paint::Whole)
            s.view.repaint();
    }
    if (visible && !s.view.primedResult())
        state.SkipWithError("the view got no result");
}

void BM_View2DWholeRepaint(benchmark::State& state) {
    perResult(state, true, Paint::Whole);
}
void BM_View2DPaintChanged(benchmark::State& state) {
    perResult(state, true, Paint::Changed);
}
void BM_View2DNoPaint(benchmark::State& state) {
    perResult(state, true, Paint::None);
}
void BM_View2DHidden(benchmark::State& state) {
    perResult(state, false, Paint::None);
}

void BM_CopyOfTheRecord(benchmark::State& state) {
    static ResultData_TRVAXX source, target;
    for (auto _ : state) {
        target = source;
        benchmark::ClobberMemory();
    }
}

BENCHMARK(BM_View2DWholeRepaint)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_View2DPaintChanged)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_View2DNoPaint)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_View2DHidden)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CopyOfTheRecord)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bench::RatioReporter reporter;
    bench::runWithRatios(argc, argv, reporter);
    bench::printCycleShares(reporter, "2D view per result,", "BM_CopyOfTheRecord", "a copy of the record",
                            {{"BM_View2DPaintChanged", "images, panel and painting what changed"},
                             {"BM_View2DWholeRepaint", "images, panel and a repaint of the whole view"},
                             {"BM_View2DNoPaint", "images and panel, no painting"},
                             {"BM_View2DHidden", "hidden (primed result only)"}});
    instance.reset();
    benchmark::Shutdown();
    return 0;
}
