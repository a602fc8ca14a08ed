#include "common/sensoraddressmobilecan.h"

#include <QList>
#include <gtest/gtest.h>

namespace {
SensorAddressMobileCan fullAddress() {
    SensorAddressMobileCan a(QStringLiteral("TRVADN (DI 3.2.1)"), "TRVADN DI", QStringLiteral("192.168.1.1"),
                             42000, QStringLiteral("0012345678"));
    a.setCanBaudRate(250000);
    a.setCanProtocol(CAN_PROTOCOL_CANOPEN);
    a.setCanDeviceId(10);
    return a;
}

SensorAddressMobileCan roundTrip(const SensorAddressMobileCan& a) {
    SensorAddressMobileCan b;
    QString error;
    EXPECT_TRUE(b.deserialize(a.serialize(), &error)) << error.toStdString() << "\n"
                                                      << a.serialize().toStdString();
    return b;
}
} // namespace

TEST(SensorAddressMobileCan, TransportSettingsFollowTheirFields) {
    SensorAddressMobileCan a = fullAddress();
    EXPECT_TRUE(a.hasUdpSettings());
    EXPECT_TRUE(a.hasCanSettings());
    a.clearCANSettings();
    EXPECT_FALSE(a.hasCanSettings());
    EXPECT_EQ(a.getCanDeviceId(), -1);
    EXPECT_EQ(a.getCanProtocol(), CAN_PROTOCOL_J1939);
    EXPECT_TRUE(a.hasUdpSettings());

    SensorAddressMobileCan canOnly(QStringLiteral("TRVAxx Device"), "TRVAxx");
    EXPECT_FALSE(canOnly.hasUdpSettings());
    canOnly.setIpAddress(QStringLiteral("10.0.0.1")); // no port yet
    EXPECT_FALSE(canOnly.hasUdpSettings());
    canOnly.setUdpPort(70000);
    EXPECT_FALSE(canOnly.hasUdpSettings());
    canOnly.setUdpPort(42000);
    EXPECT_TRUE(canOnly.hasUdpSettings());
}

TEST(SensorAddressMobileCan, XmlRoundTripIsExact) {
    const SensorAddressMobileCan a = fullAddress();
    EXPECT_EQ(roundTrip(a), a);

    // Texts that XML cannot carry as they are: control characters, line ends, lone surrogates,
    // leading blanks, markup; a type id with arbitrary bytes.
    SensorAddressMobileCan odd;
    odd.setName(QStringLiteral("  tab\there\r\nline <b>&amp;</b> ") + QChar(0xD800) + QChar(0x0001));
    odd.setSensorTypeId(QByteArray("TRVA\0\xff\x7f\n", 8));
    odd.setIpAddress(QStringLiteral("::1"));
    odd.setUdpPort(65535);
    odd.setSerialNumber(QString(QChar(0xFFFF)));
    odd.setCanDeviceId(255);
    odd.setCanBaudRate(1000000);
    EXPECT_EQ(roundTrip(odd), odd);

    // Empty everything also survives, and defaults stay defaults.
    EXPECT_EQ(roundTrip(SensorAddressMobileCan()), SensorAddressMobileCan());
}

TEST(SensorAddressMobileCan, MalformedXmlIsRefusedAndLeavesTheAddressUnchanged) {
    const SensorAddressMobileCan original = fullAddress();
    const QByteArray good = original.serialize();
    const QList<QByteArray> bad = {
        QByteArray(),
        QByteArray("not xml at all"),
        good.left(good.size() / 2),                                                     // truncated
        QByteArray(good).replace("</sensorAddress>", "</sensorAdress>"),                // mismatched tag
        QByteArray(good).replace("kind=\"MobileCan\"", "kind=\"Serial\""),              // foreign kind
        QByteArray(good).replace("version=\"1\"", "version=\"2\""),                     // future format
        QByteArray(good).replace("<udpPort>42000", "<udpPort>70000"),                   // out of range
        QByteArray(good).replace("<udpPort>42000", "<udpPort>4x2"),                     // not a number
        QByteArray(good).replace("<canProtocol>1", "<canProtocol>2"),                   // unknown protocol
        QByteArray(good).replace("<canDeviceId>10", "<canDeviceId>-5"),                 // below range
        QByteArray(good).replace("<canBaudRate>250000", "<canBaudRate>99999999999999"), // overflow
        QByteArray(good).replace("<name>", "<name encoding=\"base64\">"),               // bad base64
        QByteArray(good).replace("<name>", "<name><x/>"),                               // nested element
        QByteArray(good) + "<sensorAddress/>",                                          // trailing element
        QByteArray("<other/>"),
        QByteArray(
            "<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY e \"&e;\">]><sensorAddress kind=\"MobileCan\" "
            "version=\"1\"><name>&e;</name></sensorAddress>"), // recursive entity
    };
    for (const QByteArray& xml : bad) {
        SensorAddressMobileCan target = original;
        QString error;
        EXPECT_FALSE(target.deserialize(xml, &error)) << xml.toStdString();
        EXPECT_FALSE(error.isEmpty()) << xml.toStdString();
        EXPECT_EQ(target, original) << xml.toStdString();
        EXPECT_TRUE(SensorAddress::fromXml(xml).isNull()) << xml.toStdString();
    }
}

// The built-in kind goes through the same registry as any other would.
TEST(SensorAddressMobileCan, FromXmlBuildsTheRegisteredKindAndSkipsUnknownFields) {
    QByteArray xml = fullAddress().serialize();
    xml.replace("<serialNumber>", "<futureField>ignored</futureField><serialNumber>");
    QString error;
    auto mobile = qSharedPointerDynamicCast<SensorAddressMobileCan>(SensorAddress::fromXml(xml, &error));
    ASSERT_TRUE(mobile) << error.toStdString();
    EXPECT_EQ(*mobile, fullAddress());
    EXPECT_FALSE(SensorAddress::createKind(QStringLiteral("NoSuchKind")));
}

TEST(SensorAddressMobileCan, SameSensorBySerialOrByTransport) {
    SensorAddressMobileCan a = fullAddress();
    SensorAddressMobileCan b = fullAddress();
    b.setIpAddress(QStringLiteral("10.1.1.1")); // same serial, other route
    EXPECT_TRUE(a.isSameSensor(b));
    b.setSerialNumber(QStringLiteral("999"));
    EXPECT_FALSE(a.isSameSensor(b));

    // Without serial numbers the transports decide; address texts compare as addresses.
    SensorAddressMobileCan c(QStringLiteral("x"), "TRVAxx", QStringLiteral("192.168.1.1"), 42000, QString());
    SensorAddressMobileCan d(QStringLiteral("y"), "TRVAxx", QStringLiteral("192.168.001.001"), 42000,
                             QString());
    EXPECT_TRUE(c.isSameSensor(d));
    d.setUdpPort(42001);
    EXPECT_FALSE(c.isSameSensor(d));
    SensorAddressMobileCan e(QStringLiteral("x"), "TRVAxx"); // nothing in common to compare
    EXPECT_FALSE(c.isSameSensor(e));
    d.setSensorTypeId("OTHER");
    d.setUdpPort(42000);
    EXPECT_FALSE(c.isSameSensor(d));
}

// A clone keeps its own settings while the original changes.
TEST(SensorAddressMobileCan, PrintableAddressNamesEachTransportAndCloneIsIndependent) {
    SensorAddressMobileCan a = fullAddress();
    const SensorAdrSP_t copy = a.clone();
    EXPECT_EQ(a.getPrintableAddress(), QStringLiteral("192.168.1.1:42000, CAN CANopen node 10 @ 250 kbit/s"));
    a.clearUdpSettings();
    a.setCanProtocol(CAN_PROTOCOL_J1939);
    a.setCanDeviceId(239);
    EXPECT_EQ(a.getPrintableAddress(), QStringLiteral("CAN J1939 SA 239 @ 250 kbit/s"));
    a.clearCANSettings();
    EXPECT_EQ(a.getPrintableAddress(), QStringLiteral("(no connection settings)"));
    a.setName(QStringLiteral("changed"));
    EXPECT_EQ(copy->getName(), QStringLiteral("TRVADN (DI 3.2.1)"));
    EXPECT_EQ(copy->getPrintableAddress(), fullAddress().getPrintableAddress());
    EXPECT_EQ(QMetaType::fromName("SensorAdrSP_t"), QMetaType::fromType<SensorAdrSP_t>()); // queued signals
}
