// The virtual sensor's function results on CAN, decoded by a decoder written here from the
// published bit layouts (not the plug-in's receivers) and compared with the scene's truth.

#include "simulator/can/canresultsender.h"
#include "simulator/virtualsensor.h"
#include "tests/simulator/socketcandpeer.h"
#include "tests/support/simsensor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

using namespace trvsim;

namespace {

uint32_t word(const uint8_t* b, int i) {
    return uint32_t(b[4 * i]) | uint32_t(b[4 * i + 1]) << 8 | uint32_t(b[4 * i + 2]) << 16 |
           uint32_t(b[4 * i + 3]) << 24;
}

ObjectTruth decodeObject(const uint8_t* b) {
    const uint32_t w0 = word(b, 0), w1 = word(b, 1), w2 = word(b, 2), w3 = word(b, 3);
    ObjectTruth o;
    o.id = int((w1 >> 6) & 0xFF);
    o.history = int((w3 >> 29) & 1);
    o.measured = int((w0 >> 15) & 1);
    o.type = int((w0 >> 7) & 1);
    o.age = int((w1 >> 4) & 3);
    o.x1 = (w3 & 0x1FFF) * 0.02f - 80;
    o.y1 = ((w3 >> 13) & 0x1FFF) * 0.02f - 80;
    o.x2 = o.x1 + ((w2 >> 20) * 0.02f - 40);
    o.y2 = o.y1 + (((w2 >> 8) & 0xFFF) * 0.02f - 40);
    o.zMin = ((w1 >> 14) & 0x7FF) * 0.02f - 10;
    o.zMax = o.zMin + (w2 & 0xFF) * 0.02f;
    o.vX = (w0 & 0x7F) * 0.5f - 30;
    o.vY = ((w0 >> 8) & 0x7F) * 0.5f - 30;
    o.vZ = ((w1 >> 25) & 0x1F) * 0.5f - 6;
    o.aX = float((w0 >> 24) & 0x1F) - 10;
    o.aY = float((w0 >> 16) & 0x1F) - 10;
    o.aZ = float(w1 & 0xF) - 5;
    o.existenceProbability = float((w0 >> 21) & 7);
    o.vXQuality = float(w0 >> 29);
    o.vYQuality = float((w3 >> 26) & 7);
    return o;
}

LineTruth decodeLine(const uint8_t* b) {
    const uint32_t w0 = word(b, 0), w1 = word(b, 1), w2 = word(b, 2), w3 = word(b, 3);
    LineTruth l;
    l.id = int(w0 & 0x7F);
    l.history = int((w1 >> 27) & 1);
    l.measured = int((w1 >> 25) & 1);
    l.type = int((w1 >> 24) & 1);
    l.alpha = float((w0 >> 7) & 0x1FF);
    l.offset = ((w1 >> 13) & 0x7FF) * 0.01f - 10;
    l.curvature = ((w0 >> 16) & 0xFF) * 0.0005f - 0.05f;
    l.quality = float((w0 >> 24) & 0x7F);
    l.foresight = float((w1 >> 8) & 0x1F);
    l.heap_area = ((w3 >> 7) & 0x3FF) * 0.01f;
    l.heap_area_valid = int((w3 >> 20) & 1);
    l.heap_width = float(w2 >> 25);
    l.heap_width_valid = int((w3 >> 19) & 1);
    l.center_of_gravity_offset = (w2 & 0xFF) * 0.05f - 5;
    l.center_of_gravity_offset_valid = int((w3 >> 21) & 1);
    l.max_height_offset = ((w2 >> 8) & 0xFF) * 0.05f - 5;
    l.max_height_offset_valid = int((w3 >> 17) & 1);
    l.heap_height = ((w2 >> 16) & 0x1FF) * 0.01f;
    l.heap_height_valid = int((w3 >> 18) & 1);
    l.z_step_detection_height = float((w0 >> 31) << 8 | (w1 & 0xFF)) * 0.01f;
    l.z_step_detection_valid = int((w1 >> 26) & 1);
    return l;
}

// The fields sent as they are: offset, scale and largest raw value of each.
template <class Truth> struct Field {
    float Truth::*member;
    float offset, scale, largest;
};
const Field<ObjectTruth> kObjectFields[] = {
    {&ObjectTruth::x1, -80, 0.02f, 0x1FFF},  {&ObjectTruth::y1, -80, 0.02f, 0x1FFF},
    {&ObjectTruth::zMin, -10, 0.02f, 0x7FF}, {&ObjectTruth::vX, -30, 0.5f, 0x7F},
    {&ObjectTruth::vY, -30, 0.5f, 0x7F},     {&ObjectTruth::vZ, -6, 0.5f, 0x1F},
    {&ObjectTruth::aX, -10, 1, 0x1F},        {&ObjectTruth::aY, -10, 1, 0x1F},
    {&ObjectTruth::aZ, -5, 1, 0xF},          {&ObjectTruth::existenceProbability, 0, 1, 7},
    {&ObjectTruth::vXQuality, 0, 1, 7},      {&ObjectTruth::vYQuality, 0, 1, 7},
};
const Field<LineTruth> kLineFields[] = {
    {&LineTruth::alpha, 0, 1, 0x1FF},
    {&LineTruth::offset, -10, 0.01f, 0x7FF},
    {&LineTruth::curvature, -0.05f, 0.0005f, 0xFF},
    {&LineTruth::quality, 0, 1, 0x7F},
    {&LineTruth::foresight, 0, 1, 0x1F},
    {&LineTruth::heap_area, 0, 0.01f, 0x3FF},
    {&LineTruth::heap_width, 0, 1, 0x7F},
    {&LineTruth::center_of_gravity_offset, -5, 0.05f, 0xFF},
    {&LineTruth::max_height_offset, -5, 0.05f, 0xFF},
    {&LineTruth::heap_height, 0, 0.01f, 0x1FF},
    {&LineTruth::z_step_detection_height, 0, 0.01f, 0x1FF},
};
// One-bit flags of a line.
int32_t LineTruth::*const kLineFlags[] = {
    &LineTruth::history,
    &LineTruth::measured,
    &LineTruth::type,
    &LineTruth::heap_area_valid,
    &LineTruth::heap_width_valid,
    &LineTruth::center_of_gravity_offset_valid,
    &LineTruth::max_height_offset_valid,
    &LineTruth::heap_height_valid,
    &LineTruth::z_step_detection_valid,
};

// Each field of decoded within half a step of truth (clamped to what the field can carry).
template <class Truth, std::size_t N>
void expectFields(const Truth& decoded, const Truth& truth, const Field<Truth> (&fields)[N]) {
    for (std::size_t i = 0; i < N; ++i) {
        const Field<Truth>& f = fields[i];
        EXPECT_NEAR(decoded.*f.member, std::clamp(truth.*f.member, f.offset, f.offset + f.largest * f.scale),
                    f.scale * 0.52f)
            << "field " << i;
    }
}

// The receiving side's J1939 collection: message number of a frame from source sa, 0 otherwise.
uint16_t messageNumber(const SimCanFrame& f, uint8_t sa) {
    return (f.id & 0xFF) == sa && f.extended ? uint16_t((f.id >> 8) & 0xFFFF) : 0;
}

SimConfig configFor(Variant variant, FirmwareVersion version) {
    SimConfig c = loopbackSensor(variant, "127.0.0.1", 42191);
    c.identity.version = version;
    c.seed = 3;
    return c;
}

// A frame counter whose scene has objects (OD) or lines (LG).
uint32_t busyFrame(const VirtualSensor& sensor, bool lines) {
    for (uint32_t f = 1; f < 2000; ++f) {
        const FrameTruth t = sensor.truth(f);
        if (lines ? t.numberOfLines > 0 : t.numberOfObjects >= 3)
            return f;
    }
    return 0;
}

struct Recorder : CanBusPort {
    void send(const SimCanFrame& frame) override { frames.push_back(frame); }
    std::vector<SimCanFrame> frames;
};

} // namespace

TEST(SimCanResults, ObjectListRoundTripsPerGeneration) {
    VirtualSensor sensor(configFor(Variant::OD, {3, 4, 1}));
    const uint32_t f = busyFrame(sensor, false);
    ASSERT_NE(f, 0u);
    const FrameTruth truth = sensor.truth(f);
    for (int generation : {1, 2, 3}) {
        SCOPED_TRACE(generation);
        const J1939Numbers n = odNumbers(generation);
        const int maxObjects = 2;
        std::map<int, std::array<uint8_t, 16>> objects;
        int objectCount = 0;
        bool ended = false;
        for (const SimCanFrame& fr : j1939OdCycle(truth, generation, 239, maxObjects)) {
            ASSERT_FALSE(ended) << "frames after the cycle end";
            const uint16_t m = messageNumber(fr, 239);
            if (m >= n.firstData && m < n.firstData + 40) {
                const int k = m - n.firstData;
                std::copy(fr.data.begin(), fr.data.end(), objects[k / 2].begin() + 8 * (k % 2));
                objectCount = (k + 1) / 2;
            } else if (m == n.secondState) {
                const uint32_t w = word(fr.data.data(), 0);
                EXPECT_EQ(fr.data[0], uint8_t(truth.crashPredictor.crashObjectID));
                EXPECT_NEAR(fr.data[1] * 0.04, truth.crashPredictor.crashPredictTime, 0.021);
                EXPECT_NEAR(((fr.data[2] | fr.data[3] << 8) & 0x1FF) * 0.1,
                            truth.crashPredictor.relImpactVelocity, 0.051);
                EXPECT_EQ(int((w >> 25) & 3) - 2, truth.crashPredictor.crashPredicted);
            } else if (m == n.cycleEnd) {
                EXPECT_EQ(fr.data[4], uint8_t(truth.available & 0xFF));
                ended = true;
            } else {
                FAIL() << "unexpected message " << std::hex << m;
            }
        }
        ASSERT_TRUE(ended);
        EXPECT_EQ(objectCount, std::min(maxObjects, truth.numberOfObjects))
            << "CANMaxNumberOfObjects limits the list";
        for (int i = 0; i < objectCount; ++i) {
            const ObjectTruth d = decodeObject(objects[i].data()), &t = truth.objects[size_t(i)];
            EXPECT_EQ(d.id, t.id & 0xFF);
            EXPECT_EQ(d.type, t.type & 1) << "the type travels as one bit";
            EXPECT_EQ(d.measured, t.measured);
            EXPECT_EQ(d.age, t.age & 3);
            EXPECT_EQ(d.history, t.history & 1);
            for (const auto& [member, offset, scale, largest] : kObjectFields)
                EXPECT_NEAR(d.*member, std::clamp(t.*member, offset, offset + largest * scale),
                            scale / 2 + 1e-3f)
                    << "field at offset " << offset << ", scale " << scale;
            EXPECT_NEAR(d.x2, t.x2, 0.021);
            EXPECT_NEAR(d.y2, t.y2, 0.021);
            EXPECT_NEAR(d.zMax, t.zMax, 0.021);
        }
    }
}

TEST(SimCanResults, LinesAreCompleteWhenMessage0xFF14Arrives) {
    VirtualSensor sensor(configFor(Variant::LG, {3, 5, 1}));
    const uint32_t f = busyFrame(sensor, true);
    ASSERT_NE(f, 0u);
    const FrameTruth truth = sensor.truth(f);
    std::array<std::array<uint8_t, 16>, kLineSlots> lines{};
    bool decoded = false;
    for (const SimCanFrame& fr : j1939LgCycle(truth, 239, kLineSlots)) {
        const uint16_t m = messageNumber(fr, 239);
        if (m == 0xFF01) {
            EXPECT_EQ(fr.data[4], uint8_t(truth.available & 0xFF));
        }
        if (m < 0xFF10 || m > 0xFF19)
            continue;
        const int k = m - 0xFF10;
        std::copy(fr.data.begin(), fr.data.end(), lines[size_t(k / 2)].begin() + 8 * (k % 2));
        if (m != 0xFF14)
            continue;
        decoded = true;
        for (int i = 0; i < kLineSlots; ++i) {
            SCOPED_TRACE(i);
            const LineTruth d = decodeLine(lines[size_t(i)].data());
            if (i >= truth.numberOfLines) {
                EXPECT_EQ(d.id, 0);
                continue;
            }
            const LineTruth& t = truth.lines[size_t(i)];
            EXPECT_EQ(d.id, t.id & 0x7F);
            expectFields(d, t, kLineFields);
            for (std::size_t k = 0; k < std::size(kLineFlags); ++k)
                EXPECT_EQ(d.*kLineFlags[k], t.*kLineFlags[k] & 1) << "flag " << k;
        }
    }
    EXPECT_TRUE(decoded);
}

TEST(SimCanResults, BasicFunctionValuesAndCount) {
    BasicFunctionValues v;
    v.count = 10;
    v.groups[0] = {0.0f, -1.5f, NAN, 300.f};
    v.groups[9] = {2.5f, 0.f, 0.f, NAN};
    // Quantity x of groups 0..3, then amplitude of groups 0..3 (messages 0 and 3).
    const auto x = encodeBasicFunctionMessage(v, 0);
    EXPECT_EQ(word(x.data(), 0) & 0x7FFF, 10000u) << "0.0 m is raw 10000";
    const auto z = encodeBasicFunctionMessage(v, 2);
    EXPECT_EQ(word(z.data(), 0) & 0x7FFF, 0x7FFFu) << "a value not available is 0x7FFF";
    const auto amplitude = encodeBasicFunctionMessage(v, 3);
    EXPECT_EQ(word(amplitude.data(), 0) & 0x7FFF, 150u);
    const auto group9x = encodeBasicFunctionMessage(v, 8 + 0);
    EXPECT_EQ((word(group9x.data(), 0) >> 15) & 0x7FFF, 10250u);
    EXPECT_EQ(word(group9x.data(), 1) & 0x7FFF, 0x7FFFu) << "groups beyond the count are not available";

    const auto frames = j1939BfCycle(v, 0x21, 3, 200);
    EXPECT_EQ(messageNumber(frames.front(), 200), 0xFF02);
    EXPECT_EQ(frames.front().data[0] & 3, 0) << "generation 3: multiplexer 0";
    EXPECT_EQ(frames.front().data[1], 10);
    EXPECT_EQ(frames.size(), 1u + 12u + 1u) << "three blocks of four groups, four quantities each";
    EXPECT_EQ(messageNumber(frames.back(), 200), 0xFF01);
    EXPECT_EQ(frames.back().data[4], 0x21);
    EXPECT_EQ(j1939BfCycle(v, 0, 1, 200).front().data[0], 10) << "generation 1: count in byte 0";

    // Default regions (the image quadrants) from the scene: the nearest valid point of each.
    VirtualSensor sensor(configFor(Variant::DI, {3, 4, 1}));
    const FrameTruth truth = sensor.truth(5);
    const BasicFunctionValues scene = basicFunctionValues(truth, sensor.dspParameters());
    EXPECT_EQ(scene.count, 4);
    for (int g = 0; g < 4; ++g)
        EXPECT_FALSE(std::isnan(scene.groups[size_t(g)].x)) << g;
}

TEST(SimCanResults, GenerationFollowsTheFirmwareVersion) {
    EXPECT_EQ(canResultGeneration(2, 2), 1);
    EXPECT_EQ(canResultGeneration(3, 1), 1);
    EXPECT_EQ(canResultGeneration(3, 3), 2);
    EXPECT_EQ(canResultGeneration(3, 4), 3);
}

// A CANopen master's start-up against the node: reset, boot-up, PDO configuration, start; then
// the object list on the configured identifiers.
TEST(SimCanResults, CanopenMasterConfiguresAndStartsTheNode) {
    SimConfig config = configFor(Variant::OD, {3, 4, 1});
    VirtualSensor sensor(config);
    ASSERT_TRUE(sensor.start()) << sensor.errorText();
    CanConfig can;
    can.protocol = CanProtocol::CANopen;
    can.address = 10;
    CanResultSender node(sensor, can);
    Recorder bus;
    node.attach(&bus);
    auto now = SimClock::now();
    auto frame = [](uint32_t id, std::vector<uint8_t> bytes) {
        return cantest::frame(id, std::move(bytes), false);
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
    EXPECT_EQ(bus.frames.front().id, 0x70Au);
    EXPECT_EQ(bus.frames.front().length, 1);
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
        EXPECT_EQ(bus.frames[i].id, 0x58Au);
        EXPECT_EQ(bus.frames[i].data[0], 0x60);
    }
    EXPECT_EQ(bus.frames.back().data[0], 0x80) << "an unknown index is aborted";

    bus.frames.clear();
    run(100);
    EXPECT_TRUE(bus.frames.empty()) << "no process data before the start command";
    node.receive(frame(0, {0x01, 0}), now);
    sensor.waitForCycles(sensor.cyclesSent() + 2, std::chrono::seconds(2));
    run(1);
    sensor.stop();
    ASSERT_GE(bus.frames.size(), 41u);
    EXPECT_EQ(bus.frames.front().id, 0x28Au) << "global information first";
    std::map<int, std::array<uint8_t, 16>> objects;
    for (size_t i = 1; i < 41; ++i) {
        ASSERT_TRUE(cobToTpdo.count(bus.frames[i].id)) << std::hex << bus.frames[i].id;
        const int tpdo = cobToTpdo[bus.frames[i].id];
        std::copy(bus.frames[i].data.begin(), bus.frames[i].data.end(),
                  objects[tpdo / 2].begin() + 8 * (tpdo % 2));
    }
    EXPECT_EQ(cobToTpdo[bus.frames[40].id], 39) << "object 19 closes the cycle";
    const FrameTruth truth = sensor.truth(sensor.lastFrameCounter());
    for (int o = 0; o < truth.numberOfObjects; ++o)
        EXPECT_EQ(decodeObject(objects[o].data()).id, truth.objects[size_t(o)].id & 0xFF);
}

TEST(SimCanResults, VehicleMessagesDecode) {
    VehicleSender vehicle(250000, 16.0, 0.0);
    Recorder bus;
    vehicle.attach(&bus);
    auto now = SimClock::now();
    for (int i = 0; i < 100; ++i)
        vehicle.tick(now += std::chrono::milliseconds(1));
    int speed = 0, yaw = 0, tacho = 0;
    for (const SimCanFrame& f : bus.frames) {
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
