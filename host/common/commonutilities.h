#pragma once

#include <QDir>
#include <QString>
#include <QStringList>

class QSettings;

// Static helpers of the host that plug-ins call.
class CommonUtilities {
public:
    // Waits `ms` milliseconds while the calling thread's events keep being served, so the GUI
    // stays live during long device operations. The wait is scaled by timeScale(). Without a
    // QCoreApplication it simply sleeps.
    static void sleepQtFriendly(int ms);
    // Serves pending events of the calling thread once.
    static void processGUIEvents();

    // Process-wide factor for all long waits, read once from the environment variable
    // TRVAXX_TIME_SCALE (a float; default 1; values that do not parse or are negative give 1).
    static double timeScale();
    // `ms` scaled by timeScale(), rounded, never negative.
    static int scaledMs(int ms);

    // Default folders under the user's data folder ("<data>/OrlanGUI/..."), created on demand.
    static QString getDefaultCaptureDir();
    static QString getDefaultExportDir();
    static QString getDefaultFWDir();
    // The application's data folder ("<user data>/OrlanGUI"); the environment variable
    // ORLANGUI_DATA_DIR replaces it (tests, portable installations).
    static QString getOrlanGUIAppDataDir();
    // Creates (when missing) and returns a sub folder of the application's data folder.
    static QDir makeOrlanGUIAppDataSubDir(const QString& subDir);
    // Creates (when missing) and returns `parent`/`subDir`.
    static QDir makeSubDir(const QDir& parent, const QString& subDir);

    // The host's shared settings and developer mode, as plug-ins call them (HostSettings holds
    // them, so the log can read developer mode without these utilities).
    static QSettings& gocSettings();
    static bool isDevMode();
    // Where plug-ins (device plug-ins, CAN interfaces, image grabbers) are looked for, in order:
    // the application's plug-in folder, the current directory, then every folder of
    // TRVAXX_PLUGIN_PATH (separated by ':').
    static QStringList pluginSearchFolders();
};
