#include "common/commonutilities.h"

#include "common/hostsettings.h"
#include "common/logentry.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <cmath>
#include <cstdlib>

double CommonUtilities::timeScale() {
    // Read once: the factor must not change while waits are running.
    static const double scale = [] {
        const QByteArray text = qgetenv("TRVAXX_TIME_SCALE");
        if (text.isEmpty())
            return 1.0;
        bool ok = false;
        const double value = text.trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(value) || value < 0.0) {
            LogEntry(LOG_WARNING,
                     QStringLiteral("TRVAXX_TIME_SCALE=\"%1\" is not a non-negative number; using 1")
                         .arg(QString::fromLocal8Bit(text)));
            return 1.0;
        }
        return value;
    }();
    return scale;
}

int CommonUtilities::scaledMs(int ms) {
    if (ms <= 0)
        return 0;
    const double scaled = std::round(ms * timeScale());
    return scaled >= 2147483647.0 ? 2147483647 : static_cast<int>(scaled);
}

void CommonUtilities::sleepQtFriendly(int ms) {
    const int wait = scaledMs(ms);
    if (!QCoreApplication::instance()) {
        QThread::msleep(static_cast<unsigned long>(wait));
        return;
    }
    // A local event loop serves the GUI (paint, timers, queued signals) until the timer ends it.
    QEventLoop loop;
    QTimer::singleShot(wait, &loop, &QEventLoop::quit);
    loop.exec();
}

void CommonUtilities::processGUIEvents() {
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

QString CommonUtilities::getOrlanGUIAppDataDir() {
    const QByteArray overrideDir = qgetenv("ORLANGUI_DATA_DIR");
    if (!overrideDir.isEmpty())
        return QString::fromLocal8Bit(overrideDir);
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/OrlanGUI");
}

QDir CommonUtilities::makeOrlanGUIAppDataSubDir(const QString& subDir) {
    return makeSubDir(QDir(getOrlanGUIAppDataDir()), subDir);
}

QDir CommonUtilities::makeSubDir(const QDir& parent, const QString& subDir) {
    QDir dir(parent.filePath(subDir));
    if (!dir.exists() && !QDir().mkpath(dir.absolutePath()))
        LogEntry(LOG_ERROR, QStringLiteral("Cannot create the folder %1").arg(dir.absolutePath()));
    return dir;
}

QString CommonUtilities::getDefaultCaptureDir() {
    return makeOrlanGUIAppDataSubDir(QStringLiteral("Captures")).absolutePath();
}

QString CommonUtilities::getDefaultExportDir() {
    return makeOrlanGUIAppDataSubDir(QStringLiteral("Exports")).absolutePath();
}

QString CommonUtilities::getDefaultFWDir() {
    return makeOrlanGUIAppDataSubDir(QStringLiteral("Firmware")).absolutePath();
}

QSettings& CommonUtilities::gocSettings() {
    return HostSettings::settings();
}

bool CommonUtilities::isDevMode() {
    return HostSettings::isDevMode();
}

QStringList CommonUtilities::pluginSearchFolders() {
    QStringList folders;
    if (QCoreApplication::instance())
        folders << QCoreApplication::applicationDirPath() + QStringLiteral("/plugins");
    folders << QDir::currentPath();
    folders << qEnvironmentVariable("TRVAXX_PLUGIN_PATH").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    return folders;
}
