// The virtual sensor's datagrams through the real reassembly and interpreter: the scene's truth, each
// fault as the receiving side counts it, and new firmware's identity and layout; last the sensor on
// loopback with real sockets in short runs.

#include "tests/support/loopbacksocket.h"
#include "tests/support/simsensor.h"
#include "tests/support/streamcapture.h"

#include "simulator/cycleproducer.h"
#include "simulator/virtualsensor.h"
#include "udp-transport/udpframing.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <tuple>

using namespace trvsim;
using namespace std::chrono_literals;

namespace {

SimConfig configFor(Variant variant) {
    SimConfig c = loopbackSensor(variant, "127.0.0.2", 42123);
    c.identity.version = variant == Variant::LG ? FirmwareVersion{3, 5, 2} : FirmwareVersion{3, 4, 1};
    c.identity.serialNumber = "RT-" + std::string(variantName(variant)) + "-0042";
    c.seed = 7;
    return c;
}

struct RoundTrip {
    explicit RoundTrip(const SimConfig& config) : producer(config) { ready = producer.init(error); }
    // Produces and feeds the cycles first .. first + count - 1.
    void run(uint32_t first, uint32_t count) {
        for (uint32_t f = first; f < first + count; ++f) {
            producer.produce(f, batch);
            for (const auto& s : batch.sends()) {
                const uint8_t* d = batch.slot(s.slot);
                datagrams.emplace_back(d, d + s.length);
                channelsFramed += s.length >= 32 && udpframing::DatagramHeader::read(d).indexInChannel == 0;
                capture.feed(d, s.length);
            }
        }
    }
    CycleProducer producer;
    std::string error;
    bool ready = false;
    DatagramBatch batch;
    StreamCapture capture;
    std::vector<std::vector<uint8_t>> datagrams;
    std::size_t channelsFramed = 0;
};

const std::string A = "AlgoIFOutput.distanceImageResult.";

// Checks members below a prefix against their truth, each read as the truth's type.
struct Members {
    const CapturedCycle& cycle;
    std::string prefix;
    int channel = 8;
    template <class T> void operator()(const char* name, T expected) const {
        EXPECT_EQ(readValue<T>(cycle, prefix + name, channel), expected) << prefix << name;
    }
};

void expectParameters(const CapturedCycle& cycle, const ParameterValues& values, const std::string& prefix,
                      int channel, int& compared) {
    for (const auto& [name, expected] : values) {
        std::vector<double> got(expected.size());
        try {
            kvel::read<double>(prefix + name, got.data(), static_cast<uint32_t>(got.size()), cycle.chunks(),
                               channel);
        } catch (const std::exception&) {
            continue; // a member of the parameter block that the stream structure does not carry
        }
        EXPECT_EQ(got, expected) << prefix << name;
        ++compared;
    }
}

class RoundTripTest : public ::testing::TestWithParam<Variant> {};

} // namespace

TEST_P(RoundTripTest, DatagramsFollowTheStreamRulesAndCyclesGiveBackTheTruth) {
    RoundTrip rt(configFor(GetParam()));
    ASSERT_TRUE(rt.ready) << rt.error;
    rt.run(1, 9);
    std::map<uint16_t, uint32_t> lastCounter;
    for (const auto& d : rt.datagrams) {
        ASSERT_LE(d.size(), 1472u);
        const auto h = udpframing::DatagramHeader::read(d.data());
        EXPECT_EQ(h.version, 3);
        EXPECT_EQ(h.payloadLength, d.size() - 32);
        if (lastCounter.count(h.subDevice)) {
            EXPECT_EQ(h.packetCounter, lastCounter[h.subDevice] + 1) << "sub-device " << h.subDevice;
        }
        lastCounter[h.subDevice] = h.packetCounter;
        // The automatic search reads the identification pair only as single datagrams.
        if (h.channelId == 256 || h.channelId == 257) {
            EXPECT_EQ(h.packetsInChannel, 1);
            EXPECT_EQ(h.subDevice, udpframing::kSubDeviceDsp);
            EXPECT_GT(d.size(), 64u);
        }
    }
    const StreamStatistics& counters = rt.capture.assembler.counters();
    EXPECT_EQ(counters.missingPacketEvents + counters.lrcErrors + counters.startDelimiterErrors +
                  counters.endDelimiterErrors,
              0u);
    EXPECT_EQ(rt.capture.errors(), std::vector<std::string>{});

    // Every cycle but the newest is handed out early; each is read as the plug-in reads it.
    const auto cycles = rt.capture.handOuts(1, true);
    ASSERT_EQ(cycles.size(), 8u);
    for (const CapturedCycle& cycle : cycles) {
        ASSERT_TRUE(cycle.has(8) && cycle.has(9) && cycle.has(14) && cycle.has(15) && cycle.has(256) &&
                    cycle.has(257));
        const uint32_t frame = readValue<uint32_t>(cycle, A + "frameCounter", 8);
        EXPECT_EQ(frame, cycle.cycleId);
        FrameTruth t;
        rt.producer.renderTruth(frame, t);
        SCOPED_TRACE("frame " + std::to_string(frame));
        // What the result end-to-end test (pixels, flags, the pose's effect) does not see.
        const CameraPose& c = t.cameraCalibration;
        const Members pose{cycle, A + "cameraCalibration."};
        pose("rotY", c.rotY), pose("rotZ", c.rotZ), pose("transX", c.transX), pose("transY", c.transY);
        EXPECT_EQ(readArray<float>(cycle, A + "fieldOfView.upperLeft", 3, 8),
                  std::vector<float>(t.fovUpperLeft.begin(), t.fovUpperLeft.end()));
        int compared = 0;
        expectParameters(cycle, rt.producer.dspParameters(), "SDspFrameCustomerKvel_t.DspCustomerParameter.",
                         14, compared);
        expectParameters(cycle, rt.producer.kpParameters(), "Meas_Customer_Data_Type.KpCustomerParameter.",
                         256, compared);
        EXPECT_GT(compared, 30);
    }
    // The pixel direction table, sent in parts over 4 cycles, arrives whole in the cycle of its part 0
    // once the later parts are in; every complete hand-out of such a cycle carries all of it.
    int tables = 0;
    for (const CapturedCycle& cycle : rt.capture.handOuts(1, false)) {
        if (!cycle.has(20))
            continue;
        ++tables;
        EXPECT_EQ(cycle.cycleId % kPixelDirectionParts, 1u);
        EXPECT_EQ(readArray<float>(cycle, "PixelDirectionTable_t.direction", 3072, 20).size(), 3072u);
    }
    EXPECT_EQ(tables, 2); // cycles 1 and 5

    // The KP's own channel, big-endian, with its cycle counter.
    const auto kpCycles = rt.capture.handOuts(2, true);
    ASSERT_FALSE(kpCycles.empty());
    for (const CapturedCycle& cycle : kpCycles) {
        ASSERT_TRUE(cycle.has(64) && cycle.has(65));
        EXPECT_EQ(readValue<uint32_t>(cycle, "KpStatus_t.cycleCounter", 64), cycle.cycleId);
    }
}

INSTANTIATE_TEST_SUITE_P(Variants, RoundTripTest, ::testing::Values(Variant::DI, Variant::OD, Variant::LG),
                         [](const auto& info) { return std::string(variantName(info.param)); });

namespace {

// An OD sensor with the given faults, its cycles 1 .. cycles fed straight into the reassembly.
struct FaultRun : RoundTrip {
    FaultRun(const std::function<void(FaultConfig&)>& set, uint32_t cycles = 24)
        : RoundTrip([&] {
              SimConfig config; // an OD sensor
              config.seed = 99;
              set(config.faults);
              return config;
          }()) {
        EXPECT_TRUE(ready) << error;
        run(1, cycles);
        counters = capture.assembler.counters();
        faults = producer.faultCounts();
    }
    StreamStatistics counters;
    FaultCounts faults;
};

} // namespace

// The faults the sensor plays are what the reassembly counts.
TEST(SimulatorFaults, LostDuplicatedAndReorderedDatagramsBreakTheCounterSequence) {
    for (auto [share, value] : {std::pair{&FaultConfig::dropShare, 0.1},
                                {&FaultConfig::duplicateShare, 0.05},
                                {&FaultConfig::reorderShare, 0.05}}) {
        const FaultRun run([&](FaultConfig& f) { f.*share = value; });
        const uint64_t played = run.faults.dropped + run.faults.duplicated + run.faults.reordered;
        ASSERT_GT(played, 0u);
        // A fault breaks the datagram counter sequence (neighbouring ones may share a break; a
        // swapped pair breaks it twice).
        EXPECT_GT(run.counters.missingPacketEvents, played / 3);
        EXPECT_LE(run.counters.missingPacketEvents, 2 * played);
    }
}

// A damaged channel is counted as often as the sensor played it; at a share of 1 on every channel.
TEST(SimulatorFaults, DamagedChannelsAreCountedAsOftenAsPlayed) {
    using Case =
        std::tuple<double FaultConfig::*, double, uint64_t StreamStatistics::*, uint64_t FaultCounts::*>;
    for (auto [share, value, counter, played] :
         {Case{&FaultConfig::badLrcShare, 1.0, &StreamStatistics::lrcErrors, &FaultCounts::badLrc},
          Case{&FaultConfig::badEndShare, 1.0, &StreamStatistics::endDelimiterErrors, &FaultCounts::badEnd},
          Case{&FaultConfig::badStartShare, 0.3, &StreamStatistics::startDelimiterErrors,
               &FaultCounts::badStart}}) {
        const FaultRun run([&](FaultConfig& f) { f.*share = value; }, 12);
        ASSERT_GT(run.faults.*played, 0u);
        EXPECT_EQ(run.counters.*counter, run.faults.*played);
        EXPECT_EQ(run.counters.*counter == run.channelsFramed, value == 1.0);
        EXPECT_EQ(run.counters.missingPacketEvents, 0u);
    }
}

// Without checksums every channel sends zero and none is counted wrong; truncated datagrams keep their
// header and leave no channel whole; a second sender's counters jump at every switch between the two.
TEST(SimulatorFaults, NoChecksumTruncationAndASecondSender) {
    const FaultRun noLrc([](FaultConfig& f) { f.noLrc = true; }, 4);
    for (const auto& d : noLrc.datagrams)
        if (udpframing::DatagramHeader::read(d.data()).indexInChannel == 0) {
            EXPECT_EQ(udpframing::ChannelHeader::read(d.data() + 32, d.size() - 32).lrc, 0u);
        }
    EXPECT_EQ(noLrc.counters.lrcErrors, 0u);
    const FaultRun truncated([](FaultConfig& f) { f.truncateShare = 1.0; }, 4);
    EXPECT_EQ(truncated.faults.truncated, truncated.datagrams.size());
    for (const auto& d : truncated.datagrams)
        EXPECT_GE(d.size(), 32u);
    EXPECT_TRUE(truncated.capture.handOuts(1, true).empty()) << "no channel is whole";
    const FaultRun twoSenders([](FaultConfig& f) { f.secondSender = true; }, 10);
    EXPECT_GE(twoSenders.counters.missingPacketEvents, 2u * 10u);
}

TEST(SimulatorFirmware, StreamCarriesTheNewFirmware) {
    RoundTrip rt(loopbackSensor(Variant::OD, "127.0.0.2", 42123));
    ASSERT_TRUE(rt.ready) << rt.error;
    CycleProducer& producer = rt.producer;
    std::string error;
    producer.applyParameters({{"J1939SourceAddress", {77}}});

    SensorIdentity unknown;
    unknown.variant = Variant::LG;
    unknown.version = {9, 9, 0};
    EXPECT_FALSE(producer.applyIdentity(unknown, {}, error));
    EXPECT_EQ(error, "no parameter descriptions for LG 9.9"); // a sensor that is started so says the same
    EXPECT_EQ(producer.identification().cameraVariant, "OD"); // nothing changed

    SensorIdentity lg;
    lg.variant = Variant::LG;
    lg.version = {3, 5, 1};
    ASSERT_TRUE(producer.applyIdentity(lg, {{"CycleTime", {50}}}, error)) << error;
    EXPECT_EQ(producer.cycleTimeMs(), 50u);
    EXPECT_TRUE(producer.dspParameters().count("LineGuidanceCust_xMin"));
    EXPECT_FALSE(producer.dspParameters().count("ObjectListCust_accBrake"));

    rt.run(10, 3);
    const auto cycles = rt.capture.handOuts(1, true);
    ASSERT_FALSE(cycles.empty());
    const CapturedCycle& cycle = cycles.front();
    FrameTruth truth;
    producer.renderTruth(cycle.cycleId, truth);
    ASSERT_TRUE(truth.hasLines);
    const Members line{cycle, "AlgoIFOutput.lineGuidanceResult.lineList[0]."};
    line("id", truth.lines[0].id), line("alpha", truth.lines[0].alpha), line("offset", truth.lines[0].offset);
    const std::string m = "Meas_Customer_Data_Type.";
    EXPECT_EQ(readArray<uint8_t>(cycle, m + "SoftwareVersion", 3, 256), (std::vector<uint8_t>{3, 5, 1}));
    EXPECT_EQ(readArray<uint8_t>(cycle, m + "CameraVariant", 3, 256), (std::vector<uint8_t>{'L', 'G', ' '}));
    Members{cycle, m, 256}("KpCustomerParameter.J1939SourceAddress", uint8_t(77));
}

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
