// trvaxx-sim: a virtual TRVAXX sensor on the command line.

#include "simulator/simcommandline.h"
#include "simulator/virtualsensor.h"

#include <QStringList>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <pthread.h>

namespace {

std::string summaryLine(const trvsim::VirtualSensor& sensor, uint64_t previousCycles, double seconds) {
    const trvsim::SenderStatistics s = sensor.statistics();
    const trvsim::SimConfig& c = sensor.config();
    char line[512];
    std::snprintf(line, sizeof line,
                  "%s %s %s:%u: %llu cycles (%.1f/s), %llu datagrams, %llu send errors, 0 CAN frames, %s",
                  trvsim::variantName(c.identity.variant), c.identity.serialNumber.c_str(),
                  sensor.localAddress().c_str(), sensor.localPort(),
                  static_cast<unsigned long long>(s.cycles),
                  seconds > 0 ? (s.cycles - previousCycles) / seconds : 0.0,
                  static_cast<unsigned long long>(s.datagrams), static_cast<unsigned long long>(s.sendErrors),
                  trvsim::stateName(sensor.state()));
    return line;
}

} // namespace

int main(int argc, char** argv) {
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

    // SIGINT and SIGTERM are taken synchronously by the main thread; the cycle thread started
    // below inherits the blocked mask and is never interrupted.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    if (cl.canListenPort != 0 && cl.config.verbosity >= 1)
        std::fprintf(stderr, "trvaxx-sim: --can-listen %u: this build has no CAN side yet; Ethernet only\n",
                     cl.canListenPort);

    trvsim::VirtualSensor sensor(cl.config);
    if (!sensor.start()) {
        std::fprintf(stderr, "trvaxx-sim: %s\n", sensor.errorText().c_str());
        return 1;
    }

    using clock = std::chrono::steady_clock;
    const auto begin = clock::now();
    auto lastSummary = begin;
    uint64_t lastCycles = 0;
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
            std::printf("%s\n", summaryLine(sensor, lastCycles, seconds).c_str());
            std::fflush(stdout);
            lastCycles = sensor.statistics().cycles;
            lastSummary = now;
        }
    }
    sensor.stop();
    if (cl.config.verbosity >= 1) {
        const trvsim::SenderStatistics s = sensor.statistics();
        std::fprintf(stderr, "trvaxx-sim: %s; %llu cycles, %llu datagrams sent\n",
                     received == SIGINT    ? "interrupted"
                     : received == SIGTERM ? "terminated"
                                           : "done",
                     static_cast<unsigned long long>(s.cycles), static_cast<unsigned long long>(s.datagrams));
    }
    return 0;
}
