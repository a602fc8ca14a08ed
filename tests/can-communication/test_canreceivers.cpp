// The receivers' threads on a scripted bus: the CANopen start-up in its order, a cycle from the
// bus thread to the queued signal, and stops that never wait for the sensor.
#include "can-communication/Receiver_OD.h"
#include "can-communication/multireceivecanproxy.h"
#include "tests/can-communication/canresulttruth.h"
#include "tests/can-communication/scriptedcandevice.h"
#include "tests/support/messagecapture.h"

#include "simulator/virtualsensor.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

using canresults::waitFor;

namespace {

QByteArray bytes(const CanFrame& frame) {
    return QByteArray(reinterpret_cast<const char*>(frame.data), frame.length);
}

} // namespace

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
    EXPECT_EQ(sent.front().data[0], 0x81) << "reset node";
    EXPECT_EQ(sent.front().data[1], node);
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

    trvsim::SimConfig config;
    config.verbosity = 0;
    trvsim::VirtualSensor sensor(config);
    for (const CanFrame& frame : canresults::sensorCycle(map, sensor.truth(31), {}))
        device.push(frame.identifier, bytes(frame));
    ASSERT_TRUE(waitFor([&] { return records.size() == 1; }));
    EXPECT_EQ(canresults::compare(*records[0], sensor.truth(31)), "");
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
