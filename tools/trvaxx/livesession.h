#pragma once

#include "tools/trvaxx/cyclesummary.h"
#include "tools/trvaxx/outputsink.h"
#include "tools/trvaxx/tooloptions.h"

#include "result/resultchain_trvaxx.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

// "monitor" and "record": receives a live stream through the plug-in's result loader, prints
// one summary line per second and, for "record", writes every complete cycle into a recording.
// Lives in the main thread; the cache's receivedNewResultData() arrives queued from the receive thread.
class LiveSession : public QObject {
    Q_OBJECT
public:
    // Notification ids the plug-in shows for the same failures of a sensor connection.
    static constexpr int NOTIFICATION_RECEIVER_FAILED = 130001;  // "Unable to start ethernet receiver."
    static constexpr int NOTIFICATION_NO_ETHERNET_DATA = 130015; // "Received no ethernet data."

    LiveSession(const ToolOptions& options, OutputSink& output, QObject* parent = nullptr);
    ~LiveSession() override;

    // Opens the socket (and the recording). Returns false with a message when that fails.
    bool start();
    // Stops receiving; prints the closing message. Emits finished() once.
    void finish();
    void stop() { finish(); }
    int exitCode() const { return m_exitCode; }

signals:
    void finished();

private slots:
    void onNewResult();
    void onTick();

private:
    ToolOptions m_options;
    OutputSink& m_output;
    ResultChain_TRVAXX m_chain;

    CycleSummary m_summary;
    QTimer m_tick;
    QElapsedTimer m_interval;
    int m_lines = 0;
    qint64 m_totalCycles = 0;
    bool m_finished = false;
    int m_exitCode = 0;
};
