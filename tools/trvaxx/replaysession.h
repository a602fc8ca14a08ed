#pragma once

#include "tools/trvaxx/cyclesummary.h"
#include "tools/trvaxx/outputsink.h"
#include "tools/trvaxx/tooloptions.h"

#include "capture_replay/replayplayer.h"
#include "result/resultchain_trvaxx.h"

#include <QElapsedTimer>
#include <QObject>

#include <atomic>

// "replay": plays a recording through the plug-in's package processor, exactly as the host's
// replay view does, and prints one summary line per recorded second.
//
// The player's delivery thread parses and interprets each packet and keeps the summary of the
// current recorded second; finished lines go to the main thread, which prints them.
class ReplaySession : public QObject {
    Q_OBJECT
public:
    ReplaySession(const ToolOptions& options, OutputSink& output, QObject* parent = nullptr);
    ~ReplaySession() override;

    // Opens and checks the recording and starts playback; false with a message when it cannot.
    bool start();
    int exitCode() const { return m_exitCode; }
    // Stops early (interrupt); the closing message still comes with finished().
    void stop();

    // Cycles interpreted per second of processing time, after finished().
    double cyclesPerSecond() const { return m_rate; }

signals:
    void finished();

private slots:
    void onPlayerFinished(qint64 packets, bool damaged, const QString& message);

private:
    // Delivery thread.
    void handlePacket(const char* data, unsigned int length, quint64 timestampUs);
    void closeWindow(double seconds);

    ToolOptions m_options;
    OutputSink& m_output;
    ResultChain_TRVAXX m_chain;
    ReplayPlayer m_player;

    // Delivery thread only (read by the main thread after the player has stopped).
    CycleSummary m_summary;
    quint64 m_window = 0;
    bool m_anyPacket = false;
    quint64 m_firstUs = 0, m_lastUs = 0;
    qint64 m_cycles = 0;
    qint64 m_rejected = 0;
    qint64 m_processingNs = 0;
    QElapsedTimer m_clock;

    double m_rate = 0;
    int m_exitCode = 0;
};
