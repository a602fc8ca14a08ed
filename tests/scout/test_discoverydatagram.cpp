// Reading discovery datagrams: the virtual sensor's real identification channels, the datagrams
// that must be refused, the address built from an identity, and gateway beacons.

#include "scout/discoverydatagram_trvaxx.h"
#include "simulator/cycleproducer.h"
#include "simulator/datagrambatch.h"
#include "udp-transport/udpframing.h"

#include <gtest/gtest.h>

using namespace discovery_trvaxx;

namespace {

struct Channels {
    QByteArray description, data, dataDatagram;
};

// The identification channels of one cycle of a virtual sensor, through classify().
Channels identificationOf(const trvsim::SimConfig& config) {
    trvsim::CycleProducer producer(config);
    std::string error;
    EXPECT_TRUE(producer.init(error)) << error;
    trvsim::DatagramBatch batch;
    producer.produce(1, batch);
    Channels c;
    for (const auto& send : batch.sends()) {
        const QByteArray datagram(reinterpret_cast<const char*>(batch.slot(send.slot)), send.length);
        const Datagram d = classify(datagram);
        EXPECT_TRUE(d.kind == Datagram::Ignored ? d.reason.isEmpty() : true) << d.reason.toStdString();
        if (d.kind == Datagram::Description)
            c.description = d.body;
        if (d.kind == Datagram::Data) {
            c.data = d.body;
            c.dataDatagram = datagram;
        }
    }
    return c;
}

// A consistent identification datagram with a body of `bodyLength` bytes.
QByteArray identificationDatagram(int bodyLength, uint16_t version = 3, uint16_t packetsInChannel = 1) {
    using namespace udpframing;
    QByteArray bytes(FRAMING_SIZE + bodyLength, '\x11');
    auto* p = reinterpret_cast<uint8_t*>(bytes.data());
    DatagramHeader h;
    h.version = version;
    h.subDevice = kSubDeviceDsp;
    h.packetsInCycle = 1;
    h.packetsInChannel = packetsInChannel;
    h.channelId = CHANNEL_IDENTIFICATION;
    h.payloadLength = uint32_t(bytes.size() - kDatagramHeaderSize);
    h.write(p);
    ChannelHeader c;
    c.totalSize = uint32_t(bodyLength);
    c.partSize = uint32_t(bodyLength);
    c.write(p + kDatagramHeaderSize);
    writeU32(p + bytes.size() - kEndDelimiterSize, kEndDelimiter);
    return bytes;
}

} // namespace

TEST(DiscoveryDatagram, ReadsTheIdentityOfVirtualSensors) {
    struct Case {
        trvsim::Model model;
        trvsim::Variant variant;
        bool canopen;
        int address;
        uint32_t bitRate;
        QString part, variantText;
        int expectedId;
    } cases[] = {
        {trvsim::Model::TRVAFN, trvsim::Variant::OD, false, -1, 0, "TRVAFN", "OD ", 239},
        {trvsim::Model::TRVADN, trvsim::Variant::DI, false, 200, 500000, "TRVADN", "DI ", 200},
        {trvsim::Model::TRVAFN, trvsim::Variant::LG, true, 42, 125000, "TRVAFN", "LG ", 42},
    };
    for (const Case& c : cases) {
        trvsim::SimConfig config;
        config.identity.model = c.model;
        config.identity.variant = c.variant;
        config.identity.serialNumber = "SER-42";
        config.canopen = c.canopen;
        config.canAddress = c.address;
        config.canBitRate = c.bitRate;
        const Channels ch = identificationOf(config);
        ASSERT_FALSE(ch.description.isEmpty());
        Identity id;
        QString error;
        ASSERT_TRUE(readIdentity(ch.description, ch.data, id, error)) << error.toStdString();
        EXPECT_EQ(id.serialNumber, "SER-42");
        EXPECT_EQ(id.partNumber, c.part);
        EXPECT_EQ(id.variant, c.variantText);
        EXPECT_EQ(id.softwareVersion, "3.4.1");
        EXPECT_EQ(id.canBaudRate, c.bitRate ? int(c.bitRate) : 250000);
        EXPECT_EQ(id.canProtocol, c.canopen ? 1 : 0);
        EXPECT_EQ(id.canDeviceId, c.expectedId);

        // Data that does not match its description is refused, not half read.
        EXPECT_FALSE(readIdentity(ch.description, ch.data.left(ch.data.size() - 1), id, error));
        EXPECT_FALSE(readIdentity(ch.data, ch.data, id, error));
    }
}

TEST(DiscoveryDatagram, RefusesWhatIsNoIdentification) {
    trvsim::SimConfig config;
    const QByteArray real = identificationOf(config).dataDatagram;
    ASSERT_FALSE(real.isEmpty());
    QByteArray badEnd = real;
    badEnd[badEnd.size() - 1] = 0;
    struct Case {
        const char* what;
        QByteArray datagram;
        Datagram::Kind kind;
        bool logged;
    } cases[] = {
        {"64 bytes", identificationDatagram(0), Datagram::Ignored, true},
        {"65 bytes", identificationDatagram(1), Datagram::Data, false},
        {"other protocol version", identificationDatagram(8, 2), Datagram::Ignored, true},
        {"split over datagrams", identificationDatagram(8, 3, 2), Datagram::Ignored, true},
        {"one byte cut off", real.left(real.size() - 1), Datagram::Ignored, true},
        {"end delimiter broken", badEnd, Datagram::Ignored, true},
        {"search announcement", "OrlanGUI", Datagram::Ignored, false},
        {"beacon", "<CANBeacon name=\"x\"></CANBeacon>", Datagram::CanBeacon, false},
    };
    for (const Case& c : cases) {
        const Datagram d = classify(c.datagram);
        EXPECT_EQ(d.kind, c.kind) << c.what;
        EXPECT_EQ(!d.reason.isEmpty(), c.logged) << c.what;
    }
    EXPECT_EQ(classify(identificationDatagram(1)).body.size(), 1);
}

TEST(DiscoveryDatagram, BuildsTheAddressFromTheIdentity) {
    Identity base;
    base.serialNumber = "S1";
    base.partNumber = "XYZ123";
    base.variant = "DI";
    base.softwareVersion = "1.2.3";
    base.canBaudRate = 250000;
    base.canDeviceId = 239;
    struct Case {
        const char* what;
        QString sender;
        int baud, protocol, deviceId;
        bool can;
    } cases[] = {
        {"J1939", "10.0.0.2", 250000, 0, 239, true},
        {"CANopen", "10.0.0.2", 1000000, 1, 127, true},
        {"loopback sender", "127.0.0.1", 250000, 0, 239, false},
        {"no CAN", "10.0.0.2", 0, 0, 239, false},
        {"odd baud rate", "10.0.0.2", 250001, 0, 239, false},
        {"J1939 address beyond 253", "10.0.0.2", 250000, 7, 254, false},
        {"CANopen node beyond 127", "10.0.0.2", 250000, 1, 128, false},
    };
    for (const Case& c : cases) {
        Identity id = base;
        id.canBaudRate = c.baud;
        id.canProtocol = c.protocol;
        id.canDeviceId = c.deviceId;
        QString note;
        const auto a = buildAddress(id, c.sender, 42000, &note);
        EXPECT_EQ(a->getName(), "TRVAxx (DI 1.2.3)") << c.what;
        EXPECT_EQ(a->getSensorTypeId(), "TRVAxx XYZ123 DI") << c.what;
        EXPECT_EQ(a->getIpAddress(), c.sender) << c.what;
        EXPECT_EQ(a->hasCanSettings(), c.can) << c.what;
        if (c.can) {
            EXPECT_EQ(a->getCanProtocol(), c.protocol ? CAN_PROTOCOL_CANOPEN : CAN_PROTOCOL_J1939) << c.what;
            EXPECT_EQ(a->getCanDeviceId(), c.deviceId) << c.what;
        }
        EXPECT_EQ(note.isEmpty(), c.can || c.baud == 0) << c.what;
    }
}

TEST(DiscoveryDatagram, ReadsBeacons) {
    struct Case {
        QByteArray text;
        QStringList buses;
    } cases[] = {
        {"<CANBeacon name=\"h\" type=\"SocketCAN\" description=\"d\">\n<URL>can://10.1.2.3:29536</URL>"
         "<Bus name=\"can0\"/><Bus name=\"vcan1\"/></CANBeacon>",
         {"socketcand://10.1.2.3:29536/can0", "socketcand://10.1.2.3:29536/vcan1"}},
        {"<CANBeacon><URL>can://10.1.2.3:0</URL><Bus name=\"can0\"/></CANBeacon>", {}},
        {"<CANBeacon><URL>tcp://10.1.2.3:1</URL><Bus name=\"can0\"/></CANBeacon>", {}},
        {"<CANBeacon><URL>can://10.1.2.3:1</URL><Bus name=\"a/b\"/></CANBeacon>", {}},
        {"<CANBeacon><URL>can://10.1.2.3:1</URL></CANBeacon>", {}},
        {"<CANBeacon><URL>can://10.1.2.3:1</URL><Bus name=\"can0\"/>", {}},
    };
    for (const Case& c : cases) {
        QStringList buses;
        QString error;
        EXPECT_EQ(readCanBeacon(c.text, buses, error), !c.buses.isEmpty()) << c.text.toStdString();
        EXPECT_EQ(buses, c.buses) << c.text.toStdString();
    }
}
