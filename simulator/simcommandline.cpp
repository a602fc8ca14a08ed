#include "simulator/simcommandline.h"

#include "simulator/can/canuplink.h"
#include "simulator/parameters.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <arpa/inet.h>

#include <functional>
#include <set>

namespace trvsim {

namespace {

bool parseUnsigned(const std::string& text, uint64_t max, uint64_t& value) {
    bool ok = false;
    const qulonglong v = QString::fromStdString(text).toULongLong(&ok, 10);
    if (!ok || v > max)
        return false;
    value = v;
    return true;
}

bool parsePrintable(const std::string& text, std::size_t maxLength, std::string& why) {
    if (text.size() > maxLength) {
        why = "is longer than " + std::to_string(maxLength) + " characters";
        return false;
    }
    for (unsigned char c : text)
        if (c < 0x20 || c > 0x7E) {
            why = "may hold printable ASCII characters only";
            return false;
        }
    return true;
}

// One option: its names, help, value name (empty: a switch) and what it does with its value; a
// non-empty return is the reason the value is refused.
struct Option {
    QStringList names;
    QString help;
    QString valueName;
    std::function<std::string(const std::string& value)> apply;
};

// A handler storing a whole number from min to max, with the refusal naming the range.
template <typename T>
std::function<std::string(const std::string&)> number(T& target, uint64_t min, uint64_t max,
                                                      const std::string& what) {
    return [&target, min, max, what](const std::string& v) -> std::string {
        uint64_t n = 0;
        if (!parseUnsigned(v, max, n) || n < min)
            return "'" + v + "' is not " + what;
        target = static_cast<T>(n);
        return {};
    };
}

std::function<std::string(const std::string&)> text(std::string& target, std::size_t maxLength) {
    return [&target, maxLength](const std::string& v) -> std::string {
        std::string why;
        if (!parsePrintable(v, maxLength, why))
            return "'" + v + "' " + why;
        target = v;
        return {};
    };
}

std::function<std::string(const std::string&)> share(double& target) {
    return [&target](const std::string& v) {
        std::string why;
        parseShare(v, target, why);
        return why;
    };
}

std::function<std::string(const std::string&)> flag(bool& target, bool value = true) {
    return [&target, value](const std::string&) {
        target = value;
        return std::string();
    };
}

std::string parseVersion(const std::string& v, FirmwareVersion& version) {
    const auto match =
        QRegularExpression("^(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})$").match(QString::fromStdString(v));
    if (!match.hasMatch() || match.captured(1).toInt() > 255 || match.captured(2).toInt() > 255 ||
        match.captured(3).toInt() > 255)
        return "'" + v + "' is not a version major.minor.patch (each 0 to 255)";
    version.major = static_cast<uint8_t>(match.captured(1).toInt());
    version.minor = static_cast<uint8_t>(match.captured(2).toInt());
    version.patch = static_cast<uint8_t>(match.captured(3).toInt());
    return {};
}

std::vector<Option> options(CommandLine& r, bool& verbositySet) {
    SimConfig& c = r.config;
    SensorIdentity& id = c.identity;
    FaultConfig& f = c.faults;
    CanConfig& can = r.can;
    return {
        {{"h", "help"}, "Show this help.", {}, {}},
        {{"variant"},
         "Firmware variant: DI, OD or LG (default OD).",
         "variant",
         [&id](const std::string& v) -> std::string {
             const auto x = variantFromName(v);
             if (!x)
                 return "'" + v + "' is not a firmware variant (DI, OD or LG)";
             id.variant = *x;
             return {};
         }},
        {{"model"},
         "Model: TRVADN or TRVAFN (default TRVAFN).",
         "model",
         [&id](const std::string& v) -> std::string {
             const auto x = modelFromName(v);
             if (!x)
                 return "'" + v + "' is not a model (TRVADN or TRVAFN)";
             id.model = *x;
             return {};
         }},
        {{"version"},
         "Firmware version major.minor.patch (default 3.4.1).",
         "version",
         [&id](const std::string& v) { return parseVersion(v, id.version); }},
        {{"serial"}, "Serial number, at most 20 characters.", "text", text(id.serialNumber, 20)},
        {{"article"}, "Article number, at most 20 characters (a flash container matches at most 11 with the model).", "text", text(id.articleNumber, 20)},
        {{"hw-mainboard"}, "Mainboard hardware version.", "text", text(id.mainboardVersion, 20)},
        {{"hw-frontend"}, "Frontend hardware version.", "text", text(id.frontendVersion, 20)},
        {{"hw-illumination"}, "Illumination hardware version.", "text", text(id.illuminationVersion, 20)},
        {{"illu-article"}, "Illumination article number.", "text", text(id.illuminationArticleNumber, 20)},
        {{"illu-serial"}, "Illumination serial number.", "text", text(id.illuminationSerialNumber, 20)},
        {{"dest"},
         "Destination address[:port] (default 255.255.255.255:42000).",
         "address",
         [&c](const std::string& v) {
             std::string why;
             bool hasPort = false;
             parseEndpoint(v, c.destAddress, c.destPort, hasPort, why);
             return why;
         }},
        {{"source"},
         "Own address[:port] to send from (default any, ephemeral port; with --count "
         "127.0.0.2 and up).",
         "address",
         [&c](const std::string& v) {
             std::string why;
             bool hasPort = false;
             uint16_t port = 0;
             if (parseEndpoint(v, c.sourceAddress, port, hasPort, why))
                 c.sourcePort = hasPort ? port : 0;
             return why;
         }},
        {{"cycle-time"},
         "Cycle time in ms, 10 to 10000 (default: the CycleTime parameter, 40).",
         "ms",
         number(c.cycleTimeMs, 10, 10000, "a cycle time from 10 to 10000 ms")},
        {{"seed"},
         "Seed of the scene and the faults (default 1).",
         "n",
         number(c.seed, 0, 0xFFFFFFFFu, "a number from 0 to 4294967295")},
        {{"duration"},
         "Stop after this many seconds (default: run until stopped).",
         "s",
         [&r](const std::string& v) -> std::string {
             bool ok = false;
             const double d = QString::fromStdString(v).toDouble(&ok);
             if (!ok || !(d > 0 && d <= 366.0 * 24 * 3600))
                 return "'" + v + "' is not a positive number of seconds";
             r.durationSeconds = d;
             return {};
         }},
        {{"count"},
         "Run N sensors sharing one CAN bus (1 to 32; sources 127.0.0.2, .3, ..., CAN nodes "
         "239, 238, ...).",
         "N",
         number(can.sensorCount, 1, 32, "a sensor count from 1 to 32")},
        {{"drop"}, "Fault: share of datagrams lost (0..1 or n%).", "share", share(f.dropShare)},
        {{"reorder"}, "Fault: share of datagrams swapped with the next.", "share", share(f.reorderShare)},
        {{"duplicate"}, "Fault: share of datagrams sent twice.", "share", share(f.duplicateShare)},
        {{"bad-lrc"}, "Fault: share of channels with a wrong checksum.", "share", share(f.badLrcShare)},
        {{"bad-start"},
         "Fault: share of channels with a wrong start delimiter.",
         "share",
         share(f.badStartShare)},
        {{"bad-end"}, "Fault: share of channels with a wrong end delimiter.", "share", share(f.badEndShare)},
        {{"truncate"}, "Fault: share of datagrams cut short.", "share", share(f.truncateShare)},
        {{"no-lrc"}, "Send no checksum (LRC 0).", {}, flag(f.noLrc)},
        {{"pause"},
         "Fault: after N cycles fall silent for MS milliseconds, then go on.",
         "N:MS",
         [&f](const std::string& v) -> std::string {
             const auto m = QRegularExpression("^(\\d{1,9}):(\\d{1,9})$").match(QString::fromStdString(v));
             if (!m.hasMatch() || m.captured(1).toUInt() == 0 || m.captured(2).toUInt() == 0)
                 return "'" + v + "' is not N:MS (a cycle count and a duration in ms, both above 0)";
             f.pauseAfterCycles = m.captured(1).toUInt();
             f.pauseMs = m.captured(2).toUInt();
             return {};
         }},
        {{"stop-after"},
         "Fault: power loss after N cycles (the process stays).",
         "N",
         number(f.stopAfterCycles, 1, 0xFFFFFFFFu, "a cycle count above 0")},
        {{"second-sender"},
         "Fault: a second sensor streams from the same address.",
         {},
         flag(f.secondSender)},
        // The CAN side.
        {{"can-listen"},
         "Serve the CAN bus (socketcand protocol, bus can0) on [ADDR:]PORT, for example "
         "29536.",
         "[addr:]port",
         [&can](const std::string& v) {
             std::string address, why;
             uint16_t port = 0;
             if (parseListenAddress(v, address, port, why))
                 can.listen = v;
             return why;
         }},
        {{"can-join"},
         "Take part in a bus served elsewhere: socketcand://HOST:PORT/BUS or "
         "qtcanbus://BACKEND/INTERFACE.",
         "url",
         [&can](const std::string& v) {
             std::string why;
             if (validCanJoinUrl(v, why))
                 can.join = v;
             return why;
         }},
        {{"can-beacon"},
         "Send the socketcand discovery beacon every 3 s to ADDR[:PORT] (port 42000 "
         "unless given; 255.255.255.255 as daemons do).",
         "addr[:port]",
         [&can](const std::string& v) {
             std::string address, why;
             uint16_t port = 0;
             bool hasPort = false;
             if (parseEndpoint(v, address, port, hasPort, why))
                 can.beacon = v;
             return why;
         }},
        {{"can-bitrate"},
         "CAN bit rate in bit/s (default: the sensor's parameter, 250000).",
         "bit/s",
         [&can](const std::string& v) -> std::string {
             static const std::set<uint64_t> rates{10000,  20000,  50000,  100000, 125000,
                                                   250000, 500000, 800000, 1000000};
             uint64_t n = 0;
             if (!parseUnsigned(v, 1000000, n) || !rates.count(n))
                 return "'" + v +
                        "' is not a CAN bit rate (10000, 20000, 50000, 100000, 125000, 250000, "
                        "500000, 800000 or 1000000)";
             can.bitRate = static_cast<uint32_t>(n);
             return {};
         }},
        {{"can-protocol"},
         "Function results as j1939 or canopen (default: the sensor's parameter).",
         "protocol",
         [&can](const std::string& v) -> std::string {
             if (v != "j1939" && v != "canopen")
                 return "'" + v + "' is not a CAN protocol (j1939 or canopen)";
             can.protocol = v == "j1939" ? CanProtocol::J1939 : CanProtocol::CANopen;
             return {};
         }},
        {{"can-address"},
         "J1939 source address 0 to 253 or CANopen node 1 to 127 (default: parameter; "
         "239 with --count).",
         "n",
         number(can.address, 0, 253, "an address from 0 to 253")},
        {{"can-no-pace"}, "Carry frames at once instead of at the bus bit rate.", {}, flag(can.pace, false)},
        {{"can-drop-every"},
         "Fault: every Nth CAN frame is lost.",
         "N",
         number(can.dropEvery, 1, 1000000, "a frame count from 1 to 1000000")},
        {{"can-delay"},
         "Fault: the sensor's CAN frames are held back this long.",
         "ms",
         number(can.delayMs, 0, 60000, "a delay from 0 to 60000 ms")},
        {{"can-refuse"}, "Fault: TCP connections to the CAN bus are refused.", {}, flag(can.refuse)},
        {{"can-block-size"},
         "Flow control block size of the diagnostic server, 0 (all) to 255.",
         "n",
         number(can.blockSize, 0, 255, "a block size from 0 to 255")},
        {{"can-stmin"},
         "Separation time of the diagnostic server in ms, 0 to 127.",
         "ms",
         number(can.stMinMs, 0, 127, "a separation time from 0 to 127 ms")},
        {{"response-pending"},
         "Answer N \"response pending\" first (0 to 100).",
         "N",
         number(can.responsePending, 0, 100, "a count from 0 to 100")},
        {{"zero-seed"}, "Security access answers seed 0.", {}, flag(can.zeroSeed)},
        {{"boot-loader"},
         "Only the boot loader runs: programming session only, no results, silent on the "
         "active-session read.",
         {},
         flag(can.bootLoader)},
        {{"boot-loader-session"},
         "With --boot-loader: answer the active-session read (programming).",
         {},
         flag(can.bootLoaderSession)},
        {{"flash-fault"},
         "Fault while programming: silent:N (stop answering at the Nth TransferData of a "
         "download, restart 10 s later), reset:N (restart at once there) or crc (every "
         "download fails its CRC check). The old contents stay.",
         "fault",
         [&can](const std::string& v) -> std::string {
             const std::string why = "'" + v + "' is not a flash fault (silent:N, reset:N or crc)";
             if (v == "crc") {
                 can.flashFault = {FlashFault::Kind::Crc, 0};
                 return {};
             }
             const auto colon = v.find(':');
             uint64_t n = 0;
             if (colon == std::string::npos || !parseUnsigned(v.substr(colon + 1), 1000000, n) || n == 0)
                 return why;
             const std::string kind = v.substr(0, colon);
             if (kind != "silent" && kind != "reset")
                 return why;
             can.flashFault = {kind == "silent" ? FlashFault::Kind::Silent : FlashFault::Kind::Reset,
                               static_cast<uint32_t>(n)};
             return {};
         }},
        {{"vehicle"},
         "Also play a vehicle sending speed, tachograph and yaw-rate messages.",
         {},
         flag(can.vehicle)},
        {{"v", "verbosity"},
         "Log level 0 (quiet) to 3 (every cycle), default 1.",
         "level",
         [&c, &verbositySet](const std::string& v) -> std::string {
             uint64_t n = 0;
             if (!parseUnsigned(v, 3, n))
                 return "'" + v + "' is not a level from 0 to 3";
             c.verbosity = static_cast<int>(n);
             verbositySet = true;
             return {};
         }},
        {{"quiet"}, "No summary line.", {}, flag(r.summary, false)},
    };
}

// Checks that need several options at once.
std::string crossCheck(const CommandLine& r, QString& option) {
    const SensorIdentity& id = r.config.identity;
    if (!isKnownFirmwareVersion(id.variant, id.version)) {
        std::string known;
        for (const auto& v : knownFirmwareVersions(id.variant))
            known += (known.empty() ? "" : ", ") + std::to_string(v.first) + "." + std::to_string(v.second);
        option = "version";
        return id.version.text() + " is not a firmware of variant " + variantName(id.variant) +
               " (known: " + known + ")";
    }
    if (r.can.protocol == CanProtocol::CANopen && r.can.address > 127) {
        option = "can-address";
        return std::to_string(r.can.address) + " is not a CANopen node (1 to 127)";
    }
    if (r.can.protocol == CanProtocol::CANopen && r.can.address == 0) {
        option = "can-address";
        return "0 is not a CANopen node (1 to 127)";
    }
    if (r.can.sensorCount > 1 && r.can.address >= 0 &&
        r.can.address + 1 < static_cast<int>(r.can.sensorCount)) {
        option = "count";
        return std::to_string(r.can.sensorCount) +
               " sensors need as many node addresses counting down from " + std::to_string(r.can.address);
    }
    return {};
}

} // namespace

bool parseEndpoint(const std::string& text, std::string& address, uint16_t& port, bool& hasPort,
                   std::string& why) {
    std::string host = text;
    hasPort = false;
    const std::size_t colon = text.rfind(':');
    if (colon != std::string::npos) {
        host = text.substr(0, colon);
        uint64_t p = 0;
        if (!parseUnsigned(text.substr(colon + 1), 65535, p) || p == 0) {
            why = "port '" + text.substr(colon + 1) + "' is not a number from 1 to 65535";
            return false;
        }
        port = static_cast<uint16_t>(p);
        hasPort = true;
    }
    in_addr a{};
    if (!QRegularExpression("^\\d{1,3}(\\.\\d{1,3}){3}$").match(QString::fromStdString(host)).hasMatch() ||
        inet_pton(AF_INET, host.c_str(), &a) != 1) {
        why = "'" + host + "' is not an IPv4 address (a.b.c.d, each 0 to 255)";
        return false;
    }
    address = host;
    return true;
}

bool parseListenAddress(const std::string& text, std::string& address, uint16_t& port, std::string& why) {
    const std::size_t colon = text.rfind(':');
    bool hasPort = false;
    uint16_t ignored = 0;
    if (colon != std::string::npos && !parseEndpoint(text.substr(0, colon), address, ignored, hasPort, why))
        return false;
    const std::string portText = colon == std::string::npos ? text : text.substr(colon + 1);
    uint64_t p = 0;
    if (!parseUnsigned(portText, 65535, p)) {
        why = "'" + portText + "' is not a port from 1 to 65535 (0: any free port)";
        return false;
    }
    port = static_cast<uint16_t>(p);
    return true;
}

bool parseShare(const std::string& text, double& share, std::string& why) {
    QString t = QString::fromStdString(text).trimmed();
    double scale = 1.0;
    if (t.endsWith('%')) {
        t.chop(1);
        scale = 0.01;
    }
    bool ok = false;
    const double v = t.toDouble(&ok) * scale;
    if (!ok || !(v >= 0.0 && v <= 1.0)) {
        why = "'" + text + "' is not a share from 0 to 1 (for example 0.05 or 5%)";
        return false;
    }
    share = v;
    return true;
}

CommandLine parseCommandLine(const QStringList& arguments) {
    CommandLine result;
    bool verbositySet = false;
    const std::vector<Option> table = options(result, verbositySet);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Virtual TRVAXX sensor: streams measurement cycles over UDP as the sensor does, from a "
        "synthetic scene, serves its CAN bus over TCP (socketcand), with switchable faults.");
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const Option& o : table)
        parser.addOption(QCommandLineOption(o.names, o.help, o.valueName));

    auto fail = [&](const QString& option, const std::string& why) {
        result.outcome = CommandLine::Error;
        result.message = (option.isEmpty() ? std::string() : "--" + option.toStdString() + ": ") + why;
        return result;
    };
    if (!parser.parse(arguments))
        return fail(QString(), parser.errorText().toStdString());
    if (!parser.positionalArguments().isEmpty())
        return fail(QString(),
                    "unexpected argument '" + parser.positionalArguments().first().toStdString() + "'");
    if (parser.isSet(QStringLiteral("help"))) {
        result.outcome = CommandLine::Help;
        // The parser names the program only when an application object exists; this runs before.
        result.message = parser.helpText()
                             .replace(QStringLiteral("<executable_name>"), QStringLiteral("trvaxx-sim"))
                             .toStdString();
        return result;
    }
    for (const Option& o : table)
        if (o.apply && parser.isSet(o.names.first())) {
            const std::string why = o.apply(parser.value(o.names.first()).toStdString());
            if (!why.empty())
                return fail(o.names.last(), why);
        }
    if (!result.summary && !verbositySet)
        result.config.verbosity = 1;
    QString option;
    const std::string why = crossCheck(result, option);
    return why.empty() ? result : fail(option, why);
}

} // namespace trvsim
