// The sensor connection against virtual sensors on loopback: every firmware variant, the failures
// of the connect sequence, the watchdogs. Runs with a small TRVAXX_TIME_SCALE (10 s -> 0.5 s).
#include "plugin/sensor_trvaxx.h"

#include "can-communication/canbuscontroller.h"
#include "common/commonutilities.h"
#include "common/notification.h"
#include "common/notificationmanager.h"
#include "parammodel/pcdevice_trvaxx.h"
#include "tests/plugin/virtualsensors.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

using trvsim::Variant;

namespace {

constexpr quint16 BASE_PORT = 42300;

// A virtual sensor streaming from 127.0.0.`host` to `port`.
std::unique_ptr<trvsim::VirtualSensor> streamingSensor(const Firmware& fw, int host, quint16 port,
                                                       trvsim::FaultConfig faults = {}) {
    trvsim::SimConfig c = simConfigOf(fw, host, port);
    c.faults = faults;
    auto sensor = std::make_unique<trvsim::VirtualSensor>(c);
    EXPECT_TRUE(sensor->start()) << sensor->errorText();
    return sensor;
}

// An address with Ethernet settings for 127.0.0.`host` (none for host 0) and, with `can`, the
// factory's CAN settings: 250 kbit/s, J1939 node 239.
SensorAdrMobileCanSP_t simAddress(int host, quint16 port, bool can) {
    auto a = SensorAdrMobileCanSP_t::create(QStringLiteral("sim"), QByteArray("TRVAxx"));
    if (host) {
        a->setIpAddress(QStringLiteral("127.0.0.%1").arg(host));
        a->setUdpPort(port);
    }
    if (can) {
        a->setCanBaudRate(250000);
        a->setCanDeviceId(239);
    }
    return a;
}

} // namespace

// A silent sensor (NOTI_NO_ETHERNET_DATA) is covered where the main window reports it.
TEST(SensorConnection, TwoSendersWithOneAddressAreAConflict) {
    trvsim::FaultConfig twoSenders;
    twoSenders.secondSender = true;
    auto sim = streamingSensor(FIRMWARES[6], 21, BASE_PORT + 21, twoSenders);
    Sensor_TRVAXX sensor(simAddress(21, BASE_PORT + 21, false));
    EXPECT_EQ(sensor.connectToSensor(), NOTI_ETHERNET_CONFLICT);
}

TEST(SensorConnection, WatchdogEndsALostConnectionUnlessSuspended) {
    auto sim = streamingSensor(FIRMWARES[7], 30, BASE_PORT + 30);
    Sensor_TRVAXX sensor(simAddress(30, BASE_PORT + 30, false));
    QSignalSpy aborted(&sensor, SIGNAL(connectionWasAborted(ErrorCode)));
    ASSERT_EQ(sensor.connectToSensor(), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return sensor.isWatchdogActive(); }, 2000));

    // Suspended: results do not re-arm the watchdog and silence ends nothing.
    sensor.suspendWatchdogs();
    EXPECT_FALSE(sensor.isWatchdogActive());
    EXPECT_FALSE(sensor.isStatusTimerActive());
    sim->stop();
    QTest::qWait(CommonUtilities::scaledMs(Sensor_TRVAXX::WATCHDOG_MS) * 2);
    EXPECT_EQ(aborted.count(), 0);

    // Resumed: the first new result re-arms both timers.
    sim = streamingSensor(FIRMWARES[7], 30, BASE_PORT + 30);
    sensor.resumeWatchdogs();
    ASSERT_TRUE(QTest::qWaitFor([&] { return sensor.isWatchdogActive() && !sensor.isSuspended(); }, 2000));
    EXPECT_TRUE(sensor.isStatusTimerActive());

    // The sensor falls silent: one watchdog interval later the connection is gone.
    sim->stop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return aborted.count() == 1; },
                                CommonUtilities::scaledMs(Sensor_TRVAXX::WATCHDOG_MS) * 4));
    EXPECT_EQ(aborted.at(0).at(0).toInt(), NOTI_ABORTED_CONNECTION);
    EXPECT_FALSE(sensor.isStatusTimerActive());
}

TEST(SensorConnection, EthernetCanAndBothDecideEveryVariantAndDeliverResults) {
    ASSERT_LT(CommonUtilities::timeScale(), 0.2) << "runs with a small TRVAXX_TIME_SCALE";
    for (int code = 0; code < 10; ++code) {
        const int result = code == 8 ? NOTI_UNSUPPORTED_FIRMWARE : code == 9 ? NOTI_FIRMWARE_TOO_OLD : 0;
        const int host = 40 + code;
        const quint16 port = BASE_PORT + host;
        const CanSim sim(simConfigOf(FIRMWARES[code], host, port));
        ASSERT_TRUE(sim.started);
        for (const char* mode : {"Ethernet", "CAN", "both"}) {
            SCOPED_TRACE(testing::Message() << "host " << host << " " << mode);
            const bool ethernet = mode[0] != 'C';
            const bool can = mode[0] != 'E';
            Sensor_TRVAXX sensor(simAddress(ethernet ? host : 0, port, can));
            sensor.setCanInterfaceUrl(sim.url().toUtf8());
            ASSERT_EQ(sensor.connectToSensor(), result);
            EXPECT_EQ(sensor.getVariantCode(), code);
            if (result != 0) {
                EXPECT_EQ(sensor.getCanBusController(), nullptr);
                EXPECT_FALSE(sensor.isWatchdogActive() || sensor.isStatusTimerActive());
                continue;
            }
            EXPECT_EQ(sensor.isCanConnected(), can);
            EXPECT_EQ(sensor.getSerialNumber(), QStringLiteral("SER%1").arg(host));
            EXPECT_EQ(sensor.getPCDevice()->hasWritableFlag(), can);
            // The function result of the sensor's variant reaches the result cache over CAN.
            const ResultCache_TRVAXX& cache = *sensor.getResultCache();
            const Variant variant = FIRMWARES[code].variant;
            ASSERT_TRUE(!can || QTest::qWaitFor(
                                    [&] {
                                        return variant == Variant::DI
                                                   ? !cache.getCANBasicFunctionsData().isNull()
                                               : variant == Variant::OD
                                                   ? !cache.getCANDetectedObjectData().isNull()
                                                   : !cache.getCANDetectedLineGuidanceData().isNull();
                                    },
                                    3000));
            // Without an Ethernet stream the watchdog stays unarmed.
            EXPECT_EQ(sensor.isWatchdogActive(), ethernet);
            EXPECT_EQ(sensor.closeConnection(), 0);
            EXPECT_EQ(sensor.getCanBusController(), nullptr);
        }
    }
}

TEST(SensorConnection, DifferentSensorsOnCanAndEthernetAreRefused) {
    const CanSim onCan(simConfigOf(FIRMWARES[6], 60, BASE_PORT + 60));
    ASSERT_TRUE(onCan.started);
    auto onEthernet = streamingSensor(FIRMWARES[6], 61, BASE_PORT + 61);
    Sensor_TRVAXX sensor(simAddress(61, BASE_PORT + 61, true));
    sensor.setCanInterfaceUrl(onCan.url().toUtf8());
    EXPECT_EQ(sensor.connectToSensor(), NOTI_DIFFERENT_SENSORS);
}

TEST(SensorConnection, CanOnlySensorThatVanishesEndsTheConnectionWithoutFreezingTheGui) {
    const CanSim sim(simConfigOf(FIRMWARES[7], 62, BASE_PORT + 62));
    ASSERT_TRUE(sim.started);
    Sensor_TRVAXX sensor(simAddress(0, 0, true));
    sensor.setCanInterfaceUrl(sim.url().toUtf8());
    QSignalSpy aborted(&sensor, SIGNAL(connectionWasAborted(ErrorCode)));
    ASSERT_EQ(sensor.connectToSensor(), 0);
    sim.bus->stop();
    sim.sensor->stop();

    // The GUI thread keeps serving events while the state reads fail one after another.
    QTimer tick;
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QObject::connect(&tick, &QTimer::timeout,
                     [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
    sinceTick.start();
    tick.start(20);
    ASSERT_TRUE(QTest::qWaitFor([&] { return aborted.count() == 1; }, 60000));
    EXPECT_EQ(aborted.at(0).at(0).toInt(), NOTI_ABORTED_CONNECTION);
    EXPECT_LT(longestGap, 1000);
    EXPECT_EQ(sensor.getCanBusController(), nullptr);
}

TEST(SensorConnection, StartupChecksSwitchDebugDataOffOverCanAndOnlyReportItWithout) {
    const Firmware& od = FIRMWARES[6];
    // Ethernet only: the virtual sensor sends debug data and runs its automatic calibration; both
    // are reported, nothing is written; it is in running mode, so that is not reported.
    {
        auto sim = streamingSensor(od, 70, BASE_PORT + 70);
        Sensor_TRVAXX sensor(simAddress(70, BASE_PORT + 70, false));
        ASSERT_EQ(sensor.connectToSensor(), 0);
        QStringList shown;
        QObject context;
        QObject::connect(&NotificationManager::instance(), &NotificationManager::notificationAdded, &context,
                         [&](Notification* n) { shown << n->getTitle(); });
        sensor.checkDebugData();
        sensor.checkAutoCalibration();
        sensor.checkRunningMode();
        EXPECT_EQ(shown, (QStringList{"Debug Data On", "AutoCalibration On"}));
    }
    // With CAN the user is asked; agreeing writes the parameters (watchdogs suspended meanwhile)
    // and the receivers that ran before the sensor's restart run again afterwards.
    const CanSim sim(simConfigOf(od, 71, BASE_PORT + 71));
    ASSERT_TRUE(sim.started);
    Sensor_TRVAXX sensor(simAddress(71, BASE_PORT + 71, true));
    sensor.setCanInterfaceUrl(sim.url().toUtf8());
    ASSERT_EQ(sensor.connectToSensor(), 0);
    QStringList asked;
    sensor.setQuestionHandler([&](const QString& title, const QString&, std::function<void()> yes) {
        asked << title;
        yes();
    });
    QSignalSpy aborted(&sensor, SIGNAL(connectionWasAborted(ErrorCode)));
    sensor.checkDebugData();
    EXPECT_EQ(asked, QStringList{"Debug Data On"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return sensor.isSuspended(); }, 2000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !sensor.isSuspended() && sensor.isWatchdogActive(); }, 20000));
    EXPECT_EQ(aborted.count(), 0);
    EXPECT_EQ(sensor.getPCDevice()->getParameter(PCDevice_TRVAXX::DEBUG_ON_OFF).toInt(), 0);
    EXPECT_EQ(sensor.getCanBusController()->runningReceivers(),
              QList<CanBusController::ResultFunction>{CanBusController::ResultFunction::OD});

    // A write that fails (the bus is gone) ends the connection with the shut-off's own code.
    sim.bus->stop();
    sensor.shutOffDebugData();
    ASSERT_EQ(aborted.count(), 1);
    EXPECT_EQ(aborted.at(0).at(0).toInt(), NOTI_UNKNOWN_CAN_ERROR);
    EXPECT_EQ(sensor.getCanBusController(), nullptr);
}
