// The automatic search against virtual sensors over real sockets. Fixed ports: run in a network
// namespace.

#include "common/sensoraddressmobilecan.h"
#include "scout/automaticscout_trvaxx.h"
#include "tests/scout/simprocess.h"
#include "tests/support/recorders.h"
#include "udp-transport/cycleassembler.h"
#include "udp-transport/ethreceiver.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr quint16 kPort = 42310;       // search ports: kPort, kPort + 1
constexpr quint16 kLoaderPort = 42312; // a running receiver's port
constexpr int kCanPort = 29610;
const QString kBus = QStringLiteral("socketcand://127.0.0.1:%1/can0").arg(kCanPort);

QStringList streamTo(quint16 port) {
    return {"--dest", QStringLiteral("127.0.0.1:%1").arg(port)};
}
const QStringList kServeBus = {"--can-listen", QStringLiteral("127.0.0.1:%1").arg(kCanPort)};

struct Search {
    AutomaticScout_TRVAxx scout;
    bool done = false;
    explicit Search(QList<quint16> ports = {kPort, quint16(kPort + 1)}, int ms = 1200) {
        scout.setPorts(ports);
        scout.setSearchMilliseconds(ms);
        scout.setCanInterfaceUrl(kBus.toUtf8());
        QObject::connect(&scout, &SensorScout::done, [this] { done = true; });
    }
    // Serves events until the search is done or `ms` have passed; `started` runs after the start.
    bool run(int ms = 8000, const std::function<void()>& started = {}) {
        done = false;
        scout.startSearch();
        if (started)
            started();
        QElapsedTimer t;
        t.start();
        while (!done && t.elapsed() < ms)
            QEventLoop().processEvents(QEventLoop::AllEvents, 20);
        return done;
    }
    const SensorAddressMobileCan& at(int i) {
        return *scout.getFoundSensors().at(i).dynamicCast<SensorAddressMobileCan>();
    }
};

} // namespace

TEST(Discovery, FindsSeveralSensorsOnOneBusWithAndWithoutTheCanCheckAlsoFromTheCommandLine) {
    Search search;
    std::unique_ptr<SimProcess> sim;
    struct Case {
        bool check;
        AutomaticScout_TRVAxx::CanCheck expected;
    } cases[] = {{true, AutomaticScout_TRVAxx::CanConfirmed}, {false, AutomaticScout_TRVAxx::CanUnchecked}};
    for (const Case& c : cases) {
        search.scout.setCanValidation(c.check);
        // The first search is under way when the sensors come up, so it also hears the beacon they
        // send at once.
        ASSERT_TRUE(search.run(8000, [&] {
            if (!sim)
                sim = std::make_unique<SimProcess>(
                    streamTo(kPort) + kServeBus +
                    QStringList{"--count", "3", "--can-beacon", QString("127.0.0.1:%1").arg(kPort)});
        }));
        ASSERT_EQ(search.scout.getFoundSensors().size(), 3);
        for (int i = 0; i < 3; ++i) {
            const SensorAddressMobileCan& a = search.at(i);
            EXPECT_EQ(a.getSerialNumber(), QString("SIM000000%1").arg(i + 1));
            EXPECT_EQ(a.getIpAddress(), QString("127.0.0.%1").arg(i + 2));
            EXPECT_EQ(a.getUdpPort(), kPort);
            EXPECT_EQ(a.getCanDeviceId(), 239 - i);
            EXPECT_EQ(search.scout.canChecks().value(i), c.expected);
        }
        if (c.check) {
            EXPECT_EQ(search.scout.getCanInterfaces(), QStringList{kBus});
        }
    }

    // The command line lists the same sensors and the announced bus.
    QProcess tool;
    // Four seconds hear a beacon of the three-second period whenever the search starts.
    tool.start(QString::fromLocal8Bit(qgetenv("TRVAXX_TOOL")),
               {"discover", "--json", "--seconds", "4", "--ports", QString::number(kPort), "--can", kBus});
    ASSERT_TRUE(tool.waitForFinished(30000));
    EXPECT_EQ(tool.exitCode(), 0);
    QList<QJsonObject> records;
    for (const QByteArray& line : tool.readAllStandardOutput().split('\n'))
        if (!line.isEmpty())
            records << QJsonDocument::fromJson(line).object();
    ASSERT_EQ(records.size(), 4);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(records[i]["serial"].toString(), QString("SIM000000%1").arg(i + 1));
        EXPECT_EQ(records[i]["can_node"].toInt(), 239 - i);
        EXPECT_EQ(records[i]["can_check"].toString(), "confirmed");
    }
    EXPECT_EQ(records[3]["kind"].toString(), "can_interface");
    EXPECT_EQ(records[3]["url"].toString(), kBus);
}

TEST(Discovery, DropsCanSettingsThatLeadElsewhere) {
    // The first sensor is on the bus; the second reports the same node but is on no bus, so its
    // check reaches the first one.
    SimProcess onBus(streamTo(kPort) + kServeBus + QStringList{"--source", "127.0.0.5"});
    SimProcess elsewhere(streamTo(kPort) + QStringList{"--source", "127.0.0.9", "--serial", "OTHER0001"});
    struct Case {
        QString url;
        AutomaticScout_TRVAxx::CanCheck first, second;
    } cases[] = {
        {kBus, AutomaticScout_TRVAxx::CanConfirmed, AutomaticScout_TRVAxx::CanDropped},
        {"socketcand://127.0.0.1:9/can0", AutomaticScout_TRVAxx::CanDropped,
         AutomaticScout_TRVAxx::CanDropped},
    };
    QThread::msleep(300);
    for (const Case& c : cases) {
        Search search({kPort});
        search.scout.setCanInterfaceUrl(c.url.toUtf8());
        ASSERT_TRUE(search.run());
        ASSERT_EQ(search.scout.getFoundSensors().size(), 2);
        EXPECT_EQ(search.at(1).getSerialNumber(), "OTHER0001");
        EXPECT_EQ(search.scout.canChecks(), (QList<AutomaticScout_TRVAxx::CanCheck>{c.first, c.second}));
        EXPECT_EQ(search.at(0).hasCanSettings(), c.first == AutomaticScout_TRVAxx::CanConfirmed);
        EXPECT_FALSE(search.at(1).hasCanSettings());
        EXPECT_TRUE(search.at(1).hasUdpSettings());
    }
}

TEST(Discovery, AnAbortedSearchReportsNothingAndTheNextStartsAfresh) {
    SimProcess sim(streamTo(kPort));
    Search search({kPort}, 400);
    search.scout.setCanValidation(false);
    search.scout.startSearch();
    search.scout.stop();
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 1000)
        QEventLoop().processEvents(QEventLoop::AllEvents, 20);
    EXPECT_FALSE(search.done);
    EXPECT_TRUE(search.scout.getFoundSensors().isEmpty());
    EXPECT_FALSE(search.scout.isSearching());
    ASSERT_TRUE(search.run());
    EXPECT_EQ(search.scout.getFoundSensors().size(), 1);
}

TEST(Discovery, SearchWhileConnectedLeavesTheStreamToTheReceiver) {
    RecordingOutput output;
    RecordingLogger logger;
    CycleAssembler assembler(output, logger);
    EthReceiver receiver(assembler, logger);
    receiver.setPort(kLoaderPort);
    receiver.setWakeUp(UdpSocket::WakeUp::None);
    ASSERT_EQ(receiver.start(), 0);
    SimProcess sim(streamTo(kLoaderPort) + kServeBus + QStringList{"--source", "127.0.0.5"} +
                   QStringList{"--can-beacon", QString("127.0.0.1:%1").arg(kLoaderPort)});
    QThread::msleep(1500);
    const auto cycles = [&] { return output.handouts(1, false).size(); };
    const size_t before = cycles();
    ASSERT_GE(before, 20u);

    Search search({kLoaderPort});
    ASSERT_TRUE(search.run());
    const size_t during = cycles() - before;
    receiver.stop();
    ASSERT_EQ(search.scout.getFoundSensors().size(), 1);
    EXPECT_EQ(search.scout.canChecks().value(0), AutomaticScout_TRVAxx::CanConfirmed);
    // 40 ms cycles: the search's window and CAN check take well over a second, and the receiver
    // kept every cycle of it.
    EXPECT_GE(during, 25u);
    EXPECT_EQ(output.lastStatistics().missingPacketEvents, 0u);
    // The beacon that reached the receiver was set aside, not taken for damaged sensor data.
    EXPECT_GE(assembler.counters().canBeacons, 1u);
    EXPECT_EQ(logger.count("invalid SubDevice"), 0u);
}
