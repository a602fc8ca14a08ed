#include "can-communication/ReadData_with_diagnosis.h"

#include "can-communication/canlogging.h"

#include <QtEndian>

#include <cstring>

namespace {
constexpr uint8_t kExtendedSession = 3;
constexpr int kVersionCount = 6;
const char* const kVersionLabels[kVersionCount] = {"CPLD_version: ", "DK_bootloader_version: ", "DK_version",
                                                   "DSP_version",    "KP_bootloader_version",   "KP_version"};

QString hexByte(int value, int digits) {
    return QString::asprintf(digits == 2 ? "0x%.2X" : "0x%.1X", value);
}
} // namespace

QList<QPair<QString, QString>> SensorIdentity::labelledValues() const {
    QList<QPair<QString, QString>> values;
    for (int i = 0; i < versions.size() && i < kVersionCount; ++i)
        values.append({QString::fromLatin1(kVersionLabels[i]), versions.at(i)});
    values.append({QStringLiteral("GlobalSoftwareVersion: "), globalSoftwareVersion});
    values.append({QStringLiteral("Variant: "), variant});
    values.append({QStringLiteral("ArticleNumber: "), articleNumber});
    values.append({QStringLiteral("SerialNumber: "), serialNumber});
    values.append({QStringLiteral("CameraHardwareMainboardVersion"), mainboardVersion});
    values.append({QStringLiteral("CameraHardwareFrontendVersion"), frontendVersion});
    values.append({QStringLiteral("IlluArticleNumber"), illuArticleNumber});
    values.append({QStringLiteral("IlluHardwareVersion"), illuHardwareVersion});
    values.append({QStringLiteral("IlluSerialNumber"), illuSerialNumber});
    return values;
}

ReadDataWithDiagnosis::ReadDataWithDiagnosis(DiagPC* diag) : diag(diag) {}

QString ReadDataWithDiagnosis::textOf(const QByteArray& data) {
    const qsizetype end = data.indexOf('\0');
    return QString::fromLatin1(end < 0 ? data : data.left(end)).trimmed();
}

QString ReadDataWithDiagnosis::versionOf(const QByteArray& data) {
    if (data.size() < 3)
        return QString();
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.constData());
    return QString::asprintf("%d.%d.%d", bytes[0], bytes[1], bytes[2]);
}

QStringList ReadDataWithDiagnosis::versionsOf(const QByteArray& data) {
    QStringList versions;
    for (int i = 0; i < kVersionCount && (i + 1) * 3 <= data.size(); ++i)
        versions.append(versionOf(data.mid(i * 3, 3)));
    return versions;
}

float ReadDataWithDiagnosis::floatAt(const QByteArray& data, int offset) {
    if (offset < 0 || data.size() < offset + 4)
        return 0.0f;
    const uint32_t bits = qFromBigEndian<uint32_t>(data.constData() + offset);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

bool ReadDataWithDiagnosis::openSession() {
    diag->configure();
    if (diag->diagnosticSessionControl(kExtendedSession) != DIAG_OK) {
        qCDebug(lcCan) << "DiagDiagnosticSession failed";
        return false;
    }
    diag->timeBase().sleepMs(DiagnosticTimeouts::connectionChangeToRead);
    return true;
}

int ReadDataWithDiagnosis::readText(uint16_t identifier, QString& text) {
    QByteArray data;
    if (diag->readDataByIdentifier(identifier, data) != DIAG_OK) {
        qCDebug(lcCan) << "Service ReadMemoryByAddress() was not successfull!";
        return 1;
    }
    text = textOf(data);
    return 0;
}

bool ReadDataWithDiagnosis::readCounted(uint16_t identifier, QByteArray& data, int& failures) {
    if (diag->readDataByIdentifier(identifier, data) == DIAG_OK)
        return true;
    qCDebug(lcCan).noquote() << QString::asprintf("Reading identifier 0x%.4X failed", identifier);
    ++failures;
    data.clear();
    return false;
}

int ReadDataWithDiagnosis::readArticleNumber(QString& articleNumber) {
    if (!openSession())
        return 1;
    return readText(kArticleNumber, articleNumber);
}

int ReadDataWithDiagnosis::readSerialNumber(QString& serialNumber) {
    if (!openSession())
        return 1;
    return readText(kSerialNumber, serialNumber);
}

int ReadDataWithDiagnosis::readIdentity(SensorIdentity& identity) {
    if (!openSession())
        return 1;
    int failures = 0;
    QByteArray data;
    auto read = [&](uint16_t identifier) { return readCounted(identifier, data, failures); };
    if (read(kVersions)) {
        if (data.size() != kVersionCount * 3)
            qCDebug(lcCan) << "received length does not fit to expected length" << data.size();
        identity.versions = versionsOf(data);
    }
    if (read(kGlobalSoftwareVersion))
        identity.globalSoftwareVersion = versionOf(data);
    if (read(kVariant))
        identity.variant = textOf(data.left(3));
    if (read(kArticleNumber))
        identity.articleNumber = textOf(data);
    if (read(kSerialNumber))
        identity.serialNumber = textOf(data);
    if (read(kHardwareVersion) && data.size() >= 2) {
        identity.mainboardVersionNumber = static_cast<uint8_t>(data.at(0));
        identity.frontendVersionNumber = static_cast<uint8_t>(data.at(1));
        identity.mainboardVersion = hexByte(identity.mainboardVersionNumber, 2);
        identity.frontendVersion = hexByte(identity.frontendVersionNumber, 1);
    }
    if (read(kIlluArticleNumber))
        identity.illuArticleNumber = textOf(data);
    if (read(kIlluHardwareVersion) && data.size() >= 1) {
        identity.illuHardwareVersionNumber = static_cast<uint8_t>(data.at(0));
        identity.illuHardwareVersion = hexByte(identity.illuHardwareVersionNumber, 1);
    }
    if (read(kIlluSerialNumber))
        identity.illuSerialNumber = textOf(data);
    for (const auto& [label, value] : identity.labelledValues())
        qCDebug(lcCan).noquote() << (label.endsWith(QLatin1Char(' ')) ? label + value
                                                                      : label + QLatin1Char(' ') + value);
    return failures == 0 ? 0 : 1;
}

int ReadDataWithDiagnosis::readState(SensorStateData& state) {
    if (!openSession())
        return 1;
    int failures = 0;
    QByteArray data;
    auto read = [&](uint16_t identifier) { return readCounted(identifier, data, failures); };
    read(0x0701);
    state.first = floatAt(data, 0);
    if (read(0x0702)) {
        state.second = floatAt(data, 0);
        const bool longAnswer = data.size() > 8;
        state.third = longAnswer ? floatAt(data, 4) : 0.0f;
        state.fourth = floatAt(data, longAnswer ? 8 : 4);
    } else {
        state.second = state.third = state.fourth = 0.0f;
    }
    state.fifth = read(0x0703) && !data.isEmpty() ? static_cast<uint8_t>(data.at(0)) : 0;
    read(0x0701);
    state.last = floatAt(data, 0);
    return failures == 0 ? 0 : 1;
}
