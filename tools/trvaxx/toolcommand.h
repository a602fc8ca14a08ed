#pragma once

#include "tools/trvaxx/outputsink.h"
#include "tools/trvaxx/tooloptions.h"

#include <QEventLoop>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class CanBusController;
#include <vector>

// What a running command gets from main(): the output and the hook that Ctrl-C and SIGTERM call.
struct ToolEnvironment {
    OutputSink& output;
    std::function<void()> onInterrupt;
};

// One trvaxx command. A new command lives in its own source file, defines a function returning
// its ToolCommand, and is registered with one line in toolCommands() (toolcommand.cpp).
struct ToolCommand {
    QString name;
    QStringList arguments; // positional arguments, e.g. {"FILE"}
    QString summary;       // one line for the overview
    QString description;   // paragraph(s) for "trvaxx NAME --help", including the exit statuses
    std::vector<const OptionGroup*> groups; // ToolOptionGroups::common() is always added
    // Checks between options after parsing (optional); false with a message: wrong command line.
    std::function<bool(const ToolOptions&, QString& error)> check;
    // Runs the command; returns the exit status (0 success, 1 failed, 3 damaged input).
    std::function<int(const ToolOptions&, ToolEnvironment&)> run;
};

const std::vector<ToolCommand>& toolCommands();
const ToolCommand* findToolCommand(const QString& name);

// Parses the arguments after the program name. Returns false with a message naming the fault.
bool parseToolOptions(const QStringList& arguments, ToolOptions& options, QString& error);
// Help text of one command, or the overview for an empty or unknown name.
QString toolUsage(const QString& command = QString());

// Runs a session object (start(), stop(), exitCode(), signal finished()) until it finishes.
template <class Session> int runSession(const ToolOptions& options, ToolEnvironment& env) {
    Session session(options, env.output);
    if (!session.start())
        return session.exitCode();
    QEventLoop loop;
    QObject::connect(&session, &Session::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    env.onInterrupt = [&session] { session.stop(); };
    loop.exec();
    env.onInterrupt = nullptr;
    return session.exitCode();
}

// Opens the CAN side of a CAN command (interface, trace, node, bit rate) with the verification
// read. 0, or the exit status 1 after the "error CODE TEXT" line.
int connectCan(CanBusController& controller, const ToolOptions& options, const QString& name,
               OutputSink& out);

// The commands of this tool (each defined beside its session).
ToolCommand monitorCommand();
ToolCommand recordCommand();
ToolCommand replayCommand();
ToolCommand canInfoCommand();
ToolCommand connectCommand();
ToolCommand paramsCommand();
ToolCommand canResultsCommand();
ToolCommand discoverCommand();
ToolCommand flashCommand();
ToolCommand fcrCommand();
