// The diagnostic node and the CAN result sender at frame level, without sockets (a recording port and
// a fake clock); last the sensor's CAN results after a write. (The results' bit layouts: the plug-in's
// decoder tests.)

#include "tests/simulator/cantester.h"
#include "tests/support/simsensor.h"

#include "simulator/can/canresultsender.h"
#include "simulator/can/diagcodes.h"
#include "simulator/can/flashprogrammer.h"
#include "simulator/can/sensornodes.h"

#include <functional>
#include <thread>
#include <tuple>

namespace trvsim::test {
namespace {

class DiagNodeTest : public ::testing::Test {
protected:
    // A new sensor and node; set changes the node's configuration.
    void make(const std::function<void(CanConfig&)>& set = {}, SimConfig sim = SimConfig()) {
        CanConfig can;
        if (set)
            set(can);
        tester.reset();
        node.reset();
        sim.destAddress = "127.0.0.1";
        sim.verbosity = 0;
        sensor = std::make_unique<VirtualSensor>(sim);
        node = std::make_unique<DiagNode>(*sensor, can);
        ASSERT_TRUE(node->isValid()) << node->errorText();
        tester = std::make_unique<DiagTester>(*node);
    }
    void SetUp() override { make(); }

    Bytes ask(const Bytes& request) { return tester->ask(request); }

    std::unique_ptr<VirtualSensor> sensor;
    std::unique_ptr<DiagNode> node;
    std::unique_ptr<DiagTester> tester;
};

TEST_F(DiagNodeTest, ServicesAnswerByteForByte) {
    const std::pair<Bytes, Bytes> cases[] = {
        {{0x10, 0x03}, {0x50, 0x03, 0x00, 0x32, 0x01, 0xF4}},
        {{0x22, 0xFD, 0x18}, cat({0x62, 0xFD, 0x18}, text("OD "))},
        {{0x22, 0xFD, 0x03}, {0x62, 0xFD, 0x03, 1, 0, 3, 1, 1, 0, 3, 4, 1, 3, 4, 1, 1, 2, 0, 3, 4, 1}},
        {{0x22, 0xF1, 0x87}, cat({0x62, 0xF1, 0x87}, text("TRVAFN-R2A1"))},
        {{0x22, 0xF1, 0x93}, {0x62, 0xF1, 0x93, 3, 2}},
        {{0x22, 0xF1, 0xA2}, {0x62, 0xF1, 0xA2, 2}},
        {{0x22, 0xF1, 0xA0}, cat({0x62, 0xF1, 0xA0}, text("R2I001"))},
        {{0x22, 0x07, 0x03}, {0x62, 0x07, 0x03, 34}},
        {{0x31, 0x01, 0x02, 0x03}, {0x71, 0x01, 0x02, 0x03}},
        {{0x19, 0x02, 0x08},
         {0x59, 0x02, 0xFF, 0xD0, 0x01, 0x16, 0x08, 0x9A, 0x04, 0x98, 0x09, 0xC0, 0x73, 0x88, 0x28}},
        {{0x19, 0x02, 0x01}, {0x59, 0x02, 0xFF, 0x9A, 0x04, 0x98, 0x09}},
        {{0x14, 0xFF, 0xFF, 0xFF}, {0x54}},
        {{0x19, 0x02, 0xFF}, {0x59, 0x02, 0xFF}},
    };
    for (const auto& [request, answer] : cases)
        EXPECT_EQ(ask(request), answer) << "request " << int(request[0]);
}

TEST_F(DiagNodeTest, NegativeAnswersOfARealSensor) {
    // Sessions: 1 default, 3 extended, 2 programming (locked), 4 unlocked, 5 unlocked and downloading.
    const std::tuple<const char*, int, Bytes, uint8_t> cases[] = {
        {"unknown service", 1, {0xBA, 0x01}, 0x11},
        {"security in default", 1, {0x27, 0x11}, 0x7F},
        {"memory in default", 1, {0x23, 0x24, 0, 0, 0x80, 0, 0, 4}, 0x7F},
        {"programming from default", 1, {0x10, 0x02}, 0x22},
        {"unknown session", 1, {0x10, 0x05}, 0x12},
        {"identifier cut short", 3, {0x22, 0xF1}, 0x13},
        {"unknown identifier", 3, {0x22, 0x12, 0x34}, 0x31},
        {"memory outside the blocks", 3, {0x23, 0x24, 0, 0, 0x70, 0, 0, 4}, 0x31},
        {"memory beyond the KP block", 3, {0x23, 0x24, 0, 0, 0x80, 0, 0x0F, 0xFE}, 0x31},
        {"key without seed", 3, {0x27, 0x12, 1, 2, 3, 4}, 0x24},
        {"download in extended", 3, {0x34, 0, 0x44, 0, 0, 0, 0x63, 0, 0, 1, 0}, 0x7F},
        {"download locked", 2, {0x34, 0, 0x44, 0, 0, 0, 0x63, 0, 0, 1, 0}, 0x33},
        {"erase locked", 2, {0x31, 0x01, 0xFF, 0x00, 0x01, 0x63}, 0x33},
        {"unknown routine", 3, {0x31, 0x01, 0x12, 0x34}, 0x31},
        {"clear one group", 3, {0x14, 0x00, 0x01, 0x00}, 0x31},
        {"fingerprint locked", 2, {0x2E, 0xF1, 0x5A, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 0x33},
        {"transfer without download", 4, {0x36, 0x01, 0xAA}, 0x24},
        {"exit without download", 4, {0x37}, 0x24},
        {"check without download", 4, {0x31, 0x01, 0x02, 0x02, 0, 0, 0, 0}, 0x24},
        {"erase without flash driver", 4, {0x31, 0x01, 0xFF, 0x00, 0x01, 0x63}, 0x22},
        {"wrong transfer sequence", 5, {0x36, 0x02, 0xAA}, 0x73},
        {"more than announced", 5, {0x36, 0x01, 0xAA, 0xBB, 0xCC}, 0x71},
    };
    for (const auto& [what, session, request, code] : cases) {
        make();
        if (session >= 4)
            tester->unlock();
        if (session == 5) {
            ASSERT_EQ(ask({0x34, 0x00, 0x44, 0, 0, 0, 0x30, 0, 0, 0, 2})[0], 0x74);
        }
        if (session == 3 || session == 2)
            ask({0x10, 0x03});
        if (session == 2)
            ask({0x10, 0x02});
        EXPECT_EQ(ask(request), (Bytes{0x7F, request[0], code})) << what;
    }
}

TEST_F(DiagNodeTest, FunctionalRequestsWithSuppressBitGetNoAnswer) {
    for (const Bytes& r :
         {Bytes{0x3E, 0x80}, Bytes{0x85, 0x82}, Bytes{0x28, 0x81, 0x55}, Bytes{0x10, 0x83}, Bytes{0xBA}}) {
        tester->send(r, true);
        EXPECT_FALSE(tester->answer(300)) << int(r[0]);
    }
    // The extended session took effect all the same.
    EXPECT_EQ(ask({0x22, 0xF1, 0x86}), (Bytes{0x62, 0xF1, 0x86, 0x03}));
    tester->send({0x3E, 0x00}, true);
    EXPECT_EQ(tester->answer(), (Bytes{0x7E, 0x00}));
}

TEST_F(DiagNodeTest, SegmentationFollowsBothFlowControls) {
    make([](CanConfig& c) { c.blockSize = 2, c.stMinMs = 5; });
    ask({0x10, 0x03});
    // A 41-byte request: first frame and 5 consecutive frames, a flow control every 2.
    ASSERT_TRUE(tester->send(cat({0x22}, Bytes(40, 0xF1))));
    EXPECT_EQ(tester->flowControls, (std::vector<std::pair<uint8_t, uint8_t>>(3, {2, 5})));
    EXPECT_EQ(tester->answer(), (Bytes{0x7F, 0x22, 0x31}));

    // A 201-byte answer with the tester's block size 3 and 10 ms: 28 consecutive frames.
    tester->fcBlockSize = 3;
    tester->fcStMin = 10;
    const std::size_t first = tester->port.frames.size();
    const Bytes a = ask({0x23, 0x24, 0xC1, 0xA0, 0x04, 0x04, 0, 200});
    ASSERT_EQ(a.size(), 201u);
    EXPECT_EQ(Bytes(a.begin() + 1, a.end()),
              Bytes(node->blocks().dspBody().begin(), node->blocks().dspBody().begin() + 200));
    std::vector<SimClock::time_point> cf;
    for (std::size_t i = first; i < tester->port.frames.size(); ++i)
        if ((tester->port.frames[i].frame.data[0] >> 4) == 2)
            cf.push_back(tester->port.frames[i].at);
    ASSERT_EQ(cf.size(), 28u);
    for (std::size_t i = 1; i < cf.size(); ++i)
        EXPECT_GE(cf[i] - cf[i - 1], std::chrono::milliseconds(10)) << i;
    // Without the tester's flow control the answer is given up and the node serves on.
    tester->fcBlockSize = 0;
    tester->send({0x23, 0x24, 0xC1, 0xA0, 0x04, 0x04, 0, 100});
    ASSERT_TRUE(tester->nextFrame());
    tester->tick(1100);
    EXPECT_EQ(ask({0x3E, 0x00}), (Bytes{0x7E, 0x00}));
}

TEST_F(DiagNodeTest, ResponsePendingComesFirstWhenAsked) {
    make([](CanConfig& c) { c.responsePending = 2; });
    tester->send({0x22, 0xF1, 0x8C});
    for (int pending = 0; pending < 2; ++pending)
        EXPECT_EQ(tester->answer(2000, false), (Bytes{0x7F, 0x22, 0x78}));
    EXPECT_EQ(tester->answer(2000, false), cat({0x62, 0xF1, 0x8C}, text("SIM0000001")));
}

TEST_F(DiagNodeTest, SessionTimesOutAndLocks) {
    tester->unlock();
    EXPECT_TRUE(node->server().unlocked());
    tester->tick(4900);
    EXPECT_EQ(ask({0x22, 0xF1, 0x86}), (Bytes{0x62, 0xF1, 0x86, 0x02})); // a request keeps it alive
    tester->tick(5100);
    EXPECT_EQ(ask({0x22, 0xF1, 0x86}), (Bytes{0x62, 0xF1, 0x86, 0x01}));
    EXPECT_FALSE(node->server().unlocked());
}

TEST_F(DiagNodeTest, CommunicationControlStopsTransmissionUntilTheDefaultSession) {
    EXPECT_TRUE(node->server().transmitting());
    ask({0x10, 0x03});
    EXPECT_EQ(ask({0x28, 0x01, 0x01}), (Bytes{0x68, 0x01}));
    EXPECT_FALSE(node->server().transmitting());
    EXPECT_EQ(ask({0x28, 0x00, 0x01}), (Bytes{0x68, 0x00}));
    EXPECT_TRUE(node->server().transmitting());
    ask({0x28, 0x03, 0x01});
    EXPECT_FALSE(node->server().transmitting());
    ask({0x10, 0x01});
    EXPECT_TRUE(node->server().transmitting());
}

TEST_F(DiagNodeTest, ThreeWrongKeysLockSecurityAccess) {
    ask({0x10, 0x03});
    for (const uint8_t code : {0x35, 0x35, 0x36}) { // invalid key twice, then too many attempts
        const Bytes seed = ask({0x27, 0x11});
        ASSERT_EQ(seed.size(), 6u);
        EXPECT_NE(big32(&seed[2]), 0u);
        EXPECT_EQ(ask({0x27, 0x12, 0, 0, 0, 1}), (Bytes{0x7F, 0x27, code}));
    }
    EXPECT_EQ(ask({0x27, 0x11}), (Bytes{0x7F, 0x27, 0x37}));
    for (int i = 0; i < 10; ++i) { // tester present keeps the session while the lock runs out
        tester->tick(1000);
        ask({0x3E, 0x00});
    }
    const Bytes seed = ask({0x27, 0x11});
    ASSERT_EQ(seed.size(), 6u);
    EXPECT_EQ(ask(cat({0x27, 0x12}, big(trvaxx::securityKeyFromSeed(big32(&seed[2]))))), (Bytes{0x67, 0x12}));
    EXPECT_EQ(ask({0x27, 0x11}), (Bytes{0x67, 0x11, 0, 0, 0, 0})); // unlocked: zero seed

    make([](CanConfig& c) { c.zeroSeed = true; }); // unlocked from the start, no key needed
    ask({0x10, 0x03});
    EXPECT_EQ(ask({0x27, 0x11}), (Bytes{0x67, 0x11, 0, 0, 0, 0}));
}

TEST_F(DiagNodeTest, MemoryHoldsTheParameterBlocksWithFactoryValues) {
    ask({0x10, 0x03});
    const Bytes header = ask({0x23, 0x24, 0, 0, 0x80, 0, 0, 64});
    ASSERT_EQ(header.size(), 65u);
    EXPECT_EQ(big32(&header[33]), 64u); // the body's start and end
    const uint32_t end = big32(&header[37]);
    EXPECT_EQ(end - 64, node->blocks().kpBodySize());
    const Bytes kp = ask({0x23, 0x24, 0, 0, 0x80, 0, uint8_t(end >> 8), uint8_t(end)});
    ASSERT_EQ(kp.size(), end + 1);
    EXPECT_EQ(checkBlockImage(Bytes(kp.begin() + 1, kp.end()), end - 64), "");

    // The DSP block's size word, little-endian (its body is read in the segmentation test).
    const Bytes size = ask({0x23, 0x24, 0xC1, 0xA0, 0x04, 0x00, 0, 4});
    ASSERT_EQ(size.size(), 5u);
    EXPECT_EQ(size[1] | size[2] << 8 | size[3] << 16 | uint32_t(size[4]) << 24, node->blocks().dspBodySize());
}

TEST_F(DiagNodeTest, BrokenDownloadsLeaveTheBlocksAsTheyWere) {
    const Bytes good = blockImageWith(*sensor, "J1939SourceAddress", 77);
    Bytes badHeader = good, badBody = good;
    badHeader[61] ^= 1;
    badBody[100] ^= 1;
    // What breaks, the image, the step after which the download stops, the CRC's offset.
    const std::tuple<const char*, Bytes, DiagTester::Step, uint32_t> cases[] = {
        {"after the driver", good, DiagTester::Driver, 0},
        {"after the erase", good, DiagTester::Erase, 0},
        {"after the request", good, DiagTester::Request, 0},
        {"after one transfer", good, DiagTester::Transfer, 0},
        {"without the CRC check", good, DiagTester::Exit, 0},
        {"wrong CRC", good, DiagTester::All, 1},
        {"header CRC wrong", badHeader, DiagTester::All, 0},
        {"body CRC wrong", badBody, DiagTester::All, 0},
        {"block too short", Bytes(good.begin(), good.end() - 4), DiagTester::All, 0},
    };
    const Bytes before = node->blocks().kpImage();
    for (const auto& [what, image, stop, crcOffset] : cases) {
        make();
        tester->unlock();
        const Bytes a = tester->download(blockid::kKpCpar, image, stop, crcOffset);
        if (stop == DiagTester::All) {
            EXPECT_EQ(a, (Bytes{0x71, 0x01, 0x02, 0x02, 0x01})) << what;
        }
        ask({0x10, 0x01}); // the session ends: nothing was taken, no restart
        tester->tick(10);
        EXPECT_TRUE(node->online()) << what;
        EXPECT_EQ(node->blocks().kpImage(), before) << what;
    }
    // A download that ends with missing bytes is refused at the exit.
    make();
    tester->unlock();
    tester->download(blockid::kKpCpar, good, DiagTester::Driver);
    ask({0x31, 0x01, 0xFF, 0x00, 0x01, 0x81});
    ask(cat({0x34, 0x00, 0x44, 0, 0, 0, 0x81}, big(uint32_t(good.size()))));
    ask(cat({0x36, 0x01}, Bytes(good.begin(), good.begin() + 100)));
    EXPECT_EQ(ask({0x37}), (Bytes{0x7F, 0x37, 0x72}));
    EXPECT_EQ(node->blocks().kpImage(), before);
}

TEST_F(DiagNodeTest, SprayInTheSceneEntersATroubleCode) {
    SimConfig sim;
    sim.sourceAddress = "127.0.0.1";
    {
        VirtualSensor probe(sim); // the scene's spray windows, from its truth
        while (!probe.truth(sim.firstFrameCounter).sprayActive ||
               !probe.truth(sim.firstFrameCounter + 30).sprayActive)
            sim.firstFrameCounter += 5;
    }
    make({}, sim);
    ask({0x14, 0xFF, 0xFF, 0xFF});
    ASSERT_TRUE(sensor->start()) << sensor->errorText();
    ASSERT_TRUE(sensor->waitForCycles(2, std::chrono::seconds(5)));
    tester->tick(1001);
    EXPECT_EQ(ask({0x19, 0x02, 0x01}), (Bytes{0x59, 0x02, 0xFF, 0x9A, 0x0A, 0x00, 0x09}));
    sensor->stop();
}

TEST_F(DiagNodeTest, CommandLineAddressRulesUntilAParameterWrite) {
    make([](CanConfig& c) { c.protocol = CanProtocol::CANopen, c.address = 55, c.bitRate = 500000; });
    EXPECT_EQ(node->nodeAddress(), 55);
    EXPECT_EQ(node->bitRate(), 500000u);
    tester->node = 55;
    tester->unlock();
    EXPECT_EQ(tester->download(blockid::kKpCpar, blockImageWith(*sensor, "CANBaudrate", 125000)), kPassed);
    tester->tick(5);
    EXPECT_FALSE(node->online()); // restarting by itself
    tester->tick(static_cast<int>(3000 * simTimeScale()) + 20);
    ASSERT_TRUE(node->online());
    EXPECT_EQ(node->nodeAddress(), 239); // the block's protocol (J1939) and address again
    EXPECT_EQ(node->bitRate(), 125000u);
}

TEST_F(DiagNodeTest, FirmwareImagesChangeVersionsAfterTheReset) {
    make([](CanConfig& c) { c.bootLoader = true; });
    tester->send({0x22, 0xF1, 0x86});
    EXPECT_FALSE(tester->answer(300)); // the boot loader does not know it
    EXPECT_EQ(ask({0x22, 0x07, 0x01}), (Bytes{0x7F, 0x22, 0x22}));
    tester->unlock();
    const Bytes image = cat(text("TRVSIM-FW block=DSP version=3.5.2 variant=LG\n"), Bytes(9000, 0xA5));
    EXPECT_EQ(tester->download(blockid::kDsp, image), kPassed);
    EXPECT_EQ(tester->download(blockid::kKp, Bytes(100, 0x11)), kPassed);
    EXPECT_EQ(ask({0x22, 0xFD, 0x15}), (Bytes{0x62, 0xFD, 0x15, 3, 4, 1})); // not before the reset
    EXPECT_EQ(ask({0x11, 0x01}), (Bytes{0x51, 0x01}));
    tester->tick(static_cast<int>(3000 * simTimeScale()) + 20);
    EXPECT_EQ(ask({0x22, 0xF1, 0x86}), (Bytes{0x62, 0xF1, 0x86, 0x01})); // application runs
    EXPECT_EQ(ask({0x22, 0xFD, 0x15}), (Bytes{0x62, 0xFD, 0x15, 3, 5, 2}));
    EXPECT_EQ(ask({0x22, 0xFD, 0x18}), cat({0x62, 0xFD, 0x18}, text("LG ")));
    // The DSP's version changed; the KP's image had no firmware line.
    EXPECT_EQ(ask({0x22, 0xFD, 0x03}),
              (Bytes{0x62, 0xFD, 0x03, 1, 0, 3, 1, 1, 0, 3, 4, 1, 3, 5, 2, 1, 2, 0, 3, 4, 1}));
    EXPECT_EQ(node->server().programmer().stored().at(blockid::kKp), Bytes(100, 0x11));
}

TEST(FirmwareLine, ParsesOnlyWellFormedFirstLines) {
    auto parse = [](const std::string& s) { return parseFirmwareLine(Bytes(s.begin(), s.end())); };
    const auto ok = parse("TRVSIM-FW block=KP version=1.2.3\nrest");
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->block, "KP");
    EXPECT_EQ(ok->version, (std::array<uint8_t, 3>{1, 2, 3}));
    EXPECT_TRUE(ok->variant.empty());
    for (const char* bad :
         {"TRVSIM-FW block=KP version=1.2.3", "TRVSIM-FW block=KP version=1.2\n", "TRVSIM-FW version=1.2.3\n",
          "TRVSIM-FW block=KP version=1.2.300\n", "TRVSIM-FW block=KP version=1.2.3 variant=XX\n",
          "XTRVSIM-FW block=KP version=1.2.3\n"})
        EXPECT_FALSE(parse(bad)) << bad;
}

// The whole sensor behind its CAN nodes (cycles in real time, nodes on a fake clock): the results
// follow the restarted sensor's address after a KP write and its layout after new firmware.
TEST(SensorNodes, ResultsFollowAParameterWriteAndNewFirmware) {
    VirtualSensor sensor(loopbackSensor(Variant::OD, "127.0.0.1", 42987));
    ASSERT_TRUE(sensor.start()) << sensor.errorText();
    CanConfig can;
    can.address = 200; // --can-address
    const auto nodes = makeSensorNodes(sensor, can);
    DiagTester tester(*nodes);
    tester.node = 200;
    // Ticks in real time until the sensor has restarted once more and the result sender has sent a
    // frame that matches (number, source); that frame's id, or 0 after 3 s.
    const auto resultAfterRestart = [&](const std::function<bool(uint32_t, uint32_t)>& match) {
        const uint64_t restarts = sensor.restartCount();
        std::size_t seen = tester.port.frames.size();
        for (const auto until = std::chrono::steady_clock::now() + 3s;
             std::chrono::steady_clock::now() < until;) {
            tester.tick();
            std::this_thread::sleep_for(1ms);
            if (sensor.restartCount() == restarts)
                seen = tester.port.frames.size(); // sent before the restart
            for (; seen < tester.port.frames.size(); ++seen)
                if (const uint32_t id = tester.port.frames[seen].frame.id;
                    (id & 0xFFFF0000u) == 0x18FF0000u && match(id >> 8 & 0xFFFF, id & 0xFF))
                    return id;
        }
        return 0u;
    };
    ASSERT_TRUE(sensor.waitForCycles(2, 2s));

    tester.unlock(); // the passed check of a KP block restarts the sensor by itself
    ASSERT_EQ(tester.download(blockid::kKpCpar, blockImageWith(sensor, "J1939SourceAddress", 77)), kPassed);
    const uint32_t od = resultAfterRestart([](uint32_t, uint32_t source) { return source == 77; });
    ASSERT_NE(od, 0u) << "no results from the written address";
    EXPECT_NE(od >> 8 & 0xFFFF, 0xFF00u) << "still the object list";
    tester.node = 77; // the diagnostic node back from its restart on its fake clock
    tester.tick(int(std::chrono::milliseconds(DiagNode::kRestartTime).count() * simTimeScale()) + 20);

    tester.unlock(); // new firmware, taken at the reset
    ASSERT_EQ(tester.download(blockid::kDsp,
                              cat(text("TRVSIM-FW block=DSP version=3.5.1 variant=LG\n"), Bytes(200, 0xA5))),
              kPassed);
    ASSERT_EQ(tester.ask({0x11, 0x01}), (Bytes{0x51, 0x01}));
    const uint32_t lg = resultAfterRestart([](uint32_t number, uint32_t) { return number == 0xFF00; });
    ASSERT_NE(lg, 0u) << "no guidance lines on CAN";
    EXPECT_EQ(lg & 0xFF, 77u) << "the written address survives the new layout";
}

SimConfig resultSensor(Variant variant) {
    SimConfig c = loopbackSensor(variant, "127.0.0.1", 42191);
    c.seed = 3;
    return c;
}

TEST(SimCanResults, ObjectListIsCutToTheConfiguredMaximum) {
    VirtualSensor sensor(resultSensor(Variant::OD));
    uint32_t busy = 1;
    while (busy < 2000 && sensor.truth(busy).numberOfObjects < 3)
        ++busy;
    const FrameTruth truth = sensor.truth(busy);
    ASSERT_GE(truth.numberOfObjects, 3);
    // Two objects of two messages each; the generations share the cut, their numbers differ.
    const J1939Numbers n = odNumbers(3);
    int data = 0;
    for (const SimCanFrame& f : j1939OdCycle(truth, 3, 239, 2))
        data += uint16_t(f.id >> 8) >= n.firstData && uint16_t(f.id >> 8) < n.firstData + 40;
    EXPECT_EQ(data, 4);
}

// A CANopen master's start-up: boot-up after the reset, an unknown index aborted, no process data
// before the start command.
TEST(SimCanResults, CanopenNodeAbortsUnknownIndicesAndWaitsForTheStart) {
    VirtualSensor sensor(resultSensor(Variant::OD));
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
    node.receive(frame(0, {0x81, 10}, false), now);
    run(50);
    ASSERT_EQ(bus.frames.size(), 1u);
    EXPECT_EQ(bus.frames.front().frame.id, 0x70Au) << "boot-up";
    EXPECT_EQ(node.nmtState(), CanResultSender::NmtState::PreOperational);

    bus.frames.clear();
    node.receive(frame(0x60A, {0x23, 0x01, 0x18, 1, 0x8A, 0x02, 0, 0x40}, false), now);
    node.receive(frame(0x60A, {0x23, 0x99, 0x19, 1, 0, 0, 0, 0}, false), now);
    run(100);
    ASSERT_EQ(bus.frames.size(), 2u) << "no process data before the start command";
    EXPECT_EQ(bus.frames[0].frame.data[0], 0x60);
    EXPECT_EQ(bus.frames[1].frame.id, 0x58Au);
    EXPECT_EQ(bus.frames[1].frame.data[0], 0x80) << "an unknown index is aborted";
    node.receive(frame(0, {0x01, 0}, false), now);
    sensor.waitForCycles(sensor.cyclesSent() + 2, std::chrono::seconds(2));
    run(1);
    sensor.stop();
    ASSERT_GT(bus.frames.size(), 2u);
    EXPECT_EQ(bus.frames[2].frame.id, 0x28Au) << "global information first, on its configured identifier";
}

} // namespace
} // namespace trvsim::test
