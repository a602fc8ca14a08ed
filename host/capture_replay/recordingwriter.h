#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdint>

// Writes one recording file: the header at open, then one record per packet. Each record goes
// to the operating system before writePacket returns (the file is unbuffered), so a recording cut
// off by a crash of the program stays readable up to its last complete packet.
// Not thread-safe; one RecordingWriterThread drives it.
class RecordingWriter {
public:
    RecordingWriter() = default;
    ~RecordingWriter();
    RecordingWriter(const RecordingWriter&) = delete;
    RecordingWriter& operator=(const RecordingWriter&) = delete;

    bool open(const QString& fileName, const QString& writingContext, quint32 frameType, quint32 frameSubtype,
              qint64 startTimeMsSinceEpoch);
    bool writePacket(quint64 timestampUs, const char* data, std::size_t length);
    void close();

    bool isOpen() const { return m_file.isOpen(); }
    QString fileName() const { return m_file.fileName(); }
    QString errorString() const { return m_error; }
    qint64 packetCount() const { return m_packets; }
    qint64 bytesWritten() const { return m_bytes; }

private:
    bool writeAll(const char* data, qint64 length);

    QFile m_file;
    QString m_error;
    qint64 m_packets = 0;
    qint64 m_bytes = 0;
};
