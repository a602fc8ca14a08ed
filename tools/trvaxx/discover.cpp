// "trvaxx discover": the automatic search of the plug-in, headless. Lists each found sensor with
// its Ethernet and CAN settings and what the CAN check made of them, then the CAN buses that
// gateways announce.
#include "tools/trvaxx/toolcommand.h"

#include "common/sensoraddressmobilecan.h"
#include "scout/automaticscout_trvaxx.h"

#include <QEventLoop>
#include <QJsonObject>

namespace {

const OptionGroup& discoverOptions() {
    static const OptionGroup group = {
        {QStringLiteral("--seconds"), QStringLiteral("N"), QStringLiteral("listen N seconds (default 1)"),
         [](const QString& v, ToolOptions& o, QString& error) {
             bool ok = false;
             const int seconds = v.toInt(&ok);
             if (!ok || seconds < 1 || seconds > 3600) {
                 error = QStringLiteral("--seconds needs a whole number of seconds from 1 to 3600, not '%1'")
                             .arg(v);
                 return false;
             }
             o.seconds = seconds;
             return true;
         }},
        {QStringLiteral("--no-can-check"), QString(),
         QStringLiteral("keep the CAN settings the sensors report without checking them on the bus"),
         [](const QString&, ToolOptions& o, QString&) { return o.noCanCheck = true; }},
        {QStringLiteral("--ports"), QStringLiteral("A,B"),
         QStringLiteral("ports to listen on (default 42000,42001)"),
         [](const QString& v, ToolOptions& o, QString& error) {
             o.discoveryPorts.clear();
             for (const QString& part : v.split(QLatin1Char(','))) {
                 bool ok = false;
                 const uint port = part.trimmed().toUInt(&ok);
                 if (!ok || port < 1 || port > 65535 || o.discoveryPorts.size() >= 16) {
                     error =
                         QStringLiteral("--ports needs up to 16 ports from 1 to 65535, separated by commas, "
                                        "not '%1'")
                             .arg(v);
                     return false;
                 }
                 o.discoveryPorts.append(quint16(port));
             }
             return true;
         }},
    };
    return group;
}

QString checkText(AutomaticScout_TRVAxx::CanCheck check) {
    switch (check) {
    case AutomaticScout_TRVAxx::CanConfirmed:
        return QStringLiteral("confirmed");
    case AutomaticScout_TRVAxx::CanDropped:
        return QStringLiteral("dropped");
    case AutomaticScout_TRVAxx::CanUnchecked:
        return QStringLiteral("unchecked");
    case AutomaticScout_TRVAxx::CanNone:
        break;
    }
    return QStringLiteral("none");
}

QJsonObject sensorRecord(const SensorAddressMobileCan& a, AutomaticScout_TRVAxx::CanCheck check) {
    const QJsonValue null(QJsonValue::Null);
    const bool udp = a.hasUdpSettings(), can = a.hasCanSettings();
    return {
        {QStringLiteral("kind"), QStringLiteral("sensor")},
        {QStringLiteral("name"), a.getName()},
        {QStringLiteral("type_id"), QString::fromLatin1(a.getSensorTypeId())},
        {QStringLiteral("serial"), a.getSerialNumber().isEmpty() ? null : QJsonValue(a.getSerialNumber())},
        {QStringLiteral("ip"), udp ? QJsonValue(a.getIpAddress()) : null},
        {QStringLiteral("port"), udp ? QJsonValue(a.getUdpPort()) : null},
        {QStringLiteral("can_baud"), can ? QJsonValue(a.getCanBaudRate()) : null},
        {QStringLiteral("can_protocol"),
         can ? QJsonValue(a.getCanProtocol() == CAN_PROTOCOL_CANOPEN ? QStringLiteral("canopen")
                                                                     : QStringLiteral("j1939"))
             : null},
        {QStringLiteral("can_node"), can ? QJsonValue(a.getCanDeviceId()) : null},
        {QStringLiteral("can_check"), checkText(check)}};
}

int run(const ToolOptions& o, ToolEnvironment& env) {
    AutomaticScout_TRVAxx scout;
    scout.setPorts(o.discoveryPorts);
    scout.setSearchMilliseconds(1000 * (o.seconds > 0 ? o.seconds : 1));
    scout.setCanInterfaceUrl(o.can.interface.toUtf8());
    scout.setCanValidation(!o.noCanCheck);
    QEventLoop loop;
    bool interrupted = false;
    QObject::connect(&scout, &SensorScout::done, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    env.onInterrupt = [&] {
        interrupted = true;
        scout.stop();
        loop.quit();
    };
    scout.startSearch();
    loop.exec();
    env.onInterrupt = nullptr;
    if (interrupted) {
        env.output.error(1, QStringLiteral("search interrupted"));
        return 1;
    }

    const QList<SensorAdrSP_t> found = scout.getFoundSensors();
    const QList<AutomaticScout_TRVAxx::CanCheck> checks = scout.canChecks();
    for (int i = 0; i < found.size(); ++i) {
        const auto* a = dynamic_cast<const SensorAddressMobileCan*>(found[i].data());
        if (a == nullptr)
            continue;
        if (env.output.json())
            env.output.record(sensorRecord(*a, checks.value(i)));
        else
            env.output.text(QStringLiteral("%1  serial %2  %3  CAN check: %4")
                                .arg(a->getName(), a->getSerialNumber(), a->getPrintableAddress(),
                                     checkText(checks.value(i))));
    }
    for (const QString& bus : scout.getCanInterfaces()) {
        if (env.output.json())
            env.output.record(
                {{QStringLiteral("kind"), QStringLiteral("can_interface")}, {QStringLiteral("url"), bus}});
        else
            env.output.text(QStringLiteral("CAN interface: ") + bus);
    }
    if (found.isEmpty())
        env.output.message(QStringLiteral("no sensor found"));
    return 0;
}

} // namespace

ToolCommand discoverCommand() {
    return {QStringLiteral("discover"),
            {},
            QStringLiteral("search the local networks for sensors and check their CAN settings"),
            QStringLiteral(
                "Announces itself on every interface, listens for the sensors' identification (default\n"
                "one second on ports 42000 and 42001), then checks each sensor's CAN settings on the\n"
                "bus of --can at the bit rate the sensor reports; settings that do not lead to the same\n"
                "sensor are dropped. Lists one line per sensor and port (--json: kind \"sensor\" with\n"
                "name, type_id, serial, ip, port, can_baud, can_protocol, can_node, can_check:\n"
                "confirmed, dropped, unchecked or none), then the CAN buses that gateways announce\n"
                "(kind \"can_interface\", url). --node, --baud and --canopen are not used: each sensor's\n"
                "CAN settings come from its identification.\n"
                "Exit status: 0 the search ran (also when nothing was found), 1 interrupted, 2 wrong\n"
                "command line."),
            {&ToolOptionGroups::can(), &discoverOptions()},
            nullptr,
            run};
}
