#include "tools/trvaxx/caninfo.h"

#include "can-communication/canbuscontroller.h"
#include "can-communication/diagpc.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QTextStream>

const char* const kCanInfoUsage =
    R"(Usage: trvaxx can-info [--can URL] [--node N] [--baud B] [--json] [--trace FILE] [--dtc] [--clear-dtc] [--verbose]
Connects to a sensor over CAN as a connection does (finds an interface that opens at the bit rate,
checks that the sensor answers) and prints its identity and state values.
  --can URL      interface: socketcand://HOST:PORT/BUS, qtcanbus://BACKEND/IFACE or a kernel name
                 such as can0 (default: TRVAXX_CAN_INTERFACE, the setting, socketcand://127.0.0.1:29536/can0)
  --node N       the sensor's diagnostic node address, 0..255 (default 239)
  --baud B       bit rate in bit/s: 125000, 250000, 500000, 800000 or 1000000 (default 250000)
  --json         one JSON object instead of text lines
  --trace FILE   write every CAN frame sent and received to FILE (pcap, SocketCAN link type)
  --dtc          also list the error memory with its texts
  --clear-dtc    clear the error memory (before listing it with --dtc)
  --verbose      print the CAN log lines on standard error
Failures end with exit status 1 and one line "error CODE TEXT" on standard error.
)";

namespace {

struct CanInfoOptions {
    QByteArray url;
    int node = 239;
    int baud = 250000;
    bool json = false;
    QString trace;
    bool dtc = false;
    bool clearDtc = false;
    bool verbose = false;
};

bool parse(const QStringList& arguments, CanInfoOptions& o, QString& error) {
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& name = arguments[i];
        auto value = [&](QString& out) {
            if (i + 1 >= arguments.size()) {
                error = QStringLiteral("%1 needs a value").arg(name);
                return false;
            }
            out = arguments[++i];
            return true;
        };
        auto number = [&](int& out, int low, int high) {
            QString text;
            if (!value(text))
                return false;
            bool ok = false;
            const int parsed = text.toInt(&ok);
            if (!ok || parsed < low || parsed > high) {
                error = QStringLiteral("%1: \"%2\" is not a number from %3 to %4")
                            .arg(name, text)
                            .arg(low)
                            .arg(high);
                return false;
            }
            out = parsed;
            return true;
        };
        QString text;
        if (name == QLatin1String("--can")) {
            if (!value(text))
                return false;
            o.url = text.toUtf8();
        } else if (name == QLatin1String("--node")) {
            if (!number(o.node, 0, 255))
                return false;
        } else if (name == QLatin1String("--baud")) {
            if (!number(o.baud, 1, 100000000))
                return false;
        } else if (name == QLatin1String("--trace")) {
            if (!value(o.trace))
                return false;
        } else if (name == QLatin1String("--json")) {
            o.json = true;
        } else if (name == QLatin1String("--dtc")) {
            o.dtc = true;
        } else if (name == QLatin1String("--clear-dtc")) {
            o.clearDtc = true;
        } else if (name == QLatin1String("--verbose")) {
            o.verbose = true;
        } else {
            error = QStringLiteral("unknown option %1").arg(name);
            return false;
        }
    }
    return true;
}

int fail(int code, const QString& text) {
    QTextStream(stderr) << "error " << code << ' ' << text << '\n';
    return 1;
}

} // namespace

int runCanInfo(const QStringList& arguments) {
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
        QTextStream(stdout) << kCanInfoUsage;
        return 0;
    }
    CanInfoOptions o;
    QString error;
    if (!parse(arguments, o, error)) {
        QTextStream(stderr) << "trvaxx: " << error << "\nRun \"trvaxx can-info --help\" for usage.\n";
        return 2;
    }
    if (!o.verbose)
        QLoggingCategory::setFilterRules(QStringLiteral("trvaxx.*.debug=false\ntrvaxx.*.info=false"));

    CanBusController controller;
    controller.setInterfaceUrl(o.url);
    controller.setTracePath(o.trace);
    auto address = SensorAdrMobileCanSP_t::create(QStringLiteral("can-info"), QByteArray("TRVAxx"));
    address->setCanBaudRate(o.baud);
    address->setCanDeviceId(o.node);
    if (const int code = controller.connectDevice(address, true))
        return fail(code, CanBusController::resultText(code));
    if (controller.readIdentity() != 0)
        return fail(DIAG_RX_ERROR_TP, QStringLiteral("identity read over CAN incomplete"));
    controller.readStateData();
    if (o.clearDtc) {
        if (const int code = controller.clearErrorMemory())
            return fail(code, QStringLiteral("clearing the error memory failed: ") + diagResultName(code));
    }
    QList<DtcEntry> entries;
    if (o.dtc) {
        if (const int code = controller.readErrorMemory(entries))
            return fail(code, QStringLiteral("reading the error memory failed: ") + diagResultName(code));
    }

    const SensorIdentity& identity = controller.identity();
    const SensorStateData& state = controller.stateData();
    const QList<QPair<QString, QString>> values = identity.labelledValues();
    const QList<QPair<QString, double>> stateValues = {
        {QStringLiteral("State0701"), state.first},  {QStringLiteral("State0702a"), state.second},
        {QStringLiteral("State0702b"), state.third}, {QStringLiteral("State0702c"), state.fourth},
        {QStringLiteral("State0703"), state.fifth},  {QStringLiteral("State0701Again"), state.last}};
    QTextStream out(stdout);
    if (o.json) {
        QJsonObject object;
        for (const auto& [label, value] : values)
            object.insert(label.trimmed().remove(QLatin1Char(':')), value);
        for (const auto& [label, value] : stateValues)
            object.insert(label, value);
        if (o.dtc) {
            QJsonArray list;
            for (const DtcEntry& e : entries)
                list.append(
                    QJsonObject{{QStringLiteral("code"), QString::asprintf("0x%.6X", e.code)},
                                {QStringLiteral("status"), e.status},
                                {QStringLiteral("statusText"), ErrorMemoryReader::statusText(e.status)},
                                {QStringLiteral("text"), e.text}});
            object.insert(QStringLiteral("dtc"), list);
        }
        out << QJsonDocument(object).toJson(QJsonDocument::Compact) << '\n';
        return 0;
    }
    for (const auto& [label, value] : values)
        out << label.trimmed().remove(QLatin1Char(':')) << ": " << value << '\n';
    for (const auto& [label, value] : stateValues)
        out << label << ": " << value << '\n';
    if (o.dtc) {
        out << "DTC: " << entries.size() << '\n';
        for (const DtcEntry& e : entries)
            out << QString::asprintf(" 0x%.6X / %u / 0x%.2X / ", e.code, e.code, e.status) << e.text << " / "
                << ErrorMemoryReader::statusText(e.status) << '\n';
    }
    return 0;
}
