#include "tools/trvaxx/tooloptions.h"

#include "can-communication/canbuscontroller.h"
#include "common/commonutilities.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QSettings>

#include <algorithm>

namespace {

bool fail(QString& error, const QString& message) {
    error = message;
    return false;
}

OptionSpec flag(const char* name, const char* help, bool ToolOptions::*field) {
    return {QLatin1String(name), QString(), QLatin1String(help),
            [field](const QString&, ToolOptions& o, QString&) {
                o.*field = true;
                return true;
            }};
}

} // namespace

bool parseNumber(const QString& text, qint64 min, qint64 max, qint64& value) {
    bool ok = false;
    const bool hex = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
    value = hex ? text.mid(2).toLongLong(&ok, 16) : text.toLongLong(&ok, 10);
    return ok && value >= min && value <= max && !(hex && text.size() == 2);
}

bool CanOptions::isValidInterface(const QString& url) {
    static const QRegularExpression socketcand(
        QStringLiteral(R"(^socketcand://[^/:\s]+:(\d{1,5})/[\w.-]{1,15}$)"));
    static const QRegularExpression qtcanbus(QStringLiteral(R"(^qtcanbus://[\w.-]+/[\w.:-]+$)"));
    static const QRegularExpression kernel(QStringLiteral(R"(^[A-Za-z][\w.-]{0,14}$)"));
    const QRegularExpressionMatch m = socketcand.match(url);
    if (m.hasMatch())
        return m.captured(1).toUInt() >= 1 && m.captured(1).toUInt() <= 65535;
    return qtcanbus.match(url).hasMatch() || kernel.match(url).hasMatch();
}

bool CanOptions::resolve(QString& error) {
    if (source != Source::Option) {
        const QString fromEnvironment = qEnvironmentVariable(ENVIRONMENT_VARIABLE).trimmed();
        // The host application's settings file (its own object belongs to the host's GUI thread).
        const QSettings& host = CommonUtilities::gocSettings();
        const QString fromSetting =
            QSettings(host.fileName(), host.format()).value(QLatin1String(SETTING)).toString().trimmed();
        if (!fromEnvironment.isEmpty()) {
            interface = fromEnvironment;
            source = Source::Environment;
        } else if (!fromSetting.isEmpty()) {
            interface = fromSetting;
            source = Source::Setting;
        } else {
            interface = QLatin1String(DEFAULT_INTERFACE);
            source = Source::Default;
        }
    }
    if (!isValidInterface(interface)) {
        const char* origin = source == Source::Environment ? ENVIRONMENT_VARIABLE
                             : source == Source::Setting   ? SETTING
                                                           : "--can";
        return fail(error,
                    QStringLiteral("%1 needs socketcand://HOST:PORT/BUS, qtcanbus://BACKEND/INTERFACE or "
                                   "an interface name such as can0, not '%2'")
                        .arg(QLatin1String(origin), interface));
    }
    if (!nodeGiven)
        node = canopen ? DEFAULT_CANOPEN_NODE : DEFAULT_J1939_NODE;
    if (canopen && (node < 1 || node > 127))
        return fail(
            error,
            QStringLiteral("--node needs a CANopen node id from 1 to 127 with --canopen, not %1").arg(node));
    return true;
}

SensorAdrMobileCanSP_t CanOptions::prepare(CanBusController& controller, const QString& name) const {
    controller.setInterfaceUrl(interface.toUtf8());
    controller.setTracePath(trace);
    auto address = SensorAdrMobileCanSP_t::create(name, QByteArray("TRVAxx"));
    address->setCanBaudRate(int(baud));
    address->setCanDeviceId(node);
    return address;
}

namespace ToolOptionGroups {

const OptionGroup& common() {
    static const OptionGroup group = {
        flag("--json", "print JSON Lines (snake_case keys, null for unknown values)", &ToolOptions::json),
        flag("--verbose", "show the transport's and interpreter's diagnostics on standard error",
             &ToolOptions::verbose),
    };
    return group;
}

const OptionGroup& ethernet() {
    static const OptionGroup group = {
        {QStringLiteral("--ip"), QStringLiteral("A"),
         QStringLiteral("the sensor's IPv4 address (default: every sender)"),
         [](const QString& v, ToolOptions& o, QString& error) {
             QHostAddress address;
             if (!address.setAddress(v) || address.protocol() != QAbstractSocket::IPv4Protocol ||
                 v.count(QLatin1Char('.')) != 3)
                 return fail(
                     error,
                     QStringLiteral("--ip needs a dotted IPv4 address such as 192.168.1.1, not '%1'").arg(v));
             o.sender = address.toString();
             o.ipGiven = true;
             return true;
         },
         QStringLiteral("--sender")},
        {QStringLiteral("--port"), QStringLiteral("P"),
         QStringLiteral("UDP port of the result stream (default 42000; 0 picks a free port)"),
         [](const QString& v, ToolOptions& o, QString& error) {
             qint64 port = 0;
             if (!parseNumber(v, 0, 65535, port))
                 return fail(error,
                             QStringLiteral("--port needs a port number from 0 to 65535, not '%1'").arg(v));
             o.port = quint16(port);
             return true;
         }},
    };
    return group;
}

const OptionGroup& can() {
    static const OptionGroup group = {
        {QStringLiteral("--can"), QStringLiteral("URL"),
         QStringLiteral("CAN interface: socketcand://HOST:PORT/BUS, qtcanbus://BACKEND/INTERFACE or a name "
                        "such as can0"),
         [](const QString& v, ToolOptions& o, QString&) {
             o.can.interface = v;
             o.can.source = CanOptions::Source::Option;
             return true; // checked by CanOptions::resolve() with the other sources
         }},
        {QStringLiteral("--node"), QStringLiteral("N"),
         QStringLiteral(
             "J1939 source address (default 239) or CANopen node id (default 10), decimal or 0x.."),
         [](const QString& v, ToolOptions& o, QString& error) {
             qint64 node = 0;
             if (!parseNumber(v, 0, 255, node))
                 return fail(error,
                             QStringLiteral("--node needs a number from 0 to 255 (or 0x00 to 0xff), not '%1'")
                                 .arg(v));
             o.can.node = int(node);
             o.can.nodeGiven = true;
             return true;
         }},
        {QStringLiteral("--baud"), QStringLiteral("B"), QStringLiteral("bit rate in bit/s (default 250000)"),
         [](const QString& v, ToolOptions& o, QString& error) {
             qint64 baud = 0;
             if (!parseNumber(v, 10000, 1000000, baud))
                 return fail(
                     error,
                     QStringLiteral("--baud needs a bit rate from 10000 to 1000000 bit/s, not '%1'").arg(v));
             o.can.baud = quint32(baud);
             return true;
         }},
        {QStringLiteral("--canopen"), QString(), QStringLiteral("the sensor speaks CANopen (default J1939)"),
         [](const QString&, ToolOptions& o, QString&) {
             o.can.canopen = true;
             return true;
         }},
        {QStringLiteral("--trace"), QStringLiteral("FILE"),
         QStringLiteral("write every CAN frame sent and received to FILE"),
         [](const QString& v, ToolOptions& o, QString& error) {
             if (v.isEmpty())
                 return fail(error, QStringLiteral("--trace needs a file name"));
             o.can.trace = v;
             return true;
         }},
    };
    return group;
}

const OptionGroup& live() {
    static const OptionGroup group = {
        {QStringLiteral("--seconds"), QStringLiteral("N"),
         QStringLiteral("stop after N seconds (default: run until interrupted)"),
         [](const QString& v, ToolOptions& o, QString& error) {
             qint64 seconds = 0;
             if (!parseNumber(v, 1, 1000000000, seconds))
                 return fail(error,
                             QStringLiteral("--seconds needs a whole number of seconds, at least 1, not '%1'")
                                 .arg(v));
             o.seconds = int(seconds);
             return true;
         }},
        {QStringLiteral("--wake-up"), QStringLiteral("W"),
         QStringLiteral(
             "where the wake-up datagram goes at start: all (every interface's broadcast, default), "
             "loopback (a sensor on this machine) or none"),
         [](const QString& v, ToolOptions& o, QString& error) {
             if (v == QLatin1String("all"))
                 o.wakeUp = UdpSocket::WakeUp::AllInterfaces;
             else if (v == QLatin1String("loopback"))
                 o.wakeUp = UdpSocket::WakeUp::LoopbackOnly;
             else if (v == QLatin1String("none"))
                 o.wakeUp = UdpSocket::WakeUp::None;
             else
                 return fail(error, QStringLiteral("--wake-up needs all, loopback or none, not '%1'").arg(v));
             return true;
         }},
    };
    return group;
}

const OptionGroup& replay() {
    static const OptionGroup group = {
        flag("--fast", "as fast as possible instead of at the recorded pace", &ToolOptions::fast),
        {QStringLiteral("--speed"), QStringLiteral("X"),
         QStringLiteral("X times the recorded pace (e.g. 2 or 0.5)"),
         [](const QString& v, ToolOptions& o, QString& error) {
             bool ok = false;
             o.speed = v.toDouble(&ok);
             if (!ok || !(o.speed > 0) || o.speed > 1e6)
                 return fail(
                     error,
                     QStringLiteral("--speed needs a positive factor such as 2 or 0.5, not '%1'").arg(v));
             o.speedGiven = true;
             return true;
         }},
    };
    return group;
}

} // namespace ToolOptionGroups

bool parseCommandLine(const QString& command, const QStringList& args,
                      const std::vector<const OptionGroup*>& groups, const QStringList& arguments,
                      ToolOptions& o, QString& error) {
    auto find = [&](const QString& name) -> const OptionSpec* {
        for (const OptionGroup* group : groups)
            for (const OptionSpec& entry : *group)
                if (entry.name == name || (!entry.alias.isEmpty() && entry.alias == name))
                    return &entry;
        return nullptr;
    };
    QStringList positional;
    bool optionsEnded = false; // after "--" everything is an argument
    for (int i = 0; i < args.size(); ++i) {
        const QString arg = args.at(i);
        if (optionsEnded || !arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-")) {
            positional << arg;
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            o.action = ToolOptions::Action::Help;
            o.helpTopic = command;
            return true;
        }
        const int eq = arg.indexOf(QLatin1Char('='));
        const QString name = eq < 0 ? arg : arg.left(eq);
        const OptionSpec* entry = arg.startsWith(QLatin1String("--")) ? find(name) : nullptr;
        if (entry == nullptr)
            return fail(error, arg.startsWith(QLatin1String("--"))
                                   ? QStringLiteral("unknown option '%1' for %2").arg(name, command)
                                   : QStringLiteral("unknown option '%1'").arg(arg));
        QString value;
        if (entry->valueName.isEmpty()) {
            if (eq >= 0)
                return fail(error, QStringLiteral("option %1 takes no value").arg(name));
        } else if (eq >= 0) {
            value = arg.mid(eq + 1);
        } else if (i + 1 < args.size()) {
            value = args.at(++i);
        } else {
            return fail(error, QStringLiteral("option %1 needs a value").arg(name));
        }
        if (!entry->apply(value, o, error))
            return false;
    }
    const qsizetype required = std::count_if(arguments.begin(), arguments.end(), [](const QString& name) {
        return !name.startsWith(QLatin1Char('['));
    });
    if (positional.size() < required)
        return fail(error, QStringLiteral("%1 needs a %2").arg(command, arguments.at(positional.size())));
    if (positional.size() > arguments.size())
        return fail(error, QStringLiteral("unexpected argument '%1'").arg(positional.at(arguments.size())));
    o.arguments = positional;
    if (!positional.isEmpty())
        o.file = positional.first();
    o.arguments = positional;
    return true;
}

QString optionHelp(const std::vector<const OptionGroup*>& groups) {
    QString text;
    for (const OptionGroup* group : groups) {
        for (const OptionSpec& entry : *group) {
            QString left = entry.name;
            if (!entry.alias.isEmpty())
                left += QStringLiteral(" (or %1)").arg(entry.alias);
            if (!entry.valueName.isEmpty())
                left += QLatin1Char(' ') + entry.valueName;
            text += QStringLiteral("  %1  %2\n").arg(left, -22).arg(entry.help);
        }
    }
    return text;
}
