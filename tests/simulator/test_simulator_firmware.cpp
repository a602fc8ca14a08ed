// New firmware and parameter writes through the diagnostic node reach the whole sensor: the
// Ethernet stream takes the new variant and version after the restart, and the function results
// on CAN follow the firmware and the written CAN settings.

#include "diagtester.h"

#include "tests/support/simsensor.h"
#include "tests/support/streamcapture.h"

#include "simulator/can/canresultencoder.h"
#include "simulator/can/flashprogrammer.h"
#include "simulator/can/sensornodes.h"
#include "simulator/cycleproducer.h"
#include "simulator/virtualsensor.h"

#include "seedkey/seedkey.h"

#include <functional>
#include <thread>

namespace trvsim::test {
namespace {

Bytes firmwareImage(const std::string& line) {
    return cat(text(line + "\n"), Bytes(200, 0xA5));
}

std::string versionOf(const CapturedCycle& cycle) {
    const auto v = readArray<uint8_t>(cycle, "Meas_Customer_Data_Type.SoftwareVersion", 3, 256);
    return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]);
}

// The stream after new firmware, read back through the real reassembly and interpreter: the new
// identity and result layout, and the parameters both layouts know.
TEST(FirmwareIdentity, StreamCarriesTheNewFirmware) {
    CycleProducer producer(loopbackSensor(Variant::OD, "127.0.0.2", 42123));
    std::string error;
    ASSERT_TRUE(producer.init(error)) << error;
    producer.applyParameters({{"J1939SourceAddress", {77}}});

    SensorIdentity unknown;
    unknown.variant = Variant::LG;
    unknown.version = {9, 9, 0};
    EXPECT_FALSE(producer.applyIdentity(unknown, {}, error));
    EXPECT_NE(error.find("LG 9.9"), std::string::npos) << error;
    EXPECT_EQ(producer.identification().cameraVariant, "OD"); // nothing changed

    SensorIdentity lg;
    lg.variant = Variant::LG;
    lg.version = {3, 5, 1};
    ASSERT_TRUE(producer.applyIdentity(lg, {{"CycleTime", {50}}}, error)) << error;
    EXPECT_EQ(producer.cycleTimeMs(), 50u);
    EXPECT_TRUE(producer.dspParameters().count("LineGuidanceCust_xMin"));
    EXPECT_FALSE(producer.dspParameters().count("ObjectListCust_accBrake"));

    StreamCapture capture;
    DatagramBatch batch;
    for (uint32_t f = 10; f < 13; ++f) {
        producer.produce(f, batch);
        for (const auto& s : batch.sends())
            capture.feed(batch.slot(s.slot), s.length);
    }
    const auto cycles = capture.handOuts(1, true);
    ASSERT_FALSE(cycles.empty());
    const CapturedCycle& cycle = cycles.front();
    EXPECT_EQ(versionOf(cycle), "3.5.1");
    const auto variant = readArray<uint8_t>(cycle, "Meas_Customer_Data_Type.CameraVariant", 3, 256);
    EXPECT_EQ(std::string(variant.begin(), variant.end()), "LG ");
    EXPECT_EQ(
        readValue<uint8_t>(cycle, "Meas_Customer_Data_Type.KpCustomerParameter.J1939SourceAddress", 256), 77);
    FrameTruth truth;
    producer.renderTruth(cycle.cycleId, truth);
    ASSERT_TRUE(truth.hasLines);
    EXPECT_EQ(readValue<int32_t>(cycle, "AlgoIFOutput.lineGuidanceResult.lineList[0].id", 8),
              truth.lines[0].id);
}

// A streaming sensor behind its CAN nodes (diagnosis and results), driven frame by frame with a
// fake clock while its cycle thread runs in real time.
class FirmwareFlashTest : public ::testing::Test {
protected:
    void SetUp() override {
        sensor = std::make_unique<VirtualSensor>(loopbackSensor(Variant::OD, "127.0.0.1", 42987));
        ASSERT_TRUE(sensor->start()) << sensor->errorText();
        can.address = 200; // --can-address
        nodes = makeSensorNodes(*sensor, can);
        tester = std::make_unique<DiagTester>(*nodes);
        tester->node = 200;
    }

    Bytes ask(const Bytes& request) { return tester->ask(request); }
    void unlock() { tester->unlock(); }
    // Flash driver, erase, download and CRC check of one block; true when the check passed.
    bool program(uint8_t id, const Bytes& data) {
        auto download = [&](uint8_t block, const Bytes& bytes) {
            if (ask(cat({0x34, 0x00, 0x44, 0, 0, 0, block}, big(uint32_t(bytes.size()))))[0] != 0x74 ||
                ask(cat({0x36, 0x01}, bytes))[0] != 0x76 || ask({0x37})[0] != 0x77)
                return false;
            return ask(cat({0x31, 0x01, 0x02, 0x02}, big(crc32Of(bytes.data(), bytes.size())))) ==
                   Bytes{0x71, 0x01, 0x02, 0x02, 0x00};
        };
        return download(blockid::kFlashDriver, text("flash driver")) &&
               ask({0x31, 0x01, 0xFF, 0x00, 0x01, id})[0] == 0x71 && download(id, data);
    }
    // Ticks the nodes in real time until the sensor has restarted once more and then the result
    // sender has sent a frame that matches; that frame, or nothing after 3 s.
    std::optional<SimCanFrame> resultAfterRestart(const std::function<bool(const SimCanFrame&)>& match) {
        const uint64_t restarts = sensor->restartCount();
        std::size_t seen = tester->port.frames.size();
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (std::chrono::steady_clock::now() < until) {
            tester->tick();
            if (sensor->restartCount() == restarts) {
                seen = tester->port.frames.size(); // sent before the restart
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            for (; seen < tester->port.frames.size(); ++seen) {
                const SimCanFrame& f = tester->port.frames[seen].frame;
                if ((f.id & 0xFFFF0000u) == 0x18FF0000u && match(f))
                    return f;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return std::nullopt;
    }

    // Until the diagnostic node is back from its restart (its own, fake clock).
    void awaitDiagnosis() {
        tester->tick(int(std::chrono::milliseconds(DiagNode::kRestartTime).count() * simTimeScale()) + 20);
    }

    static uint16_t number(const SimCanFrame& f) { return uint16_t(f.id >> 8); }
    static uint8_t source(const SimCanFrame& f) { return uint8_t(f.id & 0xFF); }

    CanConfig can;
    std::unique_ptr<VirtualSensor> sensor;
    std::unique_ptr<CanNode> nodes;
    std::unique_ptr<DiagTester> tester;
};

TEST_F(FirmwareFlashTest, ParameterWriteAndNewFirmwareReachStreamAndResults) {
    // Before any write the command line's address rules, for diagnosis and results alike.
    ASSERT_TRUE(sensor->waitForCycles(2, std::chrono::seconds(2)));
    EXPECT_EQ(ask({0x3E, 0x00}), (Bytes{0x7E, 0x00}));

    // A KP block moving the J1939 source address: from the restart on the block rules.
    {
        SCOPED_TRACE("KP write");
        ParameterState state;
        ASSERT_TRUE(state.load(sensor->config().identity, factoryParameters(sensor->config())));
        DescribedBlock kp = state.kpBlock();
        ParameterValues moved{{"J1939SourceAddress", {77}}};
        kp.fill(moved);
        unlock();
        // The passed check of a KP block restarts the sensor by itself.
        ASSERT_TRUE(program(blockid::kKpCpar, makeBlockImage("KP__", "KP_CPAR", kp.data())));
        const auto od = resultAfterRestart([](const SimCanFrame& f) { return source(f) == 77; });
        ASSERT_TRUE(od) << "no results from the written address";
        EXPECT_NE(number(*od), 0xFF00) << "still the object list";
        tester->node = 77;
        awaitDiagnosis();
        EXPECT_EQ(ask({0x3E, 0x00}), (Bytes{0x7E, 0x00}));
    }

    // New firmware: LG 3.5.1, taken at the reset.
    {
        SCOPED_TRACE("firmware");
        unlock();
        ASSERT_TRUE(program(blockid::kDsp, firmwareImage("TRVSIM-FW block=DSP version=3.5.1 variant=LG")));
        EXPECT_EQ(sensor->identification().cameraVariant, "OD"); // not before the reset
        ASSERT_EQ(ask({0x11, 0x01}), (Bytes{0x51, 0x01}));
        const auto lg = resultAfterRestart([](const SimCanFrame& f) { return number(f) == 0xFF00; });
        ASSERT_TRUE(lg) << "no guidance lines on CAN";
        EXPECT_EQ(source(*lg), 77); // the written address survives the new layout
        awaitDiagnosis();
    }
    const IdentificationTruth id = sensor->identification();
    EXPECT_EQ(id.cameraVariant, "LG");
    EXPECT_EQ(id.softwareVersion, "3.5.1");
    EXPECT_EQ(id.j1939SourceAddress, 77);
    EXPECT_TRUE(sensor->truth(sensor->lastFrameCounter()).hasLines);
    EXPECT_TRUE(sensor->dspParameters().count("LineGuidanceCust_xMin"));
    EXPECT_EQ(ask({0x22, 0xFD, 0x18}), cat({0x62, 0xFD, 0x18}, text("LG ")));
}

} // namespace
} // namespace trvsim::test
