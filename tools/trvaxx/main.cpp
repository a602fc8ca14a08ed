// trvaxx: headless use of the plug-in: one command per run, dispatched through toolCommands().
#include "tools/trvaxx/outputsink.h"
#include "tools/trvaxx/toolcommand.h"

#include "result/resultdata_trvaxx.h"

#include <QCoreApplication>
#include <QTextStream>
#include <QTimer>

#include <atomic>
#include <csignal>

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
    ToolOptions options;
    QString error;
    if (!parseToolOptions(arguments, options, error)) {
        OutputSink(arguments.contains(QStringLiteral("--json"))).error(2, error);
        QTextStream(stderr) << "Run \"trvaxx --help\" for usage.\n";
        return 2;
    }
    if (options.action == ToolOptions::Action::Help) {
        QTextStream(stdout) << toolUsage(options.helpTopic);
        return 0;
    }
    if (options.action == ToolOptions::Action::Version) {
        QTextStream(stdout) << "trvaxx " << PROJECT_VERSION_TEXT << '\n';
        return 0;
    }

    const ToolCommand* command = findToolCommand(options.command);
    g_verbose = options.verbose;
    qInstallMessageHandler(messageFilter);
    registerResultMetaTypes_TRVAXX();
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    OutputSink output(options.json);
    ToolEnvironment env{output, nullptr};
    // Ctrl-C and SIGTERM end the command cleanly (a recording is closed, the last line printed).
    QTimer interruptPoll;
    QObject::connect(&interruptPoll, &QTimer::timeout, &app, [&env] {
        if (g_interrupted.exchange(false) && env.onInterrupt)
            env.onInterrupt();
    });
    interruptPoll.start(100);
    return command->run(options, env);
}
