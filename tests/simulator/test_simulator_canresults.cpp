// The function results on CAN, simulator side (their bit layouts: the plug-in's decoder tests).

#include "simulator/can/canresultsender.h"
#include "simulator/virtualsensor.h"
#include "tests/simulator/cantester.h"
#include "tests/support/simsensor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

using namespace trvsim;
using trvsim::test::RecordingPort;

namespace {

SimConfig configFor(Variant variant) {
    SimConfig c = loopbackSensor(variant, "127.0.0.1", 42191);
    c.seed = 3;
    return c;
}

} // namespace

TEST(SimCanResults, ObjectListIsCutToTheConfiguredMaximum) {
    VirtualSensor sensor(configFor(Variant::OD));
    uint32_t busy = 1;
    while (busy < 2000 && sensor.truth(busy).numberOfObjects < 3)
        ++busy;
    const FrameTruth truth = sensor.truth(busy);
    ASSERT_GE(truth.numberOfObjects, 3);
    // Two objects of two messages each; the generations share the cut, their numbers differ.
    const J1939Numbers n = odNumbers(3);
    const auto frames = j1939OdCycle(truth, 3, 239, 2);
    EXPECT_EQ(std::count_if(frames.begin(), frames.end(),
                            [&](const SimCanFrame& f) {
                                return uint16_t(f.id >> 8) >= n.firstData &&
                                       uint16_t(f.id >> 8) < n.firstData + 40;
                            }),
              4);
}

// Default regions (the image quadrants) from the scene: the nearest valid point of each.
TEST(SimCanResults, BasicFunctionsHaveFourDefaultRegions) {
    VirtualSensor sensor(configFor(Variant::DI));
    const BasicFunctionValues scene = basicFunctionValues(sensor.truth(5), sensor.dspParameters());
    EXPECT_EQ(scene.count, 4);
    for (int g = 0; g < 4; ++g)
        EXPECT_FALSE(std::isnan(scene.groups[size_t(g)].x)) << g;
}

// A CANopen master's start-up: boot-up after the reset, an unknown index aborted, no process data
// before the start command.
TEST(SimCanResults, CanopenNodeAbortsUnknownIndicesAndWaitsForTheStart) {
    VirtualSensor sensor(configFor(Variant::OD));
    ASSERT_TRUE(sensor.start()) << sensor.errorText();
    CanConfig can;
    can.protocol = CanProtocol::CANopen;
    can.address = 10;
    CanResultSender node(sensor, can);
    RecordingPort bus;
    node.attach(&bus);
    auto now = SimClock::now();
    auto run = [&](int ms) {
        for (int i = 0; i < ms; ++i)
            node.tick(now += std::chrono::milliseconds(1));
    };
    ASSERT_TRUE(sensor.waitForCycles(1, std::chrono::seconds(2)));
    run(10);
    bus.frames.clear();
    node.receive(test::frame(0, {0x81, 10}, false), now);
    run(50);
    ASSERT_EQ(bus.frames.size(), 1u);
    EXPECT_EQ(bus.frames.front().frame.id, 0x70Au) << "boot-up";
    EXPECT_EQ(node.nmtState(), CanResultSender::NmtState::PreOperational);

    bus.frames.clear();
    node.receive(test::frame(0x60A, {0x23, 0x01, 0x18, 1, 0x8A, 0x02, 0, 0x40}, false), now);
    node.receive(test::frame(0x60A, {0x23, 0x99, 0x19, 1, 0, 0, 0, 0}, false), now);
    run(100);
    ASSERT_EQ(bus.frames.size(), 2u) << "no process data before the start command";
    EXPECT_EQ(bus.frames[0].frame.data[0], 0x60);
    EXPECT_EQ(bus.frames[1].frame.id, 0x58Au);
    EXPECT_EQ(bus.frames[1].frame.data[0], 0x80) << "an unknown index is aborted";
    node.receive(test::frame(0, {0x01, 0}, false), now);
    sensor.waitForCycles(sensor.cyclesSent() + 2, std::chrono::seconds(2));
    run(1);
    sensor.stop();
    ASSERT_GT(bus.frames.size(), 2u);
    EXPECT_EQ(bus.frames[2].frame.id, 0x28Au) << "global information first, on its configured identifier";
}

// The vehicle's messages at their periods (their values: the CAN result end-to-end tests).
TEST(SimCanResults, VehicleMessagesComeAtTheirPeriods) {
    VehicleSender vehicle(250000, 16.0, 0.0);
    RecordingPort bus;
    vehicle.attach(&bus);
    auto now = SimClock::now();
    for (int i = 0; i < 100; ++i)
        vehicle.tick(now += std::chrono::milliseconds(1));
    std::map<uint32_t, int> sent;
    for (const RecordingPort::Sent& s : bus.frames)
        ++sent[s.frame.id];
    EXPECT_EQ(sent, (std::map<uint32_t, int>{{VehicleSender::kSpeedId, 2},
                                             {VehicleSender::kTachographId, 2},
                                             {VehicleSender::kYawRateId, 5}}));
}
