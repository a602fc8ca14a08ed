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
#include <vector>

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
    // Reads the recording once to learn its packets' times (the time line for seeking); a damaged
    // recording's time line ends at its last good packet.
    bool open(const QString& fileName);
    // The time line of the open recording: number of packets and the time of the last one.
    qint64 packetCount() const { return qint64(m_timeline.size()); }
    quint64 durationUs() const { return m_timeline.empty() ? 0 : m_timeline.back().timestampUs; }
    // Index (0-based) of the packet delivered last, -1 before the first.
    qint64 currentPacket() const { return m_current.load(); }
    const RecordingInfo& recordingInfo() const { return m_reader.info(); }
    QString errorString() const;

    // Where packets go (for the host's replay window: its view's newReplayPacket). Set before
    // start(); whatever the handler uses must outlive the playback.
    void setHandler(PacketHandler handler);

    // 1.0 plays at the recorded pace, 2.0 twice as fast; 0 (or less) as fast as possible.
    void setSpeed(double speed);

    // Starts from the first packet; `paused` starts without delivering (step() or seek() then show
    // a packet).
    bool start(bool paused = false);
    // Ends playback and waits for the delivery thread; no packet is delivered after it returns.
    // Called from the handler it only asks the delivery thread to end.
    void stop();
    void setPaused(bool paused);
    bool isPaused() const;
    // While paused: delivers the next packet at once.
    void step();
    // Continues with packet `index` of the time line (clamped); while paused it is delivered at
    // once, so the view shows where the seek went.
    void seek(qint64 index);
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
    enum class Wait { Deliver, Stop, Seek };
    // Waits until the packet's time has come, a step is asked for, playback stops or a seek
    // discards the packet.
    Wait waitForPacketTime(quint64 timestampUs);
    // Applies a pending seek before the next packet is read (delivery thread).
    void applySeek();

    struct TimelineEntry {
        qint64 position;
        quint64 timestampUs;
    };
    static constexpr std::size_t kMaxTimeline = 4u << 20; // packets (about 46 h at 25 Hz)
    std::vector<TimelineEntry> m_timeline;

    RecordingReader m_reader;
    PacketHandler m_handler;
    std::thread m_thread;

    mutable std::mutex m_mutex; // guards the fields below, with m_wake
    std::condition_variable m_wake;
    double m_speed = 1.0;
    bool m_stop = false;
    bool m_paused = false;
    bool m_finished = true;
    int m_steps = 0;      // packets to deliver while paused
    qint64 m_seekTo = -1; // pending seek, -1 none
    bool m_reanchor = false;
    QString m_error;

    // Pace reference, used by the delivery thread only.
    std::chrono::steady_clock::time_point m_origin;
    double m_originSpeed = 0;

    std::atomic<bool> m_running{false};
    std::atomic<qint64> m_delivered{0};
    std::atomic<quint64> m_positionUs{0};
    std::atomic<qint64> m_current{-1};
};
