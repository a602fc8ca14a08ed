// The virtual sensor on loopback: real sockets, short runs (what the cycles carry: the round trips).

#include "tests/support/loopbacksocket.h"
#include "tests/support/simsensor.h"

#include "simulator/virtualsensor.h"
#include "udp-transport/udpframing.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>

using namespace trvsim;
using namespace std::chrono_literals;

TEST(SimulatorLoopback, IgnoresTheSearchAnnouncementAndSeveralSensorsStreamAtOnce) {
    LoopbackSocket socket;
    VirtualSensor first(loopbackSensor(Variant::DI, "127.0.0.2", socket.port()));
    VirtualSensor second(loopbackSensor(Variant::LG, "127.0.0.3", socket.port()));
    ASSERT_TRUE(first.start()) << first.errorText();
    ASSERT_TRUE(second.start()) << second.errorText();

    socket.send(first.localPort(), "OrlanGUI", 8, "127.0.0.2");
    std::map<std::string, std::map<uint16_t, int>> datagrams; // sender -> sub-device -> count
    const auto end = std::chrono::steady_clock::now() + 600ms;
    std::vector<uint8_t> bytes;
    std::string from;
    while (std::chrono::steady_clock::now() < end)
        if (socket.receive(bytes, &from) && bytes.size() >= 32)
            ++datagrams[from][udpframing::DatagramHeader::read(bytes.data()).subDevice];
    const uint64_t before = first.cyclesSent();
    EXPECT_TRUE(first.waitForCycles(before + 3, 2s)) << "keeps streaming after the announcement";
    EXPECT_EQ(first.statistics().announcementsIgnored, 1u);
    first.stop();
    second.stop();

    ASSERT_EQ(datagrams.size(), 2u);
    for (const char* sender : {"127.0.0.2", "127.0.0.3"}) {
        EXPECT_GT(datagrams[sender][1], 20) << sender;
        EXPECT_GT(datagrams[sender][2], 5) << sender;
    }
    // Its parameters say where it streams to and how often.
    const ParameterValues dsp = first.dspParameters();
    EXPECT_EQ(dsp.at("Ipv4AddressDestination"), (std::vector<double>{127, 0, 0, 1}));
    EXPECT_EQ(dsp.at("Ipv4AddressCamera"), (std::vector<double>{127, 0, 0, 2}));
    EXPECT_EQ(dsp.at("destinationUDPPort"), std::vector<double>{double(socket.port())});
}

TEST(SimulatorLoopback, PausesAndThenLosesPower) {
    LoopbackSocket socket;
    SimConfig config = loopbackSensor(Variant::OD, "127.0.0.2", socket.port());
    config.faults.pauseAfterCycles = 3;
    config.faults.pauseMs = 400;
    config.faults.stopAfterCycles = 6;
    VirtualSensor sensor(config);
    ASSERT_TRUE(sensor.start()) << sensor.errorText();

    // Arrival of the first datagram of each DSP cycle.
    std::map<uint32_t, std::chrono::steady_clock::time_point> cycleStart;
    std::vector<uint8_t> bytes;
    const auto end = std::chrono::steady_clock::now() + 1500ms;
    while (std::chrono::steady_clock::now() < end) {
        if (!socket.receive(bytes) || bytes.size() < 32)
            continue;
        const auto h = udpframing::DatagramHeader::read(bytes.data());
        if (h.subDevice == udpframing::kSubDeviceDsp && h.indexInCycle == 0)
            cycleStart.emplace(h.cycleCounter, std::chrono::steady_clock::now());
    }
    EXPECT_EQ(sensor.cyclesSent(), 6u);
    EXPECT_EQ(sensor.state(), SensorState::PoweredOff);
    ASSERT_EQ(cycleStart.size(), 6u);
    const uint32_t first = cycleStart.begin()->first;
    // The pause comes after the third cycle; the counters go on where they stopped.
    EXPECT_GE(cycleStart[first + 3] - cycleStart[first + 2], 350ms);
    EXPECT_LT(cycleStart[first + 2] - cycleStart[first + 1], 350ms);
    // Powered off: nothing more arrives.
    EXPECT_FALSE(socket.receive(bytes) && socket.receive(bytes));
    sensor.stop();
}

TEST(SimulatorLoopback, RefusesToStartOnAnAddressThatIsNotLocal) {
    VirtualSensor sensor(loopbackSensor(Variant::OD, "192.0.2.55", 42000));
    EXPECT_FALSE(sensor.start());
    EXPECT_NE(sensor.errorText().find("cannot bind to 192.0.2.55"), std::string::npos) << sensor.errorText();
    EXPECT_FALSE(sensor.isRunning());
}

TEST(SimulatorLoopback, RestartFollowsTheChangedParameters) {
    LoopbackSocket before, after;
    SimConfig config = loopbackSensor(Variant::LG, "127.0.0.2", before.port());
    config.faults.stopAfterCycles = 3; // powered off until the restart
    VirtualSensor sensor(config);
    ASSERT_TRUE(sensor.start()) << sensor.errorText();
    ASSERT_TRUE(sensor.waitForCycles(3, 2s));

    sensor.restart({{"destinationUDPPort", {double(after.port())}},
                    {"CycleTime", {30}},
                    {"LineGuidanceCust_referencePointXPos", {2.5}}},
                   200ms);
    ASSERT_TRUE(sensor.waitForCycles(8, 3s));
    sensor.stop();

    EXPECT_EQ(sensor.cycleTimeMs(), 30u);
    // The scene follows the parameters: the line's reference point moved.
    EXPECT_FLOAT_EQ(sensor.truth(100).refPoint[0], 2.5f);
    std::vector<uint8_t> bytes;
    int atNewPort = 0;
    while (after.receive(bytes))
        ++atNewPort;
    EXPECT_GT(atNewPort, 20);
}
