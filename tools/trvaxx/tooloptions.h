#pragma once

#include "common/sensoraddressmobilecan.h"
#include "udp-transport/udpsocket.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <utility>
#include <vector>

class CanBusController;

// The CAN side of a command: which interface, which node, which bit rate, which protocol, and an
// optional frame trace. Every CAN command takes this group (--can, --node, --baud, --canopen,
// --trace) and gets it parsed and resolved here.
struct CanOptions {
    enum class Source { Option, Environment, Setting, Default };
    static constexpr const char* DEFAULT_INTERFACE = "socketcand://127.0.0.1:29536/can0";
    static constexpr const char* ENVIRONMENT_VARIABLE = "TRVAXX_CAN_INTERFACE";
    static constexpr const char* SETTING = "plugin_trvaxx/can_interface";
    static constexpr int DEFAULT_J1939_NODE = 239;
    static constexpr int DEFAULT_CANOPEN_NODE = 10;

    // "socketcand://HOST:PORT/BUS", "qtcanbus://BACKEND/INTERFACE" or a kernel interface name.
    QString interface;
    Source source = Source::Default;
    int node = DEFAULT_J1939_NODE; // J1939 source address, or the CANopen node id with --canopen
    bool nodeGiven = false;
    quint32 baud = 250000; // bit/s
    bool canopen = false;  // CANopen instead of J1939
    QString trace;         // file that receives every frame sent and received; empty: none

    // Fills interface and source when --can was not given: TRVAXX_CAN_INTERFACE, then the setting,
    // then DEFAULT_INTERFACE. Returns false with a message when the chosen text is not a valid URL.
    bool resolve(QString& error);
    // True for the three accepted forms.
    static bool isValidInterface(const QString& url);
    // Points `controller` at the interface and the trace file, and returns the sensor address
    // (bit rate, node) under `name`, ready for connectDevice().
    SensorAdrMobileCanSP_t prepare(CanBusController& controller, const QString& name) const;
};

// Options of "trvaxx fcr" (flash containers and firmware images).
struct FlashOptions {
    QStringList articles;                         // --article, repeatable
    QByteArray mainboard, frontend, illumination; // --hw-mainboard, --hw-frontend, --hw-illumination
    QStringList blocks;                           // --block: NAME:ID:FILE (build) or NAME (image)
    QString version;                              // --version X.Y.Z (image)
    QString variant;                              // --variant DI|OD|LG (image)
    int size = 65536;                             // --size BYTES (image)
};

// What the command line asks the trvaxx tool to do.
struct ToolOptions {
    enum class Action { Help, Version, Run };

    Action action = Action::Help;
    QString command;   // the command to run
    QString helpTopic; // the command whose help was asked for; empty for the overview
    bool json = false;
    bool verbose = false;
    // Ethernet group.
    quint16 port = 42000;
    QString sender = QStringLiteral("0.0.0.0"); // --ip (alias --sender); every sender
    bool ipGiven = false;                       // --ip was given (connect: use Ethernet)
    // CAN group.
    CanOptions can;
    // Options of single commands.
    int seconds = 0;       // 0: until interrupted (monitor, record)
    QString file;          // record, replay: the first positional argument
    QStringList arguments; // every positional argument, in order
    int udpPort = -1;      // params: UDP port of the result stream to listen on; -1: none
    bool fast = false;
    double speed = 1.0;
    bool speedGiven = false;
    UdpSocket::WakeUp wakeUp = UdpSocket::WakeUp::AllInterfaces; // monitor, record
    bool dtc = false;                                            // can-info: list the error memory
    bool clearDtc = false;                                       // can-info: clear the error memory first
    int resultFunction = -1; // can-results: 0 OD, 1 BF, 2 LG (CanBusController::ResultFunction)
    int generation = 0;      // can-results: result layout generation 1..3
    int cycles = 0;          // can-results: 0 until interrupted
    bool noCanCheck = false;       // discover: keep found CAN settings unchecked
    QList<quint16> discoveryPorts; // discover: ports listened on (empty: default)
    FlashOptions flash;            // fcr
};

// One option of the command line: its name, an alias, the value it takes (empty for a flag) and
// what it does to the options. Commands list the groups and single options they accept.
struct OptionSpec {
    typedef std::function<bool(const QString& value, ToolOptions& options, QString& error)> Apply;
    OptionSpec(QString name, QString valueName, QString help, Apply apply, QString alias = QString())
        : name(std::move(name)), valueName(std::move(valueName)), help(std::move(help)),
          apply(std::move(apply)), alias(std::move(alias)) {}

    QString name;
    QString valueName; // empty: a flag
    QString help;
    Apply apply;
    QString alias;
};
typedef std::vector<OptionSpec> OptionGroup;

namespace ToolOptionGroups {
const OptionGroup& common();   // --json, --verbose
const OptionGroup& ethernet(); // --ip A (alias --sender), --port P
const OptionGroup& can();      // --can URL, --node N, --baud B, --canopen, --trace FILE
const OptionGroup& live();     // --seconds N, --wake-up W
const OptionGroup& replay();   // --fast, --speed X
} // namespace ToolOptionGroups

// Parses the options and arguments after the command name against `options`. `arguments` names
// the positional arguments the command takes ("FILE"), in order; names in brackets ("[VALUE]")
// are optional and come after the required ones. Returns false with a message
// naming the fault.
bool parseCommandLine(const QString& command, const QStringList& args,
                      const std::vector<const OptionGroup*>& groups, const QStringList& arguments,
                      ToolOptions& options, QString& error);

// A whole number in decimal or with 0x, within [min, max].
bool parseNumber(const QString& text, qint64 min, qint64 max, qint64& value);

// Help text of the options in `groups`, one line each.
QString optionHelp(const std::vector<const OptionGroup*>& groups);
