#include "plugin/sensorgui_trvaxx.h"

#include "plugin/sensor_trvaxx.h"
#include "plugin/sensorpanel_trvaxx.h"

#include "common/commonutilities.h"
#include "common/notification.h"
#include "common/notificationmanager.h"
#include "sdk/hostframe.h"

#include "gui_controls/overlaydialog.h"

#include <QLabel>

SensorGUI_TRVAXX::SensorGUI_TRVAXX(QSharedPointer<Sensor_TRVAXX> sensor, QObject* parent)
    : SensorGUI(parent), sensor(std::move(sensor)) {}

SensorGUI_TRVAXX::~SensorGUI_TRVAXX() {
    if (sensor)
        sensor->closeConnection();
    delete sensorPanel.data();
}

int SensorGUI_TRVAXX::start(HostFrame* frame) {
    hostFrame = frame;
    emit percentageLoaded(10);
    // A question of the start-up checks is asked in an overlay over the sensor's screen that does
    // not block; its answer comes back queued.
    QPointer<SensorGUI_TRVAXX> self(this);
    sensor->setQuestionHandler(
        [self](const QString& title, const QString& text, std::function<void()> accepted) {
            auto* dialog = new OverlayDialog(title);
            dialog->setObjectName(QStringLiteral("startupQuestion"));
            dialog->setContent(new QLabel(text));
            QObject::connect(
                dialog, &OverlayDialog::wasAccepted, dialog, [accepted] { accepted(); }, Qt::QueuedConnection);
            OverlayHelper::showOverlay(dialog, self ? self->panel() : nullptr);
        });
    if (const int result = sensor->connectToSensor())
        return result;
    emit percentageLoaded(40);
    sensorPanel = new SensorPanel_TRVAXX(*sensor);
    connect(sensor.data(), SIGNAL(connectionWasAborted(ErrorCode)), this, SLOT(disconnectSensor(ErrorCode)));
    emit percentageLoaded(90);

    NotificationManager::instance().displayNotification(
        new GenericNotification(tr("Connected"), tr("Connection has been successsfully established."),
                                NOTIFICATION_EVENT, QStringLiteral("iconNotifiInfo")),
        true);
    if (hostFrame)
        hostFrame->showScreen(sensorPanel);
    emit finishedLoading();

    sensor->checkDebugData();
    sensor->checkAutoCalibration();
    sensor->checkRunningMode();
    return 0;
}

bool SensorGUI_TRVAXX::shutDown() {
    QPointer<LoaderNotification> progress =
        new LoaderNotification(tr("Disconnecting"), tr("Trying to disconnect from TRVAxx."));
    NotificationManager::instance().displayNotification(progress, false);
    sensor->closeConnection();
    CommonUtilities::sleepQtFriendly(200);
    if (hostFrame)
        hostFrame->closeSensorGUI();
    CommonUtilities::sleepQtFriendly(200);
    if (progress) {
        progress->onNotificationFinished();
        progress->deleteLater();
    }
    return true;
}

void SensorGUI_TRVAXX::disconnectSensor(ErrorCode error) {
    if (hostFrame)
        hostFrame->closeSensorGUI();
    NotificationManager::instance().displayNotification(error, QString());
}
