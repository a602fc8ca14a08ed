#include "capture_replay/capturecontroler.h"

#include "capture_replay/recordingwriter.h"

#include <QDateTime>

CaptureControler::CaptureControler(QObject* parent) : QObject(parent) {}

CaptureControler::~CaptureControler() {
    stopRecoding();
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
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_writer) {
            error = tr("A recording is already running (%1).").arg(m_fileName);
        } else {
            auto writer = std::make_unique<RecordingWriter>();
            if (writer->open(fileName, m_contextName, m_frameType, m_frameSubtype,
                             QDateTime::currentMSecsSinceEpoch())) {
                m_writer = std::move(writer);
                m_fileName = fileName;
                m_error.clear();
                m_lastDurationMs = 0;
                m_lastPackets = 0;
                m_clock.start();
                m_recording.store(true, std::memory_order_release);
            } else {
                error = tr("Cannot start recording: %1").arg(writer->errorString());
            }
        }
        if (!error.isEmpty())
            m_error = error;
    }
    // Signals go out without the lock, so a slot may call back into this object.
    if (!error.isEmpty()) {
        emit recordingFailed(error);
        return false;
    }
    emit recordingStarted(fileName);
    return true;
}

void CaptureControler::stopRecoding() {
    QString fileName;
    qint64 packets = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_writer)
            return;
        m_recording.store(false, std::memory_order_release);
        m_writer->close();
        packets = m_writer->packetCount();
        m_lastPackets = packets;
        m_lastDurationMs = m_clock.elapsed();
        m_writer.reset();
        fileName = m_fileName;
    }
    emit recordingStopped(fileName, packets);
}

int CaptureControler::recordingSeconds() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return int((m_writer ? m_clock.elapsed() : m_lastDurationMs) / 1000);
}

qint64 CaptureControler::recordedPackets() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_writer ? m_writer->packetCount() : m_lastPackets;
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
    QString error, fileName;
    qint64 packets = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_writer) // stopped between the test above and the lock
            return;
        const quint64 timestampUs = quint64(m_clock.nsecsElapsed() / 1000);
        if (m_writer->writePacket(timestampUs, packet.constData(), std::size_t(packet.size())))
            return;
        error = tr("Recording stopped: %1").arg(m_writer->errorString());
        m_error = error;
        m_recording.store(false, std::memory_order_release);
        m_writer->close();
        packets = m_lastPackets = m_writer->packetCount();
        m_lastDurationMs = m_clock.elapsed();
        m_writer.reset();
        fileName = m_fileName;
    }
    emit recordingFailed(error);
    emit recordingStopped(fileName, packets);
}
