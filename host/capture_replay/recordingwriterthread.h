#pragma once

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class RecordingWriter;

// Writes the packets of one recording on a thread of its own, so that the thread that receives
// them never waits for the disk. The queue is bounded by bytes: a packet that does not fit any
// more is dropped and counted instead of blocking the caller. A failed write stops the thread,
// closes the file and reports the error once through the failure handler (on the writing thread).
class RecordingWriterThread {
public:
    // Queued bytes beyond which packets are dropped: several seconds of a sensor's stream.
    static constexpr std::size_t kDefaultQueueBytes = 32u * 1024u * 1024u;
    using FailureHandler = std::function<void(const QString& error)>;

    RecordingWriterThread(std::unique_ptr<RecordingWriter> writer, FailureHandler onFailure,
                          std::size_t maxQueuedBytes = kDefaultQueueBytes);
    // Same as finish().
    ~RecordingWriterThread();
    RecordingWriterThread(const RecordingWriterThread&) = delete;
    RecordingWriterThread& operator=(const RecordingWriterThread&) = delete;

    // Queues one packet (the bytes are shared, not copied). False when it was dropped: the queue is
    // full, the writer has failed or finish() has begun. Never waits for the disk.
    bool push(quint64 timestampUs, const QByteArray& packet);
    // Writes what is queued, closes the file and ends the thread. False when a write failed (the
    // failure handler is not called for a failure that happens here; errorString() tells).
    bool finish();

    qint64 writtenPackets() const;
    // Packets accepted so far: written plus still queued.
    qint64 acceptedPackets() const;
    qint64 droppedPackets() const;
    QString errorString() const;

private:
    struct Item {
        quint64 timestampUs;
        QByteArray packet;
    };
    void run();

    std::unique_ptr<RecordingWriter> m_writer; // used by the writing thread only until it ends
    FailureHandler m_onFailure;
    const std::size_t m_maxQueuedBytes;
    mutable std::mutex m_mutex; // guards everything below
    std::condition_variable m_wake;
    std::deque<Item> m_queue;
    std::size_t m_queuedBytes = 0;
    qint64 m_written = 0;
    qint64 m_accepted = 0; // pushed and not discarded by a failure
    qint64 m_dropped = 0;
    bool m_finishing = false;
    bool m_finishCalled = false;
    bool m_failed = false;
    QString m_error;
    std::thread m_thread;
};
