#include "capture_replay/recordingreader.h"

#include "capture_replay/recordingformat.h"

#include <QFile>
#include <QtEndian>

#include <cstring>

#include <zlib.h>

RecordingReader::RecordingReader() = default;
RecordingReader::~RecordingReader() = default;

bool RecordingReader::open(const QString& fileName) {
    close();
    auto file = std::make_unique<QFile>(fileName);
    m_name = fileName;
    if (!file->open(QIODevice::ReadOnly)) {
        m_error = QStringLiteral("cannot open %1: %2").arg(fileName, file->errorString());
        return false;
    }
    m_ownedDevice = std::move(file);
    m_device = m_ownedDevice.get();
    if (!readHeader()) {
        const QString error = m_error;
        close();
        m_error = error;
        return false;
    }
    return true;
}

bool RecordingReader::open(QIODevice* device) {
    close();
    m_name = QStringLiteral("recording");
    if (!device || !device->isReadable()) {
        m_error = QStringLiteral("the recording is not open for reading");
        return false;
    }
    m_device = device;
    if (!readHeader()) {
        const QString error = m_error;
        close();
        m_error = error;
        return false;
    }
    return true;
}

void RecordingReader::close() {
    m_ownedDevice.reset();
    m_device = nullptr;
    m_info = RecordingInfo();
    m_error.clear();
    m_firstPacketOffset = 0;
    m_packets = 0;
    m_failed = false;
}

bool RecordingReader::readExact(char* data, qint64 length) {
    while (length > 0) {
        const qint64 got = m_device->read(data, length);
        if (got <= 0)
            return false;
        data += got;
        length -= got;
    }
    return true;
}

bool RecordingReader::readHeader() {
    using namespace RecordingFormat;
    char fixed[kFixedHeaderSize];
    if (!readExact(fixed, qint64(kFixedHeaderSize)) ||
        std::memcmp(fixed, kMagic.data(), kMagic.size()) != 0) {
        m_error = QStringLiteral("%1 is not a recording (unknown file type)").arg(m_name);
        return false;
    }
    const quint16 version = qFromLittleEndian<quint16>(fixed + 8);
    if (version != kVersion) {
        m_error = QStringLiteral("%1 has recording format version %2; this program reads version %3")
                      .arg(m_name)
                      .arg(version)
                      .arg(kVersion);
        return false;
    }
    const quint16 headerSize = qFromLittleEndian<quint16>(fixed + 10);
    const quint16 contextLength = qFromLittleEndian<quint16>(fixed + 28);
    if (contextLength > kMaxContextLength ||
        headerSize != kFixedHeaderSize + contextLength + kHeaderCrcSize) {
        m_error = QStringLiteral("%1 has a damaged header").arg(m_name);
        return false;
    }
    QByteArray header(fixed, int(kFixedHeaderSize));
    header.resize(int(kFixedHeaderSize) + contextLength);
    char crcBytes[kHeaderCrcSize];
    if (!readExact(header.data() + kFixedHeaderSize, contextLength) ||
        !readExact(crcBytes, qint64(kHeaderCrcSize))) {
        m_error = QStringLiteral("%1 ends inside its header").arg(m_name);
        return false;
    }
    const quint32 storedCrc = qFromLittleEndian<quint32>(crcBytes);
    const uLong crc =
        crc32_z(0L, reinterpret_cast<const Bytef*>(header.constData()), std::size_t(header.size()));
    if (quint32(crc) != storedCrc) {
        m_error = QStringLiteral("%1 has a damaged header (checksum mismatch)").arg(m_name);
        return false;
    }

    m_info.formatVersion = version;
    m_info.frameType = qFromLittleEndian<quint32>(fixed + 12);
    m_info.frameSubtype = qFromLittleEndian<quint32>(fixed + 16);
    m_info.startTime = QDateTime::fromMSecsSinceEpoch(qFromLittleEndian<qint64>(fixed + 20), Qt::UTC);
    m_info.writingContext = QString::fromUtf8(header.constData() + kFixedHeaderSize, contextLength);
    m_firstPacketOffset = m_device->pos();
    return true;
}

RecordingReader::Status RecordingReader::damaged(const QString& reason) {
    m_failed = true;
    m_error = QStringLiteral("%1: %2 after %3 complete packets").arg(m_name, reason).arg(m_packets);
    return Status::Damaged;
}

RecordingReader::Status RecordingReader::readPacket(RecordedPacket& packet) {
    using namespace RecordingFormat;
    if (!m_device) {
        m_error = QStringLiteral("no recording is open");
        return Status::Damaged;
    }
    if (m_failed)
        return Status::Damaged;

    char head[kPacketHeaderSize];
    const qint64 got = m_device->read(head, qint64(sizeof(head)));
    if (got == 0 && m_device->atEnd())
        return Status::End;
    if (got < 0)
        return damaged(QStringLiteral("read error (%1)").arg(m_device->errorString()));
    if (got < qint64(sizeof(head)) && !readExact(head + got, qint64(sizeof(head)) - got))
        return damaged(QStringLiteral("recording ends inside a packet header (cut off)"));
    if (qFromLittleEndian<quint32>(head) != kPacketMarker)
        return damaged(QStringLiteral("packet marker missing (corrupted)"));

    const quint32 length = qFromLittleEndian<quint32>(head + 12);
    if (length > kMaxPacketSize)
        return damaged(QStringLiteral("packet length %1 is out of range (corrupted)").arg(length));
    // A sequential device cannot tell how much is left; a file or buffer can, so a corrupt
    // length is found before the buffer grows.
    if (!m_device->isSequential() && m_device->size() - m_device->pos() < qint64(length))
        return damaged(QStringLiteral("recording ends inside a packet (cut off)"));
    packet.data.resize(int(length));
    if (!readExact(packet.data.data(), length))
        return damaged(QStringLiteral("recording ends inside a packet (cut off)"));

    uLong crc = crc32_z(0L, reinterpret_cast<const Bytef*>(head + 4), 12);
    if (length > 0)
        crc = crc32_z(crc, reinterpret_cast<const Bytef*>(packet.data.constData()), length);
    if (quint32(crc) != qFromLittleEndian<quint32>(head + 16))
        return damaged(QStringLiteral("packet checksum mismatch (corrupted)"));

    packet.timestampUs = qFromLittleEndian<quint64>(head + 4);
    ++m_packets;
    return Status::Packet;
}

qint64 RecordingReader::position() const {
    return m_device ? m_device->pos() : -1;
}

bool RecordingReader::seekTo(qint64 position, qint64 index) {
    if (!m_device || m_device->isSequential() || position < m_firstPacketOffset || !m_device->seek(position))
        return false;
    m_packets = index;
    m_failed = false;
    return true;
}

bool RecordingReader::rewind() {
    if (!m_device || !m_device->seek(m_firstPacketOffset))
        return false;
    m_packets = 0;
    m_failed = false;
    m_error.clear();
    return true;
}
