#include "scout/discoverydatagram_trvaxx.h"

#include "kvel/kvel_interpret.h"
#include "udp-transport/udpframing.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QXmlStreamReader>

#include <cmath>
#include <exception>
#include <vector>

namespace discovery_trvaxx {

namespace {

const char* const M = "Meas_Customer_Data_Type.";
const char* const K = "Meas_Customer_Data_Type.KpCustomerParameter.";

// Any elementary member reads as double (the interpreter converts), so the signedness the
// description declares does not matter here.
std::vector<double> readNumbers(const kvel::ITypePtr& root, const QByteArray& data, const QByteArray& path,
                                uint32_t count) {
    std::vector<double> values(count);
    kvel::read(root, path.toStdString(), values.data(), count, data.constData(), size_t(data.size()));
    return values;
}

int readInt(const kvel::ITypePtr& root, const QByteArray& data, const QByteArray& path) {
    const double value = readNumbers(root, data, path, 1).front();
    return std::isfinite(value) && std::fabs(value) < 1e9 ? int(value) : -1;
}

// Characters of a fixed-size text member, cut at the first NUL.
QString readText(const kvel::ITypePtr& root, const QByteArray& data, const QByteArray& path,
                 uint32_t length) {
    QByteArray text;
    for (double value : readNumbers(root, data, path, length)) {
        const char c = char(int(value) & 0xFF);
        if (c == '\0')
            break;
        text.append(c);
    }
    return QString::fromLatin1(text);
}

bool isSupportedBaudRate(int rate) {
    for (int r : {125000, 250000, 500000, 800000, 1000000})
        if (rate == r)
            return true;
    return false;
}

} // namespace

Datagram classify(const QByteArray& datagram) {
    using namespace udpframing;
    Datagram d;
    const auto* bytes = reinterpret_cast<const uint8_t*>(datagram.constData());
    const auto length = size_t(datagram.size());
    if (isCanBeacon(bytes, length)) {
        d.kind = Datagram::CanBeacon;
        d.body = datagram;
        return d;
    }
    if (datagram == QByteArrayLiteral("OrlanGUI"))
        return d; // a search announcement, ours or another tool's
    if (length <= size_t(FRAMING_SIZE)) {
        d.reason = QStringLiteral("datagram of %1 bytes is too short").arg(length);
        return d;
    }
    const DatagramHeader h = DatagramHeader::read(bytes);
    if (h.version != 3 || (h.subDevice != kSubDeviceDsp && h.subDevice != kSubDeviceKp)) {
        d.reason = QStringLiteral("not a sensor datagram (version %1, sub-device %2)")
                       .arg(h.version)
                       .arg(h.subDevice);
        return d;
    }
    const bool identification =
        h.subDevice == kSubDeviceDsp &&
        (h.channelId == CHANNEL_IDENTIFICATION || h.channelId == CHANNEL_IDENTIFICATION_DESCRIPTION);
    if (!identification)
        return d; // the rest of a sensor's stream
    if (h.packetsInChannel != 1) {
        d.reason = QStringLiteral("Got KP-base with multi Packet! this is not yet supported!");
        d.sensorFault = true;
        return d;
    }
    const ChannelHeader c = ChannelHeader::read(bytes + kDatagramHeaderSize, length - kDatagramHeaderSize);
    const size_t bodyLength = length - size_t(FRAMING_SIZE);
    if (h.payloadLength != length - kDatagramHeaderSize || c.startDelimiter != kStartDelimiter ||
        readU32(bytes + length - kEndDelimiterSize) != kEndDelimiter || c.totalSize != bodyLength) {
        d.reason = QStringLiteral("identification channel %1 with inconsistent lengths or delimiters")
                       .arg(h.channelId);
        return d;
    }
    d.kind = h.channelId == CHANNEL_IDENTIFICATION ? Datagram::Data : Datagram::Description;
    d.body = datagram.mid(BODY_OFFSET, qsizetype(bodyLength));
    return d;
}

bool readIdentity(const QByteArray& description, const QByteArray& data, Identity& identity, QString& error) {
    try {
        const kvel::ITypePtr root = kvel::cachedParse(description.constData(), size_t(description.size()));
        const QByteArray m(M), k(K);
        Identity id;
        id.canBaudRate = readInt(root, data, m + "CANBaudrate");
        id.serialNumber = readText(root, data, m + "CameraSerialNumber", 20);
        id.partNumber = readText(root, data, m + "CameraPartNumber", 6);
        id.variant = readText(root, data, m + "CameraVariant", 3);
        const std::vector<double> v = readNumbers(root, data, m + "SoftwareVersion", 3);
        id.softwareVersion =
            QStringLiteral("%1.%2.%3").arg(int(v[0]) & 0xFF).arg(int(v[1]) & 0xFF).arg(int(v[2]) & 0xFF);
        id.canProtocol = readInt(root, data, k + "CANProtocol");
        id.canDeviceId = readInt(root, data,
                                 id.canProtocol == CAN_PROTOCOL_CANOPEN ? k + "CANopenNodeAddress"
                                                                        : k + "J1939SourceAddress");
        identity = id;
        return true;
    } catch (const std::exception& e) {
        error = QString::fromLocal8Bit(e.what());
        return false;
    }
}

SensorAdrMobileCanSP_t buildAddress(const Identity& identity, const QString& senderAddress, quint16 port,
                                    QString* canNote) {
    const QString typeText = identity.partNumber.startsWith(QLatin1String("TRVA")) ? identity.partNumber
                                                                                   : QStringLiteral("TRVAxx");
    const QString name =
        QStringLiteral("%1 (%2 %3)").arg(typeText, identity.variant, identity.softwareVersion);
    QString typeId = QStringLiteral("%1 %2").arg(identity.partNumber, identity.variant);
    if (!typeId.startsWith(QLatin1String("TRVA")))
        typeId.prepend(QStringLiteral("TRVAxx "));
    auto address = SensorAdrMobileCanSP_t::create(name, typeId.toLatin1(), senderAddress, int(port),
                                                  identity.serialNumber);
    QString note;
    const bool canopen = identity.canProtocol == CAN_PROTOCOL_CANOPEN;
    const int maxId = canopen ? 127 : 253;
    if (senderAddress == QLatin1String("127.0.0.1"))
        note = QStringLiteral("identification from 127.0.0.1");
    else if (identity.canBaudRate != 0 && !isSupportedBaudRate(identity.canBaudRate))
        note = QStringLiteral("CAN baud rate %1 out of range").arg(identity.canBaudRate);
    else if (identity.canDeviceId < 0 || identity.canDeviceId > maxId)
        note = QStringLiteral("CAN device id %1 out of range").arg(identity.canDeviceId);
    if (note.isEmpty()) {
        address->setCanBaudRate(identity.canBaudRate);
        address->setCanProtocol(canopen ? CAN_PROTOCOL_CANOPEN : CAN_PROTOCOL_J1939);
        address->setCanDeviceId(identity.canDeviceId);
    }
    if (canNote)
        *canNote = note;
    return address;
}

bool readCanBeacon(const QByteArray& datagram, QStringList& buses, QString& error) {
    static const QRegularExpression url(QStringLiteral("^can://(\\d{1,3}(?:\\.\\d{1,3}){3}):(\\d{1,5})$"));
    static const QRegularExpression busName(QStringLiteral("^[A-Za-z0-9_.-]{1,32}$"));
    constexpr int maxBuses = 16;
    QXmlStreamReader xml(datagram);
    QString host;
    int port = 0;
    QStringList names;
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("CANBeacon")) {
        error = QStringLiteral("no CANBeacon element");
        return false;
    }
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("URL")) {
            const auto match = url.match(xml.readElementText().trimmed());
            const QHostAddress ip(match.captured(1));
            port = match.captured(2).toInt();
            if (!match.hasMatch() || ip.protocol() != QAbstractSocket::IPv4Protocol || port < 1 ||
                port > 65535) {
                error = QStringLiteral("beacon URL is not can://IPv4:PORT");
                return false;
            }
            host = ip.toString();
        } else if (xml.name() == QLatin1String("Bus")) {
            const QString name = xml.attributes().value(QLatin1String("name")).toString();
            if (!busName.match(name).hasMatch() || names.size() >= maxBuses) {
                error = QStringLiteral("beacon bus name invalid or too many buses");
                return false;
            }
            names.append(name);
            xml.skipCurrentElement();
        } else {
            xml.skipCurrentElement();
        }
    }
    if (xml.hasError() || host.isEmpty() || names.isEmpty()) {
        error = xml.hasError() ? xml.errorString() : QStringLiteral("beacon without URL or bus");
        return false;
    }
    for (const QString& name : std::as_const(names))
        buses.append(QStringLiteral("socketcand://%1:%2/%3").arg(host).arg(port).arg(name));
    return true;
}

} // namespace discovery_trvaxx
