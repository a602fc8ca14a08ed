// The virtual sensor's datagrams, reassembled by the real CycleAssembler and read by the real
// interpreter, give back the scene's truth.

#include "tests/support/simsensor.h"
#include "tests/support/streamcapture.h"

#include "simulator/cycleproducer.h"
#include "udp-transport/udpframing.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

using namespace trvsim;

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
                datagrams.emplace_back(batch.slot(s.slot), batch.slot(s.slot) + s.length);
                capture.feed(batch.slot(s.slot), s.length);
            }
        }
    }
    CycleProducer producer;
    std::string error;
    bool ready = false;
    DatagramBatch batch;
    StreamCapture capture;
    std::vector<std::vector<uint8_t>> datagrams;
};

std::string text(const std::vector<int8_t>& chars) {
    std::string s;
    for (int8_t c : chars) {
        if (c == 0)
            break;
        s.push_back(static_cast<char>(c));
    }
    return s;
}

const std::string A = "AlgoIFOutput.distanceImageResult.";

void expectImage(const CapturedCycle& cycle, const FrameTruth& t) {
    EXPECT_EQ(readValue<uint16_t>(cycle, A + "sensorWidth", 8), 64);
    EXPECT_EQ(readValue<uint16_t>(cycle, A + "sensorHeight", 8), 16);
    EXPECT_EQ(readValue<uint32_t>(cycle, A + "masterclockTimestamp", 8), t.masterclockTimestamp);
    EXPECT_EQ(readValue<uint32_t>(cycle, A + "available", 8), t.available);
    // An array member equals its truth (returned for the checks below).
    const auto same = [&](auto type, const char* name, const auto& truth, uint32_t count) {
        const auto got = readArray<decltype(type)>(cycle, A + name, count, 8);
        EXPECT_TRUE(std::equal(got.begin(), got.end(), truth.begin())) << name;
        return got;
    };
    const auto distance = same(uint16_t{}, "distanceData", t.distanceData, 1024);
    const auto confidence = same(uint16_t{}, "confidence", t.confidence, 1024);
    same(uint16_t{}, "amplitude", t.amplitude, 1024);
    const auto x = same(float{}, "X", t.X, 1024), y = same(float{}, "Y", t.Y, 1024),
               z = same(float{}, "Z", t.Z, 1024);
    same(float{}, "amplitude_normalization", t.amplitude_normalization, 4);
    same(float{}, "fieldOfView.upperLeft", t.fovUpperLeft, 3);
    same(float{}, "fieldOfView.lowerRight", t.fovLowerRight, 3);

    // The pose as sent, and the camera-axis distance a receiver computes from it.
    const float rotX = readValue<float>(cycle, A + "cameraCalibration.rotX", 8);
    const float rotY = readValue<float>(cycle, A + "cameraCalibration.rotY", 8);
    const float transX = readValue<float>(cycle, A + "cameraCalibration.transX", 8);
    const float transY = readValue<float>(cycle, A + "cameraCalibration.transY", 8);
    const float transZ = readValue<float>(cycle, A + "cameraCalibration.transZ", 8);
    EXPECT_EQ(rotX, t.cameraCalibration.rotX);
    EXPECT_EQ(rotY, t.cameraCalibration.rotY);
    EXPECT_EQ(transZ, t.cameraCalibration.transZ);
    EXPECT_EQ(readValue<float>(cycle, A + "cameraCalibration.rotZ", 8), t.cameraCalibration.rotZ);
    for (int i = 0; i < 1024; ++i) {
        const float axis = std::sin(rotY) * (x[i] - transX) -
                           std::sin(rotX) * std::cos(rotY) * (y[i] - transY) +
                           std::cos(rotX) * std::cos(rotY) * (z[i] - transZ);
        ASSERT_NEAR(axis, t.cameraAxisDistance[i], 1e-4f) << "pixel " << i;
        // Valid pixels: the radial distance in millimetres matches the point.
        if (!(confidence[i] & confidence::kInvalid)) {
            const double r =
                std::sqrt(double(x[i] - transX) * (x[i] - transX) + double(y[i] - transY) * (y[i] - transY) +
                          double(z[i] - transZ) * (z[i] - transZ));
            ASSERT_NEAR(distance[i] / 1000.0, r, 0.0011) << "pixel " << i;
        }
    }
}

void expectObjects(const CapturedCycle& cycle, const FrameTruth& t) {
    const std::string o = "AlgoIFOutput.objectDetectionResult.";
    for (int k = 0; k < kObjectSlots; ++k) {
        const std::string p = o + "objectList[" + std::to_string(k) + "].";
        const ObjectTruth& e = t.objects[k];
        EXPECT_EQ(readValue<int32_t>(cycle, p + "id", 8), e.id) << k;
        EXPECT_EQ(readValue<int32_t>(cycle, p + "type", 8), e.type) << k;
        EXPECT_EQ(readValue<int32_t>(cycle, p + "age", 8), e.age) << k;
        EXPECT_EQ(readValue<float>(cycle, p + "x1", 8), e.x1) << k;
        EXPECT_EQ(readValue<float>(cycle, p + "y2", 8), e.y2) << k;
        EXPECT_EQ(readValue<float>(cycle, p + "zMax", 8), e.zMax) << k;
        EXPECT_EQ(readValue<float>(cycle, p + "vX", 8), e.vX) << k;
        EXPECT_EQ(readValue<float>(cycle, p + "existenceProbability", 8), e.existenceProbability) << k;
        EXPECT_EQ(readValue<float>(cycle, p + "vYQuality", 8), e.vYQuality) << k;
    }
    const std::string c = o + "crashPredictorResult.";
    EXPECT_EQ(readValue<int32_t>(cycle, c + "crashObjectID", 8), t.crashPredictor.crashObjectID);
    EXPECT_EQ(readValue<float>(cycle, c + "crashPredictTime", 8), t.crashPredictor.crashPredictTime);
    EXPECT_EQ(readValue<float>(cycle, c + "relImpactVelocity", 8), t.crashPredictor.relImpactVelocity);
    EXPECT_EQ(readValue<int32_t>(cycle, c + "crashPredicted", 8), t.crashPredictor.crashPredicted);
    for (int i = 0; i < 19; ++i)
        EXPECT_EQ(readValue<float>(cycle, A + "intrExtrCalib_2d." + kCalibration2dNames[i], 8),
                  t.calibration2d[i]);
}

void expectLines(const CapturedCycle& cycle, const FrameTruth& t) {
    const std::string l = "AlgoIFOutput.lineGuidanceResult.";
    for (int k = 0; k < kLineSlots; ++k) {
        const std::string p = l + "lineList[" + std::to_string(k) + "].";
        const LineTruth& e = t.lines[k];
        EXPECT_EQ(readValue<int32_t>(cycle, p + "id", 8), e.id) << k;
        EXPECT_EQ(readValue<float>(cycle, p + "alpha", 8), e.alpha) << k;
        EXPECT_EQ(readValue<float>(cycle, p + "offset", 8), e.offset) << k;
        EXPECT_EQ(readValue<float>(cycle, p + "heap_height", 8), e.heap_height) << k;
        EXPECT_EQ(readValue<int32_t>(cycle, p + "heap_height_valid", 8), e.heap_height_valid) << k;
        EXPECT_EQ(readValue<float>(cycle, p + "z_step_detection_height", 8), e.z_step_detection_height) << k;
        EXPECT_EQ(readValue<int32_t>(cycle, p + "z_step_detection_valid", 8), e.z_step_detection_valid) << k;
    }
    const auto ref = readArray<float>(cycle, l + "ref_Point", 3, 8);
    EXPECT_TRUE(std::equal(ref.begin(), ref.end(), t.refPoint.begin()));
    const std::string c = "AlgoIFOutput.calibrationResult.commonCalibrationResult.";
    EXPECT_EQ(readValue<float>(cycle, c + "calibResult.transZ", 8), t.calibResult.transZ);
    EXPECT_EQ(readValue<float>(cycle, c + "calibResult.rotY", 8), t.calibResult.rotY);
    EXPECT_EQ(readValue<int32_t>(cycle, c + "calibrationStableCounter", 8),
              t.calibResult.calibrationStableCounter);
    EXPECT_EQ(readValue<int32_t>(cycle, c + "calibValid", 8), t.calibResult.calibValid);
}

void expectIdentification(const CapturedCycle& cycle, const IdentificationTruth& id, const FrameTruth& t) {
    const std::string m = "Meas_Customer_Data_Type.";
    const auto version = readArray<uint8_t>(cycle, m + "SoftwareVersion", 3, 256);
    EXPECT_EQ(std::to_string(version[0]) + "." + std::to_string(version[1]) + "." +
                  std::to_string(version[2]),
              id.softwareVersion);
    const auto variant = readArray<uint8_t>(cycle, m + "CameraVariant", 3, 256);
    EXPECT_EQ(std::string(variant.begin(), variant.end()), id.cameraVariant + " ");
    EXPECT_EQ(text(readArray<int8_t>(cycle, m + "CameraPartNumber", 6, 256)), id.partNumber);
    EXPECT_EQ(text(readArray<int8_t>(cycle, m + "CameraSerialNumber", 20, 256)), id.serialNumber);
    EXPECT_EQ(readValue<uint32_t>(cycle, m + "CANBaudrate", 256), id.canBaudrate);
    EXPECT_EQ(readValue<uint8_t>(cycle, m + "OpMode", 256), 34);
    EXPECT_EQ(readValue<float>(cycle, m + "CameraMainTemperature", 256), t.cameraMainTemperature);
    EXPECT_EQ(readValue<float>(cycle, m + "IlluTemperature", 256), t.illuTemperature);
    EXPECT_EQ(readValue<uint8_t>(cycle, m + "KpCustomerParameter.J1939SourceAddress", 256),
              id.j1939SourceAddress);
    EXPECT_EQ(readValue<uint8_t>(cycle, m + "KpCustomerParameter.CANopenNodeAddress", 256),
              id.canopenNodeAddress);
    EXPECT_EQ(readValue<uint8_t>(cycle, m + "KpCustomerParameter.CANProtocol", 256), id.canProtocol);
}

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

TEST_P(RoundTripTest, DecodedCyclesGiveBackTheTruth) {
    RoundTrip rt(configFor(GetParam()));
    ASSERT_TRUE(rt.ready) << rt.error;
    rt.run(100, 9);

    const StreamStatistics& counters = rt.capture.assembler.counters();
    EXPECT_EQ(counters.missingPacketEvents, 0u);
    EXPECT_EQ(counters.lrcErrors, 0u);
    EXPECT_EQ(counters.startDelimiterErrors, 0u);
    EXPECT_EQ(counters.endDelimiterErrors, 0u);
    const auto errors = rt.capture.errors();
    EXPECT_TRUE(errors.empty()) << errors.front();

    // Every cycle but the newest is handed out early; each is read as the plug-in reads it.
    const auto cycles = rt.capture.handOuts(1, true);
    ASSERT_EQ(cycles.size(), 8u);
    const IdentificationTruth id = rt.producer.identification();
    const ParameterValues dsp = rt.producer.dspParameters();
    const ParameterValues kp = rt.producer.kpParameters();
    for (const CapturedCycle& cycle : cycles) {
        ASSERT_TRUE(cycle.has(8) && cycle.has(9) && cycle.has(14) && cycle.has(15) && cycle.has(256) &&
                    cycle.has(257));
        const uint32_t frame = readValue<uint32_t>(cycle, A + "frameCounter", 8);
        EXPECT_EQ(frame, cycle.cycleId);
        FrameTruth truth;
        rt.producer.renderTruth(frame, truth);
        SCOPED_TRACE("frame " + std::to_string(frame));
        expectImage(cycle, truth);
        if (GetParam() == Variant::OD)
            expectObjects(cycle, truth);
        if (GetParam() == Variant::LG)
            expectLines(cycle, truth);
        expectIdentification(cycle, id, truth);
        int compared = 0;
        expectParameters(cycle, dsp, "SDspFrameCustomerKvel_t.DspCustomerParameter.", 14, compared);
        expectParameters(cycle, kp, "Meas_Customer_Data_Type.KpCustomerParameter.", 256, compared);
        EXPECT_GT(compared, 30);
    }
}

TEST_P(RoundTripTest, WireLayoutFollowsTheStreamRules) {
    RoundTrip rt(configFor(GetParam()));
    ASSERT_TRUE(rt.ready) << rt.error;
    rt.run(1, 6);
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
    EXPECT_EQ(lastCounter.size(), 2u) << "both sub-devices send";

    // The pixel direction table arrives whole in the cycle of its part 0 once the later parts are
    // in; every complete hand-out of such a cycle carries all of it.
    int tables = 0;
    for (const CapturedCycle& cycle : rt.capture.handOuts(1, false)) {
        if (!cycle.has(20))
            continue;
        ++tables;
        EXPECT_EQ(cycle.cycleId, 1u);
        const auto directions = readArray<float>(cycle, "PixelDirectionTable_t.direction", 3072, 20);
        // Unit vectors, looking along +z of the camera.
        for (int i = 0; i < 1024; ++i) {
            const float* d = &directions[i * 3];
            ASSERT_NEAR(d[0] * d[0] + d[1] * d[1] + d[2] * d[2], 1.0f, 1e-5f);
            ASSERT_GT(d[2], 0.75f); // the widest corner is about 38 degrees off the axis
        }
    }
    EXPECT_EQ(tables, 1);

    // The KP's own channel, big-endian, with its cycle counter.
    const auto kpCycles = rt.capture.handOuts(2, true);
    ASSERT_FALSE(kpCycles.empty());
    for (const CapturedCycle& cycle : kpCycles) {
        ASSERT_TRUE(cycle.has(64) && cycle.has(65));
        EXPECT_EQ(readValue<uint32_t>(cycle, "KpStatus_t.cycleCounter", 64), cycle.cycleId);
        EXPECT_EQ(readValue<uint8_t>(cycle, "KpStatus_t.OpMode", 64), 34);
    }
}

INSTANTIATE_TEST_SUITE_P(Variants, RoundTripTest, ::testing::Values(Variant::DI, Variant::OD, Variant::LG),
                         [](const auto& info) { return std::string(variantName(info.param)); });

// Counting allocations of this test binary, switched on only around the code under test.
namespace {
std::atomic<bool> countAllocations{false};
std::atomic<long> allocations{0};
} // namespace

void* operator new(std::size_t size) {
    if (countAllocations.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

TEST(SimulatorCycle, SteadyCyclesAllocateNothing) {
    SimConfig config = configFor(Variant::OD);
    config.faults.dropShare = 0.01; // the fault path too
    CycleProducer producer(config);
    std::string error;
    ASSERT_TRUE(producer.init(error)) << error;
    DatagramBatch batch;
    for (uint32_t f = 1; f <= 8; ++f) // warm-up: buffers reach their size
        producer.produce(f, batch);
    allocations = 0;
    countAllocations = true;
    for (uint32_t f = 9; f <= 40; ++f)
        producer.produce(f, batch);
    countAllocations = false;
    EXPECT_EQ(allocations.load(), 0);
    EXPECT_GT(batch.sends().size(), 10u);
}
