#include "result/resultpaths_trvaxx.h"

#include "result/cyclereader_trvaxx.h"
#include "result/firmwareclassification_trvaxx.h"

#include <QByteArray>
#include <QString>
#include <QVariantList>

namespace ResultPaths_TRVAXX {

namespace {

const std::string M = "Meas_Customer_Data_Type.";
const std::string K = "Meas_Customer_Data_Type.KpCustomerParameter.";
const std::string D = "SDspFrameCustomerKvel_t.DspCustomerParameter.";

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

} // namespace

// The channel a path is read from, by its prefix.
int channelOf(const std::string& path) {
    if (path.compare(0, M.size(), M) == 0)
        return ResultChannel_TRVAXX::Identification;
    if (path.compare(0, D.size(), D) == 0)
        return ResultChannel_TRVAXX::DspParameters;
    return ResultChannel_TRVAXX::AlgoOutput;
}

QVariant readInfo(const InfoRow& row, CycleReader_TRVAXX& reader) {
    const int channel = row.channel;
    switch (row.type) {
    case ValueType::U8: {
        uint8_t v = 0;
        reader.read(row.path, v, channel);
        return int(v);
    }
    case ValueType::U16: {
        uint16_t v = 0;
        reader.read(row.path, v, channel);
        return int(v);
    }
    case ValueType::U32: {
        uint32_t v = 0;
        reader.read(row.path, v, channel);
        return uint(v);
    }
    case ValueType::F32: {
        float v = 0;
        reader.read(row.path, v, channel);
        return v;
    }
    case ValueType::Ipv4: {
        uint8_t v[4] = {};
        reader.read(row.path, v, 4, channel);
        return QStringLiteral("%1.%2.%3.%4").arg(v[0]).arg(v[1]).arg(v[2]).arg(v[3]);
    }
    case ValueType::F32x8: {
        float v[8] = {};
        reader.read(row.path, v, 8, channel);
        QVariantList list;
        list.reserve(8);
        for (float f : v)
            list.append(f);
        return list;
    }
    case ValueType::U8x8: {
        QByteArray bytes(8, '\0');
        reader.read(row.path, reinterpret_cast<uint8_t*>(bytes.data()), 8, channel);
        return bytes;
    }
    }
    return {};
}

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

// Full paths of static storage (the reader keys its accessors by their addresses).
std::vector<std::string> prefixed(const std::string& prefix, const char* const* names, size_t count) {
    std::vector<std::string> paths;
    paths.reserve(count);
    for (size_t i = 0; i < count; ++i)
        paths.push_back(prefix + names[i]);
    return paths;
}

// Rows of the variant step of a firmware type (none for 8 and unknown types).
const std::vector<InfoRow>& variantRows(int type) {
    static const std::vector<InfoRow> di2 = diRows(false), od2 = odSop2Rows(), lg2 = lgSop2Rows(),
                                      di3 = diRows(true), od3 = od3_2Rows(), lg3 = lg3_2Rows(), none;
    switch (type) {
    case FirmwareClassification_TRVAXX::TRVADN_DI_SOP2:
    case FirmwareClassification_TRVAXX::TRVAFN_DI_SOP2:
        return di2;
    case FirmwareClassification_TRVAXX::TRVAFN_OD_SOP2:
        return od2;
    case FirmwareClassification_TRVAXX::TRVAFN_LG_SOP2:
        return lg2;
    case FirmwareClassification_TRVAXX::TRVADN_DI_3_2:
    case FirmwareClassification_TRVAXX::TRVAFN_DI_3_2:
        return di3;
    case FirmwareClassification_TRVAXX::TRVAFN_OD_3_2:
        return od3;
    case FirmwareClassification_TRVAXX::TRVAFN_LG_3_2:
        return lg3;
    default:
        return none;
    }
}

const char* const objectIntNames[OBJECT_INT_MEMBERS] = {"id", "history", "measured", "type", "age"};
int32_t DetectedObject_TRVAXX::*const objectInts[OBJECT_INT_MEMBERS] = {
    &DetectedObject_TRVAXX::id, &DetectedObject_TRVAXX::history, &DetectedObject_TRVAXX::measured,
    &DetectedObject_TRVAXX::type, &DetectedObject_TRVAXX::age};
const char* const objectFloatNames[OBJECT_FLOAT_MEMBERS] = {"x1",
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
float DetectedObject_TRVAXX::*const objectFloats[OBJECT_FLOAT_MEMBERS] = {
    &DetectedObject_TRVAXX::x1,
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

const LineMember lineMembers[LINE_MEMBERS] = {
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

ListPaths::ListPaths() {
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

const ListPaths& listPaths() {
    static const ListPaths paths;
    return paths;
}

} // namespace ResultPaths_TRVAXX
