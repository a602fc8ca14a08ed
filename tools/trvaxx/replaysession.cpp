#include "tools/trvaxx/replaysession.h"

#include "tools/trvaxx/toolcommand.h"

#include "result/capturecontroler_trvaxx.h"

#include <QMetaObject>

#include <ctime>

namespace {
// Gaps in a recording print empty lines, but never more than a day of them.
constexpr quint64 kMaxEmptyLines = 86400;

// CPU time of the calling thread: the cost of interpreting, unaffected by other processes on a busy
// machine (comparable with the CPU times of bench_resultchain).
qint64 threadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}
} // namespace

ReplaySession::ReplaySession(const ToolOptions& options, OutputSink& output, QObject* parent)
    : QObject(parent), m_options(options), m_output(output) {
    connect(&m_player, &ReplayPlayer::finished, this, &ReplaySession::onPlayerFinished, Qt::QueuedConnection);
    m_player.setHandler([this](const char* data, unsigned int length, quint64 timestampUs) {
        handlePacket(data, length, timestampUs);
    });
}

ReplaySession::~ReplaySession() {
    m_player.stop();
}

bool ReplaySession::start() {
    if (!m_player.open(m_options.file)) {
        m_output.error(1, m_player.errorString());
        m_exitCode = 1;
        return false;
    }
    const RecordingInfo& info = m_player.recordingInfo();
    if (info.writingContext != QLatin1String(CaptureControler_TRVAXX::WRITING_CONTEXT) ||
        info.frameType != CaptureControler_TRVAXX::FRAME_TYPE) {
        m_output.error(
            1, tr("%1 is a recording of \"%2\" (frame type %3, subtype %4), not of a TRVAXX result stream")
                   .arg(m_options.file, info.writingContext)
                   .arg(info.frameType)
                   .arg(info.frameSubtype));
        m_exitCode = 1;
        return false;
    }
    m_player.setSpeed(m_options.fast ? 0.0 : m_options.speed);
    m_clock.start();
    if (!m_player.start()) {
        m_output.error(1, m_player.errorString());
        m_exitCode = 1;
        return false;
    }
    return true;
}

void ReplaySession::stop() {
    m_player.stop();
}

void ReplaySession::closeWindow(double seconds) {
    const SummaryLine line = m_summary.takeLine(seconds);
    QMetaObject::invokeMethod(
        this, [this, line] { m_output.line(line); }, Qt::QueuedConnection);
}

void ReplaySession::handlePacket(const char* data, unsigned int length, quint64 timestampUs) {
    const qint64 startNs = threadCpuNs();
    const quint64 window = timestampUs / 1000000u;
    if (!m_anyPacket) {
        m_anyPacket = true;
        m_window = window;
        m_firstUs = timestampUs;
    }
    // Lines for the seconds that ended before this packet (empty ones for gaps).
    for (quint64 n = 0; window > m_window && n < kMaxEmptyLines; ++n) {
        closeWindow(1.0);
        ++m_window;
    }
    m_window = window;
    m_lastUs = timestampUs;

    // The same road as the host's replay view and the live stream.
    QString error;
    switch (m_chain.processPacket(data, length, &error)) {
    case ResultChain_TRVAXX::PacketResult::Processed:
        m_summary.addRecord(m_chain.cache().getResult());
        ++m_cycles;
        break;
    case ResultChain_TRVAXX::PacketResult::Empty:
        break;
    case ResultChain_TRVAXX::PacketResult::Failed:
        if (m_options.verbose)
            m_output.message(tr("packet dropped: %1").arg(error));
        ++m_rejected;
        break;
    case ResultChain_TRVAXX::PacketResult::Rejected:
        ++m_rejected;
        break;
    }
    m_processingNs += threadCpuNs() - startNs;
}

void ReplaySession::onPlayerFinished(qint64 packets, bool damaged, const QString& message) {
    m_player.stop(); // joins the delivery thread: its fields are ours now
    const qint64 elapsedNs = m_clock.nsecsElapsed();
    if (m_summary.cyclesInInterval() > 0) {
        // The last second may be cut short: its rate is taken over the part it covers.
        const quint64 windowStart = m_window * 1000000u;
        const quint64 spanUs = m_lastUs - std::max(windowStart, m_firstUs);
        const qint64 n = m_summary.cyclesInInterval();
        const double seconds =
            (n > 1 && spanUs > 0) ? double(spanUs) * 1e-6 * double(n) / double(n - 1) : 1.0;
        m_output.line(m_summary.takeLine(std::min(seconds, 1.0)));
    }
    m_rate = elapsedNs > 0 ? double(m_cycles) * 1e9 / double(elapsedNs) : 0;
    const double recordedSeconds = m_anyPacket ? double(m_lastUs - m_firstUs) * 1e-6 : 0;
    m_output.message(
        tr("replayed %1 cycles (%2 s recorded) in %3 s: %4 cycles/s, %5 us CPU time per cycle interpreting")
            .arg(m_cycles)
            .arg(recordedSeconds, 0, 'f', 1)
            .arg(double(elapsedNs) * 1e-9, 0, 'f', 3)
            .arg(m_rate, 0, 'f', 0)
            .arg(m_cycles > 0 ? double(m_processingNs) / 1e3 / double(m_cycles) : 0.0, 0, 'f', 1));
    if (m_rejected > 0)
        m_output.message(tr("%1 of %2 packets were not valid result cycles and were skipped")
                             .arg(m_rejected)
                             .arg(packets));
    if (damaged) {
        m_output.error(3, tr("recording damaged, replayed up to the damage: %1").arg(message));
        m_exitCode = 3;
    }
    emit finished();
}

ToolCommand replayCommand() {
    return {QStringLiteral("replay"),
            {QStringLiteral("FILE")},
            QStringLiteral("interpret a recording and print the same figures"),
            QStringLiteral(
                "Interprets a recording with the same code as the live stream and prints one line per\n"
                "recorded second (the reassembly counters are not part of a recording: stats is null).\n"
                "At the end the number of cycles and the processing rate are written to standard error.\n\n"
                "Exit status: 0 after a complete replay, 1 when FILE cannot be used, 2 for a wrong\n"
                "command line, 3 when the recording is damaged (it was replayed up to the damage)."),
            {&ToolOptionGroups::replay()},
            [](const ToolOptions& o, QString& error) {
                if (o.fast && o.speedGiven) {
                    error = QStringLiteral("--fast and --speed exclude each other");
                    return false;
                }
                return true;
            },
            runSession<ReplaySession>};
}
