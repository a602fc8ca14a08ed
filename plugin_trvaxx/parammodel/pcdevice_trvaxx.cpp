#include "parammodel/pcdevice_trvaxx.h"

#include "can-communication/canbuscontroller.h"
#include "common/logentry.h"
#include "parammodel/paramfile_trvaxx.h"
#include "parammodel/parammodellog_trvaxx.h"
#include "parammodel/paramsyncer.h"

#include <QCoreApplication>
#include <QFile>
#include <QMetaEnum>
#include <QSaveFile>

Q_LOGGING_CATEGORY(lcParamModel, "trvaxx.parammodel")

namespace {

void hostLog(const QString& message) {
    LogEntry(LOG_INFO, message);
}

const QMetaEnum& deviceParamEnum() {
    static const QMetaEnum meta = QMetaEnum::fromType<PCDevice_TRVAXX::DeviceParam>();
    return meta;
}

} // namespace

PCDevice_TRVAXX::PCDevice_TRVAXX(QObject* parent) : QObject(parent) {}

PCDevice_TRVAXX::~PCDevice_TRVAXX() {
    setBasicSyncer(nullptr);
    delete syncer;
}

QString PCDevice_TRVAXX::getParameterName(int id) const {
    return QString::fromLatin1(deviceParamEnum().valueToKey(id));
}

int PCDevice_TRVAXX::getParameterId(const QString& name) const {
    bool ok = false;
    const int id = deviceParamEnum().keyToValue(name.toLatin1().constData(), &ok);
    // keyToValue also takes "A|B" combinations, which are no parameter names.
    return ok && getParameterName(id) == name ? id : -1;
}

bool PCDevice_TRVAXX::isReadOnly(int id) {
    return (id >= IS_DEVICE_WRITEABLE && id <= GIM_AVAILABLE && id != BEGIN_HEATING_TEMPERATURE &&
            id != END_HEATING_TEMPERATURE) ||
           id == DEBUG_ON_OFF || id == AUTOCALIB_MODE || (id >= CPLD_VERSION && id <= VOLTAGE_DK_KL15_2);
}

QString PCDevice_TRVAXX::runModeText() const {
    const QVariant mode = getParameter(RUN_MODE);
    return mode.isValid() ? runModeText(mode.toInt()) : QString();
}

QString PCDevice_TRVAXX::runModeText(int code) {
    static const struct {
        int code;
        const char* text;
    } states[] = {
        {16, QT_TR_NOOP("Super state INIT")},
        {17, QT_TR_NOOP("Initial state")},
        {18, QT_TR_NOOP("Driver initialization")},
        {19, QT_TR_NOOP("Start DSP booting")},
        {20, QT_TR_NOOP("Selftest phase")},
        {21, QT_TR_NOOP("Wait while DSP is booting")},
        {23, QT_TR_NOOP("Parameterizing of DSP via IPC")},
        {32, QT_TR_NOOP("Super state RUN")},
        {33, QT_TR_NOOP("Limited running mode")},
        {34, QT_TR_NOOP("Sensor running")},
        {48, QT_TR_NOOP("Super state FAULT")},
        {49, QT_TR_NOOP("System emergency")},
        {50, QT_TR_NOOP("State SAFELOCK")},
        {65, QT_TR_NOOP("System reset preparation")},
    };
    for (const auto& state : states)
        if (state.code == code)
            return tr(state.text);
    return QString();
}

void PCDevice_TRVAXX::setIdentification(const QString& article, const QString& version,
                                        const QString& variantText) {
    articleNumber = article;
    sensorVersion = version;
    sensorVariant = variantText;
}

void PCDevice_TRVAXX::setSyncer(ParamSyncer* newSyncer) {
    if (auto* old = dynamic_cast<QObject*>(syncer)) {
        disconnect(old, SIGNAL(sigBytesWritten(int, int)), this, SIGNAL(sigBytesWritten(int, int)));
        disconnect(old, SIGNAL(newStatusData()), this, SIGNAL(newStatusData()));
    }
    setBasicSyncer(newSyncer);
    if (syncer != newSyncer)
        delete syncer;
    syncer = newSyncer;
    if (auto* current = dynamic_cast<QObject*>(syncer)) {
        connect(current, SIGNAL(sigBytesWritten(int, int)), this, SIGNAL(sigBytesWritten(int, int)));
        connect(current, SIGNAL(newStatusData()), this, SIGNAL(newStatusData()));
    }
}

void PCDevice_TRVAXX::readFromDevice(bool flag) {
    if (syncer)
        syncer->readFromDevice(flag);
}

int PCDevice_TRVAXX::writeToDevice(bool flag) {
    return syncer ? syncer->writeToDevice(flag) : 0;
}

PCDevice_TRVAXX::StoreResult PCDevice_TRVAXX::storeText(int id, const QString& type, const QString& text) {
    if (id < 0 || getParameterName(id).isEmpty())
        return StoreResult::Unknown;
    if (isReadOnly(id))
        return StoreResult::ReadOnly;
    if (!hasParameter(id))
        return StoreResult::Unsupported;
    QVariant value = ParamFile_TRVAXX::convert(type, text, getParameter(id));
    uint8_t address[4];
    if (!value.isValid() || (id >= STATIC_IPV4_ADDRESS && id <= STATIC_IPV4_DESTINATION_ADDRESS &&
                             !CanBusController::parseIpv4(value.toString(), address)))
        return StoreResult::BadValue;
    if (syncer && !syncer->acceptValue(id, value))
        return StoreResult::Refused;
    setParameter(id, value, syncer);
    return StoreResult::Stored;
}

int PCDevice_TRVAXX::exportAll(const QString& fileName) {
    hostLog(QStringLiteral("TRVAXX::exportAll Start"));
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return EXPORT_OPEN_FAILED;
    QList<ParamFile_TRVAXX::Entry> entries;
    const QMap<int, QVariant> values = snapshot();
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const ParamFile_TRVAXX::Entry entry =
            ParamFile_TRVAXX::entryFor(getParameterName(it.key()), it.value());
        hostLog(QStringLiteral("TRVAXX::exportAll param: ") + entry.name + QStringLiteral(" type: ") +
                entry.type + QStringLiteral(" value: ") + entry.value);
        entries.append(entry);
    }
    ParamFile_TRVAXX::write(file, {articleNumber, sensorVersion, sensorVariant}, entries);
    if (!file.commit()) {
        qCWarning(lcParamModel) << "export to" << fileName << "failed:" << file.errorString();
        return EXPORT_OPEN_FAILED;
    }
    return 0;
}

int PCDevice_TRVAXX::importAll(const QString& fileName) {
    hostLog(QStringLiteral("TRVAXX::importAll Start"));
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return IMPORT_OPEN_FAILED;
    // One byte beyond the limit is enough to tell an oversized file.
    const QByteArray data = file.read(ParamFile_TRVAXX::MAX_FILE_SIZE + 1);
    file.close();
    return importData(data, fileName);
}

int PCDevice_TRVAXX::importData(const QByteArray& data, const QString& fileName) {
    ParamFile_TRVAXX::Content content;
    ParamFile_TRVAXX::ParseError error;
    if (!ParamFile_TRVAXX::read(data, content, error)) {
        hostLog(QStringLiteral("Parsing XML: %1 Line %2, column %3 File: %4")
                    .arg(error.text)
                    .arg(error.line)
                    .arg(error.column)
                    .arg(fileName));
        return IMPORT_MALFORMED;
    }
    hostLog(QStringLiteral("Version Info: ") + content.header.articleNumber + QStringLiteral(" ,") +
            content.header.sensorVersion + QStringLiteral(" ,") + content.header.sensorVariant);

    for (const ParamFile_TRVAXX::Entry& entry : std::as_const(content.params)) {
        const int id = getParameterId(entry.name);
        if (id < 0) {
            hostLog(QStringLiteral("Invalid parameter found: ") + entry.name);
            continue;
        }
        const QString nameAndValue = entry.name + QStringLiteral(" Value: ") + entry.value;
        hostLog(QStringLiteral("Parameter found: ") + nameAndValue);
        if (isReadOnly(id)) {
            hostLog(QStringLiteral("Skipping Readonly Parameter"));
            continue;
        }
        if (!hasParameter(id)) {
            hostLog(QStringLiteral("Parameter not suported : ") + nameAndValue);
            continue;
        }
        hostLog(QStringLiteral("Parameter suported set value parameter: ") + nameAndValue);
        switch (storeText(id, entry.type, entry.value)) {
        case StoreResult::BadValue:
            hostLog(QStringLiteral("Skipping parameter with a value of the wrong type or range: ") +
                    nameAndValue);
            break;
        case StoreResult::Refused:
            hostLog(QStringLiteral("Skipping parameter the sensor refused: ") + nameAndValue);
            break;
        default:
            break;
        }
    }

    hostLog(QStringLiteral("TRVAXX::importAll save"));
    const int result = writeToDevice(true);
    hostLog(QStringLiteral("TRVAXX::importAll End"));
    return result;
}
