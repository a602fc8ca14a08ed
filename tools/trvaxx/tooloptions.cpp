#include "tools/trvaxx/tooloptions.h"

#include <QHostAddress>

namespace {

const char* const kOverview = R"(Usage: trvaxx <command> [options]

Headless access to the result stream of TRVAXX sensors.

Commands:
  monitor          print live figures of a sensor's result stream, one line per second
  record FILE      record the result stream into FILE
  replay FILE      interpret a recording and print the same figures
  can-info         connect over CAN and print the identity and state of a sensor

Run "trvaxx <command> --help" for the options of a command.
  -h, --help       show this help
  --version        show the version
)";

const char* const kMonitor =
    R"(Usage: trvaxx monitor [--port P] [--sender IP] [--json] [--seconds N] [--wake-up W] [--verbose]

Receives a sensor's result stream and prints one line per second: cycles per second, latest
frame counter, valid pixels, camera-axis distance minimum and maximum (metres), object or line
count, software version, firmware variant, serial number and the reassembly counters.

Options:
  --port P        UDP port the stream arrives on (default 42000; 0 picks a free port)
  --sender IP     use only datagrams from this IPv4 address (default: every sender)
  --json          print each line as one JSON object with the fields cycles_per_s,
                  frame_counter, valid_pixels, distance_min, distance_max, objects, lines,
                  software_version, variant, serial, stats (null where not known)
  --seconds N     stop after N seconds (default: run until interrupted)
  --wake-up W     where the one-byte wake-up datagram goes at start: "all" (the directed
                  broadcast of every IPv4 interface, default), "loopback" (a sensor on this
                  machine, such as trvaxx-sim) or "none"
  --verbose       show the transport's and interpreter's diagnostics on standard error

Exit status: 0 when results arrived, 1 when none did or the port cannot be used, 2 for a
wrong command line.
)";

const char* const kRecord =
    R"(Usage: trvaxx record FILE [--seconds N] [--port P] [--sender IP] [--json] [--wake-up W] [--verbose]

Records every complete result cycle of the stream into FILE (the host's recording format,
replayable by "trvaxx replay" and the host application) and prints the monitor's lines while
recording.

Options:
  --seconds N     stop after N seconds (default: run until interrupted)
  --port P, --sender IP, --json, --wake-up W, --verbose   as for "trvaxx monitor"

Exit status: 0 when cycles were recorded, 1 when none were or FILE cannot be written, 2 for a
wrong command line.
)";

const char* const kReplay = R"(Usage: trvaxx replay FILE [--fast | --speed X] [--json] [--verbose]

Interprets a recording with the same code as the live stream and prints one line per recorded
second (the reassembly counters are not part of a recording: stats is null). At the end the
number of cycles and the processing rate are written to standard error.

Options:
  --fast          as fast as possible instead of at the recorded pace
  --speed X       X times the recorded pace (e.g. 2 or 0.5)
  --json, --verbose   as for "trvaxx monitor"

Exit status: 0 after a complete replay, 1 when FILE cannot be used, 2 for a wrong command line,
3 when the recording is damaged (it was replayed up to the damage).
)";

bool takeValue(const QStringList& args, int& i, const QString& name, QString inlineValue, bool hasInline,
               QString& value, QString& error) {
    if (hasInline) {
        value = inlineValue;
        return true;
    }
    if (i + 1 >= args.size()) {
        error = QStringLiteral("option %1 needs a value").arg(name);
        return false;
    }
    value = args.at(++i);
    return true;
}

} // namespace

QString toolUsage(const QString& command) {
    if (command == QLatin1String("monitor"))
        return QString::fromUtf8(kMonitor);
    if (command == QLatin1String("record"))
        return QString::fromUtf8(kRecord);
    if (command == QLatin1String("replay"))
        return QString::fromUtf8(kReplay);
    return QString::fromUtf8(kOverview);
}

bool parseToolOptions(const QStringList& args, ToolOptions& o, QString& error) {
    o = ToolOptions();
    if (args.isEmpty()) {
        error = QStringLiteral("no command given");
        return false;
    }
    const QString command = args.first();
    if (command == QLatin1String("-h") || command == QLatin1String("--help") ||
        command == QLatin1String("help")) {
        o.command = ToolOptions::Command::Help;
        o.helpTopic = args.value(1);
        return true;
    }
    if (command == QLatin1String("--version")) {
        o.command = ToolOptions::Command::Version;
        return true;
    }
    if (command == QLatin1String("monitor"))
        o.command = ToolOptions::Command::Monitor;
    else if (command == QLatin1String("record"))
        o.command = ToolOptions::Command::Record;
    else if (command == QLatin1String("replay"))
        o.command = ToolOptions::Command::Replay;
    else {
        error = QStringLiteral("unknown command '%1'").arg(command);
        return false;
    }
    const bool live = o.command != ToolOptions::Command::Replay;
    bool speedGiven = false;

    QStringList positional;
    bool optionsEnded = false; // after "--" everything is an argument
    for (int i = 1; i < args.size(); ++i) {
        const QString arg = args.at(i);
        if (optionsEnded) {
            positional << arg;
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (!arg.startsWith(QLatin1String("--"))) {
            if (arg == QLatin1String("-h")) {
                o.helpTopic = command;
                o.command = ToolOptions::Command::Help;
                return true;
            }
            if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
                error = QStringLiteral("unknown option '%1'").arg(arg);
                return false;
            }
            positional << arg;
            continue;
        }
        const int eq = arg.indexOf(QLatin1Char('='));
        const QString name = eq < 0 ? arg : arg.left(eq);
        const QString inlineValue = eq < 0 ? QString() : arg.mid(eq + 1);
        const bool hasInline = eq >= 0;
        auto flag = [&](bool& target) {
            if (hasInline) {
                error = QStringLiteral("option %1 takes no value").arg(name);
                return false;
            }
            target = true;
            return true;
        };
        QString value;
        if (name == QLatin1String("--help")) {
            o.helpTopic = command;
            o.command = ToolOptions::Command::Help;
            return true;
        } else if (name == QLatin1String("--json")) {
            if (!flag(o.json))
                return false;
        } else if (name == QLatin1String("--verbose")) {
            if (!flag(o.verbose))
                return false;
        } else if (live && name == QLatin1String("--port")) {
            if (!takeValue(args, i, name, inlineValue, hasInline, value, error))
                return false;
            bool ok = false;
            const uint port = value.toUInt(&ok);
            if (!ok || port > 65535) {
                error = QStringLiteral("--port needs a port number from 0 to 65535, not '%1'").arg(value);
                return false;
            }
            o.port = quint16(port);
        } else if (live && name == QLatin1String("--sender")) {
            if (!takeValue(args, i, name, inlineValue, hasInline, value, error))
                return false;
            QHostAddress address;
            if (!address.setAddress(value) || address.protocol() != QAbstractSocket::IPv4Protocol ||
                value.count(QLatin1Char('.')) != 3) {
                error = QStringLiteral("--sender needs a dotted IPv4 address such as 192.168.1.1, not '%1'")
                            .arg(value);
                return false;
            }
            o.sender = address.toString();
        } else if (live && name == QLatin1String("--wake-up")) {
            if (!takeValue(args, i, name, inlineValue, hasInline, value, error))
                return false;
            if (value == QLatin1String("all")) {
                o.wakeUp = UdpSocket::WakeUp::AllInterfaces;
            } else if (value == QLatin1String("loopback")) {
                o.wakeUp = UdpSocket::WakeUp::LoopbackOnly;
            } else if (value == QLatin1String("none")) {
                o.wakeUp = UdpSocket::WakeUp::None;
            } else {
                error = QStringLiteral("--wake-up needs all, loopback or none, not '%1'").arg(value);
                return false;
            }
        } else if (live && name == QLatin1String("--seconds")) {
            if (!takeValue(args, i, name, inlineValue, hasInline, value, error))
                return false;
            bool ok = false;
            const int seconds = value.toInt(&ok);
            if (!ok || seconds < 1) {
                error = QStringLiteral("--seconds needs a whole number of seconds, at least 1, not '%1'")
                            .arg(value);
                return false;
            }
            o.seconds = seconds;
        } else if (!live && name == QLatin1String("--fast")) {
            if (!flag(o.fast))
                return false;
        } else if (!live && name == QLatin1String("--speed")) {
            if (!takeValue(args, i, name, inlineValue, hasInline, value, error))
                return false;
            bool ok = false;
            o.speed = value.toDouble(&ok);
            if (!ok || !(o.speed > 0) || o.speed > 1e6) {
                error =
                    QStringLiteral("--speed needs a positive factor such as 2 or 0.5, not '%1'").arg(value);
                return false;
            }
            speedGiven = true;
        } else {
            error = QStringLiteral("unknown option '%1' for %2").arg(name, command);
            return false;
        }
    }

    if (o.fast && speedGiven) {
        error = QStringLiteral("--fast and --speed exclude each other");
        return false;
    }
    const bool needsFile = o.command != ToolOptions::Command::Monitor;
    if (needsFile && positional.isEmpty()) {
        error = QStringLiteral("%1 needs a FILE").arg(command);
        return false;
    }
    if (positional.size() > (needsFile ? 1 : 0)) {
        error = QStringLiteral("unexpected argument '%1'").arg(positional.at(needsFile ? 1 : 0));
        return false;
    }
    if (needsFile)
        o.file = positional.first();
    return true;
}
