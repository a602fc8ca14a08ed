// "trvaxx params": brings a sensor's parameter device up over CAN the way a connection does
// (start-up, variant syncer, first fill) and exports, imports, reads, writes or lists its
// parameters. Writes go to the sensor with the whole parameter blocks; the sensor restarts.
#include "tools/trvaxx/toolcommand.h"

#include "can-communication/canbuscontroller.h"
#include "common/commonutilities.h"
#include "common/logentry.h"
#include "common/notificationmanager.h"
#include "parammodel/paramfile_trvaxx.h"
#include "parammodel/paramsyncer.h"
#include "parammodel/pcdevice_trvaxx.h"
#include "parammodel/sensorstartup_trvaxx.h"
#include "plugin/notificationids_trvaxx.h"
#include "result/resultchain_trvaxx.h"
#include "result/resultloader_trvaxx.h"

#include <QElapsedTimer>
#include <QJsonObject>

// The parameter descriptions the CAN parameter transfer reads (":/paramdescription/"). Calling
// the registration keeps the linker from dropping the resource objects of the static library.
static void registerParameterDescriptions() {
    Q_INIT_RESOURCE(trvaxx_resources);
}

namespace {

const QStringList ACTIONS{QStringLiteral("export"), QStringLiteral("import"), QStringLiteral("get"),
                          QStringLiteral("set"), QStringLiteral("list")};
// Positional arguments after the action, per action.
int argumentsOf(const QString& action) {
    return action == QLatin1String("list") ? 0 : action == QLatin1String("set") ? 2 : 1;
}

constexpr int EXIT_FAILED = 1;
constexpr int EXIT_DAMAGED = 3;
constexpr int FIRST_RESULT_WAIT_MS = 1000;

const OptionGroup& paramsOptions() {
    static const OptionGroup group = {
        {QStringLiteral("--udp-port"), QStringLiteral("P"),
         QStringLiteral("also receive the sensor's result stream on UDP port P: parameters CAN does not "
                        "deliver come from it"),
         [](const QString& v, ToolOptions& o, QString& error) {
             bool ok = false;
             const int port = v.toInt(&ok);
             if (!ok || port < 1 || port > 65535) {
                 error = QStringLiteral("--udp-port needs a port number from 1 to 65535, not '%1'").arg(v);
                 return false;
             }
             o.udpPort = port;
             return true;
         }},
    };
    return group;
}

QString resultText(int code) {
    switch (code) {
    case PCDevice_TRVAXX::EXPORT_OPEN_FAILED:
        return QStringLiteral("cannot write the parameter file");
    case PCDevice_TRVAXX::IMPORT_OPEN_FAILED:
        return QStringLiteral("cannot read the parameter file");
    case PCDevice_TRVAXX::IMPORT_MALFORMED:
        return QStringLiteral("the parameter file is not a readable sensor_param document");
    case NOTI_UNSUPPORTED_FIRMWARE:
        return QStringLiteral("Unsupported Firmware: this firmware variant or version is not supported");
    case NOTI_FIRMWARE_TOO_OLD:
        return QStringLiteral("Unsupported Firmware: the firmware is too old");
    case NOTI_UNKNOWN_CAN_ERROR:
        return QStringLiteral("Unknown CAN Error: CAN communication failed");
    default:
        return CanBusController::resultText(code);
    }
}

QString storeFailure(PCDevice_TRVAXX::StoreResult result, const QString& name) {
    switch (result) {
    case PCDevice_TRVAXX::StoreResult::ReadOnly:
        return QStringLiteral("%1 is read-only").arg(name);
    case PCDevice_TRVAXX::StoreResult::Unsupported:
        return QStringLiteral("this sensor's firmware has no %1").arg(name);
    case PCDevice_TRVAXX::StoreResult::Refused:
        return QStringLiteral("the sensor's parameter block does not take this value for %1").arg(name);
    default:
        return QStringLiteral("the value does not fit %1 (its type or range)").arg(name);
    }
}

void printParameter(const PCDevice_TRVAXX& device, int id, OutputSink& output) {
    const ParamFile_TRVAXX::Entry entry =
        ParamFile_TRVAXX::entryFor(device.getParameterName(id), device.getParameter(id));
    if (output.json())
        output.record(QJsonObject{{QStringLiteral("name"), entry.name},
                                  {QStringLiteral("id"), id},
                                  {QStringLiteral("type"), entry.type},
                                  {QStringLiteral("value"), entry.value},
                                  {QStringLiteral("read_only"), PCDevice_TRVAXX::isReadOnly(id)}});
    else
        output.text(entry.name + QStringLiteral(": ") + entry.value);
}

int runAction(const ToolOptions& o, PCDevice_TRVAXX& device, OutputSink& output) {
    const QString action = o.arguments.value(0);
    const QString argument = o.arguments.value(1);
    int result = 0;
    if (action == QLatin1String("export")) {
        result = device.exportAll(argument);
    } else if (action == QLatin1String("import")) {
        result = device.importAll(argument);
    } else if (action == QLatin1String("list")) {
        for (int id : device.getParameterIds())
            printParameter(device, id, output);
    } else {
        const int id = device.getParameterId(argument);
        if (id < 0 || (action == QLatin1String("get") && !device.hasParameter(id))) {
            output.error(EXIT_FAILED,
                         QStringLiteral("unknown parameter %1 (see \"trvaxx params list\")").arg(argument));
            return EXIT_FAILED;
        }
        if (action == QLatin1String("set")) {
            const QString type = ParamFile_TRVAXX::entryFor(argument, device.getParameter(id)).type;
            const PCDevice_TRVAXX::StoreResult stored = device.storeText(id, type, o.arguments.value(2));
            if (stored != PCDevice_TRVAXX::StoreResult::Stored) {
                output.error(EXIT_FAILED, storeFailure(stored, argument));
                return EXIT_FAILED;
            }
            result = device.writeToDevice(true);
        }
        if (result == 0)
            printParameter(device, id, output);
    }
    if (result != 0) {
        output.error(result, resultText(result));
        return result == PCDevice_TRVAXX::IMPORT_MALFORMED ? EXIT_DAMAGED : EXIT_FAILED;
    }
    if (action == QLatin1String("export") || action == QLatin1String("import"))
        output.message(
            QStringLiteral("%1ed %2 parameters %3 %4")
                .arg(action)
                .arg(device.parameterCount())
                .arg(action == QLatin1String("export") ? QStringLiteral("to") : QStringLiteral("from"),
                     argument));
    return 0;
}

int run(const ToolOptions& o, ToolEnvironment& env) {
    registerParameterDescriptions();
    if (o.verbose)
        LogBook::instance().setEchoLevel(LOG_DEBUG);
    // The wait note and the success message of a parameter write, while this command runs.
    QObject listener;
    QObject::connect(&NotificationManager::instance(), &NotificationManager::notificationAdded, &listener,
                     [&env](Notification* note) {
                         env.output.message(note->getTitle() + QStringLiteral(": ") + note->getText());
                     });

    ResultChain_TRVAXX chain;
    if (o.udpPort > 0) {
        if (chain.loader().start(quint16(o.udpPort), QStringLiteral("0.0.0.0")) != 0) {
            env.output.error(NOTI_RESULTLOADER_ERROR,
                             QStringLiteral("cannot receive on UDP port %1").arg(o.udpPort));
            return EXIT_FAILED;
        }
    }

    CanBusController can;
    PCDevice_TRVAXX device;
    int result =
        SensorStartup_TRVAXX::openCan(can, o.can.prepare(can, QStringLiteral("params")), true, device);
    if (result == 0 && o.udpPort > 0) {
        // Like a connection: up to a second for the first result of the stream.
        QElapsedTimer waited;
        waited.start();
        while (!chain.cache().isDataAvailable() && waited.elapsed() < FIRST_RESULT_WAIT_MS)
            CommonUtilities::sleepQtFriendly(50);
        if (!chain.cache().isDataAvailable())
            env.output.message(
                QStringLiteral("no result arrived on UDP port %1; CAN values only").arg(o.udpPort));
    }
    if (result == 0)
        result = SensorStartup_TRVAXX::installSyncer(device, device.getVariantIndex(), &can, chain.cache());
    if (result != 0) {
        env.output.error(result, resultText(result));
        return EXIT_FAILED;
    }
    // Run mode, temperatures and voltages as the connection's first status refresh reads them.
    device.getSyncer()->refreshStatus();
    const int status = runAction(o, device, env.output);
    if (o.udpPort > 0)
        chain.loader().stop();
    return status;
}

} // namespace

ToolCommand paramsCommand() {
    return {QStringLiteral("params"),
            {QStringLiteral("ACTION"), QStringLiteral("[NAME|FILE]"), QStringLiteral("[VALUE]")},
            QStringLiteral("export, import, get, set or list a sensor's parameters over CAN"),
            QStringLiteral(
                "Brings the sensor's parameters up over CAN as a connection does (identity, firmware\n"
                "variant, both parameter blocks) and then does one ACTION:\n"
                "  export FILE      write every parameter to a sensor_param file (*.trvaxxcfg)\n"
                "  import FILE      read a sensor_param file, store its writable values and write them\n"
                "                   to the sensor (the whole file is checked first; a damaged one\n"
                "                   changes nothing)\n"
                "  get NAME         print one parameter (names as in the file, e.g. STATIC_UDP_PORT)\n"
                "  set NAME VALUE   change one parameter and write it to the sensor (angles in degrees)\n"
                "  list             print every parameter (--json: one record per parameter)\n"
                "Writing takes about 15 s while the sensor restarts; its notes are printed on standard\n"
                "error. With --verbose the import's log (skipped parameters and why) is printed too.\n"
                "Exit status: 0 success, 1 failed (\"error CODE TEXT\" on standard error, CODE the\n"
                "notification id or result code: 130002 unsupported firmware, 130018 firmware too old,\n"
                "130007 CAN communication failed, 10000/10001 file not writable/readable), 2 wrong\n"
                "command line, 3 damaged parameter file (10002)."),
            {&ToolOptionGroups::can(), &paramsOptions()},
            [](const ToolOptions& o, QString& error) {
                const QString action = o.arguments.value(0);
                if (!ACTIONS.contains(action)) {
                    error =
                        QStringLiteral("params needs an ACTION: export, import, get, set or list, not '%1'")
                            .arg(action);
                    return false;
                }
                if (o.arguments.size() != 1 + argumentsOf(action)) {
                    error =
                        QStringLiteral("params %1 takes %2 argument(s)").arg(action).arg(argumentsOf(action));
                    return false;
                }
                if (o.can.canopen) {
                    error = QStringLiteral("params reads the sensor over J1939 diagnostics; --canopen is not "
                                           "supported");
                    return false;
                }
                return true;
            },
            run};
}
