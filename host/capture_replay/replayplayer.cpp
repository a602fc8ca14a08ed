#include "capture_replay/replayplayer.h"

#include "common/logentry.h"

#include <QDebug>

#include <algorithm>
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
    m_timeline.clear();
    m_current = -1;
    bool ok = m_reader.open(fileName);
    if (ok) {
        RecordedPacket packet;
        for (qint64 at = m_reader.position(); m_timeline.size() < kMaxTimeline; at = m_reader.position()) {
            if (m_reader.readPacket(packet) != RecordingReader::Status::Packet)
                break;
            m_timeline.push_back({at, packet.timestampUs});
        }
        ok = m_reader.rewind();
    }
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

bool ReplayPlayer::start(bool paused) {
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
        m_paused = paused;
        m_finished = false;
        m_steps = 0;
        m_seekTo = -1;
        m_error.clear();
    }
    m_current = -1;
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
    m_steps = 0;
    m_wake.notify_all();
}

bool ReplayPlayer::isPaused() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_paused;
}

void ReplayPlayer::step() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_paused)
        ++m_steps;
    m_wake.notify_all();
}

void ReplayPlayer::seek(qint64 index) {
    if (m_timeline.empty())
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_seekTo = std::clamp<qint64>(index, 0, qint64(m_timeline.size()) - 1);
    if (m_paused)
        m_steps = 1;
    m_wake.notify_all();
}

void ReplayPlayer::applySeek() {
    qint64 index;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        index = m_seekTo;
        m_seekTo = -1;
        if (index >= 0)
            m_reanchor = true;
    }
    if (index >= 0)
        m_reader.seekTo(m_timeline[std::size_t(index)].position, index);
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

ReplayPlayer::Wait ReplayPlayer::waitForPacketTime(quint64 timestampUs) {
    // The pace is kept against a reference point (wall time of recording time 0), moved on while
    // paused or when the speed changes, so late deliveries catch up instead of adding up.
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        if (m_stop)
            return Wait::Stop;
        if (m_seekTo >= 0)
            return Wait::Seek;
        if (m_paused) {
            if (m_steps > 0) {
                --m_steps;
                m_reanchor = true; // playing on starts from this packet
                return Wait::Deliver;
            }
            m_wake.wait(lock, [this] { return m_stop || !m_paused || m_steps > 0 || m_seekTo >= 0; });
            continue;
        }
        if (m_speed <= 0)
            return Wait::Deliver;
        if (m_delivered.load() == 0 || m_originSpeed != m_speed || m_reanchor) {
            // (Re)anchor: this packet is due now.
            m_origin = Clock::now() - std::chrono::microseconds(qint64(double(timestampUs) / m_speed));
            m_originSpeed = m_speed;
            m_reanchor = false;
        }
        const auto due = m_origin + std::chrono::microseconds(qint64(double(timestampUs) / m_speed));
        if (Clock::now() >= due)
            return Wait::Deliver;
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
    for (;;) {
        applySeek();
        const RecordingReader::Status status = m_reader.readPacket(packet);
        if (status == RecordingReader::Status::Damaged) {
            damaged = true;
            message = m_reader.errorString();
            break;
        }
        if (status == RecordingReader::Status::End) {
            // Paused at the end (a step or seek went there): wait, the user may seek back.
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_wake.wait(lock, [this] { return m_stop || !m_paused || m_seekTo >= 0; });
                if (m_seekTo >= 0 && !m_stop)
                    continue;
            }
            message = tr("End of recording");
            break;
        }
        const quint64 timestampUs = packet.timestampUs;
        const Wait wait = waitForPacketTime(timestampUs);
        if (wait == Wait::Stop) {
            message = tr("Playback stopped");
            break;
        }
        if (wait == Wait::Seek)
            continue; // this packet is not shown; the seek's is
        m_positionUs = timestampUs;
        m_current = m_reader.packetsRead() - 1;
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
