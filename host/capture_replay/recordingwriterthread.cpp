#include "capture_replay/recordingwriterthread.h"

#include "capture_replay/recordingwriter.h"

RecordingWriterThread::RecordingWriterThread(std::unique_ptr<RecordingWriter> writer,
                                             FailureHandler onFailure, std::size_t maxQueuedBytes)
    : m_writer(std::move(writer)), m_onFailure(std::move(onFailure)), m_maxQueuedBytes(maxQueuedBytes),
      m_thread(&RecordingWriterThread::run, this) {}

RecordingWriterThread::~RecordingWriterThread() {
    finish();
}

bool RecordingWriterThread::push(quint64 timestampUs, const QByteArray& packet) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const std::size_t size = std::size_t(packet.size());
        if (m_failed || m_finishing || size > m_maxQueuedBytes - std::min(m_queuedBytes, m_maxQueuedBytes)) {
            ++m_dropped;
            return false;
        }
        m_queue.push_back({timestampUs, packet});
        m_queuedBytes += size;
        ++m_accepted;
    }
    m_wake.notify_one();
    return true;
}

bool RecordingWriterThread::finish() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_finishCalled)
            return !m_failed;
        m_finishCalled = m_finishing = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_failed;
}

void RecordingWriterThread::run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return !m_queue.empty() || m_finishing; });
        if (m_queue.empty())
            break; // finishing and everything is written
        Item item = std::move(m_queue.front());
        m_queue.pop_front();
        lock.unlock();
        const bool ok =
            m_writer->writePacket(item.timestampUs, item.packet.constData(), std::size_t(item.packet.size()));
        lock.lock();
        m_queuedBytes -= std::size_t(item.packet.size());
        if (ok) {
            ++m_written;
            continue;
        }
        m_failed = true;
        m_error = m_writer->errorString();
        m_dropped += qint64(m_queue.size()) + 1;
        m_accepted -= qint64(m_queue.size()) + 1;
        m_queue.clear();
        m_queuedBytes = 0;
        break;
    }
    const bool report = m_failed && !m_finishCalled;
    const QString error = m_error;
    lock.unlock();
    m_writer->close();
    if (report && m_onFailure)
        m_onFailure(error);
}

qint64 RecordingWriterThread::writtenPackets() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_written;
}

qint64 RecordingWriterThread::acceptedPackets() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_accepted;
}

qint64 RecordingWriterThread::droppedPackets() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_dropped;
}

QString RecordingWriterThread::errorString() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_error;
}
