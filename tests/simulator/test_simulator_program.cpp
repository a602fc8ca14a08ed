// The trvaxx-sim program as a process: its exit codes, summary lines, signals and CAN buses.

#include "tests/simulator/cantester.h"
#include "tests/support/loopbacksocket.h"
#include "udp-transport/udpframing.h"

#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <csignal>

using namespace std::chrono_literals;

static const char* const program = std::getenv("TRVAXX_SIM");

TEST(SimulatorProgram, RefusesABadValueStreamsAndStopsCleanlyOnSignals) {
    ASSERT_NE(program, nullptr);
    QProcess refusing;
    refusing.start(program, {"--variant", "OD", "--drop", "7"});
    ASSERT_TRUE(refusing.waitForFinished(10000));
    EXPECT_EQ(refusing.exitCode(), 2);
    const QString reason = QString::fromLocal8Bit(refusing.readAllStandardError());
    EXPECT_TRUE(reason.contains("--drop: '7' is not a share from 0 to 1")) << reason.toStdString();
    for (int signal : {SIGTERM, SIGINT}) {
        const LoopbackSocket socket("127.0.0.1", 0, 200);
        QProcess p;
        p.start(program, {"--variant", "LG", "--dest", QString("127.0.0.1:%1").arg(socket.port()), "--source",
                          "127.0.0.4", "--duration", "20"});
        ASSERT_TRUE(p.waitForStarted(10000));
        int datagrams = 0;
        std::vector<uint8_t> bytes;
        for (int i = 0; i < 400 && datagrams < 100; ++i)
            datagrams += socket.receive(bytes) && bytes.size() >= 32 &&
                         udpframing::DatagramHeader::read(bytes.data()).version == 3;
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

// The first program serves its bus (two sensors) and announces it; the second joins it over
// socketcand, and a frame sent to the second reaches the first's clients once; a third refuses
// connections. (Joining a Qt bus: the CAN end-to-end tests.) Fixed ports: run in a network namespace.
TEST(SimulatorProgram, ServesItsCanBusAnnouncesItAndJoinsOthers) {
    ASSERT_NE(program, nullptr);
    const LoopbackSocket beaconSocket("127.0.0.1", 0, 200);
    auto start = [](QProcess& p, QStringList args) {
        args += {"--dest", "127.0.0.1:9", "--duration", "30", "--can-no-pace"};
        p.start(program, args);
        return p.waitForStarted(10000);
    };
    auto peerOn = [](uint16_t port) {
        for (int i = 0; i < 100; ++i) {
            auto peer = std::make_unique<trvsim::test::Peer>(port);
            if (peer->connected && peer->join())
                return peer;
            std::this_thread::sleep_for(100ms);
        }
        return std::unique_ptr<trvsim::test::Peer>();
    };
    QProcess first, second, refusing;
    ASSERT_TRUE(start(first, {"--count", "2", "--can-listen", "127.0.0.1:29536", "--can-beacon",
                              QString("127.0.0.1:%1").arg(beaconSocket.port())}));
    auto atFirst = peerOn(29536);
    ASSERT_TRUE(atFirst) << first.readAllStandardError().toStdString();
    ASSERT_TRUE(start(second, {"--source", "127.0.0.6", "--can-listen", "127.0.0.1:29538", "--can-join",
                               "socketcand://127.0.0.1:29536/can0"}));
    ASSERT_TRUE(
        start(refusing, {"--source", "127.0.0.7", "--can-listen", "127.0.0.1:29539", "--can-refuse"}));
    auto atSecond = peerOn(29538);
    ASSERT_TRUE(atSecond) << second.readAllStandardError().toStdString();

    atSecond->send(trvsim::test::frame(0x18DAEFF1, {2, 0x10, 3}));
    // The sensors' own result and diagnostic frames share the buses, never quiet; count the request only.
    int requests = 0;
    for (const auto end = std::chrono::steady_clock::now() + 1500ms; std::chrono::steady_clock::now() < end;)
        for (const auto& f : atFirst->frames(50ms, 1))
            requests += f.frame.id == 0x18DAEFF1u;
    EXPECT_EQ(requests, 1);
    EXPECT_FALSE(trvsim::test::Peer(29539).connected) << "--can-refuse";

    std::vector<uint8_t> bytes;
    ASSERT_TRUE(beaconSocket.receive(bytes));
    const std::string beacon(bytes.begin(), bytes.end());
    EXPECT_NE(beacon.find("<URL>can://127.0.0.1:29536</URL><Bus name=\"can0\"/></CANBeacon>"),
              std::string::npos)
        << beacon;
    EXPECT_EQ(beacon.rfind("<CANBeacon name=\"", 0), 0u) << beacon;

    first.waitForReadyRead(3000);
    std::this_thread::sleep_for(200ms);
    for (QProcess* p : {&first, &second, &refusing})
        ::kill(static_cast<pid_t>(p->processId()), SIGTERM);
    for (QProcess* p : {&first, &second, &refusing})
        EXPECT_TRUE(p->waitForFinished(5000));
    const QString out = QString::fromLocal8Bit(first.readAllStandardOutput());
    EXPECT_TRUE(
        out.contains(QRegularExpression("OD SIM0000001 127.0.0.2:\\d+: .* CAN frames .* 2 CAN clients")))
        << out.toStdString();
    EXPECT_TRUE(out.contains("OD SIM0000002 127.0.0.3:")) << out.toStdString();
}
