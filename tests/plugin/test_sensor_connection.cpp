// The sensor connection against virtual sensors on loopback: every firmware variant, the failures
// of the connect sequence, the watchdogs. Runs with a small TRVAXX_TIME_SCALE (10 s -> 0.5 s).
#include "plugin/sensor_trvaxx.h"

#include "can-communication/canbuscontroller.h"
#include "common/commonutilities.h"
#include "common/notification.h"
#include "common/notificationmanager.h"
#include "parammodel/pcdevice_trvaxx.h"
#include "simulator/can/canbus.h"
#include "simulator/can/sensornodes.h"
#include "simulator/virtualsensor.h"
#include "tests/support/simsensor.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

using trvsim::Model;
using trvsim::Variant;

namespace {

constexpr quint16 BASE_PORT = 42300;

struct Firmware {
    Variant variant;
    Model model;
    trvsim::FirmwareVersion version;
};

// A virtual sensor streaming from 127.0.0.`host` to `port`.
std::unique_ptr<trvsim::VirtualSensor> streamingSensor(const Firmware& fw, int host, quint16 port,
                                                       trvsim::FaultConfig faults = {}) {
    trvsim::SimConfig c = loopbackSensor(fw.variant, "127.0.0." + std::to_string(host), port);
    c.identity.model = fw.model;
    c.identity.version = fw.version;
    c.identity.serialNumber = "SER" + std::to_string(host);
    c.faults = faults;
    auto sensor = std::make_unique<trvsim::VirtualSensor>(c);
    EXPECT_TRUE(sensor->start()) << sensor->errorText();
    return sensor;
}

// A virtual sensor with its own CAN bus (socketcand on an ephemeral loopback port, unpaced).
struct CanSim {
    std::unique_ptr<trvsim::VirtualSensor> sensor;
    std::unique_ptr<trvsim::SimCanBus> bus;
    CanSim(const Firmware& fw, int host, quint16 port) {
        sensor = streamingSensor(fw, host, port);
        trvsim::CanConfig can;
        can.listen = "127.0.0.1:0";
        can.pace = false;
        bus = trvsim::buildCanBus(
            {sensor.get()}, can, trvsim::makeSensorNodes, [](int, const std::string&) {}, 0);
        EXPECT_TRUE(bus->start());
    }
    QByteArray url() const {
        return QStringLiteral("socketcand://127.0.0.1:%1/can0").arg(bus->listenPort()).toUtf8();
    }
};

// CAN settings of the factory: 250 kbit/s, J1939 node 239.
void addCan(const SensorAdrMobileCanSP_t& a) {
    a->setCanBaudRate(250000);
    a->setCanDeviceId(239);
}

SensorAdrMobileCanSP_t canAddress() {
    auto a = SensorAdrMobileCanSP_t::create(QStringLiteral("sim"), QByteArray("TRVAxx"));
    addCan(a);
    return a;
}

// A sensor per variant code, and the two firmwares that are refused (code 8 and 9).
struct FirmwareRow {
    Firmware firmware;
    int result;
    int code;
};
const FirmwareRow FIRMWARE_ROWS[] = {
    {{Variant::DI, Model::TRVADN, {2, 2, 0}}, 0, 0},
    {{Variant::DI, Model::TRVAFN, {2, 2, 3}}, 0, 1},
    {{Variant::OD, Model::TRVAFN, {2, 2, 0}}, 0, 2},
    {{Variant::LG, Model::TRVAFN, {2, 1, 0}}, 0, 3},
    {{Variant::DI, Model::TRVADN, {3, 4, 1}}, 0, 4},
    {{Variant::DI, Model::TRVAFN, {3, 3, 0}}, 0, 5},
    {{Variant::OD, Model::TRVAFN, {3, 4, 1}}, 0, 6},
    {{Variant::LG, Model::TRVAFN, {3, 5, 1}}, 0, 7},
    {{Variant::OD, Model::TRVAFN, {3, 1, 0}}, NOTI_UNSUPPORTED_FIRMWARE, 8},
    {{Variant::OD, Model::TRVAFN, {2, 1, 0}}, NOTI_FIRMWARE_TOO_OLD, 9},
};

SensorAdrMobileCanSP_t ethernetAddress(int host, quint16 port) {
    auto a = SensorAdrMobileCanSP_t::create(QStringLiteral("sim"), QByteArray("TRVAxx"));
    a->setIpAddress(QStringLiteral("127.0.0.%1").arg(host));
    a->setUdpPort(port);
    return a;
}

// Titles of the notifications shown while an instance lives.
struct ShownNotifications : QObject {
    QStringList titles;
    ShownNotifications() {
        connect(&NotificationManager::instance(), &NotificationManager::notificationAdded, this,
                [this](Notification* n) { titles << n->getTitle(); });
    }
};

} // namespace

TEST(SensorConnection, EthernetFailuresNameTheirCause) {
    // Nobody sends: no data. Two senders with one address: an address conflict.
    {
        Sensor_TRVAXX sensor(ethernetAddress(20, BASE_PORT + 20));
        EXPECT_EQ(sensor.connectToSensor(), NOTI_NO_ETHERNET_DATA);
    }
    trvsim::FaultConfig twoSenders;
    twoSenders.secondSender = true;
    auto sim = streamingSensor({Variant::OD, Model::TRVAFN, {3, 4, 1}}, 21, BASE_PORT + 21, twoSenders);
    Sensor_TRVAXX sensor(ethernetAddress(21, BASE_PORT + 21));
    const int result = sensor.connectToSensor();
    EXPECT_EQ(result, NOTI_ETHERNET_CONFLICT);
}

TEST(SensorConnection, WatchdogEndsALostConnectionUnlessSuspended) {
    auto sim = streamingSensor({Variant::LG, Model::TRVAFN, {3, 5, 1}}, 30, BASE_PORT + 30);
    Sensor_TRVAXX sensor(ethernetAddress(30, BASE_PORT + 30));
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
    sim = streamingSensor({Variant::LG, Model::TRVAFN, {3, 5, 1}}, 30, BASE_PORT + 30);
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

namespace {

// The function result of the sensor's variant has reached the result cache over CAN.
bool hasCanResult(Sensor_TRVAXX& sensor, Variant variant) {
    const ResultCache_TRVAXX& cache = *sensor.getResultCache();
    switch (variant) {
    case Variant::DI:
        return !cache.getCANBasicFunctionsData().isNull();
    case Variant::OD:
        return !cache.getCANDetectedObjectData().isNull();
    case Variant::LG:
        return !cache.getCANDetectedLineGuidanceData().isNull();
    }
    return false;
}

} // namespace

TEST(SensorConnection, EthernetCanAndBothDecideEveryVariantAndDeliverResults) {
    ASSERT_LT(CommonUtilities::timeScale(), 0.2) << "runs with a small TRVAXX_TIME_SCALE";
    int host = 40;
    for (const FirmwareRow& row : FIRMWARE_ROWS) {
        const quint16 port = BASE_PORT + host;
        CanSim sim(row.firmware, host, port);
        for (const char* mode : {"Ethernet", "CAN", "both"}) {
            SCOPED_TRACE(testing::Message() << "host " << host << " " << mode);
            const bool ethernet = mode[0] != 'C';
            const bool can = mode[0] != 'E';
            const SensorAdrMobileCanSP_t address = ethernet ? ethernetAddress(host, port) : canAddress();
            if (can)
                addCan(address);
            Sensor_TRVAXX sensor(address);
            sensor.setCanInterfaceUrl(sim.url());
            ASSERT_EQ(sensor.connectToSensor(), row.result);
            EXPECT_EQ(sensor.getVariantCode(), row.code);
            if (row.result != 0) {
                // Nothing keeps running after a failed connect.
                EXPECT_EQ(sensor.getCanBusController(), nullptr);
                EXPECT_FALSE(sensor.isWatchdogActive() || sensor.isStatusTimerActive());
                continue;
            }
            EXPECT_EQ(sensor.isCanConnected(), can);
            EXPECT_EQ(sensor.getSerialNumber(), QStringLiteral("SER%1").arg(host));
            EXPECT_EQ(sensor.getPCDevice()->hasWritableFlag(), can);
            if (can) {
                ASSERT_TRUE(
                    QTest::qWaitFor([&] { return hasCanResult(sensor, row.firmware.variant); }, 3000));
            }
            // Without an Ethernet stream the watchdog stays unarmed.
            EXPECT_EQ(sensor.isWatchdogActive(), ethernet);
            EXPECT_EQ(sensor.closeConnection(), 0);
            EXPECT_EQ(sensor.getCanBusController(), nullptr);
        }
        ++host;
    }
}

TEST(SensorConnection, DifferentSensorsOnCanAndEthernetAreRefused) {
    CanSim onCan({Variant::OD, Model::TRVAFN, {3, 4, 1}}, 60, BASE_PORT + 60);
    auto onEthernet = streamingSensor({Variant::OD, Model::TRVAFN, {3, 4, 1}}, 61, BASE_PORT + 61);
    const SensorAdrMobileCanSP_t address = ethernetAddress(61, BASE_PORT + 61);
    addCan(address);
    Sensor_TRVAXX sensor(address);
    sensor.setCanInterfaceUrl(onCan.url());
    EXPECT_EQ(sensor.connectToSensor(), NOTI_DIFFERENT_SENSORS);
    EXPECT_EQ(sensor.getCanBusController(), nullptr);
    EXPECT_FALSE(sensor.isStatusTimerActive());
}

TEST(SensorConnection, CanOnlySensorThatVanishesEndsTheConnectionWithoutFreezingTheGui) {
    CanSim sim({Variant::LG, Model::TRVAFN, {3, 5, 1}}, 62, BASE_PORT + 62);
    Sensor_TRVAXX sensor(canAddress());
    sensor.setCanInterfaceUrl(sim.url());
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
    const Firmware od{Variant::OD, Model::TRVAFN, {3, 4, 1}};
    // Ethernet only: the virtual sensor sends debug data and runs its automatic calibration; both
    // are reported, nothing is written; it is in running mode, so that is not reported.
    {
        auto sim = streamingSensor(od, 70, BASE_PORT + 70);
        Sensor_TRVAXX sensor(ethernetAddress(70, BASE_PORT + 70));
        ASSERT_EQ(sensor.connectToSensor(), 0);
        ShownNotifications shown;
        sensor.checkDebugData();
        sensor.checkAutoCalibration();
        sensor.checkRunningMode();
        EXPECT_EQ(shown.titles, (QStringList{"Debug Data On", "AutoCalibration On"}));
    }
    // With CAN the user is asked; agreeing writes the parameters (watchdogs suspended meanwhile)
    // and the receivers that ran before the sensor's restart run again afterwards.
    CanSim sim(od, 71, BASE_PORT + 71);
    const SensorAdrMobileCanSP_t address = ethernetAddress(71, BASE_PORT + 71);
    addCan(address);
    Sensor_TRVAXX sensor(address);
    sensor.setCanInterfaceUrl(sim.url());
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
