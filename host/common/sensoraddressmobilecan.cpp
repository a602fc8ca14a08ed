#include "common/sensoraddressmobilecan.h"

#include <QHostAddress>
#include <QXmlStreamWriter>

namespace {
const SensorAddressKind<SensorAddressMobileCan> registerMobileCan;

bool parseInt(const QString& text, int min, int max, int* out) {
    bool ok = false;
    const qlonglong value = text.trimmed().toLongLong(&ok);
    if (!ok || value < min || value > max)
        return false;
    *out = static_cast<int>(value);
    return true;
}
} // namespace

SensorAddressMobileCan::SensorAddressMobileCan(const QString& name, const QByteArray& sensorTypeId)
    : SensorAddress(name, sensorTypeId) {}

SensorAddressMobileCan::SensorAddressMobileCan(const QString& name, const QByteArray& sensorTypeId,
                                               const QString& ipAddress, int udpPort,
                                               const QString& serialNumber)
    : SensorAddress(name, sensorTypeId), ipAddress(ipAddress), udpPort(udpPort), serialNumber(serialNumber) {}

bool SensorAddressMobileCan::hasUdpSettings() const {
    return !ipAddress.trimmed().isEmpty() && udpPort > 0 && udpPort <= 65535;
}

bool SensorAddressMobileCan::hasCanSettings() const {
    return canBaudRate > 0;
}

void SensorAddressMobileCan::clearCANSettings() {
    canBaudRate = 0;
    canProtocol = CAN_PROTOCOL_J1939;
    canDeviceId = -1;
}

void SensorAddressMobileCan::clearUdpSettings() {
    ipAddress.clear();
    udpPort = 0;
}

SensorAdrSP_t SensorAddressMobileCan::clone() const {
    return SensorAdrSP_t(new SensorAddressMobileCan(*this));
}

bool SensorAddressMobileCan::isSameSensor(const SensorAddress& other) const {
    const auto* o = dynamic_cast<const SensorAddressMobileCan*>(&other);
    if (!o)
        return false;
    const QString mine = serialNumber.trimmed();
    const QString theirs = o->serialNumber.trimmed();
    if (!mine.isEmpty() && !theirs.isEmpty())
        return mine == theirs;
    if (sensorTypeId != o->sensorTypeId)
        return false;
    bool compared = false;
    if (hasUdpSettings() && o->hasUdpSettings()) {
        // Compare addresses as addresses, so "192.168.001.001" equals "192.168.1.1".
        const QHostAddress a(ipAddress.trimmed()), b(o->ipAddress.trimmed());
        const bool sameIp =
            (!a.isNull() && !b.isNull()) ? a.isEqual(b) : ipAddress.trimmed() == o->ipAddress.trimmed();
        if (!sameIp || udpPort != o->udpPort)
            return false;
        compared = true;
    }
    if (hasCanSettings() && o->hasCanSettings()) {
        if (canProtocol != o->canProtocol || canDeviceId != o->canDeviceId)
            return false;
        compared = true;
    }
    return compared;
}

QString SensorAddressMobileCan::getPrintableAddress() const {
    QStringList parts;
    if (hasUdpSettings())
        parts << QStringLiteral("%1:%2").arg(ipAddress.trimmed()).arg(udpPort);
    if (hasCanSettings()) {
        const QString protocol =
            canProtocol == CAN_PROTOCOL_CANOPEN ? QStringLiteral("CANopen node") : QStringLiteral("J1939 SA");
        parts << QStringLiteral("CAN %1 %2 @ %3 kbit/s")
                     .arg(protocol)
                     .arg(canDeviceId)
                     .arg(canBaudRate / 1000.0);
    }
    if (parts.isEmpty())
        return QStringLiteral("(no connection settings)");
    return parts.join(QStringLiteral(", "));
}

bool SensorAddressMobileCan::operator==(const SensorAddressMobileCan& other) const {
    return name == other.name && sensorTypeId == other.sensorTypeId && ipAddress == other.ipAddress &&
           udpPort == other.udpPort && canBaudRate == other.canBaudRate && canDeviceId == other.canDeviceId &&
           canProtocol == other.canProtocol && serialNumber == other.serialNumber;
}

void SensorAddressMobileCan::writeFields(QXmlStreamWriter& writer) const {
    writeTextField(writer, QStringLiteral("ipAddress"), ipAddress);
    writer.writeTextElement(QStringLiteral("udpPort"), QString::number(udpPort));
    writer.writeTextElement(QStringLiteral("canBaudRate"), QString::number(canBaudRate));
    writer.writeTextElement(QStringLiteral("canProtocol"), QString::number(static_cast<int>(canProtocol)));
    writer.writeTextElement(QStringLiteral("canDeviceId"), QString::number(canDeviceId));
    writeTextField(writer, QStringLiteral("serialNumber"), serialNumber);
}

bool SensorAddressMobileCan::readField(const QString& field, const QString& text, QString* error) {
    auto invalid = [&](const QString& range) {
        if (error)
            *error = QStringLiteral("the field %1 has the invalid value \"%2\" (%3)")
                         .arg(field, text.left(40), range);
        return false;
    };
    int value = 0;
    if (field == QLatin1String("ipAddress")) {
        ipAddress = text;
    } else if (field == QLatin1String("serialNumber")) {
        serialNumber = text;
    } else if (field == QLatin1String("udpPort")) {
        if (!parseInt(text, 0, 65535, &value))
            return invalid(QStringLiteral("0 to 65535"));
        udpPort = value;
    } else if (field == QLatin1String("canBaudRate")) {
        if (!parseInt(text, 0, 10000000, &value))
            return invalid(QStringLiteral("0 to 10000000"));
        canBaudRate = value;
    } else if (field == QLatin1String("canProtocol")) {
        if (!parseInt(text, 0, 1, &value))
            return invalid(QStringLiteral("0 or 1"));
        canProtocol = static_cast<CanProtocol>(value);
    } else if (field == QLatin1String("canDeviceId")) {
        if (!parseInt(text, -1, 255, &value))
            return invalid(QStringLiteral("-1 to 255"));
        canDeviceId = value;
    }
    // Unknown fields come from newer writers; they are skipped.
    return true;
}

void SensorAddressMobileCan::resetFields() {
    clearUdpSettings();
    clearCANSettings();
    serialNumber.clear();
}
