// The trvaxx-sim program: refuses bad values, streams, prints its summary line, and stops
// cleanly on SIGTERM and SIGINT.

#include "tests/support/loopbacksocket.h"
#include "udp-transport/udpframing.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>

namespace {

const char* program() {
    return std::getenv("TRVAXX_SIM");
}

} // namespace

TEST(SimulatorProgram, RefusesABadValueWithItsReason) {
    ASSERT_NE(program(), nullptr);
    QProcess p;
    p.start(program(), {"--variant", "OD", "--drop", "7"});
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 2);
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    EXPECT_TRUE(err.contains("--drop: '7' is not a share from 0 to 1")) << err.toStdString();
}

TEST(SimulatorProgram, StreamsAndStopsCleanlyOnSignals) {
    ASSERT_NE(program(), nullptr);
    for (int signal : {SIGTERM, SIGINT}) {
        const LoopbackSocket socket("127.0.0.1", 0, 200);
        const uint16_t port = socket.port();
        QProcess p;
        p.start(program(), {"--variant", "LG", "--dest", QString("127.0.0.1:%1").arg(port), "--source",
                            "127.0.0.4", "--duration", "20"});
        ASSERT_TRUE(p.waitForStarted(10000));
        int datagrams = 0;
        std::vector<uint8_t> buffer;
        for (int i = 0; i < 400 && datagrams < 100; ++i)
            if (socket.receive(buffer) && buffer.size() >= 32 &&
                udpframing::DatagramHeader::read(buffer.data()).version == 3)
                ++datagrams;
        EXPECT_GE(datagrams, 100);
        // Let one summary line appear, then stop it.
        p.waitForReadyRead(3000);
        ::kill(static_cast<pid_t>(p.processId()), signal);
        ASSERT_TRUE(p.waitForFinished(5000)) << "stops promptly";
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 0);
        const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        EXPECT_TRUE(out.contains("LG SIM0000001 127.0.0.4:")) << out.toStdString();
        EXPECT_TRUE(out.contains("streaming")) << out.toStdString();
        EXPECT_TRUE(err.contains(signal == SIGTERM ? "terminated;" : "interrupted;")) << err.toStdString();
    }
}
