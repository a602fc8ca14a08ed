#include "can-communication/canbuscontroller.h"

#include "can-communication/Receiver_BF.h"
#include "can-communication/Receiver_LG.h"
#include "can-communication/Receiver_OD.h"
#include "can-communication/canbusdevice.h"
#include "can-communication/canbusdevicefactory.h"
#include "can-communication/candevicesession.h"
#include "can-communication/canlogging.h"
#include "can-communication/cantrace.h"
#include "can-communication/firmwareupdate.h"
#include "can-communication/multireceivecanproxy.h"
#include "can-communication/paramtable.h"
#include "can-communication/paramtransfer.h"
#include "common/commonutilities.h"
#include "common/logentry.h"
#include "common/notificationmanager.h"

#include <QStringList>

namespace {

constexpr uint8_t kHardReset = 1;
constexpr int kParameterRestartMs = 15000;
const char* const kParameterFlashDriver = ":/paramdescription/FlsDrvInt.bin";
constexpr uint32_t kBitRates[] = {125000, 250000, 500000, 800000, 1000000};
const char* const kInterfaceTestLines[3][2] = {{"Test for CANFox", "Canfox found"},
                                               {"Test for Vector CAN", "Vector CAN hardware found"},
                                               {"Test for PEAK CAN hardware", "PEAK CAN hardware found"}};

// Diagnostic description suffix per variant and "major.minor".
struct CddChoice {
    const char* variant;
    const char* version; // "1" matches every 1.x
    const char* suffix;
};
constexpr CddChoice kCddChoices[] = {
    {"DI", "1", "1_0_0.cdd"},   {"DI", "2.0", "2_0_0.cdd"}, {"DI", "2.1", "2_1_0.cdd"},
    {"DI", "2.2", "2_2_0.cdd"}, {"DI", "3.1", "3_1_1.cdd"}, {"DI", "3.2", "3_1_3.cdd"},
    {"DI", "3.3", "3_2_0.cdd"}, {"DI", "3.4", "3_2_2.cdd"}, {"OD", "1", "1_0_0.cdd"},
    {"OD", "2.0", "2_0_0.cdd"}, {"OD", "2.1", "2_1_0.cdd"}, {"OD", "2.2", "2_2_0.cdd"},
    {"OD", "3.0", "2_3_1.cdd"}, {"OD", "3.1", "3_1_1.cdd"}, {"OD", "3.2", "3_1_3.cdd"},
    {"OD", "3.3", "3_2_0.cdd"}, {"OD", "3.4", "3_2_2.cdd"}, {"LG", "2.0", "1_0_0.cdd"},
    {"LG", "3.0", "2_3_1.cdd"}, {"LG", "3.2", "3_1_3.cdd"}, {"LG", "3.3", "3_2_0.cdd"},
    {"LG", "3.4", "3_2_2.cdd"}, {"LG", "3.5", "3_2_2.cdd"},
};

QStringList versionParts(const QString& version) {
    return version.split(QLatin1Char('.'), Qt::SkipEmptyParts);
}

// A receiver whose results and global information leave through the controller's signals.
template <class Receiver, class... Forwards>
std::unique_ptr<Receiver> makeReceiver(CanBusController* controller, Forwards... forwards) {
    registerResultMetaTypes_TRVAXX();
    auto receiver = std::make_unique<Receiver>();
    (QObject::connect(receiver.get(), &Receiver::resultReady, controller, forwards), ...);
    QObject::connect(receiver.get(), &ResultReceiver::globalInformationMessageReady, controller,
                     &CanBusController::receivedGlobalInformationMessage);
    return receiver;
}

// Stops and deletes a running receiver, with its log line.
template <class Receiver> void restart(std::unique_ptr<Receiver>& receiver, const char* line) {
    if (!receiver)
        return;
    qCDebug(lcCan) << line;
    receiver.reset();
}

} // namespace

CanBusController::CanBusController(QObject* parent)
    : QObject(parent), params(std::make_unique<ParamTransfer>()) {
    ensureDiagDescriptions();
    CANBusDeviceFactory::acquire();
}

CanBusController::~CanBusController() {
    stopReceivers();
    dropDiagnosticStack();
    session.reset();
    CANBusDeviceFactory::release();
}

void CanBusController::stopReceivers() {
    stopReceivingBFData();
    stopReceivingObjectData();
    stopReceivingLGData();
}

bool CanBusController::canStartReceiver(const char* slot) const {
    if (address && session)
        return true;
    qCDebug(lcCan).noquote()
        << QStringLiteral("called %1, but SensorAddress not initialized").arg(QLatin1String(slot));
    return false;
}

void CanBusController::operate(ResultReceiver& receiver) const {
    emit receiver.operate(address->getCanProtocol(), receiverGeneration(), address->getCanDeviceId(),
                          session->proxy());
}

void CanBusController::startReceivingBFData() {
    if (!canStartReceiver("startReceivingBFData"))
        return;
    restart(receiverBF, "Restarting BF-Receiver");
    receiverBF = makeReceiver<ReceiverBF>(this, &CanBusController::receivedNewBFResultData);
    operate(*receiverBF);
}

void CanBusController::startReceivingLGData() {
    if (!canStartReceiver("startReceivingLGData"))
        return;
    restart(receiverLG, "Restarting LG-Receiver");
    receiverLG = makeReceiver<ReceiverLG>(this, &CanBusController::receivedNewLGResultData,
                                          &CanBusController::receivedNewLineResultData);
    operate(*receiverLG);
}

void CanBusController::startReceivingObjectData() {
    if (!canStartReceiver("startReceivingObjectData"))
        return;
    restart(receiverOD, "Restarting OD-Receiver");
    receiverOD = makeReceiver<ReceiverOD>(this, &CanBusController::receivedNewObjectResultData);
    operate(*receiverOD);
}

void CanBusController::stopReceivingObjectData() {
    receiverOD.reset();
}

void CanBusController::stopReceivingBFData() {
    receiverBF.reset();
}

void CanBusController::stopReceivingLGData() {
    receiverLG.reset();
}

QList<CanBusController::ResultFunction> CanBusController::runningReceivers() const {
    QList<ResultFunction> running;
    if (receiverOD)
        running << ResultFunction::OD;
    if (receiverBF)
        running << ResultFunction::BF;
    if (receiverLG)
        running << ResultFunction::LG;
    return running;
}

void CanBusController::startReceivers(const QList<ResultFunction>& functions) {
    for (ResultFunction function : functions) {
        switch (function) {
        case ResultFunction::OD:
            startReceivingObjectData();
            break;
        case ResultFunction::BF:
            startReceivingBFData();
            break;
        case ResultFunction::LG:
            startReceivingLGData();
            break;
        }
    }
}

void CanBusController::dropDiagnosticStack() {
    errorMemory.reset();
    dataReader.reset();
    diagPC.reset();
    port.reset();
}

int CanBusController::mapInitStatus(uint16_t status) const {
    switch (status) {
    case 0:
        return 0;
    case 2:
        return InterfaceUnreachable;
    case 209:
        return InterfaceBusy;
    default:
        return InitFailed;
    }
}

int CanBusController::testInterface(int type, const SensorAdrMobileCanSP_t& sensor) {
    CANBusDevice* device = CANBusDeviceFactory::device(type);
    if (!device)
        return NoInterface;
    const uint32_t bitRate = sensor ? static_cast<uint32_t>(std::max(0, sensor->getCanBaudRate())) : 0;
    if (std::find(std::begin(kBitRates), std::end(kBitRates), bitRate) == std::end(kBitRates))
        return UnsupportedBitRate;
    // A device open in a session is in use by a live connection: it is there, and it can serve
    // this sensor only at the bit rate and on the interface it was opened with.
    uint32_t openRate = 0;
    QByteArray openUrl;
    if (CanDeviceSession::isOpen(device, &openRate, &openUrl))
        return openRate == bitRate && openUrl == interfaceUrl ? 0 : InterfaceBusy;
    CanDeviceConfig config;
    config.bitRate = bitRate;
    device->CAN_SetInterface(interfaceUrl.constData());
    device->CAN_SetConfig(config);
    const uint16_t status = device->CAN_InitDriver();
    device->CAN_CloseDriver();
    return mapInitStatus(status);
}

int CanBusController::connectDevice(const SensorAdrMobileCanSP_t& sensor, bool verify) {
    disconnectDevice();
    int found = 0;
    // When an interface exists but does not open, its reason says more than "no hardware".
    int failure = NoInterface;
    for (int i = 0; i < 3 && found == 0; ++i) {
        qCDebug(lcCan) << kInterfaceTestLines[i][0];
        const int code = testInterface(kInterfaceTypes[i], sensor);
        if (code == 0) {
            qCDebug(lcCan) << kInterfaceTestLines[i][1];
            found = kInterfaceTypes[i];
        } else if (code != NoInterface) {
            failure = code;
        }
    }
    if (found == 0) {
        qCDebug(lcCan) << "No CAN hardware found";
        return failure;
    }

    CanDeviceConfig config;
    config.bitRate = static_cast<uint32_t>(sensor->getCanBaudRate());
    const QString trace = tracePath.isEmpty() ? CanTrace::configuredPath() : tracePath;
    if (const uint16_t status = CanDeviceSession::open(CANBusDeviceFactory::device(found), config,
                                                       interfaceUrl, trace, session)) {
        qCCritical(lcCan).noquote() << QStringLiteral("CAN_InitDriver failed with %1").arg(status) + LOG_LOC;
        return mapInitStatus(status);
    }
    port = std::make_unique<ProxyPort>(session->proxy());
    diagPC = std::make_unique<DiagPC>(port.get(), static_cast<uint8_t>(sensor->getCanDeviceId()));
    dataReader = std::make_unique<ReadDataWithDiagnosis>(diagPC.get());
    errorMemory = std::make_unique<ErrorMemoryReader>(diagPC.get());

    if (verify) {
        QString articleNumber;
        if (dataReader->readArticleNumber(articleNumber) != 0) {
            disconnectDevice();
            return VerificationFailed;
        }
    }
    address = sensor;
    return 0;
}

void CanBusController::disconnectDevice() {
    stopReceivers();
    dropDiagnosticStack();
    session.reset();
    address.clear();
}

QString CanBusController::readSerialNumber() {
    if (!dataReader)
        return QString();
    QString serial;
    if (dataReader->readSerialNumber(serial) != 0) {
        qCDebug(lcCan) << "Failed to read SerialNumber via CAN";
        return QString();
    }
    return serial;
}

int CanBusController::readIdentity() {
    if (!dataReader)
        return 1;
    sensorIdentity = SensorIdentity();
    const int result = dataReader->readIdentity(sensorIdentity);
    if (!sensorIdentity.globalSoftwareVersion.isEmpty())
        cameraVersionText = sensorIdentity.globalSoftwareVersion;
    if (!sensorIdentity.variant.isEmpty())
        variantText = sensorIdentity.variant;
    return result;
}

int CanBusController::readStateData() {
    qCDebug(lcCan) << "###### CanBusController::readStateData() #####";
    const int result = dataReader ? dataReader->readState(state) : 1;
    qCDebug(lcCan) << "CanBusController::readStateData() finished" << result;
    return result;
}

int CanBusController::readErrorMemory(QList<DtcEntry>& entries) {
    entries.clear();
    if (!errorMemory)
        return DIAG_TRANSMIT_ERROR;
    return errorMemory->read(getCDDFilename(), entries);
}

int CanBusController::clearErrorMemory() {
    if (!errorMemory)
        return DIAG_TRANSMIT_ERROR;
    return errorMemory->clear();
}

int CanBusController::rebootSensor() {
    if (!diagPC)
        return DIAG_TRANSMIT_ERROR;
    diagPC->configure();
    return diagPC->ecuReset(kHardReset);
}

bool CanBusController::ReadAllParameters() {
    return params->readAll(diagPC.get(), cameraVersionText, getDspKvdFilename(), getKpKvdFilename());
}

QVariant CanBusController::readData(int valueId) {
    if (ParamTable::isDiagnosisId(valueId))
        return ParamTable::diagnosisValue(valueId, sensorIdentity, state);
    return params->readData(valueId, variantText);
}

bool CanBusController::writeData(int valueId, const QVariant& value) {
    return params->writeData(valueId, value, variantText);
}

bool CanBusController::writeAllParameters() {
    if (!params->imagesReady())
        return false;
    auto* note = new LoaderNotification(tr("Writing Parameters"), tr("Please wait ~15 sec."));
    NotificationManager::instance().displayNotification(note);
    const QList<ResultFunction> running = runningReceivers();
    stopReceivers();
    const QDir dir = CommonUtilities::makeOrlanGUIAppDataSubDir(QStringLiteral("can-parameters"));
    QString dspFile, kpFile;
    const QString driver = QLatin1String(kParameterFlashDriver);
    // No reset afterwards: the sensor restarts by itself once it has a new KP block.
    const bool ok = params->writeBlockFiles(dir, dspFile, kpFile) &&
                    parameterDownload(QStringLiteral("DSP_CPAR"), dspFile, driver) == 0 &&
                    parameterDownload(QStringLiteral("KP_CPAR"), kpFile, driver) == 0;
    if (ok)
        CommonUtilities::sleepQtFriendly(kParameterRestartMs);
    startReceivers(running);
    note->onNotificationFinished();
    if (ok)
        NotificationManager::instance().displayNotification(new GenericNotification(
            tr("Successfully Written"), tr("Writting parameters to the device was successful."),
            NOTIFICATION_EVENT));
    return ok;
}

int CanBusController::firmwareupdate(const QString& path, bool checkHeader) {
    if (!diagPC) {
        qCDebug(lcCan) << "Called CanBusController::firmwareupdate but m_CanBusDevice not initialized!";
        return FLASH_NO_DEVICE;
    }
    if (checkHeader && sensorIdentity.articleNumber.isEmpty())
        readIdentity(); // the header is checked against the sensor's article and hardware
    FirmwareUpdate::Hooks hooks;
    hooks.progress = [this](int total, int written) { emit sigBytesWritten(total, written); };
    FirmwareUpdate update(*diagPC, hooks);
    return update.firmwareupdate(path, checkHeader, sensorIdentity);
}

int CanBusController::parameterDownload(const QString& blockName, const QString& applFile,
                                        const QString& driverFile) {
    if (!diagPC)
        return FLASH_NO_DEVICE;
    FirmwareUpdate update(*diagPC, {});
    return update.parameterDownload(blockName, applFile, driverFile);
}

QString CanBusController::cddFilename(const QString& variant, const QString& cameraVersion) {
    QString name = QStringLiteral(":/paramdescription/DiagMobCa_");
    const QStringList parts = versionParts(cameraVersion);
    const QString trimmed = variant.trimmed();
    if (parts.isEmpty())
        return name;
    const QString majorMinor = parts.size() > 1 ? parts[0] + QLatin1Char('.') + parts[1] : parts[0];
    for (const CddChoice& choice : kCddChoices) {
        if (trimmed != QLatin1String(choice.variant))
            continue;
        const QLatin1String version(choice.version);
        if (version == majorMinor || (version.size() == 1 && version == parts[0]))
            return name + QLatin1String(choice.suffix);
    }
    return name;
}

QString CanBusController::kvdFilename(const char* block, const QString& variant,
                                      const QString& cameraVersion) {
    const QStringList parts = versionParts(cameraVersion);
    return QStringLiteral(":/paramdescription/%1_%2_%3_%4.kvd")
        .arg(QLatin1String(block), variant.trimmed(), parts.value(0), parts.value(1));
}

QString CanBusController::getCDDFilename() const {
    const QString name = cddFilename(variantText, cameraVersionText);
    qCDebug(lcCan).noquote() << "getCDDFilename: " << name;
    return name;
}

QString CanBusController::getDspKvdFilename() const {
    const QString name = kvdFilename("DSP_CPAR", variantText, cameraVersionText);
    qCDebug(lcCan).noquote() << "Camera version:" << cameraVersionText << "getDspKvdFilename: " << name;
    return name;
}

QString CanBusController::getKpKvdFilename() const {
    const QString name = kvdFilename("KP_CPAR", variantText, cameraVersionText);
    qCDebug(lcCan).noquote() << "getKpKvdFilename: " << name;
    return name;
}

float CanBusController::versionNumber(const QString& version) {
    float value = 0.0f;
    float factor = 1.0f;
    for (const QString& part : versionParts(version)) {
        value += part.toInt() * factor;
        factor *= 0.01f;
    }
    return value;
}

float CanBusController::cameraVersionNumber() const {
    return versionNumber(cameraVersionText);
}

int CanBusController::generationOf(float number) {
    // The half-step margin keeps float rounding of "3.2" (3.02) on the right side of 3.02.
    constexpr float margin = 0.00005f;
    if (number < 3.02f - margin)
        return 1;
    if (number < 3.04f - margin)
        return 2;
    return 3;
}

int CanBusController::receiverGeneration() const {
    if (generationOverride > 0)
        return generationOverride;
    return generationOf(cameraVersionNumber());
}

bool CanBusController::parseIpv4(const QString& text, uint8_t (&bytes)[4]) {
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    uint8_t parsed[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        const int value = parts[i].toInt(&ok, 10);
        if (!ok || value < 0 || value > 255)
            return false;
        parsed[i] = static_cast<uint8_t>(value);
    }
    std::copy(std::begin(parsed), std::end(parsed), std::begin(bytes));
    return true;
}

QString CanBusController::resultText(int code) {
    switch (code) {
    case 0:
        return QStringLiteral("success");
    case NoInterface:
        return QStringLiteral("no CAN hardware found");
    case InterfaceUnreachable:
        return QStringLiteral("CAN interface does not exist or cannot be reached");
    case VerificationFailed:
        return QStringLiteral("sensor did not answer the verification read over CAN");
    case InitFailed:
        return QStringLiteral("CAN interface could not be opened");
    case UnsupportedBitRate:
        return QStringLiteral("unsupported CAN bit rate");
    case InterfaceBusy:
        return QStringLiteral("CAN interface is held by another program");
    case FLASH_FILE_ERROR:
        return QStringLiteral("flash file cannot be opened or read");
    case FLASH_HARDWARE_UNSUPPORTED:
        return QStringLiteral("hardware version not supported by the flash container");
    case FLASH_ARTICLE_UNSUPPORTED:
        return QStringLiteral("article number not supported by the flash container");
    case FLASH_HEADER_INVALID:
        return QStringLiteral("flash container identification, version or header CRC wrong");
    default:
        return QString::fromLatin1(diagResultName(code));
    }
}
