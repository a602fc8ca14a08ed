// Firmware flashing, from one run:
// - reading and checking a 1 MB flash container in memory (header, header checks, block headers);
// - a firmware update of that container to the virtual sensor with its bus timing on at
//   500 kbit/s and its flow control at block size 0: the payload rate of the download (first
//   TransferData request to the last TransferData answer, time stamps of the frame trace) and of
//   the whole update (from the call to its return, less the scaled reboot wait), both as fractions
//   of the bus limit for ISO-TP payload (7 bytes per 131-bit frame).
#include "can-communication/flashcontainer.h"
#include "common/commonutilities.h"
#include "tests/can-communication/simcansensor.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>

namespace {

constexpr double kBitsPerFrame = 131.0;
constexpr double kBusBitRate = 500000.0;
constexpr int kImageSize = 1024 * 1024;
constexpr uint32_t kRequestId = 0x18DAEFF1u | 0x80000000u; // node 239, extended
constexpr uint32_t kAnswerId = 0x18DAF1EFu | 0x80000000u;

QByteArray firmwareImage() {
    QByteArray data("TRVSIM-FW block=DSP version=3.4.2\n");
    data.reserve(kImageSize);
    for (uint32_t state = 1; data.size() < kImageSize;) {
        state = state * 1664525u + 1013904223u;
        data.append(char(state >> 24));
    }
    return data;
}

QByteArray containerFor(const SensorIdentity& id) {
    QString error;
    return FlashContainer::build({{id.articleNumber},
                                  QByteArray(1, char(id.mainboardVersionNumber)),
                                  QByteArray(1, char(id.frontendVersionNumber)),
                                  QByteArray(1, char(id.illuHardwareVersionNumber))},
                                 {FlashBlock::fromData("DSP", 0x60, firmwareImage())}, error);
}

void BM_ReadContainer1MB(benchmark::State& state) {
    SensorIdentity id;
    id.articleNumber = QStringLiteral("TRVAFN-R2A1");
    id.mainboardVersionNumber = id.frontendVersionNumber = id.illuHardwareVersionNumber = 1;
    const QByteArray bytes = containerFor(id);
    for (auto _ : state) {
        FlashContainer c;
        QString error;
        if (c.parseHeader(bytes) || c.checkHeader(id.articleNumber, 1, 1, 1) || c.parseBlocks(error)) {
            state.SkipWithError("container refused");
            break;
        }
        benchmark::DoNotOptimize(c.blocks());
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}
BENCHMARK(BM_ReadContainer1MB)->Unit(benchmark::kMicrosecond);

// Reception times of the frames with `identifier` whose data start as `match` says, from a pcap
// trace (SocketCAN link type).
template <typename Match>
std::vector<double> tracedTimes(const QString& path, uint32_t identifier, Match match) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray all = file.readAll();
    std::vector<double> times;
    for (qsizetype at = 24; at + 16 + 8 <= all.size();) {
        const char* r = all.constData() + at;
        const uint32_t length = qFromLittleEndian<uint32_t>(r + 8);
        if (length < 8 || length > 16 || at + 16 + length > all.size())
            break;
        if (qFromBigEndian<uint32_t>(r + 16) == identifier && match(reinterpret_cast<const uint8_t*>(r + 24)))
            times.push_back(qFromLittleEndian<uint32_t>(r) + qFromLittleEndian<uint32_t>(r + 4) / 1e6);
        at += 16 + length;
    }
    return times;
}

int reportPacedFlash() {
    SimCanSensor sim{
        trvsim::Variant::OD, trvsim::Model::TRVAFN, {3, 4, 1}, nullptr, [](trvsim::CanConfig& can) {
            can.bitRate = 500000;
            can.pace = true;
            can.blockSize = 0;
        }};
    QTemporaryDir dir;
    CanBusController controller;
    controller.setInterfaceUrl(sim.url());
    controller.setTracePath(dir.filePath(QStringLiteral("flash.pcap")));
    if (!sim.started || controller.connectDevice(SimCanSensor::address(int(kBusBitRate)), true) != 0 ||
        controller.readIdentity() != 0) {
        std::printf("paced flash: no interface plug-in or no sensor; skipped\n");
        return 0;
    }
    const QString path = dir.filePath(QStringLiteral("fw.fcr"));
    QFile file(path);
    const QByteArray bytes = containerFor(controller.identity());
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return 1;
    file.close();

    const auto start = std::chrono::steady_clock::now();
    const int result = controller.firmwareupdate(path, true);
    const double whole = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() -
                         CommonUtilities::scaledMs(10000) / 1000.0;
    const QString trace = dir.filePath(QStringLiteral("flash.pcap"));
    // TransferData requests are first frames "1L LL 36"; their answers single frames "02 76".
    const auto requests = tracedTimes(trace, kRequestId,
                                      [](const uint8_t* d) { return (d[0] & 0xF0) == 0x10 && d[2] == 0x36; });
    const auto answers =
        tracedTimes(trace, kAnswerId, [](const uint8_t* d) { return d[0] == 0x02 && d[1] == 0x76; });
    // The flash driver's pieces come first; the image's are the last ones.
    const size_t pieces = (kImageSize + 4092) / 4093;
    if (result != 0 || requests.size() < pieces || answers.size() < pieces) {
        std::printf("paced flash: update failed with %d\n", result);
        return 1;
    }
    const double limit = kBusBitRate / kBitsPerFrame * 7;
    const double download = answers.back() - requests[requests.size() - pieces];
    std::printf(
        "paced 500 kbit/s flash of a %lld-byte container (%d data bytes in %zu TransferData pieces, "
        "flow control block size 0): download %.2f s, payload rate / bus limit (%.0f bytes/s) = %.3f; "
        "whole update (session, security, driver, erase, CRC check, reset) %.2f s, / bus limit = "
        "%.3f\n",
        static_cast<long long>(bytes.size()), kImageSize, pieces, download, limit,
        kImageSize / download / limit, whole, kImageSize / whole / limit);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // The update's waits (retry, reboot) and the sensor's restart are scaled down; the download is not.
    qputenv("TRVAXX_TIME_SCALE", "0.01");
    QCoreApplication app(argc, argv); // the interface plug-in's transport uses Qt's event loops
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return reportPacedFlash();
}
