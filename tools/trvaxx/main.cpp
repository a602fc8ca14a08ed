// trvaxx: headless use of the plug-in's result stream (monitor, record, replay) and CAN (can-info).
#include "tools/trvaxx/caninfo.h"
#include "tools/trvaxx/livesession.h"
#include "tools/trvaxx/outputsink.h"
#include "tools/trvaxx/replaysession.h"
#include "tools/trvaxx/tooloptions.h"

#include "result/resultdata_trvaxx.h"

#include <QCoreApplication>
#include <QTextStream>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <functional>
#include <memory>

namespace {

std::atomic<bool> g_interrupted{false};

void onSignal(int) {
    g_interrupted = true;
}

// Diagnostics of the transport and the interpreter are Qt debug messages; a command-line user
// wants them only on request. Warnings and errors always reach standard error.
bool g_verbose = false;
void messageFilter(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtDebugMsg || type == QtInfoMsg) {
        if (!g_verbose)
            return;
    }
    QTextStream(stderr) << message << '\n';
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("trvaxx"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION_TEXT));

    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    if (!arguments.isEmpty() && arguments.first() == QLatin1String("can-info"))
        return runCanInfo(arguments.mid(1));
    ToolOptions options;
    QString error;
    if (!parseToolOptions(arguments, options, error)) {
        QTextStream(stderr) << "trvaxx: " << error << "\nRun \"trvaxx --help\" for usage.\n";
        return 2;
    }
    if (options.command == ToolOptions::Command::Help) {
        QTextStream(stdout) << toolUsage(options.helpTopic);
        return 0;
    }
    if (options.command == ToolOptions::Command::Version) {
        QTextStream(stdout) << "trvaxx " << PROJECT_VERSION_TEXT << '\n';
        return 0;
    }

    g_verbose = options.verbose;
    qInstallMessageHandler(messageFilter);
    registerResultMetaTypes_TRVAXX();
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    OutputSink output(options.json);
    int exitCode = 0;
    std::unique_ptr<LiveSession> live;
    std::unique_ptr<ReplaySession> replay;
    std::function<void()> stop;
    if (options.command == ToolOptions::Command::Replay) {
        replay = std::make_unique<ReplaySession>(options, output);
        QObject::connect(replay.get(), &ReplaySession::finished, &app, [&] {
            exitCode = replay->exitCode();
            app.quit();
        });
        if (!replay->start())
            return replay->exitCode();
        stop = [&] { replay->stop(); };
    } else {
        live = std::make_unique<LiveSession>(options, output);
        QObject::connect(live.get(), &LiveSession::finished, &app, [&] {
            exitCode = live->exitCode();
            app.quit();
        });
        if (!live->start())
            return live->exitCode();
        stop = [&] { live->finish(); };
    }

    // Ctrl-C and SIGTERM end the command cleanly (a recording is closed, the last line printed).
    QTimer interruptPoll;
    QObject::connect(&interruptPoll, &QTimer::timeout, &app, [&] {
        if (g_interrupted.exchange(false))
            stop();
    });
    interruptPoll.start(100);

    app.exec();
    return exitCode;
}
