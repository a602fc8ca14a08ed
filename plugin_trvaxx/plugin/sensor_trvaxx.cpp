#include "plugin/sensor_trvaxx.h"

#include "plugin/pluginlog_trvaxx.h"

#include "can-communication/canbuscontroller.h"
#include "common/commonutilities.h"
#include "common/logentry.h"
#include "common/notification.h"
#include "common/notificationmanager.h"
#include "parammodel/paramsyncer.h"
#include "parammodel/pcdevice_trvaxx.h"
#include "parammodel/sensorstartup_trvaxx.h"
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
    : address(std::move(address)), pcDevice(std::make_unique<PCDevice_TRVAXX>()) {
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

    // 2. and 3. CAN: connect, identity, variant decision, all parameters, the writable flag.
    if (address && address->hasCanSettings()) {
        CommonUtilities::sleepQtFriendly(200);
        canBusController = std::make_unique<CanBusController>();
        canBusController->setInterfaceUrl(canInterfaceUrl);
        const int result = SensorStartup_TRVAXX::openCan(*canBusController, address, true, *pcDevice);
        canConnected = canBusController->isConnected();
        if (result != 0) {
            closeConnection();
            return result;
        }
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

    // 8. and 9. The variant's syncer and its first fill. With CAN the start-up decided the variant
    // already; without it the Ethernet identification decides.
    if (!canConnected)
        checkDeviceVariant();
    if (const int result = SensorStartup_TRVAXX::installSyncer(*pcDevice, pcDevice->getVariantIndex(),
                                                               canBusController.get(), chain.cache())) {
        closeConnection();
        return result;
    }

    // 10.
    if (canConnected)
        startCanResults();

    // 11.
    // The first refresh runs here, on the sensor that just answered, so the start-up checks see
    // current status values; later ones check over CAN first that the sensor is still there.
    connect(&statusTimer, SIGNAL(timeout()), this, SLOT(statusDataTimeout()), Qt::UniqueConnection);
    refreshStatus();
    // Armed now, not only by the next result: a sensor that falls silent during the connect
    // would otherwise never be noticed.
    if (hasEthernetResult())
        ethernetWatchdog.start();
    return 0;
}

int Sensor_TRVAXX::closeConnection() {
    int result = 0;
    ethernetWatchdog.stop();
    statusTimer.stop();
    if (writing) {
        closeAfterWrite = true;
        return 0;
    }
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
        pcDevice->setVariantIndex(
            FirmwareClassification_TRVAXX::classifyWithAge(id.value(0), id.value(1), id.value(2)));
    } else if (hasEthernetResult()) {
        pcDevice->setVariantIndex(chain.processor().getFirmwareType());
        if (const ResultDataSP_TRVAXX latest = chain.cache().getResult())
            qCDebug(
                lcPlugin, "%s",
                qPrintable(QStringLiteral("Sensor_TRVAXX::checkDeviceVariant()(Ethernet): SoftwareVersion "
                                          "%1, Variant %2, ArticleNumber %3")
                               .arg(latest->softwareVersion, latest->cameraVariant, latest->partNumber)));
    } else {
        pcDevice->setVariantIndex(FirmwareClassification_TRVAXX::UNSUPPORTED);
    }
    return pcDevice->getVariantIndex();
}

int Sensor_TRVAXX::getVariantCode() const {
    return pcDevice->getVariantIndex();
}

void Sensor_TRVAXX::startCanResults() {
    CanBusController* can = canBusController.get();
    const QString variant = pcDevice->getParameter(PCDevice_TRVAXX::FIRMWARE_VARIANT).toString();
    ResultCache_TRVAXX* cache = &chain.cache();
    if (variant.startsWith(QLatin1String("DI"))) {
        connect(can, SIGNAL(receivedNewBFResultData(BasicFunctionsData_TRVAXX_t)), cache,
                SLOT(setCANBasicFunctionsData(BasicFunctionsData_TRVAXX_t)));
        can->startReceivingBFData();
    } else if (variant.startsWith(QLatin1String("OD"))) {
        connect(can, SIGNAL(receivedNewObjectResultData(DetectedObjectData_TRVAXX_t)), cache,
                SLOT(setCANDetectedObjectData(DetectedObjectData_TRVAXX_t)));
        can->startReceivingObjectData();
    } else if (variant.startsWith(QLatin1String("LG"))) {
        connect(can, SIGNAL(receivedNewLineResultData(DetectedLineData_TRVAXX_t)), cache,
                SLOT(setCANDetectedLineGuidanceData(DetectedLineData_TRVAXX_t)));
        can->startReceivingLGData();
    } else {
        qCWarning(lcPlugin) << "no CAN results for the variant" << variant;
    }
    connect(can, SIGNAL(receivedGlobalInformationMessage(unsigned char)), cache,
            SLOT(setGlobalInformationMessage(unsigned char)));
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
    refreshStatus();
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
        restartStatusTimer();
        return;
    }
    failedStateReads = 0;
    // The sensor answered just now, so the syncer's own reads are quick.
    refreshStatus();
}

void Sensor_TRVAXX::refreshStatus() {
    if (ParamSyncer* syncer = pcDevice->getSyncer())
        syncer->refreshStatus();
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
    const QVariant mode = pcDevice->getParameter(PCDevice_TRVAXX::RUN_MODE);
    if (mode.toInt() != RUNNING_MODE)
        showNotification(tr("Not in Running Mode"), tr("Sensor is not in Running Mode."),
                         NOTIFICATION_WARNING);
}

void Sensor_TRVAXX::checkDebugData() {
    if (!hasEthernetResult() || !pcDevice->getParameter(PCDevice_TRVAXX::DEBUG_ON_OFF).toBool())
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
    if (!hasEthernetResult() || !pcDevice->hasParameter(PCDevice_TRVAXX::AUTOCALIB_NUMBER_OF_PATTERNS) ||
        pcDevice->getParameter(PCDevice_TRVAXX::AUTOCALIB_NUMBER_OF_PATTERNS).toInt() <= 0)
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
    shutOff(PCDevice_TRVAXX::DEBUG_ON_OFF, NOTI_UNKNOWN_CAN_ERROR);
}

void Sensor_TRVAXX::shutOffAutoCalibration() {
    shutOff(PCDevice_TRVAXX::AUTOCALIB_NUMBER_OF_PATTERNS, 0);
}

void Sensor_TRVAXX::shutOff(int parameterId, int failureCode) {
    // The connection may have ended, or another write be running, since this was asked for.
    if (!canConnected || writing)
        return;
    pcDevice->setParameter(parameterId, 0, nullptr);
    suspendWatchdogs();
    writing = true;
    const int result = writeParameters();
    writing = false;
    if (closeAfterWrite) {
        closeAfterWrite = false;
        closeConnection();
        return;
    }
    if (result == 0) {
        resumeWatchdogs();
        return;
    }
    abort(failureCode != 0 ? failureCode : result);
}

int Sensor_TRVAXX::writeParameters() {
    return canConnected ? pcDevice->writeToDevice(true) : NOTI_NOT_CONNECTED_VIA_CAN;
}
