// "trvaxx can-results": runs one function-result receiver on a CAN bus without connecting to a
// sensor (no identity or parameter reads): a decoder for a bus of sensors, one line per decoded
// cycle; with --json one record per cycle with every field of the result record, named as in the
// record in snake_case (zMin -> z_min), NaN as null, and the global information byte.
#include "tools/trvaxx/toolcommand.h"

#include "can-communication/canbuscontroller.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTimer>

#include <cmath>
#include <variant>

namespace {

using Function = CanBusController::ResultFunction;

const char* const kFunctionNames[] = {"OD", "BF", "LG"};

const OptionGroup& canResultsOptions() {
    static const OptionGroup group = {
        {QStringLiteral("--function"), QStringLiteral("F"),
         QStringLiteral("the result to decode: OD (objects), BF (basic functions) or LG (lines)"),
         [](const QString& v, ToolOptions& o, QString& error) {
             for (int i = 0; i < 3; ++i)
                 if (v == QLatin1String(kFunctionNames[i])) {
                     o.resultFunction = i;
                     return true;
                 }
             error = QStringLiteral("--function needs OD, BF or LG, not '%1'").arg(v);
             return false;
         }},
        {QStringLiteral("--generation"), QStringLiteral("G"),
         QStringLiteral("layout generation of the sensor's result frames: 1 (firmware below 3.2), 2 (3.2, "
                        "3.3) or 3 (3.4 and later)"),
         [](const QString& v, ToolOptions& o, QString& error) {
             bool ok = false;
             o.generation = v.toInt(&ok);
             if (ok && o.generation >= 1 && o.generation <= 3)
                 return true;
             error = QStringLiteral("--generation needs 1, 2 or 3, not '%1'").arg(v);
             return false;
         }},
        {QStringLiteral("--cycles"), QStringLiteral("N"),
         QStringLiteral("stop after N decoded cycles (default: run until interrupted)"),
         [](const QString& v, ToolOptions& o, QString& error) {
             bool ok = false;
             o.cycles = v.toInt(&ok);
             if (ok && o.cycles >= 1)
                 return true;
             error = QStringLiteral("--cycles needs a whole number, at least 1, not '%1'").arg(v);
             return false;
         }},
        ToolOptionGroups::live().front(), // --seconds
    };
    return group;
}

// Record fields by name; the JSON key is the name in snake_case.
template <class T> struct Named {
    const char* name;
    std::variant<int32_t T::*, float T::*, uint8_t T::*> member;
};

QString snakeCase(const char* name) {
    // A capital starts a word after a small letter, or when it begins a word after an acronym:
    // zMin -> z_min, vXQuality -> v_x_quality, crashObjectID -> crash_object_id.
    QString key;
    const auto upper = [](char c) { return c >= 'A' && c <= 'Z'; };
    for (const char* c = name; *c; ++c) {
        if (upper(*c)) {
            const bool afterSmall = c != name && !upper(c[-1]) && c[-1] != '_';
            const bool startsWord = c != name && upper(c[-1]) && c[1] >= 'a' && c[1] <= 'z';
            if (afterSmall || startsWord)
                key += QLatin1Char('_');
            key += QLatin1Char(char(*c - 'A' + 'a'));
        } else {
            key += QLatin1Char(*c);
        }
    }
    return key;
}

// A float's shortest decimal form (7.86, not 7.860000133514404).
QJsonValue number(float value) {
    if (!std::isfinite(value))
        return QJsonValue(QJsonValue::Null);
    return QString::number(double(value), 'g', 7).toDouble();
}
QJsonValue number(int32_t value) {
    return value;
}
QJsonValue number(uint8_t value) {
    return int(value);
}

template <class T, size_t N> QJsonObject toJson(const T& value, const Named<T> (&fields)[N]) {
    QJsonObject object;
    for (const Named<T>& f : fields)
        std::visit([&](auto member) { object.insert(snakeCase(f.name), number(value.*member)); }, f.member);
    return object;
}

template <class T, size_t N, class Item>
QJsonArray toJsonArray(const Item& items, const Named<T> (&fields)[N]) {
    QJsonArray array;
    for (const T& item : items)
        array.append(toJson(item, fields));
    return array;
}

using O = DetectedObject_TRVAXX;
const Named<O> kObjectFields[] = {
    {"id", &O::id},
    {"history", &O::history},
    {"measured", &O::measured},
    {"type", &O::type},
    {"age", &O::age},
    {"x1", &O::x1},
    {"y1", &O::y1},
    {"x2", &O::x2},
    {"y2", &O::y2},
    {"zMin", &O::zMin},
    {"zMax", &O::zMax},
    {"vX", &O::vX},
    {"vY", &O::vY},
    {"vZ", &O::vZ},
    {"aX", &O::aX},
    {"aY", &O::aY},
    {"aZ", &O::aZ},
    {"existenceProbability", &O::existenceProbability},
    {"vXQuality", &O::vXQuality},
    {"vYQuality", &O::vYQuality},
};
using OD = DetectedObjectData_TRVAXX;
const Named<OD> kCrashFields[] = {
    {"crashPredictorValid", &OD::crashPredictorValid},
    {"crashObjectID", &OD::crashObjectID},
    {"crashPredictTime", &OD::crashPredictTime},
    {"relImpactVelocity", &OD::relImpactVelocity},
    {"crashPredicted", &OD::crashPredicted},
    {"crashPredictorFlagsA", &OD::crashPredictorFlagsA},
    {"crashPredictorFlagsB", &OD::crashPredictorFlagsB},
};
const Named<OD> kVehicleFields[] = {
    {"egoVelocityValid", &OD::egoVelocityValid}, {"yawRateValid", &OD::yawRateValid},
    {"egoVelocity", &OD::egoVelocity},           {"egoVelocityCycleTime", &OD::egoVelocityCycleTime},
    {"drivingDirection", &OD::drivingDirection}, {"yawRate", &OD::yawRate},
    {"yawRateCycleTime", &OD::yawRateCycleTime},
};
using R = RoiGroupValues_TRVAXX;
const Named<R> kRoiFields[] = {{"x", &R::x}, {"y", &R::y}, {"z", &R::z}, {"amplitude", &R::amplitude}};
using L = DetectedLine_TRVAXX;
const Named<L> kLineFields[] = {
    {"id", &L::id},
    {"history", &L::history},
    {"measured", &L::measured},
    {"type", &L::type},
    {"alpha", &L::alpha},
    {"offset", &L::offset},
    {"curvature", &L::curvature},
    {"quality", &L::quality},
    {"foresight", &L::foresight},
    {"heap_area", &L::heap_area},
    {"heap_area_valid", &L::heap_area_valid},
    {"heap_width", &L::heap_width},
    {"heap_width_valid", &L::heap_width_valid},
    {"center_of_gravity_offset", &L::center_of_gravity_offset},
    {"center_of_gravity_offset_valid", &L::center_of_gravity_offset_valid},
    {"max_height_offset", &L::max_height_offset},
    {"max_height_offset_valid", &L::max_height_offset_valid},
    {"heap_height", &L::heap_height},
    {"heap_height_valid", &L::heap_height_valid},
    {"z_step_detection_height", &L::z_step_detection_height},
    {"z_step_detection_valid", &L::z_step_detection_valid},
};

QString decimal(float value, int precision = 2) {
    return std::isfinite(value) ? QString::number(double(value), 'f', precision) : QStringLiteral("-");
}

// One cycle's record as a JSON record and as a text line.
void describe(const DetectedObjectData_TRVAXX& r, QJsonObject& json, QString& text) {
    json.insert(QStringLiteral("count"), r.count);
    json.insert(QStringLiteral("objects"), toJsonArray(r.objects, kObjectFields));
    json.insert(QStringLiteral("crash_predictor"), toJson(r, kCrashFields));
    json.insert(QStringLiteral("vehicle"), toJson(r, kVehicleFields));
    QStringList objects;
    for (const DetectedObject_TRVAXX& o : r.objects)
        if (o.id != 0)
            objects << QStringLiteral("%1 (%2, %3)").arg(o.id).arg(decimal(o.x1), decimal(o.y1));
    text = QStringLiteral("objects %1: %2").arg(objects.size()).arg(objects.join(QStringLiteral(", ")));
    if (r.crashPredictorValid && r.crashPredicted >= 0)
        text += QStringLiteral("; crash %1 object %2 in %3 s")
                    .arg(r.crashPredicted)
                    .arg(r.crashObjectID)
                    .arg(decimal(r.crashPredictTime));
    if (r.egoVelocityValid)
        text +=
            QStringLiteral("; ego %1 m/s direction %2").arg(decimal(r.egoVelocity)).arg(r.drivingDirection);
    if (r.yawRateValid)
        text += QStringLiteral("; yaw rate %1 rad/s").arg(decimal(r.yawRate, 3));
}

void describe(const BasicFunctionsData_TRVAXX& r, QJsonObject& json, QString& text) {
    json.insert(QStringLiteral("count"), r.count);
    json.insert(QStringLiteral("roi_groups"), toJsonArray(r.roiGroups, kRoiFields));
    QStringList groups;
    for (int g = 0; g < std::clamp(r.count, 0, TRVAXX_ROI_GROUP_COUNT); ++g) {
        const RoiGroupValues_TRVAXX& v = r.roiGroups[size_t(g)];
        groups << QStringLiteral("%1 (%2, %3, %4, %5)")
                      .arg(g)
                      .arg(decimal(v.x), decimal(v.y), decimal(v.z), decimal(v.amplitude, 0));
    }
    text = QStringLiteral("roi groups %1: %2").arg(r.count).arg(groups.join(QStringLiteral(", ")));
}

void describe(const DetectedLineData_TRVAXX& r, QJsonObject& json, QString& text) {
    json.insert(QStringLiteral("count"), r.count);
    json.insert(QStringLiteral("lines"), toJsonArray(r.lines, kLineFields));
    json.insert(QStringLiteral("ref_point"),
                QJsonArray{number(r.ref_Point[0]), number(r.ref_Point[1]), number(r.ref_Point[2])});
    QStringList lines;
    for (const DetectedLine_TRVAXX& l : r.lines)
        if (l.id != 0)
            lines << QStringLiteral("%1 (offset %2 m, alpha %3, quality %4)")
                         .arg(l.id)
                         .arg(decimal(l.offset), decimal(l.alpha, 0), decimal(l.quality, 0));
    text = QStringLiteral("lines %1: %2").arg(lines.size()).arg(lines.join(QStringLiteral(", ")));
}

int run(const ToolOptions& o, ToolEnvironment& env) {
    CanBusController controller;
    controller.setInterfaceUrl(o.can.interface.toUtf8());
    controller.setTracePath(o.can.trace);
    auto address = SensorAdrMobileCanSP_t::create(QStringLiteral("can-results"), QByteArray("TRVAxx"));
    address->setCanBaudRate(int(o.can.baud));
    address->setCanDeviceId(o.can.node);
    address->setCanProtocol(o.can.canopen ? CAN_PROTOCOL_CANOPEN : CAN_PROTOCOL_J1939);
    if (const int code = controller.connectDevice(address, false)) {
        env.output.error(code, CanBusController::resultText(code));
        return 1;
    }
    controller.setReceiverGeneration(o.generation);

    QEventLoop loop;
    int cycles = 0;
    unsigned char global = 0; // arrives just before its cycle's record
    QObject::connect(&controller, &CanBusController::receivedGlobalInformationMessage,
                     [&global](unsigned char byte) { global = byte; });
    const QString function = QLatin1String(kFunctionNames[o.resultFunction]);
    auto print = [&](const auto& record) {
        if (o.cycles > 0 && cycles >= o.cycles)
            return; // records already queued when the loop was told to quit
        QJsonObject json{{QStringLiteral("function"), function},
                         {QStringLiteral("cycle"), ++cycles},
                         {QStringLiteral("global_information"), int(global)}};
        QString text;
        describe(*record, json, text);
        if (env.output.json())
            env.output.record(json);
        else
            env.output.text(QStringLiteral("cycle %1 %2 global 0x%3 ")
                                .arg(cycles)
                                .arg(function)
                                .arg(int(global), 2, 16, QLatin1Char('0')) +
                            text);
        if (o.cycles > 0 && cycles >= o.cycles)
            loop.quit();
    };
    QObject::connect(&controller, &CanBusController::receivedNewObjectResultData,
                     [&](DetectedObjectData_TRVAXX_t r) { print(r); });
    QObject::connect(&controller, &CanBusController::receivedNewBFResultData,
                     [&](BasicFunctionsData_TRVAXX_t r) { print(r); });
    QObject::connect(&controller, &CanBusController::receivedNewLineResultData,
                     [&](DetectedLineData_TRVAXX_t r) { print(r); });
    if (o.seconds > 0)
        QTimer::singleShot(o.seconds * 1000, &loop, &QEventLoop::quit);
    env.onInterrupt = [&loop] { loop.quit(); };
    controller.startReceivers({Function(o.resultFunction)});
    loop.exec();
    env.onInterrupt = nullptr;
    return 0;
}

} // namespace

ToolCommand canResultsCommand() {
    return {QStringLiteral("can-results"),
            {},
            QStringLiteral("decode the function results that a sensor sends on CAN"),
            QStringLiteral(
                "Runs one function-result receiver on a CAN bus without connecting to the sensor (no\n"
                "identity or parameter reads; with --canopen the receiver resets, configures and starts\n"
                "the node) and prints one line per decoded cycle. --json: one record per cycle with\n"
                "function, cycle, global_information and every field of the result record named as in\n"
                "the record in snake_case (objects with crash_predictor and vehicle; roi_groups; lines),\n"
                "null for NaN. --function and --generation are required.\n"
                "Exit status: 0 stopped (--cycles, --seconds or interrupted), 1 the CAN interface did\n"
                "not open (\"error CODE TEXT\"), 2 wrong command line."),
            {&ToolOptionGroups::can(), &canResultsOptions()},
            [](const ToolOptions& o, QString& error) {
                if (o.resultFunction < 0)
                    error = QStringLiteral("can-results needs --function OD, BF or LG");
                else if (o.generation == 0)
                    error = QStringLiteral("can-results needs --generation 1, 2 or 3");
                return error.isEmpty();
            },
            run};
}
