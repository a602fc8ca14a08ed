// The CAN stack's throughput without bus timing, from one run:
// - frames per second through the bus thread: scripted device -> MultiReceiveCanProxy -> a
//   receiver's queue -> the reader;
// - one ReadMemoryByAddress of 4094 bytes (a 4095-byte answer: first frame and 585 consecutive
//   frames) through proxy and DiagPC, as a fraction of the time a 500 kbit/s bus needs for its
//   frames (29-bit frames of 8 bytes: 131 bits, no stuff bits). The request's own 30 ms pause
//   between its two frames is part of the read;
// - over socketcand to the virtual sensor (its bus timing off): the largest region the sensor
//   lets one read, the DSP parameter block with its size word, through the interface plug-in;
// - the same with the sensor's bus timing on at 500 kbit/s: the biggest block the sensor lets one
//   read in one ReadMemoryByAddress, its answer's payload rate from the answer's first frame to its
//   last (time stamps of the frame trace, taken where the plug-in receives the frames) and the
//   whole request with its 30 ms pause, both as fractions of the bus limit for ISO-TP payload
//   (7 bytes per 131-bit frame), and the gaps between the answer's frames that show where the
//   time goes.
#include "can-communication/diagpc.h"
#include "can-communication/multireceivecanproxy.h"
#include "simulator/can/cantiming.h"
#include "tests/can-communication/scriptedcandevice.h"
#include "tests/can-communication/simcansensor.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

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

// One frame of a pcap trace (SocketCAN link type): reception time, identifier with the
// extended flag, data.
struct TracedFrame {
    double seconds;
    uint32_t identifier;
    QByteArray data;
};

std::vector<TracedFrame> readTrace(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray all = file.readAll();
    std::vector<TracedFrame> frames;
    for (qsizetype at = 24; at + 16 + 8 <= all.size();) {
        const char* r = all.constData() + at;
        const uint32_t length = qFromLittleEndian<uint32_t>(r + 8);
        if (length < 8 || length > 16 || at + 16 + length > all.size())
            break;
        frames.push_back({qFromLittleEndian<uint32_t>(r) + qFromLittleEndian<uint32_t>(r + 4) / 1e6,
                          qFromBigEndian<uint32_t>(r + 16), QByteArray(r + 24, length - 8)});
        at += 16 + length;
    }
    return frames;
}

// A virtual sensor whose bus runs at 500 kbit/s with its bus timing on, connected through the
// interface plug-in with a frame trace.
struct PacedStack {
    static constexpr uint32_t kAnswerId = 0x18DAF1EFu | 0x80000000u; // node 239, extended
    SimCanSensor sim{trvsim::Variant::DI, trvsim::Model::TRVADN, {3, 4, 1}};
    QTemporaryDir dir;
    CanBusController controller;
    bool ok = false;
    PacedStack() {
        trvsim::CanConfig can;
        can.listen = "127.0.0.1:0";
        can.bitRate = 500000;
        can.pace = true;
        sim.bus = trvsim::buildCanBus(
            {sim.sensor.get()}, can, trvsim::makeSensorNodes, [](int, const std::string&) {}, 0);
        if (!sim.started || !sim.bus->start())
            return;
        controller.setInterfaceUrl(sim.url()); // the port is known once the bus listens
        controller.setTracePath(dir.filePath(QStringLiteral("read.pcap")));
        ok = controller.connectDevice(SimCanSensor::address(int(kBusBitRate)), true) == 0;
    }
    bool read(uint32_t address, int size, QByteArray& data) {
        return controller.diagnosis()->readMemoryByAddress(address, size, data) == DIAG_OK &&
               data.size() == size;
    }
    // The biggest block one read may take (at most 4094 bytes): the KP image (its header says its
    // length at byte 36) or the DSP size word with the body.
    std::pair<uint32_t, int> biggestBlock() {
        QByteArray kpHeader, dspSize;
        if (!read(0x8000, 64, kpHeader) || !read(SocketcandStack::kDspRegion, 4, dspSize))
            return {0, 0};
        const int kp = int(qFromBigEndian<uint32_t>(kpHeader.constData() + 36));
        const int dsp = 4 + int(qFromLittleEndian<uint32_t>(dspSize.constData()));
        return kp >= dsp ? std::pair<uint32_t, int>{0x8000, std::min(kp, 4094)}
                         : std::pair<uint32_t, int>{SocketcandStack::kDspRegion, std::min(dsp, 4094)};
    }
};

// Returns 1 when the read failed.
int reportUnpacedRead() {
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

void reportPacedRead() {
    PacedStack paced;
    if (!paced.ok) {
        std::printf("paced bus: no interface plug-in or no sensor; skipped\n");
        return;
    }
    const auto [address, size] = paced.biggestBlock();
    QByteArray data;
    const auto start = std::chrono::steady_clock::now();
    const bool read = size > 0 && paced.read(address, size, data);
    const double wholeSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::vector<TracedFrame> frames = readTrace(paced.dir.filePath(QStringLiteral("read.pcap")));
    // The last answer whose first frame starts with 0x63: from it to its last consecutive frame.
    auto first = std::find_if(frames.rbegin(), frames.rend(), [](const TracedFrame& f) {
        return f.identifier == PacedStack::kAnswerId && f.data.size() >= 3 && (f.data[0] & 0xF0) == 0x10 &&
               uint8_t(f.data[2]) == 0x63;
    });
    if (!read || first == frames.rend() || size < 14) {
        std::printf("paced bus: ReadMemoryByAddress of %d bytes at 0x%X failed\n", size, address);
        return;
    }
    std::vector<double> gaps; // between the answer's consecutive frames
    double last = first->seconds;
    for (auto f = first.base(); f != frames.end(); ++f)
        if (f->identifier == PacedStack::kAnswerId && (f->data[0] & 0xF0) == 0x20) {
            gaps.push_back(f->seconds - last);
            last = f->seconds;
        }
    const double payload = size + 1; // 0x63 and the data
    const double limit = kBusBitRate / kBitsPerFrame * 7;
    const double answerSeconds = last - first->seconds;
    std::sort(gaps.begin() + 1, gaps.end()); // the first gap holds our flow control
    std::printf("paced 500 kbit/s ReadMemoryByAddress %d bytes at 0x%X: answer first to last frame %.1f ms, "
                "payload rate / bus limit (%.0f bytes/s) = %.3f; whole request with its 30 ms pause %.1f ms, "
                "/ bus limit = %.3f\n",
                size, address, answerSeconds * 1e3, limit, payload / answerSeconds / limit,
                wholeSeconds * 1e3, payload / wholeSeconds / limit);
    std::printf("  answer gaps: first frame to first consecutive frame %.0f us (flow control in between; bus "
                "%.0f us), consecutive frames median %.0f us, max %.0f us (bus %.0f us per frame)\n",
                gaps.front() * 1e6, 2 * kBitsPerFrame / kBusBitRate * 1e6, gaps[gaps.size() / 2] * 1e6,
                gaps.back() * 1e6, kBitsPerFrame / kBusBitRate * 1e6);
    // The ceiling the virtual bus allows: its bit count per 8-byte 29-bit frame against the limit's.
    const uint32_t bits = trvsim::canFrameBits(trvsim::SimCanFrame{0, true, 8, {}});
    std::printf(
        "  the virtual bus takes %u bits per 8-byte frame: its ceiling is %.3f of the limit, the answer "
        "reached %.3f of that ceiling\n",
        bits, kBitsPerFrame / bits, payload / answerSeconds / limit / (kBitsPerFrame / bits));
}

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

    // One CAN interface at a time: the unpaced stack goes before the paced one connects.
    if (const int status = reportUnpacedRead())
        return status;
    reportPacedRead();
    return 0;
}
