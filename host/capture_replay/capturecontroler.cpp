#include "capture_replay/capturecontroler.h"

#include "capture_replay/recordingwriter.h"
#include "capture_replay/recordingwriterthread.h"

#include <QDateTime>

CaptureControler::CaptureControler(QObject* parent)
    : QObject(parent), m_queueBytes(RecordingWriterThread::kDefaultQueueBytes) {}

CaptureControler::~CaptureControler() {
    stopRecoding();
    std::unique_ptr<RecordingWriterThread> retired;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        retired = std::move(m_retired);
    }
}

void CaptureControler::setWritingContext(const QString& contextName, quint32 frameType,
                                         quint32 frameSubtype) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_contextName = contextName;
    m_frameType = frameType;
    m_frameSubtype = frameSubtype;
}

QString CaptureControler::writingContext() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_contextName;
}

quint32 CaptureControler::frameType() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frameType;
}

quint32 CaptureControler::frameSubtype() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frameSubtype;
}

bool CaptureControler::startRecording(QString fileName) {
    QString error;
    std::unique_ptr<RecordingWriterThread> retired;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        retired = std::move(m_retired); // joined below, without the lock
        if (m_writer) {
            error = tr("A recording is already running (%1).").arg(m_fileName);
        } else {
            auto writer = std::make_unique<RecordingWriter>();
            if (writer->open(fileName, m_contextName, m_frameType, m_frameSubtype,
                             QDateTime::currentMSecsSinceEpoch())) {
                const quint64 generation = ++m_generation;
                m_writer = std::make_unique<RecordingWriterThread>(
                    std::move(writer),
                    [this, generation](const QString& reason) { writeFailed(generation, reason); },
                    m_queueBytes);
                m_fileName = fileName;
                m_error.clear();
                m_lastDurationMs = 0;
                m_lastPackets = 0;
                m_lastDropped = 0;
                m_clock.start();
                m_recording.store(true, std::memory_order_release);
            } else {
                error = tr("Cannot start recording: %1").arg(writer->errorString());
            }
        }
        if (!error.isEmpty())
            m_error = error;
    }
    retired.reset();
    // Signals go out without the lock, so a slot may call back into this object.
    if (!error.isEmpty()) {
        emit recordingFailed(error);
        return false;
    }
    emit recordingStarted(fileName);
    return true;
}

void CaptureControler::stopRecoding() {
    std::unique_ptr<RecordingWriterThread> writer, retired;
    QString fileName;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        retired = std::move(m_retired);
        if (!m_writer)
            return;
        m_recording.store(false, std::memory_order_release);
        m_lastDurationMs = m_clock.elapsed();
        writer = std::move(m_writer);
        fileName = m_fileName;
    }
    retired.reset();
    // The queue is written out without the lock: writePacket from the receive thread returns at
    // once meanwhile (nothing is recording).
    const bool written = writer->finish();
    const qint64 packets = writer->writtenPackets();
    QString error;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lastPackets = packets;
        m_lastDropped = writer->droppedPackets();
        if (!written)
            m_error = error = tr("Recording stopped: %1").arg(writer->errorString());
    }
    if (!written)
        emit recordingFailed(error);
    emit recordingStopped(fileName, packets);
}

// On the writing thread, after a failed write: the recording ends here and says why.
void CaptureControler::writeFailed(quint64 generation, const QString& reason) {
    std::unique_ptr<RecordingWriterThread> older;
    QString error, fileName;
    qint64 packets = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (generation != m_generation || !m_writer)
            return; // being stopped: stopRecoding reports it
        m_recording.store(false, std::memory_order_release);
        m_error = error = tr("Recording stopped: %1").arg(reason);
        packets = m_lastPackets = m_writer->writtenPackets();
        m_lastDropped = m_writer->droppedPackets();
        m_lastDurationMs = m_clock.elapsed();
        older = std::move(m_retired);
        m_retired = std::move(m_writer); // its thread is this one: joined by the next start or stop
        fileName = m_fileName;
    }
    older.reset();
    emit recordingFailed(error);
    emit recordingStopped(fileName, packets);
}

int CaptureControler::recordingSeconds() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return int((m_writer ? m_clock.elapsed() : m_lastDurationMs) / 1000);
}

qint64 CaptureControler::recordedPackets() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_writer ? m_writer->acceptedPackets() : m_lastPackets;
}

qint64 CaptureControler::droppedPackets() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_writer ? m_writer->droppedPackets() : m_lastDropped;
}

void CaptureControler::setQueueLimit(std::size_t bytes) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queueBytes = bytes;
}

QString CaptureControler::recordingFileName() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_fileName;
}

QString CaptureControler::errorString() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_error;
}

void CaptureControler::writePacket(const QByteArray& packet) {
    // Cheap test first: the receive thread calls this for every cycle.
    if (!isRecording())
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_writer) // else stopped between the test above and the lock
        m_writer->push(quint64(m_clock.nsecsElapsed() / 1000), packet);
}
