#include "capture_replay/recordingwriter.h"

#include "capture_replay/recordingformat.h"

#include <QtEndian>

#include <zlib.h>

namespace {

template <typename T> void appendLe(QByteArray& out, T value) {
    char bytes[sizeof(T)];
    qToLittleEndian(value, bytes);
    out.append(bytes, sizeof(T));
}

} // namespace

RecordingWriter::~RecordingWriter() {
    close();
}

bool RecordingWriter::open(const QString& fileName, const QString& writingContext, quint32 frameType,
                           quint32 frameSubtype, qint64 startTimeMsSinceEpoch) {
    close();
    m_error.clear();
    m_packets = 0;
    m_bytes = 0;

    const QByteArray context = writingContext.toUtf8();
    if (context.size() > RecordingFormat::kMaxContextLength) {
        m_error =
            QStringLiteral("writing context is longer than %1 bytes").arg(RecordingFormat::kMaxContextLength);
        return false;
    }

    m_file.setFileName(fileName);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        m_error = QStringLiteral("cannot create %1: %2").arg(fileName, m_file.errorString());
        return false;
    }

    QByteArray header;
    header.append(RecordingFormat::kMagic.data(), int(RecordingFormat::kMagic.size()));
    appendLe<quint16>(header, RecordingFormat::kVersion);
    appendLe<quint16>(header, quint16(RecordingFormat::kFixedHeaderSize + context.size() +
                                      RecordingFormat::kHeaderCrcSize));
    appendLe<quint32>(header, frameType);
    appendLe<quint32>(header, frameSubtype);
    appendLe<qint64>(header, startTimeMsSinceEpoch);
    appendLe<quint16>(header, quint16(context.size()));
    header.append(context);
    const uLong crc = crc32_z(0L, reinterpret_cast<const Bytef*>(header.constData()), size_t(header.size()));
    appendLe<quint32>(header, quint32(crc));

    if (!writeAll(header.constData(), header.size())) {
        m_file.close();
        return false;
    }
    return true;
}

bool RecordingWriter::writePacket(quint64 timestampUs, const char* data, std::size_t length) {
    if (!m_file.isOpen()) {
        m_error = QStringLiteral("no recording file is open");
        return false;
    }
    if (length > RecordingFormat::kMaxPacketSize) {
        m_error = QStringLiteral("packet of %1 bytes is larger than the recording format allows").arg(length);
        return false;
    }

    // The CRC covers time stamp, length and payload, so a flipped bit anywhere in the record is seen.
    char head[RecordingFormat::kPacketHeaderSize];
    qToLittleEndian<quint32>(RecordingFormat::kPacketMarker, head);
    qToLittleEndian<quint64>(timestampUs, head + 4);
    qToLittleEndian<quint32>(quint32(length), head + 12);
    uLong crc = crc32_z(0L, reinterpret_cast<const Bytef*>(head + 4), 12);
    if (length > 0)
        crc = crc32_z(crc, reinterpret_cast<const Bytef*>(data), length);
    qToLittleEndian<quint32>(quint32(crc), head + 16);

    if (!writeAll(head, qint64(sizeof(head))) || !writeAll(data, qint64(length)))
        return false;
    ++m_packets;
    return true;
}

void RecordingWriter::close() {
    if (m_file.isOpen())
        m_file.close();
}

bool RecordingWriter::writeAll(const char* data, qint64 length) {
    while (length > 0) {
        const qint64 written = m_file.write(data, length);
        if (written <= 0) {
            m_error = QStringLiteral("cannot write to %1: %2").arg(m_file.fileName(), m_file.errorString());
            return false;
        }
        data += written;
        length -= written;
        m_bytes += written;
    }
    return true;
}
