#include "tools/trvaxx/toolcommand.h"

#include "can-communication/canbuscontroller.h"

#include <algorithm>

const std::vector<ToolCommand>& toolCommands() {
    // One line per command.
    // clang-format off
    static const std::vector<ToolCommand> commands = {
        monitorCommand(), recordCommand(), replayCommand(), canInfoCommand(), canResultsCommand(), paramsCommand(),
        connectCommand(), discoverCommand(), flashCommand(), fcrCommand(),
    };
    // clang-format on
    return commands;
}

const ToolCommand* findToolCommand(const QString& name) {
    for (const ToolCommand& command : toolCommands())
        if (command.name == name)
            return &command;
    return nullptr;
}

namespace {

std::vector<const OptionGroup*> groupsOf(const ToolCommand& command) {
    std::vector<const OptionGroup*> groups = command.groups;
    groups.push_back(&ToolOptionGroups::common());
    return groups;
}

} // namespace

bool parseToolOptions(const QStringList& args, ToolOptions& o, QString& error) {
    o = ToolOptions();
    if (args.isEmpty()) {
        error = QStringLiteral("no command given");
        return false;
    }
    const QString name = args.first();
    if (name == QLatin1String("-h") || name == QLatin1String("--help") || name == QLatin1String("help")) {
        o.action = ToolOptions::Action::Help;
        o.helpTopic = args.value(1);
        return true;
    }
    if (name == QLatin1String("--version")) {
        o.action = ToolOptions::Action::Version;
        return true;
    }
    const ToolCommand* command = findToolCommand(name);
    if (command == nullptr) {
        error = QStringLiteral("unknown command '%1'").arg(name);
        return false;
    }
    o.action = ToolOptions::Action::Run;
    o.command = name;
    if (!parseCommandLine(name, args.mid(1), groupsOf(*command), command->arguments, o, error))
        return false;
    if (o.action == ToolOptions::Action::Help)
        return true;
    const auto& groups = command->groups;
    if (std::find(groups.begin(), groups.end(), &ToolOptionGroups::can()) != groups.end() &&
        !o.can.resolve(error))
        return false;
    return !command->check || command->check(o, error);
}

QString toolUsage(const QString& name) {
    if (const ToolCommand* command = findToolCommand(name)) {
        QString usage = QStringLiteral("Usage: trvaxx %1").arg(command->name);
        for (const QString& argument : command->arguments)
            usage += QLatin1Char(' ') + argument;
        return usage + QStringLiteral(" [options]\n\n") + command->description +
               QStringLiteral("\n\nOptions:\n") + optionHelp(groupsOf(*command)) +
               QStringLiteral("  %1  show this help\n").arg(QStringLiteral("-h, --help"), -22);
    }
    QString text = QStringLiteral("Usage: trvaxx <command> [options]\n\n"
                                  "Headless access to TRVAXX sensors and their recordings.\n\nCommands:\n");
    for (const ToolCommand& command : toolCommands()) {
        const QString left =
            (command.name + QLatin1Char(' ') + command.arguments.join(QLatin1Char(' '))).trimmed();
        text += QStringLiteral("  %1  %2\n").arg(left, -15).arg(command.summary);
    }
    return text + QStringLiteral("\nRun \"trvaxx <command> --help\" for the options of a command.\n"
                                 "  -h, --help       show this help\n"
                                 "  --version        show the version\n"
                                 "Exit status: 0 success, 1 the operation failed, 2 wrong command line, "
                                 "3 damaged input.\n");
}

int connectCan(CanBusController& controller, const ToolOptions& o, const QString& name, OutputSink& out) {
    if (const int code = controller.connectDevice(o.can.prepare(controller, name), true)) {
        out.error(code, CanBusController::resultText(code));
        return 1;
    }
    return 0;
}
