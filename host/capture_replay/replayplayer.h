#pragma once

#include "capture_replay/recordingreader.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Plays a recording: a delivery thread reads the packets and hands each to a handler, either at
// the pace at which they were recorded (optionally sped up) or as fast as possible.
//
// The handler runs on the delivery thread; signals reach receivers in their own
// threads. A damaged recording plays up to its last good packet; finished() says why it ended.
class ReplayPlayer : public QObject {
    Q_OBJECT
public:
    // data/length: one recorded packet, valid only during the call; timestampUs: its recording time.
    using PacketHandler = std::function<void(const char* data, unsigned int length, quint64 timestampUs)>;

    explicit ReplayPlayer(QObject* parent = nullptr);
    ~ReplayPlayer() override; // stops playback

    // Opens a recording for playback; refuses while playing. On failure errorString() says why.
    bool open(const QString& fileName);
    const RecordingInfo& recordingInfo() const { return m_reader.info(); }
    QString errorString() const;

    // Where packets go (for the host's replay window: its view's newReplayPacket). Set before
    // start(); whatever the handler uses must outlive the playback.
    void setHandler(PacketHandler handler);

    // 1.0 plays at the recorded pace, 2.0 twice as fast; 0 (or less) as fast as possible.
    void setSpeed(double speed);
    void setLoop(bool loop);

    bool start();
    // Ends playback and waits for the delivery thread; no packet is delivered after it returns.
    // Called from the handler it only asks the delivery thread to end.
    void stop();
    void setPaused(bool paused);
    bool isPlaying() const { return m_running.load(); }
    // Blocks until playback ends or the time-out (ms, negative = no limit) passes.
    bool waitForFinished(int timeoutMs = -1);

    qint64 packetsDelivered() const { return m_delivered.load(); }
    quint64 positionUs() const { return m_positionUs.load(); }

signals:
    // damaged: the recording ended at damage (message says where); otherwise it played to its
    // end or was stopped. Emitted from the delivery thread: connect it queued (the default for a
    // receiver in another thread) to start the next playback from a slot.
    void finished(qint64 packets, bool damaged, const QString& message);

private:
    void run();
    void playAll();
    // Waits until the packet's time has come; false when stopped meanwhile.
    bool waitForPacketTime(quint64 timestampUs);

    RecordingReader m_reader;
    PacketHandler m_handler;
    std::thread m_thread;

    mutable std::mutex m_mutex; // guards the fields below, with m_wake
    std::condition_variable m_wake;
    double m_speed = 1.0;
    bool m_loop = false;
    bool m_stop = false;
    bool m_paused = false;
    bool m_finished = true;
    QString m_error;

    // Pace reference, used by the delivery thread only.
    std::chrono::steady_clock::time_point m_origin;
    double m_originSpeed = 0;

    std::atomic<bool> m_running{false};
    std::atomic<qint64> m_delivered{0};
    std::atomic<quint64> m_positionUs{0};
};
