#include "result/firmwareclassification_trvaxx.h"

#include <QStringList>

#include <initializer_list>

namespace FirmwareClassification_TRVAXX {

namespace {

bool versionIn(const QString& version, std::initializer_list<const char*> prefixes) {
    for (const char* prefix : prefixes) {
        if (version.startsWith(QLatin1String(prefix)))
            return true;
    }
    return false;
}

} // namespace

int classify(const QString& softwareVersion, const QString& variant, const QString& articleNumber) {
    if (variant.startsWith(QLatin1String("LG"))) {
        if (versionIn(softwareVersion, {"2.1", "3.0"}))
            return TRVAFN_LG_SOP2;
        if (versionIn(softwareVersion, {"3.2", "3.3", "3.4", "3.5"}))
            return TRVAFN_LG_3_2;
        return UNSUPPORTED;
    }
    if (variant.startsWith(QLatin1String("OD"))) {
        if (versionIn(softwareVersion, {"2.2", "3.0"}))
            return TRVAFN_OD_SOP2;
        if (versionIn(softwareVersion, {"3.2", "3.3", "3.4"}))
            return TRVAFN_OD_3_2;
        return UNSUPPORTED;
    }
    if (variant.startsWith(QLatin1String("DI"))) {
        const bool trvadn = articleNumber.startsWith(QLatin1String(MODEL_TRVADN));
        if (versionIn(softwareVersion, {"2.2", "3.1"}))
            return trvadn ? TRVADN_DI_SOP2 : TRVAFN_DI_SOP2;
        if (versionIn(softwareVersion, {"3.2", "3.3", "3.4"}))
            return trvadn ? TRVADN_DI_3_2 : TRVAFN_DI_3_2;
        return UNSUPPORTED;
    }
    return UNSUPPORTED;
}

bool isVersionAtLeast(const QString& version, int major, int minor, int patch) {
    const QStringList parts = version.trimmed().split(QLatin1Char('.'));
    if (parts.size() != 3)
        return false;
    const int minimum[3] = {major, minor, patch};
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        const int value = parts[i].toInt(&ok);
        if (!ok)
            return false;
        if (value != minimum[i])
            return value > minimum[i];
    }
    return true;
}

bool isTooOld(const QString& softwareVersion, const QString& variant) {
    // Only a version that parses can be judged; anything else is "unsupported", not "too old".
    if (softwareVersion.trimmed().split(QLatin1Char('.')).size() != 3 ||
        !isVersionAtLeast(softwareVersion, 0, 0, 0))
        return false;
    if (variant.startsWith(QLatin1String("LG")))
        return !isVersionAtLeast(softwareVersion, 2, 1, 0);
    if (variant.startsWith(QLatin1String("OD")) || variant.startsWith(QLatin1String("DI")))
        return !isVersionAtLeast(softwareVersion, 2, 2, 0);
    return false;
}

int classifyWithAge(const QString& softwareVersion, const QString& variant, const QString& articleNumber) {
    const int code = classify(softwareVersion, variant, articleNumber);
    if (code == UNSUPPORTED && isTooOld(softwareVersion, variant))
        return TOO_OLD;
    return code;
}

} // namespace FirmwareClassification_TRVAXX
