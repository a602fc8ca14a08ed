// Loopback stress run: a sender thread plays a sensor at a fixed cycle rate into a running
// EthReceiver; at the end the program reports the rate reached, the missing-packet events and
// whether every cycle was handed out complete.
//
//   stress_udp_loopback [--rate CYCLES_PER_SECOND] [--seconds N] [--port P]

#include "bench/udp-transport/benchstream.h"
#include "udp-transport/ethreceiver.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace udpframing;
using Clock = std::chrono::steady_clock;

namespace {

// Writes errors (level 1) to stderr, counts the gap reports.
class StressLogger : public LoggingBase {
public:
    void log(int level, const char* format, ...) override {
        if (level > 1)
            return;
        char text[512];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        if (std::strstr(text, "Missing packets"))
            ++missingReports;
        if (errorLines++ < 20)
            std::fprintf(stderr, "[receiver] %s\n", text);
    }
    std::atomic<int> missingReports{0};
    std::atomic<int> errorLines{0};
};

// Checks every complete cycle: the expected channels with the expected sizes, each id once.
class CheckingOutput : public DataOutputBase {
public:
    explicit CheckingOutput(std::uint32_t cycles)
        : m_seen{std::vector<char>(cycles), std::vector<char>(cycles)} {}

    void output(int device, const CycleEntry& cycle, bool partial) override {
        if (partial) {
            ++partialCycles;
            return;
        }
        const std::size_t expectedChannels = device == 1 ? 4 : 2;
        bool ok = cycle.channels.size() == expectedChannels;
        for (const ChannelBuffer& b : cycle.channels)
            ok = ok && b.complete && b.size() == b.totalSize;
        if (ok && device == 1)
            ok = cycle.channels[0].channelId == 8 && cycle.channels[0].size() == 30000;
        auto& seen = m_seen[device - 1];
        if (!ok || cycle.cycleId >= seen.size() || seen[cycle.cycleId]) {
            ++badCycles;
            return;
        }
        seen[cycle.cycleId] = 1;
        ++completeCycles[device - 1];
    }

    std::atomic<std::uint64_t> completeCycles[2] = {};
    std::atomic<std::uint64_t> partialCycles{0};
    std::atomic<std::uint64_t> badCycles{0};

private:
    std::vector<char> m_seen[2];
};

// The system-wide count of UDP datagrams the kernel dropped for a full receive buffer, so that a
// failed run tells whether the receive thread fell behind (-1 where it cannot be read).
long long receiveBufferDrops() {
    std::FILE* file = std::fopen("/proc/net/snmp", "r");
    if (file == nullptr)
        return -1;
    char names[512], values[512];
    long long drops = -1;
    while (std::fgets(names, sizeof names, file) && std::fgets(values, sizeof values, file)) {
        if (std::strncmp(names, "Udp:", 4) != 0)
            continue;
        // The header line names the columns; RcvbufErrors is the fifth after "Udp:".
        int column = 0, wanted = -1;
        for (char* name = std::strtok(names + 4, " \n"); name; name = std::strtok(nullptr, " \n"), ++column)
            if (std::strcmp(name, "RcvbufErrors") == 0)
                wanted = column;
        column = 0;
        for (char* value = std::strtok(values + 4, " \n"); value;
             value = std::strtok(nullptr, " \n"), ++column)
            if (column == wanted)
                drops = std::atoll(value);
        break;
    }
    std::fclose(file);
    return drops;
}

struct Options {
    unsigned rate = 1000;
    unsigned seconds = 10;
    std::uint16_t port = 0;
};

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const unsigned long value = std::strtoul(argv[i + 1], nullptr, 10);
        if (name == "--rate")
            o.rate = static_cast<unsigned>(value);
        else if (name == "--seconds")
            o.seconds = static_cast<unsigned>(value);
        else if (name == "--port")
            o.port = static_cast<std::uint16_t>(value);
        else {
            std::fprintf(stderr, "usage: %s [--rate N] [--seconds N] [--port P]\n", argv[0]);
            std::exit(2);
        }
    }
    if (o.rate == 0 || o.seconds == 0) {
        std::fprintf(stderr, "rate and seconds must be positive\n");
        std::exit(2);
    }
    return o;
}

// Sends the datagrams of one cycle in one system call.
void sendAll(int fd, const sockaddr_in& target, const std::vector<Bytes>& datagrams) {
    std::vector<mmsghdr> messages(datagrams.size());
    std::vector<iovec> buffers(datagrams.size());
    for (std::size_t i = 0; i < datagrams.size(); ++i) {
        buffers[i] = {const_cast<std::uint8_t*>(datagrams[i].data()), datagrams[i].size()};
        messages[i] = {};
        messages[i].msg_hdr.msg_name = const_cast<sockaddr_in*>(&target);
        messages[i].msg_hdr.msg_namelen = sizeof target;
        messages[i].msg_hdr.msg_iov = &buffers[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    std::size_t done = 0;
    while (done < messages.size()) {
        const int sent =
            sendmmsg(fd, messages.data() + done, static_cast<unsigned>(messages.size() - done), 0);
        if (sent < 0) {
            std::perror("sendmmsg");
            std::exit(2);
        }
        done += static_cast<std::size_t>(sent);
    }
}

} // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    const std::uint32_t cycles = options.rate * options.seconds;

    StressLogger logger;
    CheckingOutput output(cycles);
    CycleAssembler assembler(output, logger);
    EthReceiver receiver(assembler, logger);
    receiver.setPort(options.port);
    receiver.setSender("127.0.0.1");
    receiver.setWakeUp(UdpSocket::WakeUp::LoopbackOnly);
    if (receiver.start() != 0)
        return 2;
    const auto bindDeadline = Clock::now() + std::chrono::seconds(5);
    while (receiver.boundPort() == 0 && receiver.isRunning() && Clock::now() < bindDeadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (receiver.boundPort() == 0) {
        std::fprintf(stderr, "receiver did not bind\n");
        return 2;
    }

    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(receiver.boundPort());
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

    // Channel contents are fixed; only the counters change from cycle to cycle.
    const auto dspTemplate = benchstream::dspChannels(1);
    const auto kpTemplate = benchstream::kpChannels(2);
    StreamEncoder dsp(kSubDeviceDsp), kp(kSubDeviceKp);
    std::uint64_t datagrams = 0, bytes = 0;
    const auto period = std::chrono::nanoseconds(1000000000ull / options.rate);
    const long long dropsBefore = receiveBufferDrops();
    const auto begin = Clock::now();
    std::thread sender([&] {
        for (std::uint32_t c = 0; c <= cycles; ++c) {
            std::this_thread::sleep_until(begin + c * period);
            // Cycle `cycles` is only the start that releases the last measured cycle.
            const auto d =
                dsp.encodeCycle(c, c < cycles ? dspTemplate : std::vector<FramedChannel>{dspTemplate[0]});
            const auto k =
                kp.encodeCycle(c, c < cycles ? kpTemplate : std::vector<FramedChannel>{kpTemplate[0]});
            sendAll(fd, target, d);
            sendAll(fd, target, k);
            if (c < cycles) {
                datagrams += d.size() + k.size();
                for (const auto& x : d)
                    bytes += x.size();
                for (const auto& x : k)
                    bytes += x.size();
            }
        }
    });
    sender.join();
    const double sendSeconds = std::chrono::duration<double>(Clock::now() - begin).count();

    const auto drainDeadline = Clock::now() + std::chrono::seconds(5);
    while ((output.completeCycles[0] < cycles || output.completeCycles[1] < cycles) &&
           Clock::now() < drainDeadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    receiver.stop();
    close(fd);
    const long long dropsAfter = receiveBufferDrops();

    const StreamStatistics& c = assembler.counters();
    std::printf("cycles sent: %u per SubDevice in %.2f s = %.0f cycles/s (%llu datagrams, %.1f MB/s)\n",
                cycles, sendSeconds, cycles / sendSeconds, static_cast<unsigned long long>(datagrams),
                bytes / sendSeconds / 1e6);
    std::printf("complete cycles handed out: DSP %llu, KP %llu; early hand-outs %llu; malformed %llu\n",
                static_cast<unsigned long long>(output.completeCycles[0].load()),
                static_cast<unsigned long long>(output.completeCycles[1].load()),
                static_cast<unsigned long long>(output.partialCycles.load()),
                static_cast<unsigned long long>(output.badCycles.load()));
    std::printf("missing-packet events: %llu; LRC errors: %llu; delimiter errors: %llu/%llu\n",
                static_cast<unsigned long long>(c.missingPacketEvents),
                static_cast<unsigned long long>(c.lrcErrors),
                static_cast<unsigned long long>(c.startDelimiterErrors),
                static_cast<unsigned long long>(c.endDelimiterErrors));
    if (dropsBefore >= 0 && dropsAfter >= 0)
        std::printf("datagrams dropped by the kernel for a full receive buffer (whole system): %lld\n",
                    dropsAfter - dropsBefore);
    const bool pass = c.missingPacketEvents == 0 && output.completeCycles[0] == cycles &&
                      output.completeCycles[1] == cycles && output.badCycles == 0;
    std::printf("%s\n", pass ? "PASS: every cycle handed out, no missing packets" : "FAIL");
    return pass ? 0 : 1;
}
