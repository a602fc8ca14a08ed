#include "plugin/sensor_trvaxx.h"

#include "plugin/pluginlog_trvaxx.h"

#include "can-communication/canbuscontroller.h"
#include "common/commonutilities.h"
#include "common/logentry.h"
#include "common/notification.h"
#include "common/notificationmanager.h"
#include "common/paramcache.h"
#include "result/firmwareclassification_trvaxx.h"
#include "result/resultloader_trvaxx.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>

namespace {

void logCritical(const QString& text, const char* file, int line) {
    qCCritical(lcPlugin, "%s", qPrintable(text + logLocationSuffix(file, line)));
}
#define CRITICAL(text) logCritical(text, __FILE__, __LINE__)

void showNotification(const QString& title, const QString& text, int type, const QString& icon = QString()) {
    NotificationManager::instance().displayNotification(new GenericNotification(title, text, type, icon),
                                                        true);
}

} // namespace

Sensor_TRVAXX::Sensor_TRVAXX(SensorAdrMobileCanSP_t address)
    : address(std::move(address)), pcDevice(std::make_unique<ParamCache>()) {
    qRegisterMetaType<ErrorCode>("ErrorCode");
    ethernetWatchdog.setSingleShot(true);
    ethernetWatchdog.setInterval(CommonUtilities::scaledMs(WATCHDOG_MS));
    statusTimer.setSingleShot(true);
    statusTimer.setInterval(CommonUtilities::scaledMs(WATCHDOG_MS));
    connect(&stateRead, &QFutureWatcher<int>::finished, this, &Sensor_TRVAXX::onStateRead);
}

Sensor_TRVAXX::~Sensor_TRVAXX() {
    // A state read in flight uses the CAN bus controller: it ends (bounded by the diagnostic
    // time-outs) before the members go, in reverse order of construction.
    stateRead.waitForFinished();
    closeConnection();
}

int Sensor_TRVAXX::connectToSensor() {
    const bool udp = address && address->hasUdpSettings();
    // 1. Ethernet first, so results stream while the CAN side is brought up. A loader that does
    // not start shows up as "no Ethernet data" below.
    if (udp) {
        ResultLoader_TRVAXX& loader = chain.loader();
        // A sensor on this machine (the virtual one) needs no broadcast to open a firewall.
        loader.setWakeUp(QHostAddress(address->getIpAddress()).isLoopback()
                             ? UdpSocket::WakeUp::LoopbackOnly
                             : UdpSocket::WakeUp::AllInterfaces);
        if (const int code = loader.start(quint16(address->getUdpPort()), address->getIpAddress()))
            CRITICAL(QStringLiteral("Failed to start TRV ResultLoader %1").arg(code));
    }

    // 4. The first Ethernet result, at most one second (not scaled: it follows the sensor's cycle).
    const QDeadlineTimer firstResult(FIRST_RESULT_WAIT_MS);
    while (!hasEthernetResult() && !firstResult.hasExpired())
        CommonUtilities::sleepQtFriendly(FIRST_RESULT_POLL_MS);

    // 5.
    if (udp && !hasEthernetResult()) {
        const bool conflict = chain.loader().hasIpAddressConflict();
        closeConnection();
        return conflict ? NOTI_ETHERNET_CONFLICT : NOTI_NO_ETHERNET_DATA;
    }

    // 6.
    ethernetWatchdog.setSingleShot(true);
    ethernetWatchdog.setInterval(CommonUtilities::scaledMs(WATCHDOG_MS));
    statusTimer.setSingleShot(true);
    statusTimer.setInterval(CommonUtilities::scaledMs(WATCHDOG_MS));
    connect(&chain.cache(), SIGNAL(receivedNewResultData()), this, SLOT(ethernetWatchdogReset()),
            Qt::UniqueConnection);
    connect(&ethernetWatchdog, SIGNAL(timeout()), this, SLOT(ethernetWatchdogTimeout()),
            Qt::UniqueConnection);

    // 7.
    if (!checkSameSensor()) {
        closeConnection();
        return NOTI_DIFFERENT_SENSORS;
    }

    // 8. Without CAN the variant comes from the Ethernet identification.
    if (!canConnected)
        checkDeviceVariant();
    if (variantCode == FirmwareClassification_TRVAXX::TOO_OLD ||
        variantCode == FirmwareClassification_TRVAXX::UNSUPPORTED) {
        closeConnection();
        return variantCode == FirmwareClassification_TRVAXX::TOO_OLD ? NOTI_FIRMWARE_TOO_OLD
                                                                     : NOTI_UNSUPPORTED_FIRMWARE;
    }

    // 11.
    connect(&statusTimer, SIGNAL(timeout()), this, SLOT(statusDataTimeout()), Qt::UniqueConnection);
    statusDataTimeout();
    return 0;
}

int Sensor_TRVAXX::closeConnection() {
    int result = 0;
    ethernetWatchdog.stop();
    statusTimer.stop();
    chain.loader().stop();
    if (canBusController && canConnected) {
        stateRead.waitForFinished();
        canBusController->disconnectDevice();
        canBusController.reset();
        canConnected = false;
    }
    return result;
}

int Sensor_TRVAXX::checkDeviceVariant() {
    // Firmware too old (9) is reached through classifyWithAge: a known variant (LG, OD, DI) whose
    // version none of the supported lists takes and that is below the oldest supported one (LG
    // 2.1.0, OD and DI 2.2.0) is too old; every other miss is unsupported (8). Ethernet and CAN
    // use the same rule, so a sensor gets the same code over either.
    if (canConnected) {
        const QStringList id = getCanDeviceIdentification();
        qCDebug(lcPlugin, "%s",
                qPrintable(QStringLiteral("Sensor_TRVAXX::checkDeviceVariant()(CAN): SoftwareVersion %1, "
                                          "Variant %2, ArticleNumber %3")
                               .arg(id.value(0), id.value(1), id.value(2))));
        variantCode = FirmwareClassification_TRVAXX::classifyWithAge(id.value(0), id.value(1), id.value(2));
    } else if (hasEthernetResult()) {
        variantCode = chain.processor().getFirmwareType();
        if (const ResultDataSP_TRVAXX latest = chain.cache().getResult())
            qCDebug(
                lcPlugin, "%s",
                qPrintable(QStringLiteral("Sensor_TRVAXX::checkDeviceVariant()(Ethernet): SoftwareVersion "
                                          "%1, Variant %2, ArticleNumber %3")
                               .arg(latest->softwareVersion, latest->cameraVariant, latest->partNumber)));
    } else {
        variantCode = FirmwareClassification_TRVAXX::UNSUPPORTED;
    }
    return variantCode;
}

bool Sensor_TRVAXX::checkSameSensor() {
    const ResultDataSP_TRVAXX latest =
        hasEthernetResult() ? chain.cache().getResult() : ResultDataSP_TRVAXX();
    const QString ethernet = latest ? latest->serialNumber : QString();
    const QString can = canConnected ? getCanDeviceIdentification().value(3) : QString();
    if (latest && canConnected) {
        serialNumber = ethernet;
        return ethernet.trimmed() == can.trimmed();
    }
    serialNumber = canConnected ? can : ethernet;
    return true;
}

QStringList Sensor_TRVAXX::getCanDeviceIdentification() const {
    if (!canBusController)
        return {QString(), QString(), QString(), QString()};
    const SensorIdentity& id = canBusController->identity();
    return {id.globalSoftwareVersion, id.variant, id.articleNumber, id.serialNumber};
}

void Sensor_TRVAXX::suspendWatchdogs() {
    suspended = true;
    resumePending = false;
    ethernetWatchdog.stop();
    statusTimer.stop();
    // A state read in flight would share the bus with the write that follows.
    stateRead.waitForFinished();
}

void Sensor_TRVAXX::resumeWatchdogs() {
    CommonUtilities::sleepQtFriendly(1000);
    resumePending = true;
    // Without an Ethernet stream no result will come to finish the resume: do it now.
    if (!hasEthernetResult())
        ethernetWatchdogReset();
}

void Sensor_TRVAXX::ethernetWatchdogReset() {
    if (hasEthernetResult() && !suspended) {
        ethernetWatchdog.start();
    } else if (resumePending) {
        suspended = false;
        resumePending = false;
        if (hasEthernetResult())
            ethernetWatchdog.start();
        restartStatusTimer();
    }
}

void Sensor_TRVAXX::ethernetWatchdogTimeout() {
    if (!suspended)
        abort(NOTI_ABORTED_CONNECTION);
}

void Sensor_TRVAXX::statusDataTimeout() {
    if (suspended)
        return;
    // With CAN the state is read off the GUI thread (a vanished sensor costs diagnostic
    // time-outs); the answer decides in onStateRead() whether the sensor is still there.
    if (canConnected && canBusController) {
        if (stateRead.isRunning())
            return;
        CanBusController* can = canBusController.get();
        stateRead.setFuture(QtConcurrent::run([can] { return can->readStateData(); }));
        return;
    }
    restartStatusTimer();
}

void Sensor_TRVAXX::onStateRead() {
    if (!canConnected || suspended)
        return;
    const int result = stateRead.result();
    if (result != 0) {
        ++failedStateReads;
        qCWarning(lcPlugin) << "state read over CAN failed" << result << "(" << failedStateReads
                            << "in a row)";
        // With Ethernet the watchdog judges the sensor; with CAN only, three misses in a row do.
        if (!address->hasUdpSettings() && failedStateReads >= MAX_FAILED_STATE_READS) {
            abort(NOTI_ABORTED_CONNECTION);
            return;
        }
    } else {
        failedStateReads = 0;
    }
    restartStatusTimer();
}

void Sensor_TRVAXX::restartStatusTimer() {
    statusTimer.start();
}

void Sensor_TRVAXX::abort(ErrorCode error) {
    closeConnection();
    emit connectionWasAborted(error);
}

void Sensor_TRVAXX::checkRunningMode() {
    const QVariant mode = pcDevice->getParameter(PARAM_OP_MODE);
    if (mode.toInt() != RUNNING_MODE)
        showNotification(tr("Not in Running Mode"), tr("Sensor is not in Running Mode."),
                         NOTIFICATION_WARNING);
}

void Sensor_TRVAXX::checkDebugData() {
    if (!hasEthernetResult() || !pcDevice->getParameter(PARAM_ETHERNET_OUTPUT_CONFIGURATION).toBool())
        return;
    if (!canConnected) {
        showNotification(tr("Debug Data On"), tr("Debug Data is activated."), NOTIFICATION_INFO);
        return;
    }
    const QString title = tr("Debug Data On");
    const QString text = tr("Debug Data is activated. Debug Data will be shutt Off now.");
    if (!questionHandler) {
        qCWarning(lcPlugin, "%s: %s (nobody to ask, left on)", qPrintable(title), qPrintable(text));
        return;
    }
    QPointer<Sensor_TRVAXX> self(this);
    questionHandler(title, text, [self] {
        if (self)
            QMetaObject::invokeMethod(self, "shutOffDebugData", Qt::QueuedConnection);
    });
}

void Sensor_TRVAXX::checkAutoCalibration() {
    if (!hasEthernetResult() || !pcDevice->hasParameter(PARAM_AUTO_CALIBRATION) ||
        pcDevice->getParameter(PARAM_AUTO_CALIBRATION).toInt() <= 0)
        return;
    if (!canConnected) {
        showNotification(tr("AutoCalibration On"), tr("AutoCalibration is activated."), NOTIFICATION_INFO);
        return;
    }
    showNotification(tr("AutoCalibration On"),
                     tr("AutoCalibration is activated. AutoCalibration will be shutt Off now"),
                     NOTIFICATION_EVENT, QStringLiteral("iconNotifiInfo"));
    QTimer::singleShot(AUTO_CALIBRATION_SHUT_OFF_MS, this, SLOT(shutOffAutoCalibration()));
}

void Sensor_TRVAXX::shutOffDebugData() {
    shutOff(PARAM_ETHERNET_OUTPUT_CONFIGURATION, NOTI_UNKNOWN_CAN_ERROR);
}

void Sensor_TRVAXX::shutOffAutoCalibration() {
    shutOff(PARAM_AUTO_CALIBRATION, 0);
}

void Sensor_TRVAXX::shutOff(int parameterId, int failureCode) {
    pcDevice->setParameter(parameterId, 0, nullptr);
    suspendWatchdogs();
    const int result = writeParameters();
    if (result == 0) {
        resumeWatchdogs();
        return;
    }
    abort(failureCode != 0 ? failureCode : result);
}

int Sensor_TRVAXX::writeParameters() {
    // NOT YET BUILT: writing goes through the parameter device's syncer, which joins this
    // connection with the parameter model; until then nothing can be written.
    return NOTI_NOT_CONNECTED_VIA_CAN;
}
