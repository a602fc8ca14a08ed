// The virtual sensor's CAN bus over real TCP; python-can as an outside client is in
// test_socketcandinterop.

#include "simulator/can/canbus.h"
#include "simulator/can/cantiming.h"
#include "simulator/virtualsensor.h"
#include "tests/simulator/cantester.h"

#include <gtest/gtest.h>

#include <thread>
#include <tuple>

using namespace trvsim;
using namespace trvsim::test;

namespace {

// A bus serving on an ephemeral port with one node (node 0xEF unless given).
struct Bus {
    explicit Bus(CanConfig config, TestNode* testNode = new TestNode(0xEF)) : node(testNode) {
        if (config.listen.empty())
            config.listen = "127.0.0.1:0";
        bus = std::make_unique<SimCanBus>(config, [](int, const std::string&) {});
        bus->addNode(std::unique_ptr<CanNode>(node));
        ok = bus->start();
    }
    uint16_t port() const { return bus->listenPort(); }
    TestNode* node;
    std::unique_ptr<SimCanBus> bus;
    bool ok = false;
};

CanConfig unpaced() {
    CanConfig c;
    c.pace = false;
    return c;
}

bool hasFrame(const std::vector<ReceivedFrame>& frames, uint32_t id) {
    return std::any_of(frames.begin(), frames.end(),
                       [id](const ReceivedFrame& f) { return f.frame.id == id; });
}

} // namespace

TEST(SimulatorCanBus, RelaysBetweenClientsAndNodesOnItsBitRateNeverBackToTheSender) {
    Bus bus(unpaced());
    ASSERT_TRUE(bus.ok) << bus.bus->errorText();
    Peer a(bus.port()), b(bus.port()), wrongBus(bus.port()), wrongRate(bus.port());
    ASSERT_TRUE(a.join() && b.join("< can0 B 250000 0 0 0 0 0 0 0 >"));
    ASSERT_TRUE(wrongRate.join("< can0 B 500000 0 0 0 0 0 0 0 >"));
    EXPECT_EQ(wrongBus.next(), "hi");
    wrongBus.write("< open can1 >");
    EXPECT_EQ(wrongBus.next().rfind("error", 0), 0u);
    EXPECT_EQ(wrongBus.next(), "closed");

    a.write("< echo >");
    EXPECT_EQ(a.next(), "echo");
    // A client on another bit rate is not heard. A request in two pieces: the node and b hear it, the
    // node's answer reaches both clients, a never hears its own frame.
    wrongRate.send(frame(0x18DAEFF3, {2, 0x10, 3}));
    a.write("< send 18DAEF");
    std::this_thread::sleep_for(20ms);
    a.write("F1 8 2 10 3 0 0 0 0 0 >");
    const auto atA = a.frames();
    const auto atB = b.frames();
    ASSERT_EQ(atA.size(), 1u);
    EXPECT_EQ(atA[0].frame.id, 0x18DAF1EFu);
    EXPECT_TRUE(atA[0].frame.extended);
    EXPECT_EQ(atA[0].frame.data[1], 0x10);
    ASSERT_EQ(atB.size(), 2u);
    EXPECT_EQ(atB[0].frame.id, 0x18DAEFF1u);
    EXPECT_EQ(atB[1].frame.id, 0x18DAF1EFu);
    ASSERT_EQ(bus.node->received().size(), 1u);
    EXPECT_EQ(bus.node->received()[0].id, 0x18DAEFF1u);
    EXPECT_EQ(bus.node->received()[0].data[2], 0x03);
    EXPECT_TRUE(wrongRate.frames().empty()) << "and hears nothing";
    EXPECT_EQ(bus.bus->statistics().clients, 3u);
    EXPECT_EQ(bus.bus->statistics().wrongRateClients, 1u);
}

TEST(SimulatorCanBus, PacesFramesAtTheBitRate) {
    using Case = std::tuple<uint32_t, bool, uint8_t, bool>; // bit rate, 29-bit, data length, paced
    for (const auto& [rate, extended, length, pace] :
         {Case{250000, true, 8, true}, Case{500000, false, 8, true}, Case{125000, true, 0, true},
          Case{250000, true, 8, false}}) {
        SCOPED_TRACE(std::to_string(rate) + (extended ? " 29-bit " : " 11-bit ") + std::to_string(length));
        CanConfig config;
        config.pace = pace;
        Bus bus(config, new TestNode(0xEF, rate, extended, length));
        ASSERT_TRUE(bus.ok);
        Peer peer(bus.port());
        ASSERT_TRUE(peer.join());
        peer.send(frame(0x1EF, {}, false));
        const auto got = peer.frames();
        ASSERT_EQ(got.size(), 20u);
        const auto frameTime = canFrameTime(frame(0, Bytes(length), extended), rate);
        const int64_t expected =
            pace ? std::chrono::duration_cast<std::chrono::microseconds>(frameTime).count() : 0;
        for (std::size_t i = 1; i < got.size(); ++i) {
            EXPECT_EQ(got[i].frame.data[0], length ? i : 0);
            EXPECT_NEAR(got[i].microseconds - got[i - 1].microseconds, expected, 2) << i;
        }
    }
    // The bit counts behind it: 131 and 111 bits for 8 data bytes, 67 and 47 for none.
    EXPECT_EQ(canFrameBits(frame(0, {1, 2, 3, 4, 5, 6, 7, 8}, true)), 131u);
    EXPECT_EQ(canFrameBits(frame(0, {1, 2, 3, 4, 5, 6, 7, 8}, false)), 111u);
    EXPECT_EQ(canFrameBits(frame(0, {}, true)), 67u);
}

TEST(SimulatorCanBus, HoldsFramesDuringThePauseAfterRawModeAndDropsNone) {
    Bus bus(CanConfig{});
    bus.node->streaming = true; // about one frame a millisecond
    ASSERT_TRUE(bus.ok);
    Peer peer(bus.port());
    ASSERT_EQ(peer.next(), "hi");
    peer.write("< open can0 >");
    ASSERT_EQ(peer.next(), "ok");
    peer.write("< rawmode >");
    EXPECT_EQ(peer.readRaw(1000ms), "< ok >") << "the answer arrives alone";
    const auto before = std::chrono::system_clock::now();
    const auto got = peer.frames(300ms, 200);
    ASSERT_EQ(got.size(), 200u);
    const auto first = [](const ReceivedFrame& f) {
        return f.frame.data[0] | f.frame.data[1] << 8 | f.frame.data[2] << 16;
    };
    for (std::size_t i = 1; i < got.size(); ++i)
        ASSERT_EQ(first(got[i]), first(got[i - 1]) + 1) << "no frame lost at " << i;
    // Frames of the pause were kept: many carry time stamps of the 50 ms after the answer.
    const int64_t okUs =
        std::chrono::duration_cast<std::chrono::microseconds>(before.time_since_epoch()).count();
    EXPECT_LT(got[0].microseconds, okUs + 5000);
    EXPECT_GT(std::count_if(got.begin(), got.end(),
                            [&](const ReceivedFrame& f) { return f.microseconds < okUs + 40000; }),
              20);
}

TEST(SimulatorCanBus, DropsEveryNthFrameAndDelaysTheNodes) {
    CanConfig config = unpaced();
    config.dropEvery = 3;
    config.delayMs = 150;
    Bus bus(config);
    ASSERT_TRUE(bus.ok);
    Peer a(bus.port()), b(bus.port());
    ASSERT_TRUE(a.join() && b.join());
    for (uint8_t i = 0; i < 30; ++i)
        a.send(frame(0x300, {i}, false));
    const auto got = b.frames();
    EXPECT_EQ(got.size(), 20u);
    EXPECT_EQ(bus.node->received().size(), 20u);
    EXPECT_EQ(bus.bus->statistics().lostFrames, 10u);

    const auto sent = std::chrono::steady_clock::now();
    for (int i = 0; i < 3; ++i) // one of the three is lost
        a.send(frame(0x18DAEFF1, {1, 0x3E}));
    EXPECT_EQ(a.next(1000ms).rfind("frame 18DAF1EF", 0), 0u);
    EXPECT_GE(std::chrono::steady_clock::now() - sent, 140ms);
}

TEST(SimulatorCanBus, DisconnectsAMisbehavingClientWhileOthersGoOn) {
    const std::string longElement = "< send " + std::string(400, '1') + " >";
    std::string flood;
    while (flood.size() < 175000) // 5000 elements
        flood += "< send 18FF00F1 8 1 2 3 4 5 6 7 8 >";
    for (const std::string& bad :
         {std::string("hello"), std::string("< send 123 9 >"), longElement, std::string(2000, '<'), flood}) {
        SCOPED_TRACE(bad.substr(0, 40));
        Bus bus(CanConfig{});
        ASSERT_TRUE(bus.ok);
        Peer good(bus.port()), other(bus.port()), rogue(bus.port());
        ASSERT_TRUE(good.join() && other.join() && rogue.join());
        rogue.write(bad);
        std::string last;
        do
            last = rogue.next(3000ms);
        while (last != "closed" && !last.empty());
        EXPECT_EQ(last, "closed");
        good.send(frame(0x18DAEFF1, {1, 0x3E}));
        EXPECT_TRUE(hasFrame(good.frames(500ms), 0x18DAF1EFu));
        EXPECT_TRUE(hasFrame(other.frames(500ms), 0x18DAEFF1u));
        EXPECT_EQ(bus.bus->statistics().clientsDropped, 1u);
    }
}

TEST(SimulatorCanBus, SeveralSensorsShareOneBusAndJoinABusServedElsewhere) {
    // Two sensors on the serving bus, built the way the program builds them.
    CanConfig config = unpaced();
    config.listen = "127.0.0.1:0";
    config.sensorCount = 2;
    SimConfig sim;
    sim.destAddress = "127.0.0.1";
    VirtualSensor first(sensorConfig(sim, 0, 2)), second(sensorConfig(sim, 1, 2));
    std::vector<TestNode*> nodes;
    auto factory = [&](VirtualSensor&, const CanConfig& c) -> std::unique_ptr<CanNode> {
        nodes.push_back(new TestNode(static_cast<uint8_t>(c.address)));
        return std::unique_ptr<CanNode>(nodes.back());
    };
    auto served = buildCanBus({&first, &second}, config, factory, [](int, const std::string&) {});
    ASSERT_TRUE(served->start()) << served->errorText();

    // A third sensor joins it from a bus of its own that also serves clients.
    CanConfig joining = unpaced();
    joining.join = "socketcand://127.0.0.1:" + std::to_string(served->listenPort()) + "/can0";
    joining.address = 237;
    Bus other(joining, new TestNode(237));
    ASSERT_TRUE(other.ok) << other.bus->errorText();
    Peer there(other.port()), here(served->listenPort());
    ASSERT_TRUE(there.join() && here.join());

    // A request to every node from the far side: answers come back from both buses.
    for (uint8_t node : {239, 238, 237})
        there.send(frame(0x18DA00F1u | uint32_t{node} << 8, {1, 0x3E}));
    const auto far = there.frames();
    const auto near = here.frames();
    for (uint32_t answer : {0x18DAF1EFu, 0x18DAF1EEu, 0x18DAF1EDu}) {
        EXPECT_TRUE(hasFrame(far, answer)) << std::hex << answer;
        EXPECT_TRUE(hasFrame(near, answer)) << std::hex << answer;
    }
    EXPECT_EQ(nodes[0]->received().size(), 5u); // three requests, the other two answers
}
