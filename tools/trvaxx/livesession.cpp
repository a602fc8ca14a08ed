#include "tools/trvaxx/livesession.h"

#include "tools/trvaxx/toolcommand.h"

#include "result/resultloader_trvaxx.h"

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
    if (m_options.command == QLatin1String("record") && !m_chain.recorder().startRecording(m_options.file)) {
        m_output.error(1, m_chain.recorder().errorString());
        m_exitCode = 1;
        return false;
    }
    m_chain.loader().setWakeUp(m_options.wakeUp);
    // start() returns once the receive socket is bound, and fails for a port in use.
    if (m_chain.loader().start(m_options.port, m_options.sender) != 0) {
        m_output.error(NOTIFICATION_RECEIVER_FAILED,
                       tr("cannot receive on UDP port %1 (in use or not permitted, or a bad sender address)")
                           .arg(m_options.port));
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
    if (m_options.command == QLatin1String("record")) {
        const qint64 packets = m_chain.recorder().recordedPackets();
        m_chain.recorder().stopRecoding();
        if (!m_chain.recorder().errorString().isEmpty())
            m_output.message(m_chain.recorder().errorString());
        m_output.message(tr("recorded %1 cycles in %2 s to %3")
                             .arg(packets)
                             .arg(m_chain.recorder().recordingSeconds())
                             .arg(m_options.file));
        if (packets == 0 && m_totalCycles > 0) {
            m_output.error(1, tr("no cycle was recorded"));
            m_exitCode = 1;
        }
    }
    if (m_totalCycles == 0) {
        m_output.error(NOTIFICATION_NO_ETHERNET_DATA,
                       tr("no result arrived on UDP port %1").arg(m_options.port));
        m_exitCode = 1;
    }
    emit finished();
}

namespace {

QString liveDescription(bool record) {
    const QString figures = QStringLiteral(
        "one line per second:\ncycles per second, latest frame counter, valid pixels, camera-axis\n"
        "distance minimum and maximum (metres), object or line count, software version, firmware\n"
        "variant, serial number and the reassembly counters (--json: cycles_per_s, frame_counter,\n"
        "valid_pixels, distance_min, distance_max, objects, lines, software_version, variant, serial,\n"
        "stats).");
    if (record)
        return QStringLiteral(
                   "Records every complete result cycle of the stream into FILE (the host's recording\n"
                   "format, replayable by \"trvaxx replay\" and the host application) and prints ") +
               figures +
               QStringLiteral(
                   "\n\nExit status: 0 when cycles were recorded, 1 when none were or FILE cannot be\n"
                   "written (error 130015 when no result arrived), 2 for a wrong command line.");
    return QStringLiteral("Receives a sensor's result stream and prints ") + figures +
           QStringLiteral(
               "\n\nExit status: 0 when results arrived, 1 when none did (error 130015) or the port\n"
               "cannot be used (error 130001), 2 for a wrong command line.");
}

} // namespace

ToolCommand monitorCommand() {
    return {QStringLiteral("monitor"),
            {},
            QStringLiteral("print live figures of a sensor's result stream, one line per second"),
            liveDescription(false),
            {&ToolOptionGroups::ethernet(), &ToolOptionGroups::live()},
            {},
            runSession<LiveSession>};
}

ToolCommand recordCommand() {
    return {QStringLiteral("record"),
            {QStringLiteral("FILE")},
            QStringLiteral("record the result stream into FILE"),
            liveDescription(true),
            {&ToolOptionGroups::ethernet(), &ToolOptionGroups::live()},
            {},
            runSession<LiveSession>};
}
