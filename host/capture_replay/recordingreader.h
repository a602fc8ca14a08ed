#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QIODevice>
#include <QString>

#include <memory>

// What the header of a recording says.
struct RecordingInfo {
    quint16 formatVersion = 0;
    QString writingContext;
    quint32 frameType = 0;
    quint32 frameSubtype = 0;
    QDateTime startTime; // UTC
};

// One recorded packet; the time stamp counts microseconds from the start of the recording.
struct RecordedPacket {
    quint64 timestampUs = 0;
    QByteArray data;
};

// Reads a recording file packet by packet. Files are outside input: a foreign file, an unknown
// format version or a damaged header is refused at open(); damage after the header (a crash-cut
// end, a flipped bit, a wrong marker) ends the reading at the last good packet, with the reason
// in errorString(). Nothing in the file can make it read past a buffer or allocate more than one
// packet's declared length, and only when that many bytes are really there.
class RecordingReader {
public:
    enum class Status { Packet, End, Damaged };

    RecordingReader();
    ~RecordingReader();
    RecordingReader(const RecordingReader&) = delete;
    RecordingReader& operator=(const RecordingReader&) = delete;

    bool open(const QString& fileName);
    // Reads from a device opened for reading (not owned; it must outlive the reader).
    bool open(QIODevice* device);
    void close();

    const RecordingInfo& info() const { return m_info; }
    // Packet: `packet` holds the next packet (its buffer is reused between calls). End: the
    // recording ended cleanly after the last packet. Damaged: reading stopped; see errorString().
    Status readPacket(RecordedPacket& packet);
    // Back to the first packet (for looping playback).
    bool rewind();
    // Where the next packet starts (a file position), and a jump to a position that an earlier
    // position() gave for packet `index` (0-based); false on a sequential device.
    qint64 position() const;
    bool seekTo(qint64 position, qint64 index);

    QString errorString() const { return m_error; }
    qint64 packetsRead() const { return m_packets; }
    QString sourceName() const { return m_name; }

private:
    bool readHeader();
    bool readExact(char* data, qint64 length);
    Status damaged(const QString& reason);

    std::unique_ptr<QIODevice> m_ownedDevice;
    QIODevice* m_device = nullptr;
    QString m_name;
    RecordingInfo m_info;
    QString m_error;
    qint64 m_firstPacketOffset = 0;
    qint64 m_packets = 0;
    bool m_failed = false;
};
