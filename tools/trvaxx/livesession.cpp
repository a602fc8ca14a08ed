#include "tools/trvaxx/livesession.h"

#include "result/resultloader_trvaxx.h"

#include <QThread>

LiveSession::LiveSession(const ToolOptions& options, OutputSink& output, QObject* parent)
    : QObject(parent), m_options(options), m_output(output) {
    connect(&m_chain.cache(), SIGNAL(receivedNewResultData()), this, SLOT(onNewResult()));
    m_tick.setInterval(1000);
    connect(&m_tick, &QTimer::timeout, this, &LiveSession::onTick);
}

LiveSession::~LiveSession() {
    m_chain.loader().stop();
}

bool LiveSession::start() {
    if (m_options.command == ToolOptions::Command::Record &&
        !m_chain.recorder().startRecording(m_options.file)) {
        m_output.message(m_chain.recorder().errorString());
        m_exitCode = 1;
        return false;
    }
    m_chain.loader().setWakeUp(m_options.wakeUp);
    if (m_chain.loader().start(m_options.port, m_options.sender) != 0) {
        m_output.message(tr("cannot start receiving on UDP port %1").arg(m_options.port));
        m_exitCode = 1;
        return false;
    }
    // The socket is opened by the receive thread; a port in use ends that thread at once.
    QElapsedTimer wait;
    wait.start();
    while (m_chain.loader().boundPort() == 0 && m_chain.loader().isRunning() && wait.elapsed() < 2000)
        QThread::msleep(5);
    if (m_chain.loader().boundPort() == 0) {
        m_output.message(tr("cannot receive on UDP port %1 (in use or not permitted)").arg(m_options.port));
        m_chain.loader().stop();
        m_chain.recorder().stopRecoding();
        m_exitCode = 1;
        return false;
    }
    m_output.message(tr("listening on UDP port %1%2")
                         .arg(m_chain.loader().boundPort())
                         .arg(m_options.sender == QLatin1String("0.0.0.0")
                                  ? QString()
                                  : tr(", sender %1 only").arg(m_options.sender)));
    m_interval.start();
    m_tick.start();
    return true;
}

void LiveSession::onNewResult() {
    // One queued call per stored record; the newest record stands for the interval.
    m_summary.addCycle();
    ++m_totalCycles;
}

void LiveSession::onTick() {
    if (m_summary.cyclesInInterval() > 0)
        m_summary.setLatest(m_chain.cache().getResult());
    SummaryLine line = m_summary.takeLine(double(m_interval.restart()) / 1000.0);
    line.stats = CycleSummary::statisticsJson(m_chain.loader().getStatistics());
    m_output.line(line);
    if (m_options.seconds > 0 && ++m_lines >= m_options.seconds)
        finish();
}

void LiveSession::finish() {
    if (m_finished)
        return;
    m_finished = true;
    m_tick.stop();
    m_chain.loader().stop();
    if (m_options.command == ToolOptions::Command::Record) {
        const qint64 packets = m_chain.recorder().recordedPackets();
        m_chain.recorder().stopRecoding();
        if (!m_chain.recorder().errorString().isEmpty())
            m_output.message(m_chain.recorder().errorString());
        m_output.message(tr("recorded %1 cycles in %2 s to %3")
                             .arg(packets)
                             .arg(m_chain.recorder().recordingSeconds())
                             .arg(m_options.file));
        if (packets == 0)
            m_exitCode = 1;
    }
    if (m_totalCycles == 0) {
        m_output.message(tr("no result arrived on UDP port %1").arg(m_options.port));
        m_exitCode = 1;
    }
    emit finished();
}
