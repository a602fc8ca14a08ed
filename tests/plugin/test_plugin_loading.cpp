// The built plug-in as the host loads it, on the offscreen platform.
#include "app/mainwindow.h"
#include "app/pluginmanager.h"
#include "app/sensorlistarea.h"
#include "common/commonutilities.h"
#include "common/notificationmanager.h"
#include "common/sensoraddressmobilecan.h"
#include "generated/trvaxx_version.h"
#include "gui_controls/notificationpanel.h"
#include "sdk/plugininterface.h"
#include "sdk/replaydataview.h"
#include "sdk/sensorscout.h"
#include "sdk/sensortype.h"

#include <QApplication>
#include <QFile>
#include <QJsonObject>
#include <QPluginLoader>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace {

QString pluginFolder() {
    return QFileInfo(QStringLiteral(TRVAXX_PLUGIN_FILE)).absolutePath();
}

// A folder with the real plug-in and everything a host must refuse or skip.
struct MixedFolder {
    QTemporaryDir dir;
    MixedFolder() {
        QFile::copy(QStringLiteral(TRVAXX_PLUGIN_FILE), dir.filePath(QStringLiteral("plugin_trvaxx.so")));
        for (const char* fake :
             {"fake_bad_verification.so", "fake_no_verification.so", "fake_other_interface.so"})
            QFile::copy(QStringLiteral(FAKE_PLUGIN_DIR "/") + QLatin1String(fake),
                        dir.filePath(QLatin1String(fake)));
        QFile::copy(QStringLiteral(HOST_COMMON_FILE), dir.filePath(QStringLiteral("libplain.so")));
        for (const char* name : {"notaplugin.so", "readme.txt"}) {
            QFile text(dir.filePath(QLatin1String(name)));
            if (text.open(QIODevice::WriteOnly))
                text.write("this is text, not a library\n");
        }
    }
};

// Notifications stay on screen while a window test looks at them; all are finished at the end.
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override { NotificationManager::instance().setLingerTime(60000); }
    void TearDown() override {
        for (Notification* n : NotificationManager::instance().activeNotifications())
            n->onNotificationFinished();
        NotificationManager::instance().setLingerTime(4000);
    }
};

} // namespace

TEST(BuiltPlugin, SensorTypeRecognisesTheFamilyAndMakesAReplayViewButNoOtherGui) {
    PluginManager manager;
    ASSERT_EQ(manager.loadPlugins({pluginFolder()}), 1);
    SensorType* type = manager.sensorTypes().first();
    for (const char* yes : {"TRVA", "TRVADN DI", "TRVAFN OD", "TRVAxx", "TRVA\x01"})
        EXPECT_TRUE(type->isSupportedTypeID(yes)) << yes;
    for (const char* no : {"trva", "Trva", "TRVa", "TRV", "", " TRVA", "XYZ123 DI"})
        EXPECT_FALSE(type->isSupportedTypeID(no)) << no;
    EXPECT_FALSE(type->isSupportedTypeID(nullptr));
    EXPECT_NE(std::unique_ptr<ReplayDataView>(type->createReplayDataView()), nullptr);
    EXPECT_EQ(type->createSensorGUI(SensorSP_t(), static_cast<GuiType>(3)), nullptr);
}

// The exported verification text passes every load through the manager; the instance function is
// moc's.
TEST(PluginLoading, MetadataCarriesTheVersionAndTheInstanceTheScouts) {
    QPluginLoader loader(QStringLiteral(TRVAXX_PLUGIN_FILE));
    ASSERT_TRUE(loader.load()) << loader.errorString().toStdString();
    EXPECT_EQ(loader.metaData()[QLatin1String("MetaData")][QLatin1String("version")].toString(),
              QStringLiteral(TRVAXX_PLUGIN_VERSION));
    auto* plugin = qobject_cast<PluginInterface*>(loader.instance());
    ASSERT_TRUE(plugin);
    const QList<SensorScout*> scouts = plugin->getSensorScouts();
    ASSERT_EQ(scouts.size(), 2);
    EXPECT_EQ(scouts[0]->getType(), SensorScout::SCOUT_MANUAL);
    EXPECT_EQ(scouts[1]->getType(), SensorScout::SCOUT_AUTOMATIC);
}

TEST_F(MainWindowTest, FilesThatAreNotUsablePluginsAreRefusedShownAndLoadingGoesOn) {
    MixedFolder folder;
    PluginManager manager;
    QSignalSpy refusedSpy(&manager, &PluginManager::pluginRefused);
    ASSERT_EQ(manager.loadPlugins({folder.dir.path()}), 1);
    EXPECT_EQ(manager.plugins().first().fileName, QStringLiteral("plugin_trvaxx.so"));
    EXPECT_EQ(manager.refusals().size(), 4);
    EXPECT_EQ(refusedSpy.count(), 4);
    // A plug-in of another interface belongs to someone else: skipped, not refused.
    const std::pair<const char*, const char*> reasons[] = {
        {"fake_bad_verification.so", "version"},
        {"fake_no_verification.so", "no plug-in verification text"},
        {"notaplugin.so", "not a Qt plug-in"},
        {"libplain.so", "not a Qt plug-in"},
        {"fake_other_interface.so", nullptr}};
    for (const auto& [file, reason] : reasons) {
        QString given;
        for (const auto& r : manager.refusals())
            given += QFileInfo(r.filePath).fileName() == QLatin1String(file) ? r.reason : QString();
        EXPECT_TRUE(reason ? given.contains(QLatin1String(reason)) : given.isEmpty()) << file;
    }
    // The same file name found again in a later folder is not loaded twice.
    PluginManager twice;
    EXPECT_EQ(twice.loadPlugins({pluginFolder(), folder.dir.path(), pluginFolder()}), 1);

    MainWindow window(manager);
    window.show();
    EXPECT_EQ(window.notificationPanel()->cardCount(), 4); // one per refused file

    // A TRVAXX address reaches the plug-in's connection; a sensor that sends nothing is reported
    // with the connection's notification.
    auto address = SensorAdrSP_t(new SensorAddressMobileCan(QStringLiteral("TRVAxx Device"), "TRVAxx",
                                                            QStringLiteral("127.0.0.1"), 42000, QString()));
    EXPECT_FALSE(window.connectToSensor(address));
    EXPECT_EQ(NotificationManager::instance().activeNotifications().last()->getId(), 130015);
    EXPECT_EQ(NotificationManager::instance().activeNotifications().last()->getTitle(),
              QStringLiteral("Received no Ethernet Data"));
    auto foreign = SensorAdrSP_t(new SensorAddressMobileCan(QStringLiteral("x"), "XYZ123 DI"));
    EXPECT_FALSE(window.connectToSensor(foreign));
    EXPECT_EQ(NotificationManager::instance().activeNotifications().last()->getTitle(),
              QStringLiteral("No plug-in for this sensor"));
    EXPECT_FALSE(window.hasSensorGUI());
}

TEST_F(MainWindowTest, ConnectsThroughTheSensorTypeShowsItsScreenAndRemembersTheSensor) {
    CommonUtilities::gocSettings().remove(QStringLiteral("sensors/recent"));
    PluginManager manager;
    ASSERT_EQ(manager.loadPlugins({QStringLiteral(WORKING_PLUGIN_DIR), pluginFolder()}), 2);
    {
        MainWindow window(manager);
        window.show();
        auto address = SensorAdrSP_t(new SensorAddressMobileCan(QStringLiteral("bench sensor"), "FAKE 1",
                                                                QStringLiteral("127.0.0.1"), 42000,
                                                                QStringLiteral("SN1")));
        EXPECT_TRUE(window.connectToSensor(address));
        EXPECT_TRUE(window.hasSensorGUI());
        QWidget* screen = window.findChild<QWidget*>(QStringLiteral("fakeScreen"));
        ASSERT_TRUE(screen);
        EXPECT_TRUE(screen->isVisible());
        EXPECT_EQ(window.sensorList()->recentSensors().size(), 1);

        // Disconnecting asks the controller to shut down, which closes it through the host frame.
        window.disconnectSensor();
        EXPECT_FALSE(window.hasSensorGUI());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_FALSE(window.findChild<QWidget*>(QStringLiteral("fakeScreen")));

        // A failing start is shown by its id and not remembered.
        auto failing = SensorAdrSP_t(new SensorAddressMobileCan(QStringLiteral("fail"), "FAKE 2"));
        EXPECT_FALSE(window.connectToSensor(failing));
        EXPECT_FALSE(window.hasSensorGUI());
        EXPECT_EQ(NotificationManager::instance().activeNotifications().last()->getId(), 4242);
        EXPECT_EQ(window.sensorList()->recentSensors().size(), 1);
    }
    // The recent sensors come back from the settings in the next window.
    MainWindow again(manager);
    ASSERT_EQ(again.sensorList()->recentSensors().size(), 1);
    auto mobile =
        qSharedPointerDynamicCast<SensorAddressMobileCan>(again.sensorList()->recentSensors().first());
    ASSERT_TRUE(mobile);
    EXPECT_EQ(mobile->getSerialNumber(), QStringLiteral("SN1"));
    EXPECT_EQ(mobile->getSensorTypeId(), QByteArray("FAKE 1"));
}
