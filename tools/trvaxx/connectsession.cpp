// "trvaxx connect": the host's sensor connection without a window.
#include "tools/trvaxx/connectsession.h"

#include "tools/trvaxx/toolcommand.h"

#include "common/notification.h"
#include "common/notificationmanager.h"
#include "common/notireg.h"
#include "parammodel/pcdevice_trvaxx.h"
#include "plugin/sensor_trvaxx.h"
#include "result/resultloader_trvaxx.h"

#include <QJsonArray>
#include <QJsonObject>

#include <cmath>

namespace {

QJsonValue textOrNull(const QString& text) {
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

QJsonValue variantJson(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
        return std::isfinite(value.toDouble()) ? QJsonValue(value.toDouble()) : QJsonValue(QJsonValue::Null);
    case QMetaType::QByteArray: { // bytes as numbers, never as control characters in a text
        QJsonArray bytes;
        for (char byte : value.toByteArray())
            bytes.append(int(static_cast<signed char>(byte)));
        return bytes;
    }
    case QMetaType::QVariantList: {
        QJsonArray items;
        for (const QVariant& item : value.toList())
            items.append(variantJson(item));
        return items;
    }
    default:
        return value.isValid() ? QJsonValue(value.toString()) : QJsonValue(QJsonValue::Null);
    }
}

// Figures of the newest function results that arrived on CAN; null before the first of a kind.
QJsonObject canFigures(const ResultCache_TRVAXX& cache) {
    QJsonObject o;
    const DetectedObjectData_TRVAXX_t objects = cache.getCANDetectedObjectData();
    int objectCount = 0;
    if (objects)
        for (const DetectedObject_TRVAXX& object : objects->objects)
            objectCount += object.id >= 0 && object.measured != 0;
    o.insert(QStringLiteral("can_objects"), objects ? QJsonValue(objectCount) : QJsonValue(QJsonValue::Null));
    const DetectedLineData_TRVAXX_t lines = cache.getCANDetectedLineGuidanceData();
    int lineCount = 0;
    if (lines)
        for (const DetectedLine_TRVAXX& line : lines->lines)
            lineCount += line.measured != 0;
    o.insert(QStringLiteral("can_lines"), lines ? QJsonValue(lineCount) : QJsonValue(QJsonValue::Null));
    const BasicFunctionsData_TRVAXX_t basic = cache.getCANBasicFunctionsData();
    int groups = 0;
    if (basic)
        for (const RoiGroupValues_TRVAXX& group : basic->roiGroups)
            groups += std::isfinite(group.x);
    o.insert(QStringLiteral("can_roi_groups"), basic ? QJsonValue(groups) : QJsonValue(QJsonValue::Null));
    return o;
}

} // namespace

ConnectSession::ConnectSession(const ToolOptions& options, OutputSink& output, QObject* parent)
    : QObject(parent), m_options(options), m_output(output) {
    m_tick.setInterval(1000);
    connect(&m_tick, &QTimer::timeout, this, &ConnectSession::onTick);
    connect(&NotificationManager::instance(), &NotificationManager::notificationAdded, this,
            &ConnectSession::onNotification);
}

ConnectSession::~ConnectSession() = default;

bool ConnectSession::start() {
    registerNotifications_TRVAXX();
    auto address = SensorAdrMobileCanSP_t::create(QStringLiteral("trvaxx connect"), QByteArray("TRVAxx"));
    if (m_options.ipGiven) {
        address->setIpAddress(m_options.sender);
        address->setUdpPort(m_options.port);
    }
    if (m_options.can.source == CanOptions::Source::Option || m_options.can.nodeGiven) {
        address->setCanBaudRate(int(m_options.can.baud));
        address->setCanDeviceId(m_options.can.node);
        address->setCanProtocol(m_options.can.canopen ? CAN_PROTOCOL_CANOPEN : CAN_PROTOCOL_J1939);
    }
    m_sensor = std::make_unique<Sensor_TRVAXX>(address);
    m_sensor->setCanInterfaceUrl(m_options.can.interface.toUtf8());
    // The start-up checks' question (switch debug data off?) is answered yes, as a user would.
    OutputSink& output = m_output;
    m_sensor->setQuestionHandler(
        [&output](const QString& title, const QString& text, std::function<void()> yes) {
            output.message(QStringLiteral("%1: %2 (answered yes)").arg(title, text));
            yes();
        });
    connect(m_sensor.get(), SIGNAL(connectionWasAborted(ErrorCode)), this, SLOT(onAborted(ErrorCode)));
    if (const int code = m_sensor->connectToSensor()) {
        fail(code);
        return false;
    }
    connect(m_sensor->getResultCache(), SIGNAL(receivedNewResultData()), this, SLOT(onNewResult()));
    printConnection();
    m_sensor->checkDebugData();
    m_sensor->checkAutoCalibration();
    m_sensor->checkRunningMode();
    m_interval.start();
    m_tick.start();
    return true;
}

void ConnectSession::printConnection() {
    const QStringList can = m_sensor->getCanDeviceIdentification();
    const ResultDataSP_TRVAXX latest = m_sensor->getResultCache()->getResult();
    const QString software = latest ? latest->softwareVersion : can.value(0);
    const QString variant = (latest ? latest->cameraVariant : can.value(1)).trimmed();
    const QString article = latest ? latest->partNumber : can.value(2);
    const ParamCache* parameters = m_sensor->getPCDevice();
    QJsonObject values;
    for (int id : parameters->getParameterIds())
        values.insert(parameters->getParameterName(id), variantJson(parameters->getParameter(id)));
    if (m_output.json()) {
        m_output.record(QJsonObject{{QStringLiteral("kind"), QStringLiteral("connection")},
                                    {QStringLiteral("serial"), textOrNull(m_sensor->getSerialNumber())},
                                    {QStringLiteral("software_version"), textOrNull(software)},
                                    {QStringLiteral("variant"), textOrNull(variant)},
                                    {QStringLiteral("article_number"), textOrNull(article)},
                                    {QStringLiteral("variant_code"), m_sensor->getVariantCode()},
                                    {QStringLiteral("can"), m_sensor->isCanConnected()},
                                    {QStringLiteral("parameters"), values}});
        return;
    }
    m_output.text(QStringLiteral("serial: %1").arg(m_sensor->getSerialNumber()));
    m_output.text(QStringLiteral("software_version: %1").arg(software));
    m_output.text(QStringLiteral("variant: %1").arg(variant));
    m_output.text(QStringLiteral("article_number: %1").arg(article));
    m_output.text(QStringLiteral("variant_code: %1").arg(m_sensor->getVariantCode()));
    m_output.text(QStringLiteral("can: %1").arg(m_sensor->isCanConnected() ? "yes" : "no"));
    for (int id : parameters->getParameterIds())
        m_output.text(QStringLiteral("  %1 = %2")
                          .arg(parameters->getParameterName(id), parameters->getParameter(id).toString()));
}

void ConnectSession::onNewResult() {
    m_summary.addCycle();
}

void ConnectSession::onTick() {
    if (m_summary.cyclesInInterval() > 0)
        m_summary.setLatest(m_sensor->getResultCache()->getResult());
    SummaryLine line = m_summary.takeLine(double(m_interval.restart()) / 1000.0);
    const QJsonObject can = canFigures(*m_sensor->getResultCache());
    if (m_output.json()) {
        QJsonObject o = line.toJson();
        o.insert(QStringLiteral("kind"), QStringLiteral("live"));
        for (auto it = can.begin(); it != can.end(); ++it)
            o.insert(it.key(), it.value());
        m_output.record(o);
        return;
    }
    QString text = line.toText();
    for (auto it = can.begin(); it != can.end(); ++it)
        text += QStringLiteral("  %1 %2").arg(it.key(), it->isNull() ? QStringLiteral("-")
                                                                     : QString::number(it->toInt()));
    m_output.text(text);
}

void ConnectSession::onAborted(ErrorCode error) {
    fail(error);
    stop();
}

void ConnectSession::onNotification(Notification* notification) {
    if (notification && notification->getId() == 0)
        m_output.message(QStringLiteral("%1: %2").arg(notification->getTitle(), notification->getText()));
}

void ConnectSession::fail(int code) {
    const auto entry = NotiReg::lookup(code);
    m_output.error(code, entry ? entry->title.translated() + QStringLiteral(": ") + entry->text.translated()
                               : QStringLiteral("connection failed"));
    m_exitCode = 1;
}

void ConnectSession::stop() {
    if (m_finished)
        return;
    m_finished = true;
    m_tick.stop();
    if (m_sensor)
        m_sensor->closeConnection();
    emit finished();
}

ToolCommand connectCommand() {
    return {QStringLiteral("connect"),
            {},
            QStringLiteral("connect to a sensor as the host does and print its identity, parameters and live "
                           "figures"),
            QStringLiteral(
                "Runs the host's connect sequence headless: over Ethernet when --ip is given, over CAN\n"
                "when --can or --node is given, over both when both are. Prints the sensor's identity,\n"
                "its firmware variant code (0-7) and its parameters (--json: one record of kind\n"
                "\"connection\" with serial, software_version, variant, article_number, variant_code,\n"
                "can, parameters), runs the start-up checks (their questions are answered yes and\n"
                "printed), then one line of live figures per second until interrupted (--json: kind\n"
                "\"live\", the fields of \"monitor\" plus can_objects, can_lines, can_roi_groups).\n"
                "Exit status: 0 interrupted, 1 the connection failed or was lost (\"error CODE TEXT\",\n"
                "CODE the notification id: 130015 no Ethernet data, 130006 no sensor on CAN, 130009\n"
                "connection lost, ...), 2 wrong command line."),
            {&ToolOptionGroups::ethernet(), &ToolOptionGroups::can()},
            [](const ToolOptions& o, QString& error) {
                if (o.ipGiven || o.can.source == CanOptions::Source::Option || o.can.nodeGiven)
                    return true;
                error = QStringLiteral("connect needs --ip A (Ethernet), --can URL (CAN) or both");
                return false;
            },
            runSession<ConnectSession>};
}
