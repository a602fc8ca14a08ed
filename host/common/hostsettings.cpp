#include "common/hostsettings.h"

#include <QSettings>

QSettings& HostSettings::settings() {
    static QSettings settings(QStringLiteral("Vexa"), QStringLiteral("OrlanGUI"));
    return settings;
}

bool HostSettings::isDevMode() {
    if (qEnvironmentVariableIntValue("ORLANGUI_DEV_MODE") == 1)
        return true;
    return settings().value(QStringLiteral("devMode"), false).toBool();
}
