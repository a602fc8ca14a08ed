// The sensor connection against virtual sensors on loopback: every firmware variant, the failures
// of the connect sequence, the watchdogs. Runs with a small TRVAXX_TIME_SCALE (10 s -> 0.5 s).
#include "plugin/sensor_trvaxx.h"

#include "common/commonutilities.h"
#include "common/notification.h"
#include "common/notificationmanager.h"
#include "simulator/virtualsensor.h"
#include "tests/support/simsensor.h"

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

TEST(SensorConnection, EthernetDecidesEveryVariantAndRefusesOldOrUnknownFirmware) {
    ASSERT_LT(CommonUtilities::timeScale(), 0.2) << "runs with a small TRVAXX_TIME_SCALE";
    struct Row {
        Firmware firmware;
        int result;
        int code;
    } rows[] = {
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
    int host = 2;
    for (const Row& row : rows) {
        SCOPED_TRACE(host);
        const quint16 port = BASE_PORT + host;
        auto sim = streamingSensor(row.firmware, host, port);
        Sensor_TRVAXX sensor(ethernetAddress(host, port));
        EXPECT_EQ(sensor.connectToSensor(), row.result);
        EXPECT_EQ(sensor.getVariantCode(), row.code);
        if (row.result == 0) {
            EXPECT_EQ(sensor.getSerialNumber(), QStringLiteral("SER%1").arg(host));
            EXPECT_TRUE(sensor.isStatusTimerActive());
        } else {
            // Nothing keeps running after a failed connect.
            EXPECT_FALSE(sensor.isWatchdogActive());
            EXPECT_FALSE(sensor.isStatusTimerActive());
        }
        ++host;
    }
}

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
    QTRY_VERIFY_WITH_TIMEOUT(sensor.isWatchdogActive(), 2000);

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
    QTRY_VERIFY_WITH_TIMEOUT(sensor.isWatchdogActive() && !sensor.isSuspended(), 2000);
    EXPECT_TRUE(sensor.isStatusTimerActive());

    // The sensor falls silent: one watchdog interval later the connection is gone.
    sim->stop();
    QTRY_COMPARE_WITH_TIMEOUT(aborted.count(), 1, CommonUtilities::scaledMs(Sensor_TRVAXX::WATCHDOG_MS) * 4);
    EXPECT_EQ(aborted.at(0).at(0).toInt(), NOTI_ABORTED_CONNECTION);
    EXPECT_FALSE(sensor.isStatusTimerActive());
}
