// "trvaxx can-info": connects to a sensor over CAN the way a connection does (interface tests,
// verification read) and prints its identity and state, optionally its error memory.
#include "tools/trvaxx/toolcommand.h"

#include "can-communication/canbuscontroller.h"
#include "can-communication/diagpc.h"

#include <QJsonArray>
#include <QJsonObject>

#include <utility>
#include <vector>

namespace {

const OptionGroup& canInfoOptions() {
    static const OptionGroup group = {
        {QStringLiteral("--dtc"), QString(), QStringLiteral("also list the error memory with its texts"),
         [](const QString&, ToolOptions& o, QString&) { return o.dtc = true; }},
        {QStringLiteral("--clear-dtc"), QString(),
         QStringLiteral("clear the error memory (before listing it with --dtc)"),
         [](const QString&, ToolOptions& o, QString&) { return o.clearDtc = true; }},
    };
    return group;
}

QJsonValue textOrNull(const QString& text) {
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

QJsonValue numberOrNull(int number) {
    return number < 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(number);
}

// The identity and state as (key, value) pairs in reading order; the keys are the ones other
// commands use for the same values.
std::vector<std::pair<QString, QJsonValue>> valuesOf(const SensorIdentity& id, const SensorStateData& state) {
    static const char* const versionKeys[] = {"cpld_version", "dk_bootloader_version", "dk_version",
                                              "dsp_version",  "kp_bootloader_version", "kp_version"};
    std::vector<std::pair<QString, QJsonValue>> values;
    for (int i = 0; i < int(std::size(versionKeys)); ++i)
        values.emplace_back(QLatin1String(versionKeys[i]), textOrNull(id.versions.value(i)));
    values.emplace_back(QStringLiteral("software_version"), textOrNull(id.globalSoftwareVersion));
    values.emplace_back(QStringLiteral("variant"), textOrNull(id.variant));
    values.emplace_back(QStringLiteral("article_number"), textOrNull(id.articleNumber));
    values.emplace_back(QStringLiteral("serial"), textOrNull(id.serialNumber));
    values.emplace_back(QStringLiteral("mainboard_hardware_version"),
                        numberOrNull(id.mainboardVersionNumber));
    values.emplace_back(QStringLiteral("frontend_hardware_version"), numberOrNull(id.frontendVersionNumber));
    values.emplace_back(QStringLiteral("illumination_article_number"), textOrNull(id.illuArticleNumber));
    values.emplace_back(QStringLiteral("illumination_hardware_version"),
                        numberOrNull(id.illuHardwareVersionNumber));
    values.emplace_back(QStringLiteral("illumination_serial"), textOrNull(id.illuSerialNumber));
    values.emplace_back(QStringLiteral("main_temperature"), double(state.first));
    values.emplace_back(QStringLiteral("illumination_temperature"), double(state.second));
    values.emplace_back(QStringLiteral("supply_voltage"), double(state.third));
    values.emplace_back(QStringLiteral("frame_counter"), double(state.fourth));
    values.emplace_back(QStringLiteral("run_mode"), state.fifth);
    values.emplace_back(QStringLiteral("main_temperature_at_end"), double(state.last));
    return values;
}

int run(const ToolOptions& o, ToolEnvironment& env) {
    CanBusController controller;
    if (const int code =
            controller.connectDevice(o.can.prepare(controller, QStringLiteral("can-info")), true)) {
        env.output.error(code, CanBusController::resultText(code));
        return 1;
    }
    if (controller.readIdentity() != 0) {
        env.output.error(DIAG_RX_ERROR_TP, QStringLiteral("identity read over CAN incomplete"));
        return 1;
    }
    controller.readStateData();
    if (o.clearDtc) {
        if (const int code = controller.clearErrorMemory()) {
            env.output.error(code,
                             QStringLiteral("clearing the error memory failed: ") + diagResultName(code));
            return 1;
        }
    }
    QList<DtcEntry> entries;
    if (o.dtc) {
        if (const int code = controller.readErrorMemory(entries)) {
            env.output.error(code,
                             QStringLiteral("reading the error memory failed: ") + diagResultName(code));
            return 1;
        }
    }

    const auto values = valuesOf(controller.identity(), controller.stateData());
    if (env.output.json()) {
        QJsonObject object;
        for (const auto& [key, value] : values)
            object.insert(key, value);
        if (o.dtc) {
            QJsonArray list;
            for (const DtcEntry& e : entries)
                list.append(
                    QJsonObject{{QStringLiteral("code"), double(e.code)},
                                {QStringLiteral("status"), e.status},
                                {QStringLiteral("status_text"), ErrorMemoryReader::statusText(e.status)},
                                {QStringLiteral("text"), textOrNull(e.text)}});
            object.insert(QStringLiteral("dtc"), list);
        }
        env.output.record(object);
        return 0;
    }
    for (const auto& [key, value] : values)
        env.output.text(key + QStringLiteral(": ") +
                        (value.isNull()     ? QStringLiteral("-")
                         : value.isString() ? value.toString()
                                            : QString::number(value.toDouble())));
    if (o.dtc) {
        env.output.text(QStringLiteral("dtc: %1").arg(entries.size()));
        for (const DtcEntry& e : entries)
            env.output.text(QString::asprintf(" 0x%.6X / %u / 0x%.2X / ", e.code, e.code, e.status) + e.text +
                            QStringLiteral(" / ") + ErrorMemoryReader::statusText(e.status));
    }
    return 0;
}

} // namespace

ToolCommand canInfoCommand() {
    return {QStringLiteral("can-info"),
            {},
            QStringLiteral("connect over CAN and print the identity and state of a sensor"),
            QStringLiteral(
                "Connects to a sensor over CAN as a connection does (finds an interface that opens at the\n"
                "bit rate, checks that the sensor answers) and prints its identity and state values\n"
                "(--json: one record with serial, variant, software_version, article_number, the\n"
                "hardware versions, main_temperature, supply_voltage, run_mode, ...; null for a value\n"
                "that could not be read). The sensor is addressed with J1939 diagnostics.\n"
                "Exit status: 0 success, 1 the CAN operation failed (\"error CODE TEXT\" on standard\n"
                "error, CODE the CAN result code), 2 wrong command line."),
            {&ToolOptionGroups::can(), &canInfoOptions()},
            [](const ToolOptions& o, QString& error) {
                if (!o.can.canopen)
                    return true;
                error = QStringLiteral("can-info reads the sensor over J1939 diagnostics; --canopen is not "
                                       "supported");
                return false;
            },
            run};
}
