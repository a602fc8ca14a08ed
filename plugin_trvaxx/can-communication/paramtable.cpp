#include "can-communication/paramtable.h"

#include <QStringList>

#include <algorithm>
#include <charconv>
#include <iterator>

namespace ParamTable {

namespace {

// A member of one block, or (block empty) the suffix of the variant's function group.
struct Entry {
    int id;
    const char* block;
    const char* member;
};

constexpr char kDsp[] = "DSP_CPARType";
constexpr char kKp[] = "KP_CPARType";
constexpr char kVariantGroup[] = "";

// Ascending by id.
constexpr Entry kEntries[] = {
    {1, kKp, "BeginHeatingTemperature"},
    {2, kKp, "StopHeatingTemperature"},
    {11, kDsp, "Ipv4AddressCamera"},
    {12, kDsp, "SubnetMask"},
    {13, kDsp, "Ipv4AddressDestination"},
    {14, kDsp, "destinationUDPPort"},
    {15, kDsp, "EthernetOutputConfiguration"},
    {16, kKp, "CANProtocol"},
    {17, kKp, "CANBaudrate"},
    {18, kKp, "MasterSlaveConfiguration"},
    {19, kKp, "J1939SourceAddress"},
    {20, kKp, "CANopenNodeAddress"},
    {21, kKp, "CANMaxNumberOfObjects"},
    {22, kKp, "CANMaxNumberOfLines"},
    {23, kKp, "CANOutputCycleModulo"},
    {24, kDsp, "PMDExtrCalib_camCal_transX"},
    {25, kDsp, "PMDExtrCalib_camCal_transY"},
    {26, kDsp, "PMDExtrCalib_camCal_transZ"},
    {27, kDsp, "PMDExtrCalib_camCal_rotX"},
    {28, kDsp, "PMDExtrCalib_camCal_rotY"},
    {29, kDsp, "PMDExtrCalib_camCal_rotZ"},
    {30, kDsp, "PMDExtrCalib_IlluCal_transX"},
    {31, kDsp, "PMDExtrCalib_IlluCal_transY"},
    {32, kDsp, "PMDExtrCalib_IlluCal_transZ"},
    {33, kDsp, "PMDExtrCalib_IlluCalibIsRelative"},
    {34, kVariantGroup, "pixelPlausibilizationThresholds"},
    {35, kVariantGroup, "sprayRemovalSensitivity"},
    {36, kVariantGroup, "blockageSensitivity"},
    {37, kKp, "CycleTime"},
    {38, kDsp, "DistImageCust_reflectorCloseRange"},
    {39, kVariantGroup, "reflectorThresholdValue"},
    {40, kVariantGroup, "spatialFilterXMin"},
    {41, kVariantGroup, "spatialFilterXMax"},
    {42, kVariantGroup, "spatialFilterYMin"},
    {43, kVariantGroup, "spatialFilterYMax"},
    {44, kVariantGroup, "spatialFilterZMin"},
    {45, kVariantGroup, "spatialFilterZMax"},
    {46, kVariantGroup, "autocalibrationMode"},
    {47, kDsp, "DistanceImageOnSwitch"},
    {48, kDsp, "DistImageCust_bfActive"},
    {49, kDsp, "DistImageCust_bfROIs_group"},
    {50, kDsp, "DistImageCust_bfROIs_upperLeftX"},
    {51, kDsp, "DistImageCust_bfROIs_upperLeftY"},
    {52, kDsp, "DistImageCust_bfROIs_lowerRightX"},
    {53, kDsp, "DistImageCust_bfROIs_lowerRightY"},
    {54, kDsp, "DistImageCust_bfROIs_numberOfROIs"},
    {55, kDsp, "DistImageCust_bfVOI_xMin"},
    {56, kDsp, "DistImageCust_bfVOI_xMax"},
    {57, kDsp, "DistImageCust_bfVOI_yMin"},
    {58, kDsp, "DistImageCust_bfVOI_yMax"},
    {59, kDsp, "DistImageCust_bfVOI_zMin"},
    {60, kDsp, "DistImageCust_bfVOI_zMax"},
    {61, kDsp, "DistImageCust_bfResultTypes"},
    {62, kDsp, "DistImageCust_bfTemporalWindowSize"},
    {63, kDsp, "DistImageCust_bfOutputMode"},
    {64, kDsp, "DistImageCust_bfReferenceDomain"},
    {65, kDsp, "DistImageCust_bfReferenceDomains"},
    {66, kDsp, "DistImageCust_bfROIs_maxCartX"},
    {67, kDsp, "DistImageCust_bfROIs_maxCartY"},
    {68, kDsp, "DistImageCust_bfROIs_maxCartZ"},
    {69, kDsp, "DistImageCust_bfROIs_minCartX"},
    {70, kDsp, "DistImageCust_bfROIs_minCartY"},
    {71, kDsp, "DistImageCust_bfROIs_minCartZ"},
    {72, kDsp, "ObjectListCust_objectDetectionVariant"},
    {73, kDsp, "ObjectListCust_ObjectDetectionZMin"},
    {74, kDsp, "ObjectListCust_ObjectDetectionZMax"},
    {75, kDsp, "ObjectListCust_EgoMotionDynamics"},
    {76, kDsp, "ObjectListCust_accBrake"},
    {77, kDsp, "ObjectListCust_egoVMin"},
    {78, kDsp, "ObjectListCust_egoVMax"},
    {79, kDsp, "ObjectListCust_delayBrake"},
    {80, kDsp, "ObjectListCust_CrashPredictorSensitivity"},
    {81, kDsp, "ObjectListCust_UseCaseApproach"},
    {82, kDsp, "VehicleDim_xMin"},
    {83, kDsp, "VehicleDim_xMax"},
    {84, kDsp, "VehicleDim_yMin"},
    {85, kDsp, "VehicleDim_yMax"},
    {86, kDsp, "VehicleDim_zMax"},
    {87, kDsp, "ObjectListCust_EgoDataMode"},
    {88, kDsp, "ObjectListCust_cpActivate"},
    {89, kDsp, "ObjectListCust_cpDeactivateTimeAfterTrigger"},
    {90, kDsp, "ObjectListCust_cpMaxCrashObjectDistance"},
    {91, kDsp, "ObjectListCust_cpMinDistAllowed"},
    {92, kDsp, "triggeredStreetCalibration"},
    {93, kDsp, "LineGuidanceCust_lineGuidanceMode"},
    {94, kDsp, "LineGuidanceCust_maxLineAngle"},
    {95, kDsp, "LineGuidanceCust_xMin"},
    {96, kDsp, "LineGuidanceCust_xMax"},
    {97, kDsp, "LineGuidanceCust_yMin"},
    {98, kDsp, "LineGuidanceCust_yMax"},
    {99, kDsp, "LineGuidanceCust_minHeight"},
    {100, kDsp, "LineGuidanceCust_minWidth"},
    {101, kDsp, "LineGuidanceCust_maxWidth"},
    {102, kDsp, "LineGuidanceCust_skipStreetPlaneEstimation"},
    {103, kDsp, "LineGuidanceCust_EgoDataMode"},
    {104, kDsp, "LineGuidanceCust_referencePointXPos"},
    {105, kDsp, "LineGuidanceCust_referencePointYPos"},
    {106, kDsp, "LineGuidanceCust_referencePointZPos"},
    {107, kDsp, "LineGuidanceCust_steeringTTC"},
    {108, kDsp, "LineGuidanceCust_steeringXMax"},
    {109, kDsp, "LineGuidanceCust_steeringXMin"},
    {110, kDsp, "AutoCalibParam_numberOfPatterns"},
    {141, kDsp, "twoD_mirrorX"},
    {142, kDsp, "twoD_mirrorY"},
};

constexpr int kRoiCount = 54;
constexpr int kAutocalibrationMode = 46;

const Entry* find(int id) {
    const auto it = std::lower_bound(std::begin(kEntries), std::end(kEntries), id,
                                     [](const Entry& e, int value) { return e.id < value; });
    return it != std::end(kEntries) && it->id == id ? it : nullptr;
}

// The function group of a variant's own members.
const char* variantGroup(const QString& variant) {
    const QString v = variant.trimmed();
    if (v == QLatin1String("DI"))
        return "DistImageCust_";
    if (v == QLatin1String("OD"))
        return "ObjectListCust_";
    if (v == QLatin1String("LG"))
        return "LineGuidanceCust_";
    return nullptr;
}

// The values of the state read; see SensorStateData for where each comes from on the sensor.
QVariant stateValue(int id, const SensorStateData& state) {
    switch (id) {
    case 6: // run mode
        return state.fifth;
    case 7: // camera main temperature
        return shortestDouble(state.first);
    case 8: // illumination temperature
        return shortestDouble(state.second);
    case 9: // frame counter (sent as a float)
        return qlonglong(state.fourth);
    case 127: // the one supply voltage the sensor reports; its battery and terminal-15 inputs
    case 138: // are the same line
        return shortestDouble(state.third);
    default:
        return QVariant();
    }
}

} // namespace

QByteArray memberPath(int id, const QString& variant) {
    const Entry* entry = find(id);
    if (!entry)
        return QByteArray();
    if (entry->block != kVariantGroup)
        return QByteArray(entry->block) + '.' + entry->member;
    const char* group = variantGroup(variant);
    // The basic-function variant has no automatic calibration.
    if (!group || (id == kAutocalibrationMode && variant.trimmed() == QLatin1String("DI")))
        return QByteArray();
    return QByteArray(kDsp) + '.' + group + entry->member;
}

bool isKpMember(const QByteArray& path) {
    return path.startsWith(kKp) && path.size() > int(sizeof kKp) - 1 && path[int(sizeof kKp) - 1] == '.';
}

bool isAddress(int id) {
    return id >= 11 && id <= 13;
}

bool isWritable(int id) {
    return id != kRoiCount && find(id) != nullptr;
}

const QList<int>& memberIds() {
    static const QList<int> ids = [] {
        QList<int> out;
        for (const Entry& e : kEntries)
            out.append(e.id);
        return out;
    }();
    return ids;
}

bool isDiagnosisId(int id) {
    return (id >= 3 && id <= 9) || (id >= 115 && id <= 140);
}

QVariant diagnosisValue(int id, const SensorIdentity& identity, const SensorStateData& state) {
    auto text = [](const QString& value) { return value.isEmpty() ? QVariant() : QVariant(value); };
    switch (id) {
    case 3:
        return text(identity.globalSoftwareVersion);
    case 4:
        return text(identity.variant);
    case 5:
        return text(identity.articleNumber);
    case 121:
        return text(identity.serialNumber);
    case 122:
        return text(identity.mainboardVersion);
    case 123:
        return text(identity.frontendVersion);
    case 124:
        return text(identity.illuArticleNumber);
    case 125:
        return text(identity.illuHardwareVersion);
    case 126:
        return text(identity.illuSerialNumber);
    default:
        break;
    }
    // CPLD, DK boot loader, DK, DSP, KP boot loader, KP.
    if (id >= 115 && id <= 120)
        return text(identity.versions.value(id - 115));
    return stateValue(id, state);
}

double shortestDouble(float value) {
    // Both directions in the C locale's form whatever the process's locale is.
    char text[32];
    const auto written = std::to_chars(std::begin(text), std::end(text), value);
    double out = value;
    std::from_chars(text, written.ptr, out);
    return out;
}

} // namespace ParamTable
