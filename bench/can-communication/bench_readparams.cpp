// ReadAllParameters of an OD 3.4 virtual sensor on a 250 kbit/s bus with its bus timing on,
// against the time the bus needs for the frames the reads move (29-bit frames of 8 bytes: 131
// bits): the request and answer frames of both session changes and of every ReadMemoryByAddress,
// with the flow controls of both sides. Each read request is segmented (8 bytes of payload) and
// waits the protocol's 30 ms between its two frames; that fixed pause is reported apart.
#include "can-communication/ReadParam.h"
#include "can-communication/diagpc.h"
#include "can-communication/paramtransfer.h"
#include "tests/can-communication/simcansensor.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>

namespace {

constexpr double kBitsPerFrame = 131.0;
constexpr int kBitRate = 250000;

// Frames of one ReadMemoryByAddress of `size` bytes: request first and consecutive frame, the
// sensor's flow control, the answer (0x63 and the data: a single frame, or a first frame, its
// consecutive frames and our flow control).
int readFrames(int size) {
    const int answer = size + 1;
    return 3 + (answer <= 7 ? 1 : 2 + (answer - 6 + 6) / 7);
}

// The reads ReadAllParameters makes of a DSP body and a KP body, in request sizes.
int parameterFrames(int dspBody, int kpBody, int& reads) {
    int frames = 2 * 2; // the two session changes, request and answer each
    reads = 0;
    auto add = [&](int size) {
        for (int left = size; left > 0; left -= ReadParam::kMaxRead, ++reads)
            frames += readFrames(std::min(left, ReadParam::kMaxRead));
    };
    add(4);
    add(dspBody);
    add(ReadParam::kHeaderSize);
    add(ReadParam::kHeaderSize + kpBody);
    return frames;
}

struct PacedSensor {
    SimCanSensor sim{trvsim::Variant::OD, trvsim::Model::TRVAFN, {3, 4, 1}};
    CanBusController controller;
    bool ok = false;
    PacedSensor() {
        trvsim::CanConfig can;
        can.listen = "127.0.0.1:0";
        can.bitRate = kBitRate;
        can.pace = true;
        sim.bus = trvsim::buildCanBus(
            {sim.sensor.get()}, can, trvsim::makeSensorNodes, [](int, const std::string&) {}, 0);
        if (!sim.started || !sim.bus->start())
            return;
        controller.setInterfaceUrl(sim.url());
        ok = controller.connectDevice(SimCanSensor::address(kBitRate), true) == 0 &&
             controller.readIdentity() == 0;
    }
};

PacedSensor* sensor = nullptr;

void BM_ReadAllParametersOD34At250k(benchmark::State& state) {
    if (!sensor->ok) {
        state.SkipWithError("no interface plug-in or no sensor");
        return;
    }
    for (auto _ : state)
        if (!sensor->controller.ReadAllParameters()) {
            state.SkipWithError("ReadAllParameters failed");
            return;
        }
}
BENCHMARK(BM_ReadAllParametersOD34At250k)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv); // the interface plug-in's transport uses Qt's event loops
    PacedSensor paced;
    sensor = &paced;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!paced.ok) {
        std::printf("paced bus: no interface plug-in or no sensor; skipped\n");
        return 0;
    }
    // One timed run for the ratio, on the wall clock (the bus runs on other threads).
    const auto start = std::chrono::steady_clock::now();
    if (!paced.controller.ReadAllParameters())
        return 1;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const ParamTransfer& blocks = paced.controller.parameterBlocks();
    const int dspBody = int(blocks.dspImage().size());
    const int kpBody = int(blocks.kpImage().size()) - ReadParam::kHeaderSize;
    int reads = 0;
    const int frames = parameterFrames(dspBody, kpBody, reads);
    const double busSeconds = frames * kBitsPerFrame / kBitRate;
    const double pauses = reads * DiagnosticTimeouts::readMemoryConsecutiveDelay / 1000.0;
    std::printf(
        "ReadAllParameters OD 3.4 at 250 kbit/s: %.1f ms for DSP %d + KP %d bytes in %d reads (%d frames, "
        "bus time %.1f ms): bus limit / measured = %.3f; without the %d x 30 ms request pauses %.3f\n",
        seconds * 1e3, dspBody, ReadParam::kHeaderSize + kpBody, reads, frames, busSeconds * 1e3,
        busSeconds / seconds, reads, busSeconds / (seconds - pauses));
    return 0;
}
