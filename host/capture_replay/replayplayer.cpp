#include "capture_replay/replayplayer.h"

#include "common/logentry.h"

#include <QDebug>

#include <chrono>
#include <exception>

using Clock = std::chrono::steady_clock;

ReplayPlayer::ReplayPlayer(QObject* parent) : QObject(parent) {}

ReplayPlayer::~ReplayPlayer() {
    stop();
}

bool ReplayPlayer::open(const QString& fileName) {
    if (m_running.load()) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_error = tr("Cannot open a recording while one is playing.");
        return false;
    }
    stop(); // joins a thread that finished on its own
    const bool ok = m_reader.open(fileName);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_error = ok ? QString() : m_reader.errorString();
    return ok;
}

QString ReplayPlayer::errorString() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_error;
}

void ReplayPlayer::setHandler(PacketHandler handler) {
    m_handler = std::move(handler);
}

void ReplayPlayer::setSpeed(double speed) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_speed = speed;
    m_wake.notify_all();
}

void ReplayPlayer::setLoop(bool loop) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_loop = loop;
}

bool ReplayPlayer::start() {
    if (m_running.load() || std::this_thread::get_id() == m_thread.get_id())
        return false; // playing, or called from the delivery thread itself
    if (m_thread.joinable())
        m_thread.join();
    if (!m_reader.rewind()) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_error = tr("No recording is open.");
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = false;
        m_paused = false;
        m_finished = false;
        m_error.clear();
    }
    m_delivered = 0;
    m_positionUs = 0;
    m_running = true;
    m_thread = std::thread(&ReplayPlayer::run, this);
    return true;
}

void ReplayPlayer::stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        m_wake.notify_all();
    }
    // From the handler (delivery thread) the request is enough: the loop ends after it returns.
    if (m_thread.joinable() && std::this_thread::get_id() != m_thread.get_id())
        m_thread.join();
}

void ReplayPlayer::setPaused(bool paused) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_paused = paused;
    m_wake.notify_all();
}

bool ReplayPlayer::waitForFinished(int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    auto done = [this] { return m_finished; };
    if (timeoutMs < 0) {
        m_wake.wait(lock, done);
        return true;
    }
    return m_wake.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
}

bool ReplayPlayer::waitForPacketTime(quint64 timestampUs) {
    // The pace is kept against a reference point (wall time of recording time 0), moved on while
    // paused or when the speed changes, so late deliveries catch up instead of adding up.
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        if (m_stop)
            return false;
        if (m_paused) {
            const Clock::time_point pausedAt = Clock::now();
            m_wake.wait(lock, [this] { return m_stop || !m_paused; });
            m_origin += Clock::now() - pausedAt;
            continue;
        }
        if (m_speed <= 0)
            return true;
        if (m_delivered.load() == 0 || m_originSpeed != m_speed) {
            // (Re)anchor: this packet is due now.
            m_origin = Clock::now() - std::chrono::microseconds(qint64(double(timestampUs) / m_speed));
            m_originSpeed = m_speed;
        }
        const auto due = m_origin + std::chrono::microseconds(qint64(double(timestampUs) / m_speed));
        if (Clock::now() >= due)
            return true;
        m_wake.wait_until(lock, due);
    }
}

void ReplayPlayer::run() {
    playAll();
    // Only now, with every local of the playback gone, may a waiter go on.
    std::lock_guard<std::mutex> lock(m_mutex);
    m_finished = true;
    m_wake.notify_all();
}

void ReplayPlayer::playAll() {
    RecordedPacket packet;
    bool damaged = false;
    QString message;
    quint64 loopOffsetUs = 0, lastUs = 0;
    for (;;) {
        const RecordingReader::Status status = m_reader.readPacket(packet);
        if (status == RecordingReader::Status::Damaged) {
            damaged = true;
            message = m_reader.errorString();
            break;
        }
        if (status == RecordingReader::Status::End) {
            bool loop;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                loop = m_loop && !m_stop;
            }
            if (loop && m_reader.packetsRead() > 0 && m_reader.rewind()) {
                loopOffsetUs = lastUs + 1;
                continue;
            }
            message = tr("End of recording");
            break;
        }
        const quint64 timestampUs = loopOffsetUs + packet.timestampUs;
        lastUs = timestampUs;
        if (!waitForPacketTime(timestampUs)) {
            message = tr("Playback stopped");
            break;
        }
        m_positionUs = timestampUs;
        // A faulty packet must not end the playback: the handler's exception is reported and the
        // next packet follows.
        try {
            if (m_handler)
                m_handler(packet.data.constData(), unsigned(packet.data.size()), timestampUs);
        } catch (const std::exception& e) {
            qCWarning(lcHost).noquote() << "Replay: packet" << m_delivered.load() << "dropped:" << e.what();
        }
        ++m_delivered;
    }
    const qint64 delivered = m_delivered.load();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (damaged)
            m_error = message;
    }
    // Not playing any more before the signal, so a slot may start the next playback; finished
    // for waitForFinished() only after it, so a waiter sees everything the signal did.
    m_running = false;
    emit finished(delivered, damaged, message);
}
