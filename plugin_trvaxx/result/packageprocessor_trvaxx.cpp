#include "packageprocessor_trvaxx.h"

#include "firmwareclassification_trvaxx.h"
#include "resultcache_trvaxx.h"

#include <kvel_interpret.h>
#include <logentry.h>

#include <QByteArray>
#include <QDebug>
#include <QVariantList>

#include <cmath>
#include <cstring>
#include <exception>
#include <string>

namespace {

const std::string M = "Meas_Customer_Data_Type.";
const std::string K = "Meas_Customer_Data_Type.KpCustomerParameter.";
const std::string D = "SDspFrameCustomerKvel_t.DspCustomerParameter.";
const std::string A = "AlgoIFOutput.distanceImageResult.";

bool hasChannel(const std::vector<KvelChunk>& chunks, int channel) {
    for (const KvelChunk& chunk : chunks) {
        if (chunk.channel == channel)
            return true;
    }
    return false;
}

// The channel a path is read from, by its prefix.
int channelOf(const std::string& path) {
    if (path.compare(0, M.size(), M) == 0)
        return PackageProcessor_TRVAXX::CHANNEL_IDENTIFICATION;
    if (path.compare(0, D.size(), D) == 0)
        return PackageProcessor_TRVAXX::CHANNEL_DSP_PARAMETERS;
    return PackageProcessor_TRVAXX::CHANNEL_ALGO_OUTPUT;
}

// Element type of an info-map row; decides the read and the variant type of the value.
enum class ValueType { U8, U16, U32, F32, Ipv4, F32x8, U8x8 };

struct InfoRow {
    int key;
    std::string path;
    ValueType type;
};

// Reads one info row into the record's map. The value types follow the Qt value bridge of the
// parameter model (small integers as int, u32 as uint, f32 as float, byte arrays as QByteArray),
// so a parameter reads the same whether it came over CAN or Ethernet.
void readInfo(const InfoRow& row, const std::vector<KvelChunk>& chunks, ResultData_TRVAXX& result) {
    const int channel = channelOf(row.path);
    switch (row.type) {
    case ValueType::U8: {
        uint8_t v = 0;
        kvel::read(row.path, v, chunks, channel);
        result.info.insert(row.key, int(v));
        break;
    }
    case ValueType::U16: {
        uint16_t v = 0;
        kvel::read(row.path, v, chunks, channel);
        result.info.insert(row.key, int(v));
        break;
    }
    case ValueType::U32: {
        uint32_t v = 0;
        kvel::read(row.path, v, chunks, channel);
        result.info.insert(row.key, uint(v));
        break;
    }
    case ValueType::F32: {
        float v = 0;
        kvel::read(row.path, v, chunks, channel);
        result.info.insert(row.key, v);
        break;
    }
    case ValueType::Ipv4: {
        uint8_t v[4] = {};
        kvel::read(row.path, v, 4, chunks, channel);
        result.info.insert(row.key, QStringLiteral("%1.%2.%3.%4").arg(v[0]).arg(v[1]).arg(v[2]).arg(v[3]));
        break;
    }
    case ValueType::F32x8: {
        float v[8] = {};
        kvel::read(row.path, v, 8, chunks, channel);
        QVariantList list;
        list.reserve(8);
        for (float f : v)
            list.append(f);
        result.info.insert(row.key, list);
        break;
    }
    case ValueType::U8x8: {
        QByteArray bytes(8, '\0');
        kvel::read(row.path, reinterpret_cast<uint8_t*>(bytes.data()), 8, chunks, channel);
        result.info.insert(row.key, bytes);
        break;
    }
    }
}

// Reads the rows in order, skipping rows whose channel is not in the cycle. The first error ends
// the list (the caller's step reports it).
void readInfoRows(const std::vector<InfoRow>& rows, const std::vector<KvelChunk>& chunks,
                  ResultData_TRVAXX& result) {
    const bool has256 = hasChannel(chunks, PackageProcessor_TRVAXX::CHANNEL_IDENTIFICATION);
    const bool has14 = hasChannel(chunks, PackageProcessor_TRVAXX::CHANNEL_DSP_PARAMETERS);
    const bool has8 = hasChannel(chunks, PackageProcessor_TRVAXX::CHANNEL_ALGO_OUTPUT);
    for (const InfoRow& row : rows) {
        const int channel = channelOf(row.path);
        const bool present = channel == PackageProcessor_TRVAXX::CHANNEL_IDENTIFICATION   ? has256
                             : channel == PackageProcessor_TRVAXX::CHANNEL_DSP_PARAMETERS ? has14
                                                                                          : has8;
        if (present)
            readInfo(row, chunks, result);
    }
}

// Rows of the variant steps, built per function prefix (DistImageCust, ObjectListCust,
// LineGuidanceCust) where the key table has "<function>_".
std::vector<InfoRow> canRows(bool withMaxLines) {
    std::vector<InfoRow> rows = {
        {19, K + "J1939SourceAddress", ValueType::U8},
        {16, K + "CANProtocol", ValueType::U8},
        {20, K + "CANopenNodeAddress", ValueType::U8},
    };
    if (withMaxLines)
        rows.push_back({22, K + "CANMaxNumberOfLines", ValueType::U8});
    return rows;
}

InfoRow fn(int key, const std::string& function, const char* name, ValueType type) {
    return {key, D + function + "_" + name, type};
}

void appendFilterRows(std::vector<InfoRow>& rows, const std::string& function) {
    rows.push_back(fn(34, function, "pixelPlausibilizationThresholds", ValueType::U8));
    rows.push_back(fn(35, function, "sprayRemovalSensitivity", ValueType::U8));
    rows.push_back(fn(36, function, "blockageSensitivity", ValueType::U8));
}

void appendSpatialRows(std::vector<InfoRow>& rows, const std::string& function) {
    rows.push_back(fn(39, function, "reflectorThresholdValue", ValueType::F32));
    const char* names[] = {"spatialFilterXMin", "spatialFilterXMax", "spatialFilterYMin",
                           "spatialFilterYMax", "spatialFilterZMin", "spatialFilterZMax"};
    for (int i = 0; i < 6; ++i)
        rows.push_back(fn(40 + i, function, names[i], ValueType::F32));
}

void appendLineGuidanceRows(std::vector<InfoRow>& rows) {
    const std::string lg = "LineGuidanceCust";
    rows.push_back(fn(93, lg, "lineGuidanceMode", ValueType::U8));
    rows.push_back(fn(94, lg, "maxLineAngle", ValueType::F32));
    rows.push_back(fn(95, lg, "xMin", ValueType::F32));
    rows.push_back(fn(96, lg, "xMax", ValueType::F32));
    rows.push_back(fn(97, lg, "yMin", ValueType::F32));
    rows.push_back(fn(98, lg, "yMax", ValueType::F32));
    rows.push_back(fn(99, lg, "minHeight", ValueType::F32));
    rows.push_back(fn(100, lg, "minWidth", ValueType::F32));
    rows.push_back(fn(101, lg, "maxWidth", ValueType::F32));
    rows.push_back(fn(102, lg, "skipStreetPlaneEstimation", ValueType::U8));
}

const InfoRow distanceImageOnSwitch = {47, D + "DistanceImageOnSwitch", ValueType::U8};
const InfoRow illuCalibIsRelative = {33, D + "PMDExtrCalib_IlluCalibIsRelative", ValueType::U8};
const InfoRow triggeredStreetCalibration = {92, D + "triggeredStreetCalibration", ValueType::U8};
const InfoRow mirrorX = {141, D + "twoD_mirrorX", ValueType::U8};
const InfoRow mirrorY = {142, D + "twoD_mirrorY", ValueType::U8};

const std::vector<InfoRow>& commonRows() {
    static const std::vector<InfoRow> rows = [] {
        std::vector<InfoRow> r = {
            {6, M + "OpMode", ValueType::U8},
            {7, M + "CameraMainTemperature", ValueType::F32},
            {8, M + "IlluTemperature", ValueType::F32},
            {11, D + "Ipv4AddressCamera", ValueType::Ipv4},
            {12, D + "SubnetMask", ValueType::Ipv4},
            {13, D + "Ipv4AddressDestination", ValueType::Ipv4},
            {14, D + "destinationUDPPort", ValueType::U16},
            {15, D + "EthernetOutputConfiguration", ValueType::U8},
            {17, M + "CANBaudrate", ValueType::U32},
        };
        const char* cam[] = {"transX", "transY", "transZ", "rotX", "rotY", "rotZ"};
        for (int i = 0; i < 6; ++i)
            r.push_back({24 + i, D + "PMDExtrCalib_camCal_" + cam[i], ValueType::F32});
        for (int i = 0; i < 3; ++i)
            r.push_back({30 + i, D + "PMDExtrCalib_IlluCal_" + cam[i], ValueType::F32});
        r.push_back({110, D + "AutoCalibParam_numberOfPatterns", ValueType::U8});
        r.push_back({111, D + "AutoCalibParam_xPattern", ValueType::F32x8});
        r.push_back({112, D + "AutoCalibParam_yPattern", ValueType::F32x8});
        r.push_back({113, D + "AutoCalibParam_zPattern", ValueType::F32x8});
        r.push_back({114, D + "AutoCalibParam_patternType", ValueType::U8x8});
        return r;
    }();
    return rows;
}

std::vector<InfoRow> diRows(bool generation3_2) {
    const std::string di = "DistImageCust";
    std::vector<InfoRow> r = canRows(false);
    appendFilterRows(r, di);
    r.push_back({38, D + "DistImageCust_reflectorCloseRange", ValueType::U8});
    appendSpatialRows(r, di);
    if (generation3_2) {
        r.push_back(illuCalibIsRelative);
        r.push_back(triggeredStreetCalibration);
        r.push_back(mirrorX);
        r.push_back(mirrorY);
    }
    return r;
}

std::vector<InfoRow> odSop2Rows() {
    const std::string od = "ObjectListCust";
    std::vector<InfoRow> r = canRows(false);
    r.push_back(distanceImageOnSwitch);
    appendFilterRows(r, od);
    appendSpatialRows(r, od);
    r.push_back(fn(46, od, "autocalibrationMode", ValueType::U8));
    r.push_back(fn(72, od, "objectDetectionVariant", ValueType::U8));
    r.push_back(fn(73, od, "ObjectDetectionZMin", ValueType::F32));
    r.push_back(fn(74, od, "ObjectDetectionZMax", ValueType::F32));
    r.push_back(fn(75, od, "EgoMotionDynamics", ValueType::U8));
    r.push_back(fn(76, od, "accBrake", ValueType::F32));
    r.push_back(fn(77, od, "egoVMin", ValueType::F32));
    r.push_back(fn(78, od, "egoVMax", ValueType::F32));
    r.push_back(fn(79, od, "delayBrake", ValueType::F32));
    r.push_back(fn(80, od, "CrashPredictorSensitivity", ValueType::U8));
    const char* dims[] = {"xMin", "xMax", "yMin", "yMax", "zMax"};
    for (int i = 0; i < 5; ++i)
        r.push_back({82 + i, D + "VehicleDim_" + dims[i], ValueType::F32});
    r.push_back(fn(87, od, "EgoDataMode", ValueType::U8));
    return r;
}

std::vector<InfoRow> lgSop2Rows() {
    const std::string lg = "LineGuidanceCust";
    std::vector<InfoRow> r = canRows(false);
    r.push_back(distanceImageOnSwitch);
    appendFilterRows(r, lg);
    r.push_back(fn(46, lg, "autocalibrationMode", ValueType::U8));
    appendLineGuidanceRows(r);
    return r;
}

std::vector<InfoRow> od3_2Rows() {
    const std::string od = "ObjectListCust";
    std::vector<InfoRow> r;
    r.push_back(fn(88, od, "cpActivate", ValueType::U8));
    r.push_back(fn(89, od, "cpDeactivateTimeAfterTrigger", ValueType::F32));
    r.push_back(fn(90, od, "cpMaxCrashObjectDistance", ValueType::F32));
    r.push_back(fn(91, od, "cpMinDistAllowed", ValueType::F32));
    r.push_back(triggeredStreetCalibration);
    r.push_back(mirrorX);
    r.push_back(mirrorY);
    return r;
}

std::vector<InfoRow> lg3_2Rows() {
    const std::string lg = "LineGuidanceCust";
    std::vector<InfoRow> r = canRows(true);
    r.push_back(distanceImageOnSwitch);
    appendFilterRows(r, lg);
    appendLineGuidanceRows(r);
    r.push_back(illuCalibIsRelative);
    r.push_back(triggeredStreetCalibration);
    r.push_back(fn(103, lg, "EgoDataMode", ValueType::U8));
    r.push_back(fn(104, lg, "referencePointXPos", ValueType::F32));
    r.push_back(fn(105, lg, "referencePointYPos", ValueType::F32));
    r.push_back(fn(106, lg, "referencePointZPos", ValueType::F32));
    r.push_back(fn(109, lg, "steeringXMin", ValueType::F32));
    r.push_back(fn(108, lg, "steeringXMax", ValueType::F32));
    r.push_back(fn(107, lg, "steeringTTC", ValueType::F32));
    return r;
}

// Members of one object, in record order: five integers, then fifteen floats.
const char* const objectIntNames[] = {"id", "history", "measured", "type", "age"};
int32_t DetectedObject_TRVAXX::*const objectInts[] = {
    &DetectedObject_TRVAXX::id, &DetectedObject_TRVAXX::history, &DetectedObject_TRVAXX::measured,
    &DetectedObject_TRVAXX::type, &DetectedObject_TRVAXX::age};
const char* const objectFloatNames[] = {"x1",
                                        "y1",
                                        "x2",
                                        "y2",
                                        "zMin",
                                        "zMax",
                                        "vX",
                                        "vY",
                                        "vZ",
                                        "aX",
                                        "aY",
                                        "aZ",
                                        "existenceProbability",
                                        "vXQuality",
                                        "vYQuality"};
float DetectedObject_TRVAXX::*const objectFloats[] = {&DetectedObject_TRVAXX::x1,
                                                      &DetectedObject_TRVAXX::y1,
                                                      &DetectedObject_TRVAXX::x2,
                                                      &DetectedObject_TRVAXX::y2,
                                                      &DetectedObject_TRVAXX::zMin,
                                                      &DetectedObject_TRVAXX::zMax,
                                                      &DetectedObject_TRVAXX::vX,
                                                      &DetectedObject_TRVAXX::vY,
                                                      &DetectedObject_TRVAXX::vZ,
                                                      &DetectedObject_TRVAXX::aX,
                                                      &DetectedObject_TRVAXX::aY,
                                                      &DetectedObject_TRVAXX::aZ,
                                                      &DetectedObject_TRVAXX::existenceProbability,
                                                      &DetectedObject_TRVAXX::vXQuality,
                                                      &DetectedObject_TRVAXX::vYQuality};

// Members of one line in record order; integers and floats interleave.
struct LineMember {
    const char* name;
    int32_t DetectedLine_TRVAXX::*integer;
    float DetectedLine_TRVAXX::*real;
};
const LineMember lineMembers[] = {
    {"id", &DetectedLine_TRVAXX::id, nullptr},
    {"history", &DetectedLine_TRVAXX::history, nullptr},
    {"measured", &DetectedLine_TRVAXX::measured, nullptr},
    {"type", &DetectedLine_TRVAXX::type, nullptr},
    {"alpha", nullptr, &DetectedLine_TRVAXX::alpha},
    {"offset", nullptr, &DetectedLine_TRVAXX::offset},
    {"curvature", nullptr, &DetectedLine_TRVAXX::curvature},
    {"quality", nullptr, &DetectedLine_TRVAXX::quality},
    {"foresight", nullptr, &DetectedLine_TRVAXX::foresight},
    {"heap_area", nullptr, &DetectedLine_TRVAXX::heap_area},
    {"heap_area_valid", &DetectedLine_TRVAXX::heap_area_valid, nullptr},
    {"heap_width", nullptr, &DetectedLine_TRVAXX::heap_width},
    {"heap_width_valid", &DetectedLine_TRVAXX::heap_width_valid, nullptr},
    {"center_of_gravity_offset", nullptr, &DetectedLine_TRVAXX::center_of_gravity_offset},
    {"center_of_gravity_offset_valid", &DetectedLine_TRVAXX::center_of_gravity_offset_valid, nullptr},
    {"max_height_offset", nullptr, &DetectedLine_TRVAXX::max_height_offset},
    {"max_height_offset_valid", &DetectedLine_TRVAXX::max_height_offset_valid, nullptr},
    {"heap_height", nullptr, &DetectedLine_TRVAXX::heap_height},
    {"heap_height_valid", &DetectedLine_TRVAXX::heap_height_valid, nullptr},
    {"z_step_detection_height", nullptr, &DetectedLine_TRVAXX::z_step_detection_height},
    {"z_step_detection_valid", &DetectedLine_TRVAXX::z_step_detection_valid, nullptr},
};

// Member paths of the result lists, built once: objectList[i].member and lineList[i].member.
struct ListPaths {
    std::vector<std::string> objects; // TRVAXX_OBJECT_COUNT × 20
    std::vector<std::string> lines;   // TRVAXX_LINE_COUNT × 21
    ListPaths() {
        const QString objectPath = QStringLiteral("AlgoIFOutput.objectDetectionResult.objectList[%1].%2");
        const QString linePath = QStringLiteral("AlgoIFOutput.lineGuidanceResult.lineList[%1].%2");
        for (int i = 0; i < TRVAXX_OBJECT_COUNT; ++i) {
            for (const char* name : objectIntNames)
                objects.push_back(objectPath.arg(i).arg(QLatin1String(name)).toStdString());
            for (const char* name : objectFloatNames)
                objects.push_back(objectPath.arg(i).arg(QLatin1String(name)).toStdString());
        }
        for (int i = 0; i < TRVAXX_LINE_COUNT; ++i) {
            for (const LineMember& member : lineMembers)
                lines.push_back(linePath.arg(i).arg(QLatin1String(member.name)).toStdString());
        }
    }
};

const ListPaths& listPaths() {
    static const ListPaths paths;
    return paths;
}

// Text of a character field: local 8-bit encoding, cut at the first NUL.
QString fieldText(const char* bytes, int length) {
    const int end = int(qstrnlen(bytes, uint(length)));
    return QString::fromLocal8Bit(bytes, end);
}

template <class T>
void readA(const std::string& name, T* dest, uint32_t count, const std::vector<KvelChunk>& chunks) {
    kvel::read(A + name, dest, count, chunks, PackageProcessor_TRVAXX::CHANNEL_ALGO_OUTPUT);
}
template <class T> void readA(const std::string& name, T& dest, const std::vector<KvelChunk>& chunks) {
    kvel::read(A + name, &dest, 1, chunks, PackageProcessor_TRVAXX::CHANNEL_ALGO_OUTPUT);
}

} // namespace

PackageProcessor_TRVAXX::PackageProcessor_TRVAXX(ResultCache_TRVAXX* resultCache) : cache(resultCache) {
    registerResultMetaTypes_TRVAXX();
}

PackageProcessor_TRVAXX::~PackageProcessor_TRVAXX() = default;

void PackageProcessor_TRVAXX::reportError(const QString& message) {
    const int previous = errorCount.fetch_add(1, std::memory_order_relaxed);
    if (previous < MAX_ERROR_MESSAGES)
        qCritical().noquote() << message;
}

template <class Body> void PackageProcessor_TRVAXX::runStep(const char* stepName, Body&& body) {
    try {
        body();
    } catch (const std::exception& e) {
        reportError(QStringLiteral("PackageProcessor_TRVAXX::") + QLatin1String(stepName) +
                    QStringLiteral(": ") + QString::fromLocal8Bit(e.what()) + LOG_LOC);
    }
}

void PackageProcessor_TRVAXX::onCycle(const std::vector<KvelChunk>& chunks, bool complete) {
    if (complete)
        return;
    if (hasChannel(chunks, CHANNEL_NOT_INTERPRETED))
        return;
    processCycle(chunks);
}

void PackageProcessor_TRVAXX::processCycle(const std::vector<KvelChunk>& chunks) {
    ResultDataSP_TRVAXX result(new ResultData_TRVAXX);
    ResultData_TRVAXX& record = *result;
    getCamVersionfromPacket(chunks, record);
    getTRVAXXParameterfromPacket(chunks, record);
    runVariantStep(chunks, record);
    getAlgoIFOutputDatafromPacket(chunks, record);
    getAlgoIFOutputObjectsfromPacket(chunks, record);
    getAlgoIFOutputLinesfromPacket(chunks, record);
    getAlgoIFOutputCalibrationfromPacket(chunks, record);
    getAlgoIFOutputCalibrationResultfromPacket(chunks, record);
    dispatchResult(result);
}

void PackageProcessor_TRVAXX::runVariantStep(const std::vector<KvelChunk>& chunks,
                                             ResultData_TRVAXX& result) {
    switch (getFirmwareType()) {
    case FirmwareClassification_TRVAXX::TRVADN_DI_SOP2:
    case FirmwareClassification_TRVAXX::TRVAFN_DI_SOP2:
        getTRVADN_DI_SOP2ParameterfromPacket(chunks, result);
        break;
    case FirmwareClassification_TRVAXX::TRVAFN_OD_SOP2:
        getTRVAFN_OD_SOP2ParameterfromPacket(chunks, result);
        break;
    case FirmwareClassification_TRVAXX::TRVAFN_LG_SOP2:
        getTRVAFN_LG_SOP2ParameterfromPacket(chunks, result);
        break;
    case FirmwareClassification_TRVAXX::TRVADN_DI_3_2:
    case FirmwareClassification_TRVAXX::TRVAFN_DI_3_2:
        getTRVADN_DI_3_2ParameterfromPacket(chunks, result);
        break;
    case FirmwareClassification_TRVAXX::TRVAFN_OD_3_2:
        getTRVAFN_OD_3_2ParameterfromPacket(chunks, result);
        break;
    case FirmwareClassification_TRVAXX::TRVAFN_LG_3_2:
        getTRVAFN_LG_3_2ParameterfromPacket(chunks, result);
        break;
    default:
        break; // no variant-specific parameters
    }
}

void PackageProcessor_TRVAXX::getCamVersionfromPacket(const std::vector<KvelChunk>& chunks,
                                                      ResultData_TRVAXX& result) {
    if (hasChannel(chunks, CHANNEL_IDENTIFICATION)) {
        runStep("getCamVersionfromPacket", [&] {
            uint8_t version[3] = {};
            kvel::read(M + "SoftwareVersion", version, 3, chunks, CHANNEL_IDENTIFICATION);
            softwareVersion = QStringLiteral("%1.%2.%3").arg(version[0]).arg(version[1]).arg(version[2]);

            // The variant's element kind differs between firmware generations.
            const std::string variantPath = M + "CameraVariant";
            char variant[3] = {};
            const kvel::ITypePtr root = kvel::cachedParse(kvel::findChunk(chunks, CHANNEL_IDENTIFICATION));
            if (kvel::typeOfPath(root, variantPath).code == kvel::TC_UINT8)
                kvel::read(variantPath, reinterpret_cast<uint8_t*>(variant), 3, chunks,
                           CHANNEL_IDENTIFICATION);
            else
                kvel::read(variantPath, reinterpret_cast<int8_t*>(variant), 3, chunks,
                           CHANNEL_IDENTIFICATION);
            cameraVariant = fieldText(variant, 3);

            char part[6] = {};
            kvel::read(M + "CameraPartNumber", reinterpret_cast<int8_t*>(part), 6, chunks,
                       CHANNEL_IDENTIFICATION);
            partNumber = fieldText(part, 6);

            char serial[20] = {};
            kvel::read(M + "CameraSerialNumber", reinterpret_cast<int8_t*>(serial), 20, chunks,
                       CHANNEL_IDENTIFICATION);
            serialNumber = fieldText(serial, 20).trimmed();

            firmwareType.store(
                FirmwareClassification_TRVAXX::classify(softwareVersion, cameraVariant, partNumber),
                std::memory_order_relaxed);
        });
    }
    result.softwareVersion = softwareVersion;
    result.cameraVariant = cameraVariant;
    result.partNumber = partNumber;
    result.serialNumber = serialNumber;
}

void PackageProcessor_TRVAXX::getTRVAXXParameterfromPacket(const std::vector<KvelChunk>& chunks,
                                                           ResultData_TRVAXX& result) {
    result.info.insert(InfoKey_TRVAXX::SoftwareVersion, softwareVersion);
    result.info.insert(InfoKey_TRVAXX::CameraVariant, cameraVariant);
    result.info.insert(InfoKey_TRVAXX::PartNumber, partNumber);
    runStep("getTRVAXXParameterfromPacket", [&] { readInfoRows(commonRows(), chunks, result); });
}

void PackageProcessor_TRVAXX::getTRVADN_DI_SOP2ParameterfromPacket(const std::vector<KvelChunk>& chunks,
                                                                   ResultData_TRVAXX& result) {
    static const std::vector<InfoRow> rows = diRows(false);
    runStep("getTRVADN_DI_SOP2ParameterfromPacket", [&] { readInfoRows(rows, chunks, result); });
}

void PackageProcessor_TRVAXX::getTRVAFN_OD_SOP2ParameterfromPacket(const std::vector<KvelChunk>& chunks,
                                                                   ResultData_TRVAXX& result) {
    static const std::vector<InfoRow> rows = odSop2Rows();
    runStep("getTRVAFN_OD_SOP2ParameterfromPacket", [&] { readInfoRows(rows, chunks, result); });
}

void PackageProcessor_TRVAXX::getTRVAFN_LG_SOP2ParameterfromPacket(const std::vector<KvelChunk>& chunks,
                                                                   ResultData_TRVAXX& result) {
    static const std::vector<InfoRow> rows = lgSop2Rows();
    runStep("getTRVAFN_LG_SOP2ParameterfromPacket", [&] { readInfoRows(rows, chunks, result); });
}

void PackageProcessor_TRVAXX::getTRVADN_DI_3_2ParameterfromPacket(const std::vector<KvelChunk>& chunks,
                                                                  ResultData_TRVAXX& result) {
    static const std::vector<InfoRow> rows = diRows(true);
    runStep("getTRVADN_DI_3_2ParameterfromPacket", [&] { readInfoRows(rows, chunks, result); });
}

void PackageProcessor_TRVAXX::getTRVAFN_OD_3_2ParameterfromPacket(const std::vector<KvelChunk>& chunks,
                                                                  ResultData_TRVAXX& result) {
    static const std::vector<InfoRow> rows = od3_2Rows();
    runStep("getTRVAFN_OD_3_2ParameterfromPacket", [&] { readInfoRows(rows, chunks, result); });
}

void PackageProcessor_TRVAXX::getTRVAFN_LG_3_2ParameterfromPacket(const std::vector<KvelChunk>& chunks,
                                                                  ResultData_TRVAXX& result) {
    static const std::vector<InfoRow> rows = lg3_2Rows();
    runStep("getTRVAFN_LG_3_2ParameterfromPacket", [&] { readInfoRows(rows, chunks, result); });
}

void PackageProcessor_TRVAXX::getAlgoIFOutputDatafromPacket(const std::vector<KvelChunk>& chunks,
                                                            ResultData_TRVAXX& r) {
    if (!hasChannel(chunks, CHANNEL_ALGO_OUTPUT))
        return;
    runStep("getAlgoIFOutputDatafromPacket", [&] {
        const uint32_t n = TRVAXX_PIXEL_COUNT;
        readA("sensorWidth", r.sensorWidth, chunks);
        readA("sensorHeight", r.sensorHeight, chunks);
        readA("distanceData", r.distanceData.data(), n, chunks);
        readA("X", r.X.data(), n, chunks);
        readA("Y", r.Y.data(), n, chunks);
        readA("Z", r.Z.data(), n, chunks);
        readA("confidence", r.confidence.data(), n, chunks);
        readA("amplitude", r.amplitude.data(), n, chunks);
        readA("amplitude_normalization", r.amplitude_normalization.data(), 4, chunks);
        readA("masterclockTimestamp", r.masterclockTimestamp, chunks);
        uint32_t frameCounter = 0;
        readA("frameCounter", frameCounter, chunks);
        r.info.insert(InfoKey_TRVAXX::FrameCounter, uint(frameCounter));
        uint32_t available = 0;
        readA("available", available, chunks);
        r.info.insert(InfoKey_TRVAXX::Available, uint(available));
        CameraCalibration_TRVAXX& c = r.cameraCalibration;
        readA("cameraCalibration.transX", c.transX, chunks);
        readA("cameraCalibration.transY", c.transY, chunks);
        readA("cameraCalibration.transZ", c.transZ, chunks);
        readA("cameraCalibration.rotX", c.rotX, chunks);
        readA("cameraCalibration.rotY", c.rotY, chunks);
        readA("cameraCalibration.rotZ", c.rotZ, chunks);
        readA("fieldOfView.upperLeft", r.fieldOfView.upperLeft.data(), 3, chunks);
        readA("fieldOfView.upperRight", r.fieldOfView.upperRight.data(), 3, chunks);
        readA("fieldOfView.lowerRight", r.fieldOfView.lowerRight.data(), 3, chunks);
        readA("fieldOfView.lowerLeft", r.fieldOfView.lowerLeft.data(), 3, chunks);
    });
}

void PackageProcessor_TRVAXX::getAlgoIFOutputObjectsfromPacket(const std::vector<KvelChunk>& chunks,
                                                               ResultData_TRVAXX& result) {
    if (!hasChannel(chunks, CHANNEL_ALGO_OUTPUT) || !cameraVariant.startsWith(QLatin1String("OD")))
        return;
    runStep("getAlgoIFOutputObjectsfromPacket", [&] {
        const std::vector<std::string>& paths = listPaths().objects;
        const int count = std::min(result.objects.count, TRVAXX_OBJECT_COUNT);
        size_t p = 0;
        for (int i = 0; i < count; ++i) {
            DetectedObject_TRVAXX& object = result.objects.objects[size_t(i)];
            for (auto member : objectInts)
                kvel::read(paths[p++], object.*member, chunks, CHANNEL_ALGO_OUTPUT);
            for (auto member : objectFloats)
                kvel::read(paths[p++], object.*member, chunks, CHANNEL_ALGO_OUTPUT);
        }
        getAlgoIFOutputCollisionAvoidancefromPacket(chunks, result);
    });
}

void PackageProcessor_TRVAXX::getAlgoIFOutputCollisionAvoidancefromPacket(
    const std::vector<KvelChunk>& chunks, ResultData_TRVAXX& result) {
    if (!hasChannel(chunks, CHANNEL_ALGO_OUTPUT) || !cameraVariant.startsWith(QLatin1String("OD")))
        return;
    runStep("getAlgoIFOutputCollisionAvoidancefromPacket", [&] {
        static const std::string prefix = "AlgoIFOutput.objectDetectionResult.crashPredictorResult.";
        DetectedObjectData_TRVAXX& o = result.objects;
        kvel::read(prefix + "crashObjectID", o.crashObjectID, chunks, CHANNEL_ALGO_OUTPUT);
        kvel::read(prefix + "crashPredictTime", o.crashPredictTime, chunks, CHANNEL_ALGO_OUTPUT);
        kvel::read(prefix + "relImpactVelocity", o.relImpactVelocity, chunks, CHANNEL_ALGO_OUTPUT);
        kvel::read(prefix + "crashPredicted", o.crashPredicted, chunks, CHANNEL_ALGO_OUTPUT);
    });
}

void PackageProcessor_TRVAXX::getAlgoIFOutputLinesfromPacket(const std::vector<KvelChunk>& chunks,
                                                             ResultData_TRVAXX& result) {
    if (!hasChannel(chunks, CHANNEL_ALGO_OUTPUT) || !cameraVariant.startsWith(QLatin1String("LG")))
        return;
    runStep("getAlgoIFOutputLinesfromPacket", [&] {
        const std::vector<std::string>& paths = listPaths().lines;
        const int count = std::min(result.lines.count, TRVAXX_LINE_COUNT);
        size_t p = 0;
        for (int i = 0; i < count; ++i) {
            DetectedLine_TRVAXX& line = result.lines.lines[size_t(i)];
            for (const LineMember& member : lineMembers) {
                if (member.integer)
                    kvel::read(paths[p++], line.*member.integer, chunks, CHANNEL_ALGO_OUTPUT);
                else
                    kvel::read(paths[p++], line.*member.real, chunks, CHANNEL_ALGO_OUTPUT);
            }
        }
        kvel::read("AlgoIFOutput.lineGuidanceResult.ref_Point", result.lines.ref_Point.data(), 3, chunks,
                   CHANNEL_ALGO_OUTPUT);
    });
}

void PackageProcessor_TRVAXX::getAlgoIFOutputCalibrationfromPacket(const std::vector<KvelChunk>& chunks,
                                                                   ResultData_TRVAXX& result) {
    if (!hasChannel(chunks, CHANNEL_ALGO_OUTPUT) ||
        !cameraVariant.startsWith(QLatin1String(FirmwareClassification_TRVAXX::VARIANT_WITH_2D_CALIBRATION)))
        return;
    runStep("getAlgoIFOutputCalibrationfromPacket", [&] {
        static const char* const names[] = {
            "intrCalib_2D_fx",     "intrCalib_2D_fy",    "intrCalib_2D_mx",     "intrCalib_2D_my",
            "intrCalib_alpha",     "intrCalib_k1",       "intrCalib_k2",        "intrCalib_k3",
            "intrCalib_k4",        "intrCalib_k5",       "extrCalib_center_tx", "extrCalib_center_ty",
            "extrCalib_center_tz", "extrCalib_delta_tx", "extrCalib_delta_ty",  "extrCalib_delta_tz",
            "extrCalib_rot_x",     "extrCalib_rot_y",    "extrCalib_rot_z"};
        Calibration2d_TRVAXX& c = result.calibration2d;
        float* const fields[] = {
            &c.intrCalib_2D_fx,     &c.intrCalib_2D_fy,    &c.intrCalib_2D_mx,     &c.intrCalib_2D_my,
            &c.intrCalib_alpha,     &c.intrCalib_k1,       &c.intrCalib_k2,        &c.intrCalib_k3,
            &c.intrCalib_k4,        &c.intrCalib_k5,       &c.extrCalib_center_tx, &c.extrCalib_center_ty,
            &c.extrCalib_center_tz, &c.extrCalib_delta_tx, &c.extrCalib_delta_ty,  &c.extrCalib_delta_tz,
            &c.extrCalib_rot_x,     &c.extrCalib_rot_y,    &c.extrCalib_rot_z};
        for (size_t i = 0; i < std::size(names); ++i)
            readA(std::string("intrExtrCalib_2d.") + names[i], *fields[i], chunks);
    });
}

void PackageProcessor_TRVAXX::getAlgoIFOutputCalibrationResultfromPacket(const std::vector<KvelChunk>& chunks,
                                                                         ResultData_TRVAXX& result) {
    if (!hasChannel(chunks, CHANNEL_ALGO_OUTPUT) || !cameraVariant.startsWith(QLatin1String("LG")))
        return;
    runStep("getAlgoIFOutputCalibrationResultfromPacket", [&] {
        static const std::string prefix = "AlgoIFOutput.calibrationResult.commonCalibrationResult.";
        CalibResult_TRVAXX& c = result.calibResult;
        kvel::read(prefix + "calibResult.transZ", c.transZ, chunks, CHANNEL_ALGO_OUTPUT);
        kvel::read(prefix + "calibResult.rotX", c.rotX, chunks, CHANNEL_ALGO_OUTPUT);
        kvel::read(prefix + "calibResult.rotY", c.rotY, chunks, CHANNEL_ALGO_OUTPUT);
        kvel::read(prefix + "calibResult.rotZ", c.rotZ, chunks, CHANNEL_ALGO_OUTPUT);
        kvel::read(prefix + "calibrationStableCounter", c.calibrationStableCounter, chunks,
                   CHANNEL_ALGO_OUTPUT);
        kvel::read(prefix + "calibValid", c.calibValid, chunks, CHANNEL_ALGO_OUTPUT);
    });
}

void PackageProcessor_TRVAXX::dispatchResult(const ResultDataSP_TRVAXX& result) {
    if (!result)
        return;
    ResultData_TRVAXX& r = *result;
    if (r.sensorWidth == TRVAXX_SENSOR_WIDTH && r.sensorHeight == TRVAXX_SENSOR_HEIGHT) {
        const CameraCalibration_TRVAXX& c = r.cameraCalibration;
        // Single precision throughout: every product is rounded to float before the sum.
        const float sinX = std::sin(c.rotX);
        const float cosX = std::cos(c.rotX);
        const float sinY = std::sin(c.rotY);
        const float cosY = std::cos(c.rotY);
        const float wX = sinY;
        const float wY = sinX * cosY;
        const float wZ = cosX * cosY;
        for (int i = 0; i < TRVAXX_PIXEL_COUNT; ++i) {
            const uint16_t conf = r.confidence[size_t(i)];
            r.normalizedAmplitude[size_t(i)] =
                r.amplitude_normalization[(conf >> 1) & 3] * float(r.amplitude[size_t(i)]);
            const float a = wX * (r.X[size_t(i)] - c.transX);
            const float b = wY * (r.Y[size_t(i)] - c.transY);
            const float d = wZ * (r.Z[size_t(i)] - c.transZ);
            r.cameraAxisDistance[size_t(i)] = a - b + d;
        }
    } else {
        reportError(QStringLiteral("PackageProcessor_TRVAXX dispatchResult(): Datasize Error") + LOG_LOC);
    }
    if (cache) {
        cache->setResult(result);
        if (!cache->isDataAvailable())
            cache->setDataAvailable();
    }
}
