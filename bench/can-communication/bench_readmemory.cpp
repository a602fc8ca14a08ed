// The CAN stack's throughput without bus timing, from one run:
// - frames per second through the bus thread: scripted device -> MultiReceiveCanProxy -> a
//   receiver's queue -> the reader;
// - one ReadMemoryByAddress of 4094 bytes (a 4095-byte answer: first frame and 585 consecutive
//   frames) through proxy and DiagPC, as a fraction of the time a 500 kbit/s bus needs for its
//   frames (29-bit frames of 8 bytes: 131 bits before stuffing). The request's own 30 ms pause
//   between its two frames is part of the read;
// - over socketcand to the virtual sensor (its bus timing off): the largest region the sensor
//   lets one read, the DSP parameter block with its size word, through the interface plug-in.
#include "can-communication/diagpc.h"
#include "can-communication/multireceivecanproxy.h"
#include "tests/can-communication/scriptedcandevice.h"
#include "tests/can-communication/simcansensor.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

constexpr int kSize = 4094;
// Request (first and consecutive frame), our flow control, the answer's first frame and its 585
// consecutive frames.
constexpr int kFramesPerRead = 2 + 1 + 1 + (kSize + 1 - 6 + 6) / 7;
constexpr double kBitsPerFrame = 131.0;
constexpr double kBusBitRate = 500000.0;
constexpr int kBurst = 4096;

struct Stack {
    ScriptedCanDevice device{0x2A};
    QByteArray memory = QByteArray(kSize, '\x5A');
    MultiReceiveCanProxy proxy{&device};
    ProxyPort port{&proxy};
    DiagPC diag{&port, 0x2A};
    Stack() {
        device.onRequest = [this](ScriptedCanDevice& d, uint32_t, const QByteArray&) {
            d.reply(char(0x63) + memory);
        };
    }
    // Pushes a burst of frames and takes them out of the receiver's queue.
    bool burst() {
        for (int i = 0; i < kBurst; ++i)
            device.push(0x18FEF100u, QByteArray(8, char(i)));
        CanFrame frame;
        for (int taken = 0; taken < kBurst;)
            taken += port.queue().takeFrame(frame) ? 1 : 0;
        return true;
    }
    bool read() {
        QByteArray data;
        return diag.readMemoryByAddress(0x1000, kSize, data) == DIAG_OK && data == memory;
    }
};

void BM_ProxyBurst(benchmark::State& state) {
    Stack stack;
    for (auto _ : state)
        stack.burst();
    state.SetItemsProcessed(state.iterations() * kBurst);
}
BENCHMARK(BM_ProxyBurst)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_ReadMemory4094(benchmark::State& state) {
    Stack stack;
    for (auto _ : state)
        if (!stack.read()) {
            state.SkipWithError("read failed");
            break;
        }
    state.SetItemsProcessed(state.iterations() * kFramesPerRead);
    state.SetBytesProcessed(state.iterations() * kSize);
}
BENCHMARK(BM_ReadMemory4094)->UseRealTime()->Unit(benchmark::kMillisecond);

// Wall seconds of `count` calls of `step`.
template <typename Step> double seconds(int count, Step step) {
    const qint64 start = DiagClock::system().nowMs();
    for (int i = 0; i < count; ++i)
        if (!step())
            return -1;
    return std::max<qint64>(1, DiagClock::system().nowMs() - start) / 1000.0;
}

// A DI 3.4 virtual sensor on an unpaced socketcand bus, connected through the interface plug-in.
struct SocketcandStack {
    static constexpr uint32_t kDspRegion = 0xC1A00400;
    static constexpr int kDspRegionSize = 4 + 1536;
    SimCanSensor sim{trvsim::Variant::DI, trvsim::Model::TRVADN, {3, 4, 1}};
    CanBusController controller;
    bool ok = false;
    SocketcandStack() {
        controller.setInterfaceUrl(sim.url());
        // Memory reads need the extended session, which the verification read opens.
        ok = sim.started && controller.connectDevice(SimCanSensor::address(250000), true) == 0;
    }
    bool read() {
        QByteArray data;
        return controller.diagnosis()->readMemoryByAddress(kDspRegion, kDspRegionSize, data) == DIAG_OK &&
               data.size() == kDspRegionSize;
    }
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv); // the interface plug-in's transport uses Qt's event loops
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // Both waits are on another thread, so the ratios use wall time, measured here in one run.
    Stack stack;
    const double burstSeconds = seconds(20, [&] { return stack.burst(); });
    const double readSeconds = seconds(20, [&] { return stack.read(); }) / 20;
    if (burstSeconds <= 0 || readSeconds <= 0)
        return 1;
    const double busSeconds = kFramesPerRead * kBitsPerFrame / kBusBitRate;
    std::printf("frames through the proxy per second: %.0f (= %.0f x the frame rate of a 500 kbit/s bus)\n",
                20 * kBurst / burstSeconds, 20 * kBurst / burstSeconds / (kBusBitRate / kBitsPerFrame));
    std::printf("ReadMemoryByAddress 4094 bytes: payload rate / 500 kbit/s bus limit = %.2f (%d frames, bus "
                "%.0f ms)\n",
                busSeconds / readSeconds, kFramesPerRead, busSeconds * 1000);
    std::printf("frames dropped by the bounded queue: %llu\n",
                static_cast<unsigned long long>(stack.port.queue().droppedFrames()));

    SocketcandStack remote;
    if (!remote.ok) {
        std::printf("socketcand: no interface plug-in or no sensor; skipped\n");
        return 0;
    }
    const double remoteSeconds = seconds(10, [&] { return remote.read(); }) / 10;
    if (remoteSeconds <= 0)
        return 1;
    const int remoteFrames = 2 + 1 + 1 + (SocketcandStack::kDspRegionSize + 1) / 7;
    const double remoteBus = remoteFrames * kBitsPerFrame / kBusBitRate;
    std::printf("socketcand ReadMemoryByAddress %d bytes: %.0f frames/s, payload rate / 500 kbit/s bus limit "
                "= %.2f\n",
                SocketcandStack::kDspRegionSize, remoteFrames / remoteSeconds, remoteBus / remoteSeconds);
    return 0;
}
