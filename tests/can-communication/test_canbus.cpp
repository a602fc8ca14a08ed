// The bus side: queued receivers, the proxy, the pcap trace, the device factory and the controller.
#include "can-communication/canbuscontroller.h"
#include "can-communication/canbusdevicefactory.h"
#include "can-communication/cantrace.h"
#include "can-communication/multireceivecanproxy.h"
#include "tests/can-communication/scriptedcandevice.h"
#include "tests/support/messagecapture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

namespace {

SensorAdrMobileCanSP_t canAddress(int bitRate, int node = 239) {
    auto address = SensorAdrMobileCanSP_t::create(QStringLiteral("test"), QByteArray("TRVAxx"));
    address->setCanBaudRate(bitRate);
    address->setCanDeviceId(node);
    return address;
}

// No plug-in folder: only the devices a test registers.
class CanBusTest : public ::testing::Test {
protected:
    void SetUp() override { CANBusDeviceFactory::setSearchFolders({empty.path()}); }
    void TearDown() override {
        CANBusDeviceFactory::unregisterDevice(&device);
        CANBusDeviceFactory::setSearchFolders({});
    }
    QTemporaryDir empty;
    ScriptedCanDevice device{0x0A}; // the sensor, registered by the tests that use it
};

TEST(QueuedReceiver, DropsTheOldestWhenFull) {
    QueuedReceiver queue(3);
    for (uint32_t id = 1; id <= 5; ++id)
        queue.receiveFrame(CanFrame{id, {}, 0});
    EXPECT_EQ(queue.droppedFrames(), 2u);
    CanFrame frame;
    for (uint32_t id = 3; id <= 5; ++id) {
        ASSERT_TRUE(queue.takeFrame(frame));
        EXPECT_EQ(frame.identifier, id);
    }
    EXPECT_FALSE(queue.takeFrame(frame));
}

TEST(MultiReceiveCanProxy, DeliversEveryFrameToEveryReceiverInOrderAndStops) {
    ScriptedCanDevice device;
    QueuedReceiver a, b, c;
    QElapsedTimer stopping;
    {
        MultiReceiveCanProxy proxy(&device);
        for (QueuedReceiver* r : {&a, &b, &c})
            proxy.registerReceiver(r);
        for (int i = 0; i < 1000; ++i)
            device.push(0x100u + uint32_t(i), QByteArray(1, char(i)));
        while (proxy.framesRead() < 1000)
            QThread::msleep(1);
        // The proxy's own interface: opening and closing are refused, reading pops its queue.
        EXPECT_EQ(proxy.CAN_InitDriver(), 1);
        EXPECT_EQ(proxy.CAN_CloseDriver(), 1);
        uint32_t count = 5;
        EXPECT_EQ(proxy.CAN_ReadDataBlock(10, nullptr, &count), 0);
        EXPECT_EQ(count, 0u);
        uint32_t id;
        uint8_t data[8], length;
        ASSERT_EQ(proxy.CAN_ReadData(&id, data, &length), 0);
        EXPECT_EQ(id, 0x100u);
        stopping.start();
    }
    EXPECT_LT(stopping.elapsed(), 500);
    for (QueuedReceiver* r : {&a, &b, &c}) {
        CanFrame frame;
        for (uint32_t i = 0; i < 1000; ++i) {
            ASSERT_TRUE(r->takeFrame(frame));
            ASSERT_EQ(frame.identifier, 0x100u + i);
        }
        EXPECT_FALSE(r->takeFrame(frame));
    }
}

TEST(CanTrace, WritesSocketCanPcapRecords) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bus.pcap"));
    CanTrace trace(path);
    ASSERT_TRUE(trace.isOpen());
    const uint8_t data[] = {0x02, 0x10, 0x03};
    trace.writeFrame(0x18DAEFF1, data, 3);
    trace.receiveFrame(CanFrame{0x7FF, {1, 2, 3, 4, 5, 6, 7, 8}, 8});
    QFile file(path); // readable while the trace is open: every record is flushed
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    ASSERT_EQ(bytes.size(), 24 + 16 + 11 + 16 + 16);
    EXPECT_EQ(qFromLittleEndian<uint32_t>(bytes.constData()), 0xA1B2C3D4u);
    EXPECT_EQ(qFromLittleEndian<uint32_t>(bytes.constData() + 20), 227u);
    EXPECT_EQ(qFromLittleEndian<uint32_t>(bytes.constData() + 24 + 8), 11u); // the first record's length
    EXPECT_EQ(bytes.mid(24 + 16, 11), hex("98 DA EF F1 03 00 00 00 02 10 03"));
    EXPECT_EQ(bytes.mid(24 + 16 + 11 + 16, 16), hex("00 00 07 FF 08 00 00 00 01 02 03 04 05 06 07 08"));
}

TEST_F(CanBusTest, InterfaceTestResults) {
    struct Case {
        int bitRate;
        uint16_t initStatus;
        int result;
        int inits;
    };
    const Case cases[] = {{250000, 0, 0, 1},
                          {100000, 0, 130008, 0},
                          {500000, 2, 130005, 1},
                          {500000, 209, 130019, 1},
                          {1000000, 7, 130007, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bitRate + c.initStatus);
        ScriptedCanDevice device;
        device.initStatus = c.initStatus;
        ASSERT_TRUE(CANBusDeviceFactory::registerDevice(&device));
        CanBusController controller;
        EXPECT_EQ(controller.testInterface(3, canAddress(c.bitRate)), c.result);
        EXPECT_EQ(device.inits, c.inits);
        EXPECT_EQ(device.closes, c.inits); // a test always closes what it opened
        EXPECT_EQ(controller.testInterface(1, canAddress(c.bitRate)), 130004);
        if (c.result != 0) { // connecting reports why the interface that exists did not open
            EXPECT_EQ(controller.connectDevice(canAddress(c.bitRate), false), c.result);
        }
        CANBusDeviceFactory::unregisterDevice(&device);
    }
    EXPECT_EQ(CanBusController().connectDevice(canAddress(250000), true), 130004); // no interface at all
}

// A second controller (the discovery beside a connection) shares the open device: it neither opens
// nor closes it again; the owner closes it when it goes.
TEST_F(CanBusTest, ConnectsWithVerificationAndSharesTheDevice) {
    ASSERT_TRUE(CANBusDeviceFactory::registerDevice(&device));
    device.serveIdentifiers({{0xF187, QByteArray("TRVAFN")}, {0xF18C, QByteArray("SN-0001")}});
    int inits = 0, closes = 0;
    {
        CanBusController connection;
        ASSERT_EQ(connection.connectDevice(canAddress(500000, 0x0A), true), 0);
        EXPECT_EQ(device.bitRate, 500000u);
        inits = device.inits;
        closes = device.closes; // the connection's own interface test opened and closed once
        {
            CanBusController discovery;
            EXPECT_EQ(discovery.testInterface(3, canAddress(250000, 0x0A)), 130019); // held at another rate
            ASSERT_EQ(discovery.connectDevice(canAddress(500000, 0x0A), true), 0);
            EXPECT_EQ(discovery.readSerialNumber(), "SN-0001");
            discovery.disconnectDevice();
        }
        EXPECT_EQ(device.inits, inits);
        EXPECT_EQ(device.closes, closes);
        EXPECT_EQ(connection.readSerialNumber(), "SN-0001");
        EXPECT_EQ(device.sentFrames().back().id, 0x18DA0AF1u);
        // A sensor that does not answer fails the verification and leaves nothing open.
        ScriptedCanDevice silent(0x0B, nullptr, 2);
        CANBusDeviceFactory::registerDevice(&silent);
        CanBusController other;
        EXPECT_EQ(other.connectDevice(canAddress(250000, 0x0B), true), 130006);
        EXPECT_EQ(silent.closes, silent.inits);
        CANBusDeviceFactory::unregisterDevice(&silent);
    }
    EXPECT_EQ(device.inits, inits);
    EXPECT_EQ(device.closes, closes + 1);
}

TEST(CanBusController, VersionNumberAndGeneration) {
    struct Case {
        const char* version;
        float number;
        int generation;
    };
    const Case cases[] = {{"2.2", 2.02f, 1}, {"3.1.99", 3.0199f, 1}, {"3.2", 3.02f, 2},
                          {"3.3", 3.03f, 2}, {"3.4", 3.04f, 3},      {"3.4.1", 3.0401f, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        const float number = CanBusController::versionNumber(c.version);
        EXPECT_NEAR(number, c.number, 1e-5);
        EXPECT_EQ(CanBusController::generationOf(number), c.generation);
    }
}

TEST(CanBusController, ParsesIpv4Text) {
    uint8_t bytes[4] = {9, 9, 9, 9};
    EXPECT_TRUE(CanBusController::parseIpv4("192.168.1.1", bytes));
    EXPECT_EQ(QByteArray(reinterpret_cast<char*>(bytes), 4), hex("C0 A8 01 01"));
    for (const char* bad : {"192.168.1", "192.168.1.1.1", "192.168.x.1", "192.168..1", "256.1.1.1", ""}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(CanBusController::parseIpv4(bad, bytes));
    }
    EXPECT_EQ(QByteArray(reinterpret_cast<char*>(bytes), 4), hex("C0 A8 01 01"));
}

TEST_F(CanBusTest, ErrorMemoryWithTexts) {
    const QHash<uint8_t, QByteArray> answers = {{0x10, hex("50 03 00 32 01 F4")},
                                                {0x19, hex("59 02 FF D0 01 16 09 C0 73 88 01 12 34 56 08")}};
    ASSERT_TRUE(CANBusDeviceFactory::registerDevice(&device));
    device.onRequest = [answers](ScriptedCanDevice& d, uint32_t, const QByteArray& request) {
        if (answers.contains(uint8_t(request[0])))
            d.reply(answers.value(uint8_t(request[0])));
    };
    CanBusController controller;
    ASSERT_EQ(controller.connectDevice(canAddress(250000, 0x0A), false), 0);
    controller.setVariant("LG");
    controller.setCameraVersion("3.5");
    QList<DtcEntry> entries;
    ASSERT_EQ(controller.readErrorMemory(entries), 0);
    ASSERT_EQ(entries.size(), 3);
    EXPECT_EQ(entries[0].code, 0xD00116u);
    EXPECT_EQ(ErrorMemoryReader::statusText(entries[0].status), "TestFailed + ConfirmedDTC");
    EXPECT_TRUE(entries[0].text.startsWith("Supply voltage too low"));
    EXPECT_TRUE(entries[1].text.startsWith("CAN bus off"));
    EXPECT_TRUE(entries[2].text.isEmpty()); // a code the description does not know
    controller.disconnectDevice();
}

} // namespace
