// OrlanGUI: the host application that loads the device plug-ins.
//   orlangui                     the main window
//   orlangui --list-plugins      prints the loaded plug-ins, their sensor types and the system
//                                information, then exits (needs no display)
//   orlangui --screenshot FILE   starts the window, saves a picture of it to FILE and exits
//   orlangui --replay FILE [--page 2d|joint|3d]
//                                opens a recording in a replay window (with --screenshot: the
//                                picture is of the replay window)
#include "app/apptheme.h"
#include "app/listplugins.h"
#include "app/mainwindow.h"
#include "app/pluginmanager.h"
#include "app/replaywindow.h"
#include "common/commonsysteminfo.h"
#include "common/commonutilities.h"
#include "common/logentry.h"
#include "common/styleproxy.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QPixmap>
#include <QSettings>
#include <QTimer>
#include <cstring>
#include <memory>

namespace {
constexpr const char* VERSION = "1.0.0";

void describeApplication() {
    QCoreApplication::setOrganizationName(QStringLiteral("Vexa"));
    QCoreApplication::setApplicationName(QStringLiteral("OrlanGUI"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(VERSION));
    CommonSystemInfo::instance().setInfo(QStringLiteral("OrlanGUI"), QString::fromLatin1(VERSION));
    CommonSystemInfo::instance().setInfo(QStringLiteral("Qt"), QString::fromLatin1(qVersion()));
}

bool wantsPluginList(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--list-plugins") == 0)
            return true;
    return false;
}

int listPlugins(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    describeApplication();
    PluginManager plugins;
    plugins.loadPlugins();
    QTextStream out(stdout);
    writePluginList(plugins, out);
    return 0;
}
} // namespace

int main(int argc, char** argv) {
    // The list needs no display: decide before a GUI application exists.
    if (wantsPluginList(argc, argv))
        return listPlugins(argc, argv);

    QApplication app(argc, argv);
    describeApplication();
    LogBook::installQtMessageHandler();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Configuration and monitoring of mobile sensors."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(
        {QStringLiteral("list-plugins"),
         QStringLiteral("Print the loaded plug-ins, their sensor types and the system information, "
                        "then exit.")});
    parser.addOption({QStringLiteral("screenshot"),
                      QStringLiteral("Save a picture of the window to <file> and exit."),
                      QStringLiteral("file")});
    parser.addOption({QStringLiteral("replay"),
                      QStringLiteral("Open the recording <file> in a replay window."),
                      QStringLiteral("file")});
    parser.addOption({QStringLiteral("page"),
                      QStringLiteral("With --replay: the page to show, 2d, joint or 3d."),
                      QStringLiteral("page")});
    parser.process(app);

    const QString styleFile = CommonUtilities::gocSettings().value(QStringLiteral("styleFile")).toString();
    if (!styleFile.isEmpty())
        StyleProxy::loadStyleFile(styleFile);
    AppTheme::apply(app);

    PluginManager plugins;
    plugins.loadPlugins();
    int result;
    {
        MainWindow window(plugins);
        window.show();
        QWidget* shown = &window;
        if (parser.isSet(QStringLiteral("replay")))
            shown = window.openRecording(parser.value(QStringLiteral("replay")),
                                         parser.value(QStringLiteral("page")));
        if (parser.isSet(QStringLiteral("screenshot"))) {
            const QString file = parser.value(QStringLiteral("screenshot"));
            QTimer::singleShot(1500, shown, [shown, file] {
                if (!shown->grab().save(file))
                    LogEntry(LOG_ERROR, QStringLiteral("Cannot save the screenshot to %1").arg(file));
                QCoreApplication::exit(0);
            });
        }
        result = app.exec();
    }
    // The window (and every object of the plug-ins it holds) is gone before the plug-ins unload.
    plugins.unloadAll();
    return result;
}
