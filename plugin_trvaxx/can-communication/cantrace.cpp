#include "can-communication/cantrace.h"

#include "can-communication/canlogging.h"

#include <QCoreApplication>
#include <QSettings>
#include <QtEndian>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

template <typename T> void putLittle(char*& at, T value) {
    qToLittleEndian(value, at);
    at += sizeof(T);
}

} // namespace

QString CanTrace::configuredPath() {
    const QString fromEnvironment = qEnvironmentVariable("TRVAXX_CAN_TRACE");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    // QSettings needs an application for its organisation and name; a bare library use has none.
    if (!QCoreApplication::instance())
        return QString();
    return QSettings(QStringLiteral("Vexa"), QStringLiteral("OrlanGUI"))
        .value(QStringLiteral("plugin_trvaxx/can_trace"))
        .toString();
}

CanTrace::CanTrace(const QString& path) : file(path) {
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qCWarning(lcCan).noquote()
            << QStringLiteral("CAN trace: cannot write %1: %2").arg(path, file.errorString());
        return;
    }
    // pcap file header, little-endian: magic, version 2.4, zone, accuracy, snapshot length, link type.
    char header[24];
    char* at = header;
    putLittle<uint32_t>(at, 0xA1B2C3D4u);
    putLittle<uint16_t>(at, 2);
    putLittle<uint16_t>(at, 4);
    putLittle<int32_t>(at, 0);
    putLittle<uint32_t>(at, 0);
    putLittle<uint32_t>(at, 16);
    putLittle<uint32_t>(at, kLinkTypeCanSocketCan);
    file.write(header, sizeof header);
    file.flush();
}

void CanTrace::writeFrame(uint32_t identifier, const uint8_t* data, uint32_t length) {
    const uint8_t dataLength = static_cast<uint8_t>(std::min<uint32_t>(length, 8));
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    char record[16 + 16];
    char* at = record;
    putLittle<uint32_t>(at, static_cast<uint32_t>(micros / 1000000));
    putLittle<uint32_t>(at, static_cast<uint32_t>(micros % 1000000));
    putLittle<uint32_t>(at, 8u + dataLength);
    putLittle<uint32_t>(at, 8u + dataLength);
    // SocketCAN frame: big-endian identifier with the extended flag, length, three pad bytes, data.
    const uint32_t canId =
        isExtendedCanId(identifier) ? (identifier & 0x1FFFFFFFu) | kExtendedFlag : identifier;
    qToBigEndian(canId, at);
    at += 4;
    *at++ = static_cast<char>(dataLength);
    *at++ = 0;
    *at++ = 0;
    *at++ = 0;
    if (dataLength > 0)
        std::memcpy(at, data, dataLength);
    at += dataLength;
    QMutexLocker lock(&mutex);
    if (!file.isOpen())
        return;
    file.write(record, at - record);
    file.flush();
}

void CanTrace::receiveFrame(const CanFrame& frame) {
    writeFrame(frame.identifier, frame.data, frame.length);
}
