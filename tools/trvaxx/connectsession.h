#pragma once

#include "tools/trvaxx/cyclesummary.h"
#include "tools/trvaxx/outputsink.h"
#include "tools/trvaxx/tooloptions.h"

#include "plugin/notificationids_trvaxx.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <memory>

class Notification;
class Sensor_TRVAXX;

// "connect": one sensor connection made headless, as the host makes it (connect sequence, start-up
// checks), then one line of live figures per second from its result cache (Ethernet results and
// the function results that arrive on CAN) until interrupted or the connection is lost. The host's
// notifications are printed as messages. Main thread only.
class ConnectSession : public QObject {
    Q_OBJECT
public:
    ConnectSession(const ToolOptions& options, OutputSink& output, QObject* parent = nullptr);
    ~ConnectSession() override;

    // Runs the connect sequence; false (with the error printed) when it fails.
    bool start();
    void stop();
    int exitCode() const { return m_exitCode; }

signals:
    void finished();

private slots:
    void onNewResult();
    void onTick();
    void onAborted(ErrorCode error);
    void onNotification(Notification* notification);

private:
    void fail(int code);
    void printConnection();

    ToolOptions m_options;
    OutputSink& m_output;
    std::unique_ptr<Sensor_TRVAXX> m_sensor;
    CycleSummary m_summary;
    QTimer m_tick;
    QElapsedTimer m_interval;
    bool m_finished = false;
    int m_exitCode = 0;
};
