// trvaxx-sim: a virtual TRVAXX sensor (or several) on the command line.

#include "simulator/camera/camerahttpserver.h"
#include "simulator/can/canbus.h"
#include "simulator/can/canresultsender.h"
#include "simulator/can/sensornodes.h"
#include "simulator/simcommandline.h"
#include "simulator/virtualsensor.h"

#include <QCoreApplication>
#include <QStringList>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <pthread.h>

namespace {

std::string summaryLine(const trvsim::VirtualSensor& sensor, uint64_t previousCycles, double seconds,
                        const trvsim::SimCanBus* bus) {
    const trvsim::SenderStatistics s = sensor.statistics();
    const trvsim::SimConfig& c = sensor.config();
    char can[160] = "no CAN";
    if (bus) {
        const trvsim::CanBusStatistics b = bus->statistics();
        std::snprintf(
            can, sizeof can, "%llu CAN frames (%llu lost), %llu CAN clients (%llu on another bit rate)%s",
            static_cast<unsigned long long>(b.frames), static_cast<unsigned long long>(b.lostFrames),
            static_cast<unsigned long long>(b.clients), static_cast<unsigned long long>(b.wrongRateClients),
            bus->statistics().joined ? ", joined" : "");
    }
    char line[512];
    std::snprintf(
        line, sizeof line, "%s %s %s:%u: %llu cycles (%.1f/s), %llu datagrams, %llu send errors, %s, %s",
        trvsim::variantName(c.identity.variant), c.identity.serialNumber.c_str(),
        sensor.localAddress().c_str(), sensor.localPort(), static_cast<unsigned long long>(s.cycles),
        seconds > 0 ? (s.cycles - previousCycles) / seconds : 0.0,
        static_cast<unsigned long long>(s.datagrams), static_cast<unsigned long long>(s.sendErrors), can,
        trvsim::stateName(sensor.state()));
    return line;
}

} // namespace

int main(int argc, char** argv) {
    // Qt's CAN bus module (--can-join qtcanbus://...) runs its devices on a Qt event loop.
    QCoreApplication application(argc, argv);
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    trvsim::CommandLine cl = trvsim::parseCommandLine(arguments);
    if (cl.outcome == trvsim::CommandLine::Help) {
        std::printf("%s", cl.message.c_str());
        return 0;
    }
    if (cl.outcome == trvsim::CommandLine::Error) {
        std::fprintf(stderr, "trvaxx-sim: %s\n", cl.message.c_str());
        std::fprintf(stderr, "Try 'trvaxx-sim --help'.\n");
        return 2;
    }

    // SIGINT and SIGTERM are taken synchronously by the main thread; the threads started below
    // inherit the blocked mask and are never interrupted.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::vector<std::unique_ptr<trvsim::VirtualSensor>> sensors;
    std::vector<trvsim::VirtualSensor*> sensorPointers;
    for (uint32_t i = 0; i < cl.can.sensorCount; ++i) {
        trvsim::SimConfig config = trvsim::sensorConfig(cl.config, i, cl.can.sensorCount);
        if (cl.can.enabled()) {
            const trvsim::CanConfig can = trvsim::sensorCanConfig(cl.can, i);
            config.canAddress = can.address;
            config.canopen = can.protocol == trvsim::CanProtocol::CANopen;
            config.canBitRate = can.bitRate;
        }
        sensors.push_back(std::make_unique<trvsim::VirtualSensor>(config));
        sensorPointers.push_back(sensors.back().get());
        if (!sensors.back()->start()) {
            std::fprintf(stderr, "trvaxx-sim: %s\n", sensors.back()->errorText().c_str());
            return 1;
        }
    }
    std::unique_ptr<trvsim::SimCanBus> bus;
    if (cl.can.enabled()) {
        bus = trvsim::buildCanBus(sensorPointers, cl.can, trvsim::makeSensorNodes, {}, cl.config.verbosity);
        if (cl.can.vehicle)
            bus->addNode(std::make_unique<trvsim::VehicleSender>(bus->bitRate()));
        if (!bus->start()) {
            std::fprintf(stderr, "trvaxx-sim: %s\n", bus->errorText().c_str());
            return 1;
        }
    }

    std::vector<std::unique_ptr<trvsim::CameraHttpServer>> cameras;
    for (std::size_t i = 0; cl.camera && i < sensors.size(); ++i) {
        const uint16_t port = cl.cameraPort == 0 ? 0 : uint16_t(cl.cameraPort + i);
        cameras.push_back(std::make_unique<trvsim::CameraHttpServer>(*sensors[i], cl.cameraAddress, port));
        if (!cameras.back()->start()) {
            std::fprintf(stderr, "trvaxx-sim: %s\n", cameras.back()->errorText().c_str());
            return 1;
        }
        if (cl.config.verbosity >= 1)
            std::fprintf(stderr, "trvaxx-sim: camera of sensor %zu on http://%s:%u/\n", i + 1,
                         cl.cameraAddress.empty() ? "127.0.0.1" : cl.cameraAddress.c_str(),
                         cameras.back()->port());
    }

    using clock = std::chrono::steady_clock;
    const auto begin = clock::now();
    auto lastSummary = begin;
    std::vector<uint64_t> lastCycles(sensors.size(), 0);
    int received = 0;
    while (true) {
        timespec oneSecond{1, 0};
        if (cl.durationSeconds > 0) {
            const double left =
                cl.durationSeconds - std::chrono::duration<double>(clock::now() - begin).count();
            if (left <= 0)
                break;
            if (left < 1.0)
                oneSecond = {0, static_cast<long>(left * 1e9)};
        }
        received = sigtimedwait(&stopSignals, nullptr, &oneSecond);
        if (received == SIGINT || received == SIGTERM)
            break;
        const auto now = clock::now();
        if (cl.summary && now - lastSummary >= std::chrono::milliseconds(990)) {
            const double seconds = std::chrono::duration<double>(now - lastSummary).count();
            for (std::size_t i = 0; i < sensors.size(); ++i) {
                std::printf("%s\n", summaryLine(*sensors[i], lastCycles[i], seconds, bus.get()).c_str());
                lastCycles[i] = sensors[i]->statistics().cycles;
            }
            std::fflush(stdout);
            lastSummary = now;
        }
    }
    cameras.clear();
    if (bus)
        bus->stop();
    uint64_t cycles = 0, datagrams = 0;
    for (auto& sensor : sensors) {
        sensor->stop();
        cycles += sensor->statistics().cycles;
        datagrams += sensor->statistics().datagrams;
    }
    if (cl.config.verbosity >= 1)
        std::fprintf(stderr, "trvaxx-sim: %s; %llu cycles, %llu datagrams sent\n",
                     received == SIGINT    ? "interrupted"
                     : received == SIGTERM ? "terminated"
                                           : "done",
                     static_cast<unsigned long long>(cycles), static_cast<unsigned long long>(datagrams));
    return 0;
}
