// The CAN result decoders on the virtual sensor's frames and on hand-made ones, then the receivers'
// threads on a scripted bus.
#include "can-communication/Receiver_OD.h"
#include "can-communication/multireceivecanproxy.h"
#include "tests/can-communication/canresulttruth.h"
#include "tests/can-communication/scriptedcandevice.h"
#include "tests/support/messagecapture.h"
#include "tests/support/simsensor.h"

#include <QElapsedTimer>
#include <QtEndian>

#include <gtest/gtest.h>

using Function = ResultFrameMap::Function;
using namespace canresults;

namespace {

trvsim::SimConfig sceneConfig(trvsim::Variant variant) {
    trvsim::SimConfig c = loopbackSensor(variant, "127.0.0.1", 9);
    c.seed = 3;
    c.identity.version = {3, 4, 1};
    return c;
}

// Calls `use` with a new decoder of the map's function.
template <class Use> void withDecoder(const ResultFrameMap& map, Use use) {
    if (map.function() == Function::OD) {
        ObjectResultDecoder decoder(map);
        use(decoder);
    } else if (map.function() == Function::BF) {
        BasicFunctionResultDecoder decoder(map);
        use(decoder);
    } else {
        LineResultDecoder decoder(map);
        use(decoder);
    }
}

// Feeds frames; returns how many cycles they completed.
int feed(ResultDecoder& decoder, const std::vector<CanFrame>& frames, qint64 nowMs = 0) {
    int cycles = 0;
    for (const CanFrame& f : frames)
        cycles += decoder.feed(f, nowMs) ? 1 : 0;
    return cycles;
}

std::vector<CanFrame> j1939(uint16_t number, std::vector<uint8_t> bytes, uint8_t sa = 239) {
    bytes.resize(8);
    return {canFrame(0x18000000u | uint32_t(number) << 8 | sa, bytes.data())};
}

std::vector<CanFrame> operator+(std::vector<CanFrame> a, const std::vector<CanFrame>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

// Two successive cycles of a busy scene, so that what one cycle leaves behind (object count, BF
// values) cannot pass for the next.
TEST(CanResultDecoders, SensorCyclesDecodeToTheSceneForEveryFunctionProtocolAndGeneration) {
    for (auto [function, variant] :
         {std::pair{Function::OD, trvsim::Variant::OD}, std::pair{Function::BF, trvsim::Variant::DI},
          std::pair{Function::LG, trvsim::Variant::LG}}) {
        trvsim::VirtualSensor sensor(sceneConfig(variant));
        uint32_t busy = 1;
        while (busy < 2000 && (function == Function::LG ? sensor.truth(busy).numberOfLines < 2
                                                        : sensor.truth(busy).numberOfObjects < 3))
            ++busy;
        for (bool canopen : {false, true}) {
            for (int generation : {1, 2, 3}) {
                SCOPED_TRACE(testing::Message() << "function " << int(function) << " canopen " << canopen
                                                << " generation " << generation);
                const ResultFrameMap map(function, canopen, generation, canopen ? 10 : 239);
                withDecoder(map, [&](auto& decoder) {
                    for (uint32_t frame : {busy, busy + 40}) {
                        const trvsim::FrameTruth truth = sensor.truth(frame);
                        const trvsim::BasicFunctionValues values =
                            trvsim::basicFunctionValues(truth, sensor.dspParameters());
                        ASSERT_EQ(feed(decoder, sensorCycle(map, truth, values)), 1);
                        EXPECT_EQ(decoder.globalInformation(), truth.available & 0xFF);
                        EXPECT_EQ(mismatch(*decoder.take(), sensor, frame), "") << "frame " << frame;
                    }
                    for (int i = 0; i < ResultDecoder::IgnoredKinds; ++i)
                        EXPECT_EQ(decoder.ignored(ResultDecoder::Ignored(i)), 0u) << i;
                });
            }
        }
    }
}

TEST(CanResultDecoders, KnownRawValues) {
    // Objects: six data messages (k = 0..5) make three objects; the other slots carry id 0.
    ObjectResultDecoder od(ResultFrameMap(Function::OD, false, 3, 239));
    std::vector<CanFrame> cycle;
    for (int k = 0; k < 6; ++k) {
        const int id = k / 2 + 1; // W1 bits 6..13 of the first half
        cycle = cycle + j1939(uint16_t(0xFF10 + k), {0, 0, 0, 0, uint8_t(id << 6), uint8_t(id >> 2), 0, 0});
    }
    // Crash predictor: object 7, raw time 175 (7 s), raw velocity 500 (50 m/s), predicted 1, flags 5 and 2.
    const uint32_t crash = 7 | 175u << 8 | 500u << 16 | 3u << 25 | 5u << 27 | 2u << 30;
    cycle = cycle +
            j1939(0xFF02, {uint8_t(crash), uint8_t(crash >> 8), uint8_t(crash >> 16), uint8_t(crash >> 24)});
    ASSERT_EQ(feed(od, cycle + j1939(0xFF01, {0, 0, 0, 0, 0x21})), 1);
    DetectedObjectData_TRVAXX_t objects = od.take();
    EXPECT_EQ(od.globalInformation(), 0x21);
    for (int i = 0; i < TRVAXX_OBJECT_COUNT; ++i)
        EXPECT_EQ(objects->objects[size_t(i)].id, i < 3 ? i + 1 : 0) << i;
    // Id, predicted, flags, valid; then the ego fields, 0 without vehicle messages.
    EXPECT_EQ(
        std::vector<int>({objects->crashObjectID, objects->crashPredicted, objects->crashPredictorFlagsA,
                          objects->crashPredictorFlagsB, objects->crashPredictorValid,
                          objects->egoVelocityValid, objects->yawRateValid}),
        std::vector<int>({7, 1, 5, 2, 1, 0, 0}));
    EXPECT_EQ(
        std::vector<float>({objects->crashPredictTime, objects->relImpactVelocity, objects->egoVelocity}),
        std::vector<float>({7.0f, 50.0f, 0.0f}));
    for (auto [time, velocity] : {std::pair{176, 500}, std::pair{175, 501}}) {
        feed(od, j1939(0xFF02, {0, uint8_t(time), uint8_t(velocity), uint8_t(velocity >> 8)}) +
                     j1939(0xFF01, {}));
        EXPECT_EQ(od.take()->crashPredictorValid, 0) << time << " " << velocity;
    }

    // Vehicle: 16 km/h every 50 ms, forward; yaw raw 0x7D70 every 20 ms.
    for (qint64 t = 0; t <= 100; t += 10) {
        if (t % 50 == 0) {
            od.feed(canFrame(0x1803FFFE, std::array<uint8_t, 8>{0xFF, 0xFF, 0x00, 0x10}.data()), t);
            od.feed(canFrame(0x0CFE6CFE, std::array<uint8_t, 8>{0, 0, 0, 0x40}.data()), t);
        }
        if (t % 20 == 0)
            od.feed(canFrame(0x18F009FE, std::array<uint8_t, 8>{0, 0, 0, 0x70, 0x7D}.data()), t);
    }
    feed(od, j1939(0xFF01, {}), 120);
    objects = od.take();
    EXPECT_EQ(std::vector<int>({objects->egoVelocityValid, objects->egoVelocityCycleTime,
                                objects->drivingDirection, objects->yawRateValid, objects->yawRateCycleTime}),
              std::vector<int>({1, 50, 1, 1, 20}));
    EXPECT_NEAR(objects->egoVelocity, 4.444, 0.001);
    EXPECT_NEAR(objects->yawRate, 0.0, 0.001);
    feed(od, j1939(0xFF01, {}), 251); // 151 ms after the last speed message: stale
    objects = od.take();
    EXPECT_EQ(objects->egoVelocityValid, 0);
    EXPECT_EQ(objects->yawRateValid, 0);

    // Basic functions without configuration: x of group 0 raw 10000 (0 m), group 1 raw 0x7FFF, group
    // 9 raw 5000 (-50 m) make count 10; amplitude raw 0 is not available, 150 is 300.
    BasicFunctionResultDecoder bf(ResultFrameMap(Function::BF, false, 2, 239));
    const uint32_t x0 = 10000 | 0x7FFFu << 15, x9 = 0x7FFF | 5000u << 15, a0 = 150 | 0u << 15;
    // The second word's two values are 0x7FFF (x) or 0 (amplitude): not available.
    auto values = [](uint32_t first, uint32_t second) {
        std::vector<uint8_t> bytes(8);
        qToLittleEndian(first, bytes.data()), qToLittleEndian(second, bytes.data() + 4);
        return bytes;
    };
    ASSERT_EQ(feed(bf, j1939(0xFF10, values(x0, 0x3FFFFFFF)) + j1939(0xFF13, values(a0, 0)) +
                           j1939(0xFF18, values(x9, 0x3FFFFFFF)) + j1939(0xFF01, {})),
              1);
    BasicFunctionsData_TRVAXX_t groups = bf.take();
    EXPECT_EQ(groups->count, 10);
    EXPECT_FLOAT_EQ(groups->roiGroups[0].x, 0.0f);
    EXPECT_TRUE(std::isnan(groups->roiGroups[1].x));
    EXPECT_TRUE(std::isnan(groups->roiGroups[0].y)) << "not sent in this cycle";
    EXPECT_FLOAT_EQ(groups->roiGroups[0].amplitude, 300.0f);
    EXPECT_TRUE(std::isnan(groups->roiGroups[1].amplitude));
    EXPECT_FLOAT_EQ(groups->roiGroups[9].x, -50.0f);
    feed(bf, j1939(0xFF01, {}));
    groups = bf.take();
    EXPECT_EQ(groups->count, 0) << "values return to not available after each cycle";
    EXPECT_TRUE(std::isnan(groups->roiGroups[0].x));
}

// Frames of other devices, of a wrong length or with values out of range, slipped into a cycle,
// leave its record as it was and are counted by reason.
TEST(CanResultDecoders, JunkFramesChangeNothing) {
    trvsim::VirtualSensor sensor(sceneConfig(trvsim::Variant::OD));
    const trvsim::FrameTruth truth = sensor.truth(200);
    const std::array<uint8_t, 8> bytes{1, 2, 3, 4, 5, 6, 7, 8};
    struct Case {
        Function function;
        bool canopen;
        CanFrame junk;
        ResultDecoder::Ignored reason;
    };
    const Case cases[] = {
        {Function::OD, false, canFrame(0x18FF1020, bytes.data()), ResultDecoder::OtherSource},
        {Function::OD, false, canFrame(0x18FF10EF, bytes.data(), 7), ResultDecoder::WrongLength},
        {Function::OD, false, canFrame(0x18FF50EF, bytes.data()), ResultDecoder::UnknownMessage},
        {Function::OD, false, canFrame(0x1803FFFE, std::array<uint8_t, 8>{0, 0, 0xFF, 0xFF}.data()),
         ResultDecoder::OutOfRange},
        {Function::OD, false, canFrame(0x18F009FE, bytes.data(), 5), ResultDecoder::WrongLength},
        {Function::OD, true, canFrame(0x123, bytes.data()), ResultDecoder::OtherSource},
        {Function::OD, true, canFrame(0x18B, bytes.data(), 0), ResultDecoder::WrongLength},
        {Function::BF, false, canFrame(0x18FF02EF, std::array<uint8_t, 8>{0, 100}.data()),
         ResultDecoder::OutOfRange},
        {Function::BF, true, canFrame(0x38A, std::array<uint8_t, 8>{0, 65}.data()),
         ResultDecoder::OutOfRange},
        {Function::LG, false, canFrame(0x18FF02EF, std::array<uint8_t, 8>{9}.data()),
         ResultDecoder::OutOfRange},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "identifier 0x" << std::hex << c.junk.identifier);
        const ResultFrameMap map(c.function, c.canopen, 3, c.canopen ? 10 : 239);
        const std::vector<CanFrame> cycle =
            sensorCycle(map, truth, trvsim::basicFunctionValues(truth, sensor.dspParameters()));
        std::vector<CanFrame> junky = cycle;
        junky.insert(junky.end() - 2, c.junk);
        withDecoder(map, [&](auto& clean) {
            std::decay_t<decltype(clean)> dirty(map);
            ASSERT_EQ(feed(clean, cycle), 1);
            ASSERT_EQ(feed(dirty, junky), 1);
            const auto a = clean.take(), b = dirty.take();
            EXPECT_EQ(std::memcmp(a.get(), b.get(), sizeof(*a)), 0);
            EXPECT_EQ(dirty.ignored(c.reason), 1u);
        });
    }
}

TEST(CanReceivers, CanopenNodeIsResetConfiguredAndStartedThenCyclesArrive) {
    constexpr int node = 10;
    ScriptedCanDevice device(node);
    MultiReceiveCanProxy proxy(&device);
    ReceiverOD receiver;
    std::vector<DetectedObjectData_TRVAXX_t> records;
    QObject::connect(&receiver, &ReceiverOD::resultReady,
                     [&](DetectedObjectData_TRVAXX_t r) { records.push_back(r); });
    emit receiver.operate(1, 1, node, &proxy);
    ASSERT_TRUE(waitFor([&] { return !device.sentFrames().empty(); }));
    // Boot-up and every confirmation at once: each wait takes only what it waits for.
    const ResultFrameMap map(ResultFrameMap::Function::OD, true, 1, node);
    device.push(0x700 + node, hex("00"));
    for (const ResultFrameMap::PdoAssignment& a : map.pdoAssignments())
        device.push(0x580 + node,
                    QByteArray("\x60", 1) + char(a.index) + char(a.index >> 8) + QByteArray(5, 0));
    const size_t expected = 1 + map.pdoAssignments().size() + 1;
    ASSERT_TRUE(waitFor([&] { return device.sentFrames().size() == expected; }));

    const std::vector<SentFrame> sent = device.sentFrames();
    EXPECT_EQ(sent.front().id, 0u);
    EXPECT_EQ(sent.front().data, (std::array<uint8_t, 8>{0x81, node})) << "reset node";
    for (size_t i = 0; i < map.pdoAssignments().size(); ++i) {
        const ResultFrameMap::PdoAssignment& a = map.pdoAssignments()[i];
        const SentFrame& sdo = sent[1 + i];
        EXPECT_EQ(sdo.id, 0x600u + node);
        const std::array<uint8_t, 8> download{
            0x23, uint8_t(a.index), uint8_t(a.index >> 8), 1, uint8_t(a.cobId), uint8_t(a.cobId >> 8), 0,
            0x40};
        EXPECT_EQ(sdo.data, download) << i;
    }
    EXPECT_EQ(sent.back().id, 0u);
    EXPECT_EQ(sent.back().data[0], 0x01) << "start remote node";

    trvsim::VirtualSensor sensor(sceneConfig(trvsim::Variant::OD));
    for (const CanFrame& frame : sensorCycle(map, sensor.truth(31), {}))
        device.push(frame.identifier, QByteArray(reinterpret_cast<const char*>(frame.data), frame.length));
    ASSERT_TRUE(waitFor([&] { return records.size() == 1; }));
    EXPECT_EQ(compare(*records[0], sensor.truth(31)), "");
}

// A sensor that never boots, and a generation the receivers do not know: stop returns at once,
// the refusal is logged.
TEST(CanReceivers, StopsWithoutWaitingForTheSensor) {
    ScriptedCanDevice device(10);
    MultiReceiveCanProxy proxy(&device);
    MessageCapture log;
    {
        ReceiverOD silent;
        emit silent.operate(1, 3, 10, &proxy);
        ReceiverOD refused;
        emit refused.operate(0, 0, 239, &proxy);
        ASSERT_TRUE(waitFor(
            [&] { return !device.sentFrames().empty() && log.count("Unknown protocol version 0") == 1; }));
        QElapsedTimer stopping;
        stopping.start();
        silent.stop();
        EXPECT_LT(stopping.elapsed(), 1000);
    }
    EXPECT_EQ(log.count("No response from TRV after CANOpen reset."), 0) << "stopped, not timed out";
}
