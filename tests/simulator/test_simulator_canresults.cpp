// The simulator's side of the function results on CAN: what its settings and its scene decide
// (the object list cut to CANMaxNumberOfObjects, the default regions of the basic functions), a
// CANopen master's start-up against the result node, and the vehicle's messages. The bit layouts
// themselves are checked by the plug-in's decoder tests on the simulator's cycles.

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
    c.identity.version = {3, 4, 1};
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
    for (int generation : {1, 2, 3}) {
        const J1939Numbers n = odNumbers(generation);
        const auto frames = j1939OdCycle(truth, generation, 239, 2);
        const auto number = [](const SimCanFrame& f) { return uint16_t(f.id >> 8); };
        // Two objects of two messages each; the cycle end with the global information comes last.
        EXPECT_EQ(std::count_if(frames.begin(), frames.end(),
                                [&](const SimCanFrame& f) {
                                    return number(f) >= n.firstData && number(f) < n.firstData + 40;
                                }),
                  4)
            << generation;
        EXPECT_EQ(number(frames.back()), n.cycleEnd) << generation;
        EXPECT_EQ(frames.back().data[4], uint8_t(truth.available & 0xFF)) << generation;
    }
}

// Default regions (the image quadrants) from the scene: the nearest valid point of each.
TEST(SimCanResults, BasicFunctionsHaveFourDefaultRegions) {
    VirtualSensor sensor(configFor(Variant::DI));
    const BasicFunctionValues scene = basicFunctionValues(sensor.truth(5), sensor.dspParameters());
    EXPECT_EQ(scene.count, 4);
    for (int g = 0; g < 4; ++g)
        EXPECT_FALSE(std::isnan(scene.groups[size_t(g)].x)) << g;
}

// A CANopen master's start-up against the node: reset, boot-up, PDO configuration, start; then
// the object list on the configured identifiers (its content: the plug-in's end-to-end tests).
TEST(SimCanResults, CanopenMasterConfiguresAndStartsTheNode) {
    SimConfig config = configFor(Variant::OD);
    VirtualSensor sensor(config);
    ASSERT_TRUE(sensor.start()) << sensor.errorText();
    CanConfig can;
    can.protocol = CanProtocol::CANopen;
    can.address = 10;
    CanResultSender node(sensor, can);
    RecordingPort bus;
    node.attach(&bus);
    auto now = SimClock::now();
    auto frame = [](uint32_t id, std::vector<uint8_t> bytes) {
        return test::frame(id, std::move(bytes), false);
    };
    auto run = [&](int ms) {
        for (int i = 0; i < ms; ++i)
            node.tick(now += std::chrono::milliseconds(1));
    };
    ASSERT_TRUE(sensor.waitForCycles(1, std::chrono::seconds(2)));
    run(10);
    bus.frames.clear();
    node.receive(frame(0, {0x81, 10}), now);
    run(50);
    ASSERT_FALSE(bus.frames.empty());
    EXPECT_EQ(bus.frames.front().frame.id, 0x70Au);
    EXPECT_EQ(bus.frames.front().frame.length, 1);
    EXPECT_EQ(node.nmtState(), CanResultSender::NmtState::PreOperational);

    // Generation 3: objects on 0x181 + N + j ..., global information 0x1801 -> 0x280 + N.
    bus.frames.clear();
    std::map<uint32_t, int> cobToTpdo;
    for (int i = 0; i < 40; ++i) {
        const uint32_t cob = 0x100u * uint32_t(i % 4 + 1) + 0x80 + 10 + uint32_t(i / 4) + 1;
        const int index = 0x1810 + i;
        node.receive(frame(0x60A, {0x23, uint8_t(index), uint8_t(index >> 8), 1, uint8_t(cob),
                                   uint8_t(cob >> 8), 0, 0x40}),
                     now);
        cobToTpdo[cob] = i;
    }
    node.receive(frame(0x60A, {0x23, 0x01, 0x18, 1, 0x8A, 0x02, 0, 0x40}), now);
    node.receive(frame(0x60A, {0x23, 0x99, 0x19, 1, 0, 0, 0, 0}), now);
    ASSERT_EQ(bus.frames.size(), 42u);
    for (size_t i = 0; i < 41; ++i) {
        EXPECT_EQ(bus.frames[i].frame.id, 0x58Au);
        EXPECT_EQ(bus.frames[i].frame.data[0], 0x60);
    }
    EXPECT_EQ(bus.frames.back().frame.data[0], 0x80) << "an unknown index is aborted";

    bus.frames.clear();
    run(100);
    EXPECT_TRUE(bus.frames.empty()) << "no process data before the start command";
    node.receive(frame(0, {0x01, 0}), now);
    sensor.waitForCycles(sensor.cyclesSent() + 2, std::chrono::seconds(2));
    run(1);
    sensor.stop();
    ASSERT_GE(bus.frames.size(), 41u);
    EXPECT_EQ(bus.frames.front().frame.id, 0x28Au) << "global information first";
    for (size_t i = 1; i < 41; ++i)
        ASSERT_TRUE(cobToTpdo.count(bus.frames[i].frame.id)) << std::hex << bus.frames[i].frame.id;
    EXPECT_EQ(cobToTpdo[bus.frames[40].frame.id], 39) << "object 19 closes the cycle";
}

TEST(SimCanResults, VehicleMessagesDecode) {
    VehicleSender vehicle(250000, 16.0, 0.0);
    RecordingPort bus;
    vehicle.attach(&bus);
    auto now = SimClock::now();
    for (int i = 0; i < 100; ++i)
        vehicle.tick(now += std::chrono::milliseconds(1));
    int speed = 0, yaw = 0, tacho = 0;
    for (const RecordingPort::Sent& sent : bus.frames) {
        const SimCanFrame& f = sent.frame;
        if (f.id == VehicleSender::kSpeedId) {
            ++speed;
            EXPECT_NEAR((f.data[2] | f.data[3] << 8) * 0.00390625 / 3.6, 4.444, 0.001) << "16 km/h";
        } else if (f.id == VehicleSender::kYawRateId) {
            ++yaw;
            EXPECT_NEAR((f.data[3] | f.data[4] << 8) * 0.00012207 - 3.92, 0.0, 0.001);
        } else if (f.id == VehicleSender::kTachographId) {
            ++tacho;
            EXPECT_EQ(f.data[3] >> 6, 1) << "forward";
        }
    }
    EXPECT_EQ(speed, 2);
    EXPECT_EQ(tacho, 2);
    EXPECT_EQ(yaw, 5);
}
