// The host application with the built plug-in against a virtual sensor (Ethernet and CAN).
#include "app/mainwindow.h"
#include "app/pluginmanager.h"
#include "app/sensorlistarea.h"
#include "common/notification.h"
#include "common/notificationmanager.h"
#include "common/sensoraddressmobilecan.h"
#include "tests/plugin/virtualsensors.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>

namespace {

constexpr quint16 STREAM_PORT = 42380;

Notification* lastNotification() {
    const auto active = NotificationManager::instance().activeNotifications();
    return active.isEmpty() ? nullptr : active.last();
}

} // namespace

TEST(OrlanGuiConnect, ConnectsShowsThePanelDisconnectsAndReportsALostSensor) {
    NotificationManager::instance().setLingerTime(60000);
    // A variant code 6 sensor with its CAN bus; the plug-in's CAN interface comes from the
    // environment, as a user would configure it.
    const CanSim sim(simConfigOf(FIRMWARES[6], 2, STREAM_PORT));
    ASSERT_TRUE(sim.started);
    qputenv("TRVAXX_CAN_INTERFACE", sim.url().toUtf8());
    // The search listens where the virtual sensor streams to.
    qputenv("TRVAXX_DISCOVERY_PORTS",
            QByteArray::number(STREAM_PORT) + ',' + QByteArray::number(STREAM_PORT + 1));
    PluginManager plugins;
    ASSERT_EQ(plugins.loadPlugins({QStringLiteral(TRVAXX_PLUGIN_DIR)}), 1);
    MainWindow window(plugins);
    window.show();

    // The search lists the sensor with its CAN settings; Connect connects to it.
    window.sensorList()->startSearch();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.sensorList()->foundSensorCount() == 1; }, 15000));
    auto* found = window.findChild<QListWidget*>(QStringLiteral("foundSensors"));
    ASSERT_TRUE(found);
    EXPECT_TRUE(found->item(0)->text().contains(QStringLiteral("127.0.0.2")))
        << qPrintable(found->item(0)->text());
    found->setCurrentRow(0);
    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("connectFound")), Qt::LeftButton);
    ASSERT_TRUE(window.hasSensorGUI())
        << qPrintable(lastNotification() ? lastNotification()->getTitle() : QString());

    auto* panel = window.findChild<QWidget*>(QStringLiteral("sensorPanel"));
    ASSERT_TRUE(panel);
    EXPECT_TRUE(panel->isVisible());
    auto* identity = panel->findChild<QLabel*>(QStringLiteral("sensorIdentity"));
    ASSERT_TRUE(identity);
    EXPECT_TRUE(identity->text().contains(QStringLiteral("SER2"))) << qPrintable(identity->text());
    EXPECT_TRUE(identity->text().contains(QStringLiteral("variant code 6"))) << qPrintable(identity->text());
    // The virtual sensor sends debug data: the user is asked whether to switch them off.
    ASSERT_TRUE(QTest::qWaitFor(
        [] {
            const QWidgetList windows = QApplication::topLevelWidgets();
            return std::any_of(windows.begin(), windows.end(), [](QWidget* w) {
                return w->objectName() == QLatin1String("startupQuestion") && w->isVisible();
            });
        },
        2000));

    window.disconnectSensor();
    EXPECT_FALSE(window.hasSensorGUI());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(window.findChild<QWidget*>(QStringLiteral("sensorPanel")));

    // Connected again over Ethernet only, the sensor falls silent: the panel closes and the
    // notification panel shows why.
    ASSERT_TRUE(window.connectToSensor(
        SensorAdrMobileCanSP_t::create(QStringLiteral("virtual sensor"), QByteArray("TRVAxx"),
                                       QStringLiteral("127.0.0.2"), STREAM_PORT, QString())));
    sim.sensor->stop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.hasSensorGUI(); }, 10000));
    ASSERT_TRUE(lastNotification());
    EXPECT_EQ(lastNotification()->getId(), 130009);
    EXPECT_EQ(lastNotification()->getTitle(), QStringLiteral("Aborted Connection"));
    EXPECT_EQ(lastNotification()->getText(), QStringLiteral("Connection was Aborted."));
    for (Notification* n : NotificationManager::instance().activeNotifications())
        n->onNotificationFinished();
}
