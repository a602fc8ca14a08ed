// The trvaxx tool as a user runs it, against virtual sensors on loopback.
#include "capture_replay/capturecontroler.h"
#include "tests/plugin/virtualsensors.h"
#include "tests/support/loopbacksocket.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

namespace {

struct ToolResult {
    int exitCode = -1;
    std::vector<QJsonObject> json; // stdout lines parsed as JSON (with --json)
    QStringList out;
    QString err;
};

class TrvaxxTool : public ::testing::Test {
protected:
    // Starts the tool; for live commands (given --port 0) waits for the port it listens on.
    // Live commands keep their wake-up datagram on loopback: the tests' sensors are local.
    std::unique_ptr<QProcess> start(QStringList args, quint16* port = nullptr) {
        if (!args.isEmpty() &&
            (args.first() == QLatin1String("monitor") || args.first() == QLatin1String("record")))
            args << QStringLiteral("--wake-up") << QStringLiteral("loopback");
        auto p = std::make_unique<QProcess>();
        p->start(QStringLiteral(TRVAXX_EXECUTABLE), args);
        EXPECT_TRUE(p->waitForStarted(10000));
        if (port)
            *port = quint16(waitFor(*p, errSoFar, "listening on UDP port (\\d+)").captured(1).toUInt());
        return p;
    }

    // Reads stderr (into errSoFar) or stdout (into outSoFar) of a running tool until `pattern`
    // matches, for up to 30 s; finish() takes what was read as part of the output.
    QRegularExpressionMatch waitFor(QProcess& p, QByteArray& soFar, const char* pattern) {
        const QRegularExpression re(QLatin1String{pattern});
        QRegularExpressionMatch m;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!(m = re.match(QString::fromUtf8(soFar))).hasMatch() &&
               std::chrono::steady_clock::now() < until && p.state() != QProcess::NotRunning) {
            p.waitForReadyRead(200);
            soFar += &soFar == &errSoFar ? p.readAllStandardError() : p.readAllStandardOutput();
        }
        EXPECT_TRUE(m.hasMatch()) << pattern << " in " << soFar.toStdString();
        return m;
    }

    ToolResult finish(QProcess& p, int timeoutMs = 60000) {
        ToolResult r;
        EXPECT_TRUE(p.waitForFinished(timeoutMs));
        r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.err = QString::fromUtf8(errSoFar + p.readAllStandardError());
        const QByteArray out = outSoFar + p.readAllStandardOutput();
        errSoFar.clear();
        outSoFar.clear();
        for (const QByteArray& line : out.split('\n')) {
            if (line.isEmpty())
                continue;
            r.out << QString::fromUtf8(line);
            const QJsonDocument doc = QJsonDocument::fromJson(line);
            if (doc.isObject())
                r.json.push_back(doc.object());
        }
        return r;
    }

    ToolResult run(const QStringList& args) { return finish(*start(args)); }

    static trvsim::SimConfig simConfig(trvsim::Variant variant, const char* source, quint16 port,
                                       const char* serial, uint32_t firstFrame) {
        trvsim::SimConfig c = loopbackSensor(variant, source, port);
        c.identity.serialNumber = serial;
        c.firstFrameCounter = firstFrame;
        c.cycleTimeMs = 0; // the sensor's own cycle time
        return c;
    }

    // A summary line's figures are pinned in test_cyclesummary: here only the stream counts.
    static uint32_t frameOf(const QJsonObject& line) {
        return uint32_t(line.value(QStringLiteral("frame_counter")).toDouble());
    }

    static std::vector<QJsonObject> withRecords(const std::vector<QJsonObject>& lines) {
        std::vector<QJsonObject> r;
        for (const QJsonObject& l : lines)
            if (!l.value(QStringLiteral("frame_counter")).isNull())
                r.push_back(l);
        return r;
    }

    QTemporaryDir dir;
    QByteArray errSoFar, outSoFar;
};

// Two sensors send to the same port; the sender filter picks the second stream, with no gaps from
// interleaving.
TEST_F(TrvaxxTool, MonitorReportsTheChosenSensorsStream) {
    quint16 port = 0;
    auto tool = start({"monitor", "--json", "--seconds", "4", "--port", "0", "--sender", "127.0.0.3"}, &port);
    trvsim::VirtualSensor a(simConfig(trvsim::Variant::OD, "127.0.0.2", port, "SIMA000001", 1));
    trvsim::VirtualSensor b(simConfig(trvsim::Variant::LG, "127.0.0.3", port, "SIMB000002", 700000));
    ASSERT_TRUE(a.start()) << a.errorText();
    ASSERT_TRUE(b.start()) << b.errorText();
    const ToolResult r = finish(*tool);
    a.stop();
    b.stop();

    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    ASSERT_EQ(r.json.size(), 4u) << r.out.join('\n').toStdString();
    const auto lines = withRecords(r.json);
    ASSERT_GE(lines.size(), 2u) << r.out.join('\n').toStdString();
    uint32_t previous = 0;
    for (const QJsonObject& line : lines) {
        EXPECT_GT(frameOf(line), std::max<uint32_t>(previous, 699999));
        EXPECT_LE(frameOf(line), b.lastFrameCounter());
        previous = frameOf(line);
    }
    const QJsonObject stats = lines.back().value(QStringLiteral("stats")).toObject();
    EXPECT_GT(stats.value(QStringLiteral("dsp_datagrams")).toDouble(), 0.0);
    EXPECT_GT(stats.value(QStringLiteral("kp_datagrams")).toDouble(), 0.0);
    EXPECT_EQ(stats.value(QStringLiteral("lrc_errors")).toDouble(), 0.0);
    EXPECT_EQ(stats.value(QStringLiteral("missing_packets")).toDouble(), 0.0);
}

TEST_F(TrvaxxTool, RecordThenReplayGivesTheSensorsFrames) {
    const QString file = dir.filePath(QStringLiteral("di.orlrec"));
    quint16 port = 0;
    auto tool = start({"record", file, "--seconds", "3", "--port", "0", "--json"}, &port);
    trvsim::VirtualSensor sensor(simConfig(trvsim::Variant::DI, "127.0.0.2", port, "SIMD000003", 40));
    ASSERT_TRUE(sensor.start()) << sensor.errorText();
    const ToolResult recorded = finish(*tool);
    sensor.stop();
    ASSERT_EQ(recorded.exitCode, 0) << recorded.err.toStdString();
    // The replay takes only the sensor's own kind of stream (a foreign one: FaultsEndWithTheirExitCodes).
    const ToolResult replayed = run({"replay", file, "--fast", "--json"});
    ASSERT_EQ(replayed.exitCode, 0) << replayed.err.toStdString();
    const auto lines = withRecords(replayed.json);
    ASSERT_GE(lines.size(), 2u) << replayed.out.join('\n').toStdString();
    for (const QJsonObject& line : lines) {
        EXPECT_GE(frameOf(line), 40u);
        EXPECT_LE(frameOf(line), sensor.lastFrameCounter());
        EXPECT_TRUE(line.value(QStringLiteral("stats")).isNull());
    }

    // A recording cut off by a crash replays up to its last complete cycle and says so.
    QFile cut(file);
    ASSERT_TRUE(cut.open(QIODevice::ReadWrite));
    ASSERT_TRUE(cut.resize(cut.size() - 100));
    cut.close();
    const ToolResult damaged = run({"replay", file, "--fast", "--json"});
    EXPECT_EQ(damaged.exitCode, 3);
    EXPECT_TRUE(damaged.err.contains(QStringLiteral("cut off"))) << damaged.err.toStdString();
    EXPECT_FALSE(withRecords(damaged.json).empty());
}

// Wrong command lines, foreign or missing recordings, silent or unusable ports: each ends with its
// exit status and says why. One wrong command line and one missing file stand for the others that
// the option and reader tests name.
TEST_F(TrvaxxTool, FaultsEndWithTheirExitCodes) {
    // A valid recording of another kind of stream.
    const QString other = dir.filePath(QStringLiteral("other.orlrec"));
    CaptureControler capture;
    capture.setWritingContext(QStringLiteral("some_other_device"), 7, 1);
    ASSERT_TRUE(capture.startRecording(other));
    capture.writePacket("payload");
    capture.stopRecoding();
    // A port held by another socket (without address reuse) cannot be used.
    const LoopbackSocket holder;
    const struct {
        QStringList args;
        int exitCode;
        const char* says; // on stderr, or stdout for the help
    } cases[] = {
        {{"monitor", "--port", "99999"}, 2, "--port"},
        {{"--help"}, 0, "monitor"},
        {{"replay", other}, 1, "some_other_device"},
        {{"replay", dir.filePath(QStringLiteral("missing.orlrec"))}, 1, "missing.orlrec"},
        {{"monitor", "--seconds", "1", "--port", QString::number(holder.port())}, 1, "cannot receive"},
    };
    for (const auto& c : cases) {
        const ToolResult r = run(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args.join(' ').toStdString();
        EXPECT_TRUE((c.exitCode ? r.err : r.out.join('\n')).contains(QLatin1String(c.says)))
            << c.args.join(' ').toStdString() << ": " << r.err.toStdString();
    }

    // Nothing arrives: one line with no figures, the error record, then exit status 1.
    const ToolResult r = run({"monitor", "--seconds", "1", "--port", "0", "--json"});
    EXPECT_EQ(r.exitCode, 1);
    ASSERT_EQ(r.json.size(), 2u);
    EXPECT_TRUE(r.json[0].value(QStringLiteral("frame_counter")).isNull());
    EXPECT_EQ(r.json[1].value(QStringLiteral("error")).toObject().value(QStringLiteral("code")).toInt(),
              130015);
    EXPECT_TRUE(r.err.contains(QStringLiteral("error 130015 no result arrived"))) << r.err.toStdString();
}

} // namespace

// "connect" over CAN and Ethernet prints the connection record and live figures until it is
// stopped, and names a silent sensor's failure by its notification id. Every variant code is
// decided by the same sensor connection in tests/plugin/test_sensor_connection.cpp.
TEST_F(TrvaxxTool, ConnectPrintsTheConnectionAndLiveFigures) {
    // The sensor sends debug data; switching them off restarts the sensor, a wait this scales.
    qputenv("TRVAXX_TIME_SCALE", "0.05");
    const CanSim sim(simConfigOf(FIRMWARES[6], 2, 42400));
    ASSERT_TRUE(sim.started);
    auto p = start({"connect", "--ip", "127.0.0.2", "--port", "42400", "--can", sim.url(), "--json"});
    waitFor(*p, outSoFar, "\"kind\":\"live\"");
    p->terminate();
    const ToolResult r = finish(*p);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const auto connection = std::find_if(r.json.begin(), r.json.end(), [](const QJsonObject& o) {
        return o.value(QStringLiteral("kind")).toString() == QLatin1String("connection");
    });
    ASSERT_NE(connection, r.json.end()) << r.out.join('\n').toStdString() << r.err.toStdString();
    EXPECT_EQ(connection->value(QStringLiteral("variant_code")).toInt(-1), 6);
    EXPECT_TRUE(connection->value(QStringLiteral("can")).toBool());
    EXPECT_EQ(connection->value(QStringLiteral("serial")).toString(), QStringLiteral("SER2"));

    const ToolResult silent = run({"connect", "--ip", "127.0.0.77", "--port", "42477"});
    EXPECT_EQ(silent.exitCode, 1);
    EXPECT_TRUE(silent.err.startsWith(QStringLiteral("error 130015 "))) << silent.err.toStdString();
    qunsetenv("TRVAXX_TIME_SCALE");
}
