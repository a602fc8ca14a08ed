// The receive thread and its socket on the loopback interface. Every wait is bounded.

#include "tests/support/loopbacksocket.h"
#include "tests/support/recorders.h"
#include "tests/udp-transport/datagrams.h"
#include "udp-transport/ethreceiver.h"
#include "udp-transport/udpsocket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>

using namespace udpframing;
using namespace std::chrono_literals;

namespace {

class EthReceiverTest : public ::testing::Test {
protected:
    RecordingOutput output;
    RecordingLogger logger;
    CycleAssembler assembler{output, logger};
    EthReceiver receiver{assembler, logger};
    // The test's senders are all on loopback; the wake-up datagram stays there too.
    void SetUp() override { receiver.setWakeUp(UdpSocket::WakeUp::LoopbackOnly); }
};

TEST_F(EthReceiverTest, SenderFilterParsing) {
    EXPECT_EQ(receiver.senderFilter(), 0u) << "every sender by default";
    EXPECT_EQ(receiver.setSender("192.168.1.1"), 0);
    EXPECT_EQ(receiver.senderFilter(), 0xC0A80101u);
    EXPECT_TRUE(logger.lines().empty());

    // Not four numbers (the first five), then out of range.
    const char* const refused[] = {"1.2.3",     "",         "a.b.c.d",
                                   "1,2,3,4",   "10.0.0.",  "1.2.3.256",
                                   "300.1.1.1", "-1.0.0.1", "99999999999999999999.1.1.1"};
    for (std::size_t i = 0; i < std::size(refused); ++i) {
        logger.clear();
        EXPECT_EQ(receiver.setSender(refused[i]), -1) << refused[i];
        ASSERT_EQ(logger.lines().size(), 1u) << refused[i];
        EXPECT_EQ(logger.lines()[0].text, i < 5 ? "Can't parse IP address '" + std::string(refused[i]) + "'"
                                                : "Invalid values in IP address");
        EXPECT_EQ(logger.lines()[0].level, 1);
    }
    EXPECT_EQ(receiver.senderFilter(), 0xC0A80101u) << "a refused text leaves the filter alone";
    EXPECT_EQ(receiver.setSender(" 10.0.0.7 (sensor)"), 0);
    EXPECT_EQ(receiver.senderFilter(), 0x0A000007u);
    EXPECT_EQ(receiver.setSender("0.0.0.0"), 0);
    EXPECT_EQ(receiver.senderFilter(), 0u);
}

// Reassembly of whole streams over loopback is shown by the virtual-sensor tests; here the sender
// filter, the empty datagram and a restart.
TEST_F(EthReceiverTest, TakesOnlyTheChosenSenderAndKeepsItsStateAcrossARestart) {
    ASSERT_EQ(receiver.setSender("127.0.0.1"), 0);
    ASSERT_EQ(receiver.start(), 0);
    ASSERT_TRUE(waitUntil([&] { return receiver.boundPort() != 0; }));
    const std::uint16_t port = receiver.boundPort();

    LoopbackSocket sensor("127.0.0.1");
    LoopbackSocket stranger("127.0.0.2");
    StreamEncoder dsp(kSubDeviceDsp);
    StreamEncoder foreign(kSubDeviceDsp);
    foreign.setPacketCounter(5000);          // would be a gap if it were taken
    EXPECT_TRUE(sensor.send(port, Bytes{})); // an empty datagram is refused and its record reused
    std::size_t sent = 1;
    for (std::uint32_t cycle = 1; cycle <= 3; ++cycle) {
        for (const Bytes& d : foreign.encodeCycle(cycle, {makeChannel(8, pattern(500, 0xEE))}))
            sent += stranger.send(port, d);
        for (const Bytes& d : dsp.encodeCycle(cycle, {makeChannel(8, pattern(3000, std::uint8_t(cycle)))}))
            sent += sensor.send(port, d);
    }
    // The per-datagram trace line tells what the thread has taken.
    ASSERT_TRUE(waitUntil([&] { return logger.count("UDP Packet received") >= sent; }));
    ASSERT_TRUE(waitUntil([&] { return output.handouts(1, false).size() == 2; }));
    EXPECT_EQ(output.handouts(1, false)[1].channels.at(0).bytes, pattern(3000, 2));
    EXPECT_EQ(logger.count("Internal error: UDP buffer larger than expected (0 bytes)", 1), 1u);

    const auto before = std::chrono::steady_clock::now();
    receiver.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1500ms);
    EXPECT_FALSE(receiver.isRunning());
    EXPECT_EQ(receiver.boundPort(), 0);
    EXPECT_EQ(assembler.counters().missingPacketEvents, 0u) << "the stranger's datagrams were not taken";
    EXPECT_EQ(assembler.counters().dspPackets, dsp.packetCounter());

    // The assembler keeps its state across a restart of the thread.
    ASSERT_EQ(receiver.start(), 0);
    ASSERT_TRUE(waitUntil([&] { return receiver.boundPort() != 0; }));
    receiver.stop();
    EXPECT_EQ(assembler.state(1).cycles.size(), 1u);
}

TEST(EthReceiverStop, AnOutputMayStopItsOwnReceiveThread) {
    struct StoppingOutput : DataOutputBase {
        EthReceiver* receiver = nullptr;
        std::atomic<int> cycles{0};
        void output(int, const CycleEntry&, bool) override {
            ++cycles;
            receiver->stop();
        }
    } output;
    RecordingLogger logger;
    CycleAssembler assembler(output, logger);
    EthReceiver receiver(assembler, logger);
    output.receiver = &receiver;
    receiver.setWakeUp(UdpSocket::WakeUp::None);
    ASSERT_EQ(receiver.start(), 0);
    ASSERT_TRUE(waitUntil([&] { return receiver.boundPort() != 0; }));
    LoopbackSocket sensor("127.0.0.1");
    StreamEncoder dsp(kSubDeviceDsp);
    for (std::uint32_t cycle = 1; cycle <= 2; ++cycle)
        for (const Bytes& d : dsp.encodeCycle(cycle, {makeChannel(8, pattern(100, 1))}))
            EXPECT_TRUE(sensor.send(receiver.boundPort(), d));
    ASSERT_TRUE(waitUntil([&] { return !receiver.isRunning(); }));
    EXPECT_GE(output.cycles.load(), 1);
    receiver.stop();
    ASSERT_EQ(receiver.start(), 0) << "it can be started again";
    receiver.stop();
}

TEST(UdpSocket, SmallPoolNeverRunsDryAndDropsOversizedDatagrams) {
    RecordingLogger logger;
    UdpSocket socket(0, 4, logger, UdpSocket::WakeUp::None);
    ASSERT_NE(socket.localPort(), 0);
    EXPECT_FALSE(socket.available());
    EXPECT_THROW(socket.release(), std::logic_error);

    LoopbackSocket sender("127.0.0.1");
    const std::vector<std::size_t> sizes = {40, 0, 1600, 1700, 32, 7, 1000, 1, 2, 3};
    for (std::size_t i = 0; i < sizes.size(); ++i)
        EXPECT_TRUE(sender.send(socket.localPort(), pattern(sizes[i], static_cast<std::uint8_t>(i))));

    std::vector<std::size_t> received;
    while (const ReceiveRecord* record = socket.wait(1000)) {
        EXPECT_EQ(ntohs(record->sender.sin_port), sender.port());
        const std::size_t index = received.size() + (received.size() >= 3 ? 1 : 0);
        EXPECT_EQ(Bytes(record->data.begin(), record->data.begin() + record->bytes),
                  pattern(sizes[index], static_cast<std::uint8_t>(index)));
        received.push_back(record->bytes);
        socket.release();
        if (received.size() == sizes.size() - 1)
            break;
    }
    // The 1700-byte datagram does not fit a record and is discarded.
    EXPECT_EQ(received, (std::vector<std::size_t>{40, 0, 1600, 32, 7, 1000, 1, 2, 3}));
    EXPECT_EQ(socket.wait(20), nullptr);
    EXPECT_FLOAT_EQ(socket.fillLevel(), 100.0f);
    EXPECT_LT(socket.lowestInFlight(), 4u);
}

// A flood of one-datagram channels keeps the receive thread busy; stop() still returns promptly.
TEST(EthReceiverStop, StopReturnsPromptlyUnderAChannelFlood) {
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
        LoopbackSocket socket("127.0.0.1");
        for (std::size_t i = 0; flooding.load(); i = (i + 1) % datagrams.size())
            socket.send(port, datagrams[i]);
    });
    // Until the thread has met the channel limit a few times.
    waitUntil([&] { return logger.limitLines.load() >= 3; }, 20s);
    const auto before = std::chrono::steady_clock::now();
    receiver.stop();
    const auto stopTime = std::chrono::steady_clock::now() - before;
    flooding.store(false);
    sender.join();
    EXPECT_FALSE(receiver.isRunning());
    // Before the bound, pairing and hand-out checks over every channel took seconds per cycle.
    EXPECT_LT(stopTime, 1000ms);
}

// The kernel caps an unprivileged request at net.core.rmem_max and reports twice what it grants;
// the socket asks for its size and says so when it gets less.
TEST(UdpSocket, ReceiveBufferIsWhatTheKernelAllows) {
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

} // namespace
