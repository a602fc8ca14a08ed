#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>

class RecordingWriterThread;

// Records a stream of packets into a recording file (format: RECORDING_FORMAT.md).
//
// The GUI thread starts and stops a recording; writePacket is called from the thread that
// receives the packets (for a sensor, its UDP receive thread). All members are safe to call
// from any thread. Device plug-ins derive from it and set their writing context, frame type and
// frame subtype at construction; the values go into the header of every later recording.
class CaptureControler : public QObject {
    Q_OBJECT
public:
    explicit CaptureControler(QObject* parent = nullptr);
    ~CaptureControler() override;

    // Names the kind of frames that writePacket receives. Takes effect with the next recording.
    void setWritingContext(const QString& contextName, quint32 frameType, quint32 frameSubtype);
    QString writingContext() const;
    quint32 frameType() const;
    quint32 frameSubtype() const;

    // Creates (or overwrites) fileName and starts recording. Returns false, with errorString()
    // set and recordingFailed() emitted, when the file cannot be written or a recording runs.
    bool startRecording(QString fileName);
    // Closes the file. Packets written after it returns are not recorded. Does nothing when idle.
    void stopRecoding();
    bool isRecording() const { return m_recording.load(std::memory_order_acquire); }

    // Whole seconds since the running recording started, or the length of the last one.
    int recordingSeconds() const;
    // Packets taken into the running recording (written or queued), or written by the last one.
    qint64 recordedPackets() const;
    // Packets dropped because the disk did not keep up (the queue was full) or a write failed.
    qint64 droppedPackets() const;
    // Bytes of packets that may wait for the disk; takes effect with the next recording.
    void setQueueLimit(std::size_t bytes);
    QString recordingFileName() const;
    QString errorString() const;

    // Appends one packet with the current time stamp (microseconds since the start). Ignored
    // while not recording. Never waits for the disk: packets are written on a thread of the
    // recording, and one that finds its queue full is dropped and counted. A write error ends the
    // recording and emits recordingFailed() and recordingStopped() (from the writing thread).
    void writePacket(const QByteArray& packet);

signals:
    void recordingStarted(const QString& fileName);
    void recordingStopped(const QString& fileName, qint64 packets);
    void recordingFailed(const QString& message);

private:
    void writeFailed(quint64 generation, const QString& reason);

    mutable std::mutex m_mutex; // guards everything below
    QString m_contextName;
    quint32 m_frameType = 0;
    quint32 m_frameSubtype = 0;
    std::unique_ptr<RecordingWriterThread> m_writer;
    std::unique_ptr<RecordingWriterThread> m_retired; // ended by a write error, not yet joined
    quint64 m_generation = 0;                         // of the running recording
    std::size_t m_queueBytes;
    QElapsedTimer m_clock;
    qint64 m_lastDurationMs = 0;
    qint64 m_lastPackets = 0;
    qint64 m_lastDropped = 0;
    QString m_fileName;
    QString m_error;
    std::atomic<bool> m_recording{false};
};
