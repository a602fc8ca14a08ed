#include "simulator/simcommandline.h"

#include "simulator/parameters.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <arpa/inet.h>

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
    SimConfig& c = result.config;
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Virtual TRVAXX sensor: streams measurement cycles over UDP as the sensor does, from a "
        "synthetic scene, with switchable transmission faults.");
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({"h", "help"}, "Show this help.");
    const QCommandLineOption variant("variant", "Firmware variant: DI, OD or LG (default OD).", "variant");
    const QCommandLineOption model("model", "Model: TRVADN or TRVAFN (default TRVAFN).", "model");
    const QCommandLineOption version("version", "Firmware version major.minor.patch (default 3.4.1).",
                                     "version");
    const QCommandLineOption serial("serial", "Serial number, at most 20 characters.", "text");
    const QCommandLineOption article("article", "Article number, at most 20 characters.", "text");
    const QCommandLineOption hwMain("hw-mainboard", "Mainboard hardware version.", "text");
    const QCommandLineOption hwFront("hw-frontend", "Frontend hardware version.", "text");
    const QCommandLineOption hwIllu("hw-illumination", "Illumination hardware version.", "text");
    const QCommandLineOption illuArticle("illu-article", "Illumination article number.", "text");
    const QCommandLineOption illuSerial("illu-serial", "Illumination serial number.", "text");
    const QCommandLineOption dest("dest", "Destination address[:port] (default 255.255.255.255:42000).",
                                  "address");
    const QCommandLineOption source(
        "source", "Own address[:port] to send from (default any, ephemeral port).", "address");
    const QCommandLineOption cycle("cycle-time",
                                   "Cycle time in ms, 10 to 10000 (default: the CycleTime "
                                   "parameter, 40).",
                                   "ms");
    const QCommandLineOption seed("seed", "Seed of the scene and the faults (default 1).", "n");
    const QCommandLineOption duration("duration",
                                      "Stop after this many seconds (default: run until stopped).", "s");
    const QCommandLineOption canListen("can-listen", "TCP port of the CAN side (socketcand protocol).",
                                       "port");
    const QCommandLineOption drop("drop", "Fault: share of datagrams lost (0..1 or n%).", "share");
    const QCommandLineOption reorder("reorder", "Fault: share of datagrams swapped with the next.", "share");
    const QCommandLineOption duplicate("duplicate", "Fault: share of datagrams sent twice.", "share");
    const QCommandLineOption badLrc("bad-lrc", "Fault: share of channels with a wrong checksum.", "share");
    const QCommandLineOption badStart("bad-start", "Fault: share of channels with a wrong start delimiter.",
                                      "share");
    const QCommandLineOption badEnd("bad-end", "Fault: share of channels with a wrong end delimiter.",
                                    "share");
    const QCommandLineOption truncate("truncate", "Fault: share of datagrams cut short.", "share");
    const QCommandLineOption noLrc("no-lrc", "Send no checksum (LRC 0).");
    const QCommandLineOption pause(
        "pause", "Fault: after N cycles fall silent for MS milliseconds, then go on.", "N:MS");
    const QCommandLineOption stopAfter("stop-after", "Fault: power loss after N cycles (the process stays).",
                                       "N");
    const QCommandLineOption second("second-sender", "Fault: a second sensor streams from the same address.");
    const QCommandLineOption verbose({"v", "verbosity"}, "Log level 0 (quiet) to 3 (every cycle), default 1.",
                                     "level");
    const QCommandLineOption quiet("quiet", "No summary line.");
    parser.addOptions({help,      variant,     model,      version,   serial,  article,  hwMain, hwFront,
                       hwIllu,    illuArticle, illuSerial, dest,      source,  cycle,    seed,   duration,
                       canListen, drop,        reorder,    duplicate, badLrc,  badStart, badEnd, truncate,
                       noLrc,     pause,       stopAfter,  second,    verbose, quiet});

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
    if (parser.isSet(help)) {
        result.outcome = CommandLine::Help;
        // The parser names the program only when an application object exists; this runs before.
        result.message = parser.helpText()
                             .replace(QStringLiteral("<executable_name>"), QStringLiteral("trvaxx-sim"))
                             .toStdString();
        return result;
    }
    auto value = [&](const QCommandLineOption& o) { return parser.value(o).toStdString(); };
    std::string why;

    if (parser.isSet(variant)) {
        const auto v = variantFromName(value(variant));
        if (!v)
            return fail("variant", "'" + value(variant) + "' is not a firmware variant (DI, OD or LG)");
        c.identity.variant = *v;
    }
    if (parser.isSet(model)) {
        const auto m = modelFromName(value(model));
        if (!m)
            return fail("model", "'" + value(model) + "' is not a model (TRVADN or TRVAFN)");
        c.identity.model = *m;
    }
    if (parser.isSet(version)) {
        const auto match =
            QRegularExpression("^(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})$").match(parser.value(version));
        if (!match.hasMatch() || match.captured(1).toInt() > 255 || match.captured(2).toInt() > 255 ||
            match.captured(3).toInt() > 255)
            return fail("version",
                        "'" + value(version) + "' is not a version major.minor.patch (each 0 to 255)");
        c.identity.version.major = static_cast<uint8_t>(match.captured(1).toInt());
        c.identity.version.minor = static_cast<uint8_t>(match.captured(2).toInt());
        c.identity.version.patch = static_cast<uint8_t>(match.captured(3).toInt());
    }
    if (!isKnownFirmwareVersion(c.identity.variant, c.identity.version)) {
        std::string known;
        for (const auto& v : knownFirmwareVersions(c.identity.variant))
            known += (known.empty() ? "" : ", ") + std::to_string(v.first) + "." + std::to_string(v.second);
        return fail("version", c.identity.version.text() + " is not a firmware of variant " +
                                   variantName(c.identity.variant) + " (known: " + known + ")");
    }

    struct TextOption {
        const QCommandLineOption* option;
        std::string* target;
        std::size_t maxLength;
    };
    const TextOption texts[] = {{&serial, &c.identity.serialNumber, 20},
                                {&article, &c.identity.articleNumber, 20},
                                {&hwMain, &c.identity.mainboardVersion, 20},
                                {&hwFront, &c.identity.frontendVersion, 20},
                                {&hwIllu, &c.identity.illuminationVersion, 20},
                                {&illuArticle, &c.identity.illuminationArticleNumber, 20},
                                {&illuSerial, &c.identity.illuminationSerialNumber, 20}};
    for (const TextOption& t : texts)
        if (parser.isSet(*t.option)) {
            if (!parsePrintable(value(*t.option), t.maxLength, why))
                return fail(t.option->names().first(), "'" + value(*t.option) + "' " + why);
            *t.target = value(*t.option);
        }

    bool hasPort = false;
    if (parser.isSet(dest)) {
        uint16_t port = c.destPort;
        if (!parseEndpoint(value(dest), c.destAddress, port, hasPort, why))
            return fail("dest", why);
        c.destPort = port;
    }
    if (parser.isSet(source)) {
        uint16_t port = 0;
        if (!parseEndpoint(value(source), c.sourceAddress, port, hasPort, why))
            return fail("source", why);
        c.sourcePort = hasPort ? port : 0;
    }
    uint64_t n = 0;
    if (parser.isSet(cycle)) {
        if (!parseUnsigned(value(cycle), 10000, n) || n < 10)
            return fail("cycle-time", "'" + value(cycle) + "' is not a cycle time from 10 to 10000 ms");
        c.cycleTimeMs = static_cast<uint32_t>(n);
    }
    if (parser.isSet(seed)) {
        if (!parseUnsigned(value(seed), 0xFFFFFFFFu, n))
            return fail("seed", "'" + value(seed) + "' is not a number from 0 to 4294967295");
        c.seed = static_cast<uint32_t>(n);
    }
    if (parser.isSet(duration)) {
        bool ok = false;
        const double d = parser.value(duration).toDouble(&ok);
        if (!ok || !(d > 0 && d <= 366.0 * 24 * 3600))
            return fail("duration", "'" + value(duration) + "' is not a positive number of seconds");
        result.durationSeconds = d;
    }
    if (parser.isSet(canListen)) {
        if (!parseUnsigned(value(canListen), 65535, n) || n == 0)
            return fail("can-listen", "'" + value(canListen) + "' is not a port from 1 to 65535");
        result.canListenPort = static_cast<uint16_t>(n);
    }

    struct ShareOption {
        const QCommandLineOption* option;
        double* target;
    };
    FaultConfig& f = c.faults;
    const ShareOption shares[] = {{&drop, &f.dropShare},           {&reorder, &f.reorderShare},
                                  {&duplicate, &f.duplicateShare}, {&badLrc, &f.badLrcShare},
                                  {&badStart, &f.badStartShare},   {&badEnd, &f.badEndShare},
                                  {&truncate, &f.truncateShare}};
    for (const ShareOption& s : shares)
        if (parser.isSet(*s.option) && !parseShare(value(*s.option), *s.target, why))
            return fail(s.option->names().first(), why);
    f.noLrc = parser.isSet(noLrc);
    f.secondSender = parser.isSet(second);
    if (parser.isSet(pause)) {
        const auto match = QRegularExpression("^(\\d{1,9}):(\\d{1,9})$").match(parser.value(pause));
        if (!match.hasMatch() || match.captured(1).toUInt() == 0 || match.captured(2).toUInt() == 0)
            return fail("pause", "'" + value(pause) +
                                     "' is not N:MS (a cycle count and a duration in ms, both above 0)");
        f.pauseAfterCycles = match.captured(1).toUInt();
        f.pauseMs = match.captured(2).toUInt();
    }
    if (parser.isSet(stopAfter)) {
        if (!parseUnsigned(value(stopAfter), 0xFFFFFFFFu, n) || n == 0)
            return fail("stop-after", "'" + value(stopAfter) + "' is not a cycle count above 0");
        f.stopAfterCycles = static_cast<uint32_t>(n);
    }
    if (parser.isSet(verbose)) {
        if (!parseUnsigned(value(verbose), 3, n))
            return fail("verbosity", "'" + value(verbose) + "' is not a level from 0 to 3");
        c.verbosity = static_cast<int>(n);
    }
    if (parser.isSet(quiet)) {
        result.summary = false;
        if (!parser.isSet(verbose))
            c.verbosity = 1;
    }
    return result;
}

} // namespace trvsim
