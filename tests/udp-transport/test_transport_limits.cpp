// What a hostile or broken stream may cost the transport, the wire layout written out by hand,
// and the receive buffer the kernel grants.

#include "tests/support/recorders.h"
#include "udp-transport/cycleassembler.h"
#include "udp-transport/ethreceiver.h"
#include "udp-transport/streamencoder.h"
#include "udp-transport/udpsocket.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

using namespace udpframing;
using namespace std::chrono_literals;

namespace {

// A cycle of `channels` channels of one datagram each (empty bodies), as a flood would send it.
std::vector<Bytes> floodCycle(StreamEncoder& encoder, std::uint32_t cycle, std::uint32_t channels) {
    std::vector<FramedChannel> framed;
    framed.reserve(channels);
    for (std::uint32_t id = 0; id < channels; ++id)
        framed.push_back(makeChannel(id, {}));
    return encoder.encodeCycle(cycle, framed);
}

// Little-endian field writer for datagrams spelled out byte by byte.
void put(Bytes& bytes, std::size_t offset, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i)
        bytes[offset + std::size_t(i)] = std::uint8_t(value >> (8 * i));
}

} // namespace

TEST(TransportLimits, ChannelsPerCycleAreBoundedAndCounted) {
    RecordingOutput output;
    RecordingLogger logger;
    CycleAssembler assembler(output, logger);
    StreamEncoder dsp(kSubDeviceDsp);
    const std::uint32_t channels = 60000; // nearly as many datagrams as a cycle can number
    for (std::uint32_t cycle = 1; cycle <= 2; ++cycle)
        for (const Bytes& d : floodCycle(dsp, cycle, channels)) {
            assembler.processPacket(d.data(), d.size());
            assembler.deliverCycles();
        }
    for (const Bytes& d : floodCycle(dsp, 3, 1)) { // hands out cycle 2
        assembler.processPacket(d.data(), d.size());
        assembler.deliverCycles();
    }
    const auto complete = output.handouts(1, false);
    ASSERT_EQ(complete.size(), 2u);
    for (const auto& handout : complete) {
        ASSERT_EQ(handout.channels.size(), CycleAssembler::kMaxChannelsPerCycle);
        EXPECT_EQ(handout.channels.back().id, CycleAssembler::kMaxChannelsPerCycle - 1)
            << "the first ones are kept";
    }
    EXPECT_EQ(assembler.counters().channelsOverLimit, 2 * (channels - CycleAssembler::kMaxChannelsPerCycle));
    EXPECT_EQ(logger.matching("more than 256 channels", 1).size(), 2u) << "one line per cycle";
    EXPECT_EQ(assembler.counters().missingPacketEvents, 0u);
}

// A flood of one-datagram channels keeps the receive thread busy; stop() still returns promptly.
TEST(TransportLimits, StopReturnsPromptlyUnderAChannelFlood) {
    // Counts the channel-limit lines only: a flood makes millions of trace lines.
    struct LimitLogger : LoggingBase {
        void log(int, const char* format, ...) override {
            if (std::string(format).find("later ones dropped") != std::string::npos)
                ++limitLines;
        }
        std::atomic<int> limitLines{0};
    } logger;
    RecordingOutput output;
    CycleAssembler assembler(output, logger);
    EthReceiver receiver(assembler, logger);
    receiver.setWakeUp(UdpSocket::WakeUp::None);
    ASSERT_EQ(receiver.start(), 0);
    const std::uint16_t port = receiver.boundPort();
    ASSERT_NE(port, 0);

    StreamEncoder dsp(kSubDeviceDsp);
    std::vector<Bytes> datagrams;
    for (std::uint32_t cycle = 1; cycle <= 2; ++cycle)
        for (Bytes& d : floodCycle(dsp, cycle, 50000))
            datagrams.push_back(std::move(d));
    std::atomic<bool> flooding{true};
    std::thread sender([&] {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port = htons(port);
        target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        for (std::size_t i = 0; flooding.load(); i = (i + 1) % datagrams.size())
            sendto(fd, datagrams[i].data(), datagrams[i].size(), 0, reinterpret_cast<sockaddr*>(&target),
                   sizeof target);
        close(fd);
    });
    // Until the thread has met the channel limit a few times.
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (logger.limitLines.load() < 3 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    const auto before = std::chrono::steady_clock::now();
    receiver.stop();
    const auto stopTime = std::chrono::steady_clock::now() - before;
    flooding.store(false);
    sender.join();
    EXPECT_FALSE(receiver.isRunning());
    // The loopback drops part of a flood, so cycles may break; enough of one came through intact
    // to reach the channel limit.
    EXPECT_GT(assembler.counters().channelsOverLimit, 0u);
    // Before the bound, pairing and hand-out checks over every channel took seconds per cycle.
    EXPECT_LT(stopTime, 1000ms);
}

// The counters reach the output while no cycle completes (a second sender, gaps, truncation).
TEST(TransportLimits, StatisticsArePublishedWithoutCompleteCycles) {
    struct LastStatistics : RecordingOutput {
        int statistics(const StreamStatistics& counters) override {
            missing.store(counters.missingPacketEvents);
            return RecordingOutput::statistics(counters);
        }
        std::atomic<std::uint64_t> missing{0};
    } output;
    RecordingLogger logger;
    CycleAssembler assembler(output, logger);
    EthReceiver receiver(assembler, logger);
    receiver.setWakeUp(UdpSocket::WakeUp::None);
    ASSERT_EQ(receiver.start(), 0);

    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(receiver.boundPort());
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    StreamEncoder dsp(kSubDeviceDsp);
    for (std::uint32_t cycle = 1; cycle <= 3; ++cycle) {
        dsp.setPacketCounter(dsp.packetCounter() + 7); // a gap before every cycle
        for (const Bytes& d : dsp.encodeCycle(cycle, {makeChannel(8, Bytes(3000, 1))}))
            sendto(fd, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&target), sizeof target);
    }
    close(fd);
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (output.missing.load() < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    receiver.stop();
    EXPECT_GE(output.missing.load(), 2u);
    EXPECT_TRUE(output.handouts(1, false).empty());
}

// Datagrams written from literal values at the header offsets, not with the encoder: channel 8 in
// two datagrams, channel 9 in one, a channel whose total length exceeds what arrived, then the
// start of the next cycle.
TEST(TransportLimits, HandWrittenDatagramsReassemble) {
    auto datagram = [](std::uint32_t pktCnt, std::uint16_t nPktCycle, std::uint16_t iPktCycle,
                       std::uint16_t nPktCh, std::uint16_t iPktCh, std::uint32_t chId, std::uint32_t totLen,
                       const Bytes& payload) {
        Bytes d(32 + payload.size());
        put(d, 0, 3, 2);      // ver
        put(d, 2, 1, 2);      // dev: DSP
        put(d, 4, pktCnt, 4); // pkt_cnt
        put(d, 8, 41, 4);     // cycle_cnt
        put(d, 12, nPktCycle, 2);
        put(d, 14, iPktCycle, 2);
        put(d, 16, nPktCh, 2);
        put(d, 18, iPktCh, 2);
        put(d, 20, chId, 4);
        put(d, 24, totLen, 4);
        put(d, 28, payload.size(), 4); // pay_len
        std::copy(payload.begin(), payload.end(), d.begin() + 32);
        return d;
    };
    auto channel = [](const Bytes& body) {
        Bytes c(28 + body.size() + 4);
        put(c, 0, 0xAA55AA55u, 4); // startdel
        put(c, 4, 0, 4);           // LRC not transmitted
        put(c, 8, 17, 4);          // RollingCnt
        put(c, 12, 0, 2);          // i_parts
        put(c, 14, 1, 2);          // n_parts
        put(c, 16, 0, 4);          // offset
        put(c, 20, body.size(), 4);
        put(c, 24, body.size(), 4); // totalsize
        std::copy(body.begin(), body.end(), c.begin() + 28);
        put(c, c.size() - 4, 0x55AA55AAu, 4); // enddel
        return c;
    };
    const Bytes data = {'d', 'a', 't', 'a', '-', 'o', 'f', '-', '8'};
    const Bytes description = {'k', 'v', 'd'};
    const Bytes ch8 = channel(data), ch9 = channel(description), ch14 = channel({1, 2, 3});
    const Bytes first(ch8.begin(), ch8.begin() + 20), second(ch8.begin() + 20, ch8.end());

    RecordingOutput output;
    RecordingLogger logger;
    CycleAssembler assembler(output, logger);
    auto feed = [&](const Bytes& d) {
        assembler.processPacket(d.data(), d.size());
        assembler.deliverCycles();
    };
    feed(datagram(100, 4, 0, 2, 0, 8, std::uint32_t(ch8.size()), first));
    feed(datagram(101, 4, 1, 2, 1, 8, std::uint32_t(ch8.size()), second));
    feed(datagram(102, 4, 2, 1, 0, 9, std::uint32_t(ch9.size()), ch9));
    feed(datagram(103, 4, 3, 1, 0, 14, std::uint32_t(ch14.size()) + 10, ch14)); // truncated
    Bytes next = datagram(104, 1, 0, 1, 0, 2, std::uint32_t(ch14.size()), ch14);
    put(next, 8, 42, 4); // cycle_cnt of the next cycle
    feed(next);

    const auto complete = output.handouts(1, false);
    ASSERT_EQ(complete.size(), 1u);
    EXPECT_EQ(complete[0].cycleId, 41u);
    ASSERT_EQ(complete[0].channels.size(), 2u);
    EXPECT_EQ(complete[0].channels[0].id, 8u);
    EXPECT_EQ(complete[0].channels[0].bytes, data);
    EXPECT_EQ(complete[0].channels[1].id, 9u);
    EXPECT_EQ(complete[0].channels[1].bytes, description);
    const StreamStatistics& counters = assembler.counters();
    EXPECT_EQ(counters.dspPackets, 5u);
    EXPECT_EQ(counters.truncatedChannels, 1u);
    EXPECT_EQ(counters.missingPacketEvents + counters.lrcErrors + counters.startDelimiterErrors +
                  counters.endDelimiterErrors,
              0u);
}

// The kernel caps an unprivileged request at net.core.rmem_max and reports twice what it grants.
TEST(TransportLimits, ReceiveBufferIsWhatTheKernelAllows) {
    RecordingLogger logger;
    UdpSocket socket(0, 4, logger, UdpSocket::WakeUp::None);
    long rmemMax = 0;
    std::ifstream("/proc/sys/net/core/rmem_max") >> rmemMax;
    ASSERT_GT(rmemMax, 0);
    const int granted = int(std::min<long>(UdpSocket::kReceiveBufferSize, rmemMax));
    EXPECT_GE(socket.receiveBufferSize(), 2 * granted);
    const bool full = socket.receiveBufferSize() >= 2 * UdpSocket::kReceiveBufferSize;
    EXPECT_EQ(logger.matching("Socket receive buffer is").size(), full ? 0u : 1u);
}
