// The embedded descriptions: every resource is present under the name the plug-in asks for,
// parses, is rewritten byte for byte by the writer, keeps the layout constraints, and resolves
// every member path the plug-in reads with the element type it reads it as.
#include "generated/firmwareversions.h"
#include "kvel/kvel_interpret.h"
#include "kvel/kvel_parse.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>

using namespace kvel;

namespace {

// --- What the plug-in reads ----------------------------------------------------------------------

// Firmware versions with parameter descriptions, per variant, as "MAJOR_MINOR".
template <std::size_t N>
std::vector<std::string> versionNames(const trvaxx::DescribedFirmwareVersion (&table)[N]) {
    std::vector<std::string> names;
    for (const auto& v : table)
        names.push_back(std::to_string(v.major) + "_" + std::to_string(v.minor));
    return names;
}
const std::map<std::string, std::vector<std::string>> kVersions = {
    {"DI", versionNames(trvaxx::FIRMWARE_VERSIONS_DI)},
    {"OD", versionNames(trvaxx::FIRMWARE_VERSIONS_OD)},
    {"LG", versionNames(trvaxx::FIRMWARE_VERSIONS_LG)},
};

enum Family {
    Dsp,  // DSP_CPARType. in the block, SDspFrameCustomerKvel_t.DspCustomerParameter. on channel 14
    Kp,   // KP_CPARType. in the block, Meas_Customer_Data_Type.KpCustomerParameter. on channel 256
    Meas, // Meas_Customer_Data_Type. on channel 256
    Algo  // AlgoIFOutput. on channel 8
};
constexpr int AnyByte = -1; // int8 or uint8, as the description declares
enum VariantMask { DI = 1, OD = 2, LG = 4, ALL = 7 };

struct PathUse {
    Family family;
    int id;             // parameter identifier; 0 for result values
    const char* member; // below the family's prefix; %F is the variant's function prefix, %1 an index
    int type;           // TypeCode the reader uses
    uint32_t count;     // elements read at once
    int variants;       // for Meas and Algo rows: the variants whose stream carries it
    int indices;        // %1 runs over 0 .. indices-1
};

// Every member path the plug-in reads: parameter identifiers mapped to block members (CAN
// parameter transfer, device syncers, result parameter map), identification (discovery), and the
// result extraction of channel 8.
const PathUse kPaths[] = {
    {Kp, 1, "BeginHeatingTemperature", TC_INT8, 1, ALL, 0},
    {Kp, 2, "StopHeatingTemperature", TC_INT8, 1, ALL, 0},
    {Dsp, 11, "Ipv4AddressCamera", TC_UINT8, 4, ALL, 0},
    {Dsp, 12, "SubnetMask", TC_UINT8, 4, ALL, 0},
    {Dsp, 13, "Ipv4AddressDestination", TC_UINT8, 4, ALL, 0},
    {Dsp, 14, "destinationUDPPort", TC_UINT16, 1, ALL, 0},
    {Dsp, 15, "EthernetOutputConfiguration", TC_UINT8, 1, ALL, 0},
    {Kp, 16, "CANProtocol", TC_UINT8, 1, ALL, 0},
    {Kp, 17, "CANBaudrate", TC_UINT32, 1, ALL, 0},
    {Kp, 18, "MasterSlaveConfiguration", TC_UINT8, 1, ALL, 0},
    {Kp, 19, "J1939SourceAddress", TC_UINT8, 1, ALL, 0},
    {Kp, 20, "CANopenNodeAddress", TC_UINT8, 1, ALL, 0},
    {Kp, 21, "CANMaxNumberOfObjects", TC_UINT8, 1, ALL, 0},
    {Kp, 22, "CANMaxNumberOfLines", TC_UINT8, 1, ALL, 0},
    {Kp, 23, "CANOutputCycleModulo", TC_UINT8, 1, ALL, 0},
    {Dsp, 24, "PMDExtrCalib_camCal_transX", TC_FLOAT, 1, ALL, 0},
    {Dsp, 25, "PMDExtrCalib_camCal_transY", TC_FLOAT, 1, ALL, 0},
    {Dsp, 26, "PMDExtrCalib_camCal_transZ", TC_FLOAT, 1, ALL, 0},
    {Dsp, 27, "PMDExtrCalib_camCal_rotX", TC_FLOAT, 1, ALL, 0},
    {Dsp, 28, "PMDExtrCalib_camCal_rotY", TC_FLOAT, 1, ALL, 0},
    {Dsp, 29, "PMDExtrCalib_camCal_rotZ", TC_FLOAT, 1, ALL, 0},
    {Dsp, 30, "PMDExtrCalib_IlluCal_transX", TC_FLOAT, 1, ALL, 0},
    {Dsp, 31, "PMDExtrCalib_IlluCal_transY", TC_FLOAT, 1, ALL, 0},
    {Dsp, 32, "PMDExtrCalib_IlluCal_transZ", TC_FLOAT, 1, ALL, 0},
    {Dsp, 33, "PMDExtrCalib_IlluCalibIsRelative", TC_UINT8, 1, ALL, 0},
    {Dsp, 34, "%F_pixelPlausibilizationThresholds", TC_UINT8, 1, ALL, 0},
    {Dsp, 35, "%F_sprayRemovalSensitivity", TC_UINT8, 1, ALL, 0},
    {Dsp, 36, "%F_blockageSensitivity", TC_UINT8, 1, ALL, 0},
    {Kp, 37, "CycleTime", TC_UINT16, 1, ALL, 0},
    {Dsp, 38, "DistImageCust_reflectorCloseRange", TC_UINT8, 1, ALL, 0},
    {Dsp, 39, "%F_reflectorThresholdValue", TC_FLOAT, 1, ALL, 0},
    {Dsp, 40, "%F_spatialFilterXMin", TC_FLOAT, 1, ALL, 0},
    {Dsp, 41, "%F_spatialFilterXMax", TC_FLOAT, 1, ALL, 0},
    {Dsp, 42, "%F_spatialFilterYMin", TC_FLOAT, 1, ALL, 0},
    {Dsp, 43, "%F_spatialFilterYMax", TC_FLOAT, 1, ALL, 0},
    {Dsp, 44, "%F_spatialFilterZMin", TC_FLOAT, 1, ALL, 0},
    {Dsp, 45, "%F_spatialFilterZMax", TC_FLOAT, 1, ALL, 0},
    {Dsp, 46, "%F_autocalibrationMode", TC_UINT8, 1, ALL, 0},
    {Dsp, 47, "DistanceImageOnSwitch", TC_UINT8, 1, ALL, 0},
    {Dsp, 48, "DistImageCust_bfActive", TC_UINT8, 1, ALL, 0},
    {Dsp, 49, "DistImageCust_bfROIs_group", TC_UINT8, 64, ALL, 0},
    {Dsp, 50, "DistImageCust_bfROIs_upperLeftX", TC_UINT8, 64, ALL, 0},
    {Dsp, 51, "DistImageCust_bfROIs_upperLeftY", TC_UINT8, 64, ALL, 0},
    {Dsp, 52, "DistImageCust_bfROIs_lowerRightX", TC_UINT8, 64, ALL, 0},
    {Dsp, 53, "DistImageCust_bfROIs_lowerRightY", TC_UINT8, 64, ALL, 0},
    {Dsp, 54, "DistImageCust_bfROIs_numberOfROIs", TC_UINT8, 1, ALL, 0},
    {Dsp, 55, "DistImageCust_bfVOI_xMin", TC_FLOAT, 1, ALL, 0},
    {Dsp, 56, "DistImageCust_bfVOI_xMax", TC_FLOAT, 1, ALL, 0},
    {Dsp, 57, "DistImageCust_bfVOI_yMin", TC_FLOAT, 1, ALL, 0},
    {Dsp, 58, "DistImageCust_bfVOI_yMax", TC_FLOAT, 1, ALL, 0},
    {Dsp, 59, "DistImageCust_bfVOI_zMin", TC_FLOAT, 1, ALL, 0},
    {Dsp, 60, "DistImageCust_bfVOI_zMax", TC_FLOAT, 1, ALL, 0},
    {Dsp, 61, "DistImageCust_bfResultTypes", TC_UINT16, 64, ALL, 0},
    {Dsp, 62, "DistImageCust_bfTemporalWindowSize", TC_UINT8, 1, ALL, 0},
    {Dsp, 63, "DistImageCust_bfOutputMode", TC_UINT8, 1, ALL, 0},
    {Dsp, 64, "DistImageCust_bfReferenceDomain", TC_UINT8, 1, ALL, 0},
    {Dsp, 65, "DistImageCust_bfReferenceDomains", TC_UINT8, 64, ALL, 0},
    {Dsp, 66, "DistImageCust_bfROIs_maxCartX", TC_INT16, 64, ALL, 0},
    {Dsp, 67, "DistImageCust_bfROIs_maxCartY", TC_INT16, 64, ALL, 0},
    {Dsp, 68, "DistImageCust_bfROIs_maxCartZ", TC_INT16, 64, ALL, 0},
    {Dsp, 69, "DistImageCust_bfROIs_minCartX", TC_INT16, 64, ALL, 0},
    {Dsp, 70, "DistImageCust_bfROIs_minCartY", TC_INT16, 64, ALL, 0},
    {Dsp, 71, "DistImageCust_bfROIs_minCartZ", TC_INT16, 64, ALL, 0},
    {Dsp, 72, "ObjectListCust_objectDetectionVariant", TC_UINT8, 1, ALL, 0},
    {Dsp, 73, "ObjectListCust_ObjectDetectionZMin", TC_FLOAT, 1, ALL, 0},
    {Dsp, 74, "ObjectListCust_ObjectDetectionZMax", TC_FLOAT, 1, ALL, 0},
    {Dsp, 75, "ObjectListCust_EgoMotionDynamics", TC_UINT8, 1, ALL, 0},
    {Dsp, 76, "ObjectListCust_accBrake", TC_FLOAT, 1, ALL, 0},
    {Dsp, 77, "ObjectListCust_egoVMin", TC_FLOAT, 1, ALL, 0},
    {Dsp, 78, "ObjectListCust_egoVMax", TC_FLOAT, 1, ALL, 0},
    {Dsp, 79, "ObjectListCust_delayBrake", TC_FLOAT, 1, ALL, 0},
    {Dsp, 80, "ObjectListCust_CrashPredictorSensitivity", TC_UINT8, 1, ALL, 0},
    {Dsp, 81, "ObjectListCust_UseCaseApproach", TC_UINT8, 1, ALL, 0},
    {Dsp, 82, "VehicleDim_xMin", TC_FLOAT, 1, ALL, 0},
    {Dsp, 83, "VehicleDim_xMax", TC_FLOAT, 1, ALL, 0},
    {Dsp, 84, "VehicleDim_yMin", TC_FLOAT, 1, ALL, 0},
    {Dsp, 85, "VehicleDim_yMax", TC_FLOAT, 1, ALL, 0},
    {Dsp, 86, "VehicleDim_zMax", TC_FLOAT, 1, ALL, 0},
    {Dsp, 87, "ObjectListCust_EgoDataMode", TC_UINT8, 1, ALL, 0},
    {Dsp, 88, "ObjectListCust_cpActivate", TC_UINT8, 1, ALL, 0},
    {Dsp, 89, "ObjectListCust_cpDeactivateTimeAfterTrigger", TC_FLOAT, 1, ALL, 0},
    {Dsp, 90, "ObjectListCust_cpMaxCrashObjectDistance", TC_FLOAT, 1, ALL, 0},
    {Dsp, 91, "ObjectListCust_cpMinDistAllowed", TC_FLOAT, 1, ALL, 0},
    {Dsp, 92, "triggeredStreetCalibration", TC_UINT8, 1, ALL, 0},
    {Dsp, 93, "LineGuidanceCust_lineGuidanceMode", TC_UINT8, 1, ALL, 0},
    {Dsp, 94, "LineGuidanceCust_maxLineAngle", TC_FLOAT, 1, ALL, 0},
    {Dsp, 95, "LineGuidanceCust_xMin", TC_FLOAT, 1, ALL, 0},
    {Dsp, 96, "LineGuidanceCust_xMax", TC_FLOAT, 1, ALL, 0},
    {Dsp, 97, "LineGuidanceCust_yMin", TC_FLOAT, 1, ALL, 0},
    {Dsp, 98, "LineGuidanceCust_yMax", TC_FLOAT, 1, ALL, 0},
    {Dsp, 99, "LineGuidanceCust_minHeight", TC_FLOAT, 1, ALL, 0},
    {Dsp, 100, "LineGuidanceCust_minWidth", TC_FLOAT, 1, ALL, 0},
    {Dsp, 101, "LineGuidanceCust_maxWidth", TC_FLOAT, 1, ALL, 0},
    {Dsp, 102, "LineGuidanceCust_skipStreetPlaneEstimation", TC_UINT8, 1, ALL, 0},
    {Dsp, 103, "LineGuidanceCust_EgoDataMode", TC_UINT8, 1, ALL, 0},
    {Dsp, 104, "LineGuidanceCust_referencePointXPos", TC_FLOAT, 1, ALL, 0},
    {Dsp, 105, "LineGuidanceCust_referencePointYPos", TC_FLOAT, 1, ALL, 0},
    {Dsp, 106, "LineGuidanceCust_referencePointZPos", TC_FLOAT, 1, ALL, 0},
    {Dsp, 107, "LineGuidanceCust_steeringTTC", TC_FLOAT, 1, ALL, 0},
    {Dsp, 108, "LineGuidanceCust_steeringXMax", TC_FLOAT, 1, ALL, 0},
    {Dsp, 109, "LineGuidanceCust_steeringXMin", TC_FLOAT, 1, ALL, 0},
    {Dsp, 110, "AutoCalibParam_numberOfPatterns", TC_UINT8, 1, ALL, 0},
    {Dsp, 111, "AutoCalibParam_xPattern", TC_FLOAT, 8, ALL, 0},
    {Dsp, 112, "AutoCalibParam_yPattern", TC_FLOAT, 8, ALL, 0},
    {Dsp, 113, "AutoCalibParam_zPattern", TC_FLOAT, 8, ALL, 0},
    {Dsp, 114, "AutoCalibParam_patternType", TC_UINT8, 8, ALL, 0},
    {Dsp, 141, "twoD_mirrorX", TC_UINT8, 1, ALL, 0},
    {Dsp, 142, "twoD_mirrorY", TC_UINT8, 1, ALL, 0},
    // Identification and state, channel 256.
    {Meas, 0, "CANBaudrate", TC_UINT32, 1, ALL, 0},
    {Meas, 0, "CameraSerialNumber", TC_INT8, 20, ALL, 0},
    {Meas, 0, "CameraPartNumber", TC_INT8, 6, ALL, 0},
    {Meas, 0, "CameraVariant", AnyByte, 3, ALL, 0},
    {Meas, 0, "SoftwareVersion", TC_UINT8, 3, ALL, 0},
    {Meas, 0, "OpMode", TC_UINT8, 1, ALL, 0},
    {Meas, 0, "CameraMainTemperature", TC_FLOAT, 1, ALL, 0},
    {Meas, 0, "IlluTemperature", TC_FLOAT, 1, ALL, 0},
    // Result extraction, channel 8.
    {Algo, 0, "distanceImageResult.sensorWidth", TC_UINT16, 1, ALL, 0},
    {Algo, 0, "distanceImageResult.sensorHeight", TC_UINT16, 1, ALL, 0},
    {Algo, 0, "distanceImageResult.distanceData", TC_UINT16, 1024, ALL, 0},
    {Algo, 0, "distanceImageResult.X", TC_FLOAT, 1024, ALL, 0},
    {Algo, 0, "distanceImageResult.Y", TC_FLOAT, 1024, ALL, 0},
    {Algo, 0, "distanceImageResult.Z", TC_FLOAT, 1024, ALL, 0},
    {Algo, 0, "distanceImageResult.confidence", TC_UINT16, 1024, ALL, 0},
    {Algo, 0, "distanceImageResult.amplitude", TC_UINT16, 1024, ALL, 0},
    {Algo, 0, "distanceImageResult.amplitude_normalization", TC_FLOAT, 4, ALL, 0},
    {Algo, 0, "distanceImageResult.masterclockTimestamp", TC_UINT32, 1, ALL, 0},
    {Algo, 0, "distanceImageResult.frameCounter", TC_UINT32, 1, ALL, 0},
    {Algo, 0, "distanceImageResult.available", TC_UINT32, 1, ALL, 0},
    {Algo, 0, "distanceImageResult.cameraCalibration.transX", TC_FLOAT, 1, ALL, 0},
    {Algo, 0, "distanceImageResult.cameraCalibration.transY", TC_FLOAT, 1, ALL, 0},
    {Algo, 0, "distanceImageResult.cameraCalibration.transZ", TC_FLOAT, 1, ALL, 0},
    {Algo, 0, "distanceImageResult.cameraCalibration.rotX", TC_FLOAT, 1, ALL, 0},
    {Algo, 0, "distanceImageResult.cameraCalibration.rotY", TC_FLOAT, 1, ALL, 0},
    {Algo, 0, "distanceImageResult.cameraCalibration.rotZ", TC_FLOAT, 1, ALL, 0},
    {Algo, 0, "distanceImageResult.fieldOfView.upperLeft", TC_FLOAT, 3, ALL, 0},
    {Algo, 0, "distanceImageResult.fieldOfView.upperRight", TC_FLOAT, 3, ALL, 0},
    {Algo, 0, "distanceImageResult.fieldOfView.lowerRight", TC_FLOAT, 3, ALL, 0},
    {Algo, 0, "distanceImageResult.fieldOfView.lowerLeft", TC_FLOAT, 3, ALL, 0},
    {Algo, 0, "objectDetectionResult.objectList[%1].id", TC_INT32, 1, OD, 20},
    {Algo, 0, "objectDetectionResult.objectList[%1].history", TC_INT32, 1, OD, 20},
    {Algo, 0, "objectDetectionResult.objectList[%1].measured", TC_INT32, 1, OD, 20},
    {Algo, 0, "objectDetectionResult.objectList[%1].type", TC_INT32, 1, OD, 20},
    {Algo, 0, "objectDetectionResult.objectList[%1].age", TC_INT32, 1, OD, 20},
    {Algo, 0, "objectDetectionResult.objectList[%1].x1", TC_FLOAT, 1, OD, 20},
    {Algo, 0, "objectDetectionResult.objectList[%1].y1", TC_FLOAT, 1, OD, 20},
    {Algo, 0, "objectDetectionResult.objectList[%1].x2", TC_FLOAT, 1, OD, 20},
    {Algo, 0, "objectDetectionResult.objectList[%1].y2", TC_FLOAT, 1, OD, 20},
    {Algo, 0, "objectDetectionResult.objectList[%1].zMin", TC_FLOAT, 1, OD, 20},
    {Algo, 0, "objectDetectionResult.objectList[%1].zMax", TC_FLOAT, 1, OD, 20},
    {Algo, 0, "objectDetectionResult.objectList[%1].vX", TC_FLOAT, 1, OD, 20},
    {Algo, 0, "objectDetectionResult.objectList[%1].vY", TC_FLOAT, 1, OD, 20},
    {Algo, 0, "objectDetectionResult.objectList[%1].vZ", TC_FLOAT, 1, OD, 20},
    {Algo, 0, "objectDetectionResult.objectList[%1].aX", TC_FLOAT, 1, OD, 20},
    {Algo, 0, "objectDetectionResult.objectList[%1].aY", TC_FLOAT, 1, OD, 20},
    {Algo, 0, "objectDetectionResult.objectList[%1].aZ", TC_FLOAT, 1, OD, 20},
    {Algo, 0, "objectDetectionResult.objectList[%1].existenceProbability", TC_FLOAT, 1, OD, 20},
    {Algo, 0, "objectDetectionResult.objectList[%1].vXQuality", TC_FLOAT, 1, OD, 20},
    {Algo, 0, "objectDetectionResult.objectList[%1].vYQuality", TC_FLOAT, 1, OD, 20},
    {Algo, 0, "objectDetectionResult.crashPredictorResult.crashObjectID", TC_INT32, 1, OD, 0},
    {Algo, 0, "objectDetectionResult.crashPredictorResult.crashPredictTime", TC_FLOAT, 1, OD, 0},
    {Algo, 0, "objectDetectionResult.crashPredictorResult.relImpactVelocity", TC_FLOAT, 1, OD, 0},
    {Algo, 0, "objectDetectionResult.crashPredictorResult.crashPredicted", TC_INT32, 1, OD, 0},
    {Algo, 0, "distanceImageResult.intrExtrCalib_2d.intrCalib_2D_fx", TC_FLOAT, 1, OD, 0},
    {Algo, 0, "distanceImageResult.intrExtrCalib_2d.intrCalib_2D_fy", TC_FLOAT, 1, OD, 0},
    {Algo, 0, "distanceImageResult.intrExtrCalib_2d.intrCalib_2D_mx", TC_FLOAT, 1, OD, 0},
    {Algo, 0, "distanceImageResult.intrExtrCalib_2d.intrCalib_2D_my", TC_FLOAT, 1, OD, 0},
    {Algo, 0, "distanceImageResult.intrExtrCalib_2d.intrCalib_alpha", TC_FLOAT, 1, OD, 0},
    {Algo, 0, "distanceImageResult.intrExtrCalib_2d.intrCalib_k1", TC_FLOAT, 1, OD, 0},
    {Algo, 0, "distanceImageResult.intrExtrCalib_2d.intrCalib_k2", TC_FLOAT, 1, OD, 0},
    {Algo, 0, "distanceImageResult.intrExtrCalib_2d.intrCalib_k3", TC_FLOAT, 1, OD, 0},
    {Algo, 0, "distanceImageResult.intrExtrCalib_2d.intrCalib_k4", TC_FLOAT, 1, OD, 0},
    {Algo, 0, "distanceImageResult.intrExtrCalib_2d.intrCalib_k5", TC_FLOAT, 1, OD, 0},
    {Algo, 0, "distanceImageResult.intrExtrCalib_2d.extrCalib_center_tx", TC_FLOAT, 1, OD, 0},
    {Algo, 0, "distanceImageResult.intrExtrCalib_2d.extrCalib_center_ty", TC_FLOAT, 1, OD, 0},
    {Algo, 0, "distanceImageResult.intrExtrCalib_2d.extrCalib_center_tz", TC_FLOAT, 1, OD, 0},
    {Algo, 0, "distanceImageResult.intrExtrCalib_2d.extrCalib_delta_tx", TC_FLOAT, 1, OD, 0},
    {Algo, 0, "distanceImageResult.intrExtrCalib_2d.extrCalib_delta_ty", TC_FLOAT, 1, OD, 0},
    {Algo, 0, "distanceImageResult.intrExtrCalib_2d.extrCalib_delta_tz", TC_FLOAT, 1, OD, 0},
    {Algo, 0, "distanceImageResult.intrExtrCalib_2d.extrCalib_rot_x", TC_FLOAT, 1, OD, 0},
    {Algo, 0, "distanceImageResult.intrExtrCalib_2d.extrCalib_rot_y", TC_FLOAT, 1, OD, 0},
    {Algo, 0, "distanceImageResult.intrExtrCalib_2d.extrCalib_rot_z", TC_FLOAT, 1, OD, 0},
    {Algo, 0, "lineGuidanceResult.lineList[%1].id", TC_INT32, 1, LG, 5},
    {Algo, 0, "lineGuidanceResult.lineList[%1].history", TC_INT32, 1, LG, 5},
    {Algo, 0, "lineGuidanceResult.lineList[%1].measured", TC_INT32, 1, LG, 5},
    {Algo, 0, "lineGuidanceResult.lineList[%1].type", TC_INT32, 1, LG, 5},
    {Algo, 0, "lineGuidanceResult.lineList[%1].alpha", TC_FLOAT, 1, LG, 5},
    {Algo, 0, "lineGuidanceResult.lineList[%1].offset", TC_FLOAT, 1, LG, 5},
    {Algo, 0, "lineGuidanceResult.lineList[%1].curvature", TC_FLOAT, 1, LG, 5},
    {Algo, 0, "lineGuidanceResult.lineList[%1].quality", TC_FLOAT, 1, LG, 5},
    {Algo, 0, "lineGuidanceResult.lineList[%1].foresight", TC_FLOAT, 1, LG, 5},
    {Algo, 0, "lineGuidanceResult.lineList[%1].heap_area", TC_FLOAT, 1, LG, 5},
    {Algo, 0, "lineGuidanceResult.lineList[%1].heap_area_valid", TC_INT32, 1, LG, 5},
    {Algo, 0, "lineGuidanceResult.lineList[%1].heap_width", TC_FLOAT, 1, LG, 5},
    {Algo, 0, "lineGuidanceResult.lineList[%1].heap_width_valid", TC_INT32, 1, LG, 5},
    {Algo, 0, "lineGuidanceResult.lineList[%1].center_of_gravity_offset", TC_FLOAT, 1, LG, 5},
    {Algo, 0, "lineGuidanceResult.lineList[%1].center_of_gravity_offset_valid", TC_INT32, 1, LG, 5},
    {Algo, 0, "lineGuidanceResult.lineList[%1].max_height_offset", TC_FLOAT, 1, LG, 5},
    {Algo, 0, "lineGuidanceResult.lineList[%1].max_height_offset_valid", TC_INT32, 1, LG, 5},
    {Algo, 0, "lineGuidanceResult.lineList[%1].heap_height", TC_FLOAT, 1, LG, 5},
    {Algo, 0, "lineGuidanceResult.lineList[%1].heap_height_valid", TC_INT32, 1, LG, 5},
    {Algo, 0, "lineGuidanceResult.lineList[%1].z_step_detection_height", TC_FLOAT, 1, LG, 5},
    {Algo, 0, "lineGuidanceResult.lineList[%1].z_step_detection_valid", TC_INT32, 1, LG, 5},
    {Algo, 0, "lineGuidanceResult.ref_Point", TC_FLOAT, 3, LG, 0},
    {Algo, 0, "calibrationResult.commonCalibrationResult.calibResult.transZ", TC_FLOAT, 1, LG, 0},
    {Algo, 0, "calibrationResult.commonCalibrationResult.calibResult.rotX", TC_FLOAT, 1, LG, 0},
    {Algo, 0, "calibrationResult.commonCalibrationResult.calibResult.rotY", TC_FLOAT, 1, LG, 0},
    {Algo, 0, "calibrationResult.commonCalibrationResult.calibResult.rotZ", TC_FLOAT, 1, LG, 0},
    {Algo, 0, "calibrationResult.commonCalibrationResult.calibrationStableCounter", TC_INT32, 1, LG, 0},
    {Algo, 0, "calibrationResult.commonCalibrationResult.calibValid", TC_INT32, 1, LG, 0},
};

// Identifiers in ranges, as the readers' tables state them.
std::set<int> ids(std::initializer_list<std::pair<int, int>> ranges, const std::set<int>& base = {}) {
    std::set<int> s = base;
    for (const auto& r : ranges) {
        for (int i = r.first; i <= r.second; ++i) {
            s.insert(i);
        }
    }
    return s;
}
using R = std::pair<int, int>;

// Identifiers each device syncer reads (parents' sets included), and those that the result
// extraction reads from channel 14 and channel 256 per variant.
const std::set<int> kCommon =
    ids({R{3, 9}, R{11, 15}, R{17, 17}, R{24, 32}, R{34, 34}, R{37, 37}, R{110, 114}});
const std::map<std::string, std::set<int>> kSyncerIds = [] {
    std::map<std::string, std::set<int>> m;
    m["LG_2_1"] = ids({R{16, 16}, R{19, 20}, R{35, 36}, R{39, 39}, R{46, 47}, R{93, 102}, R{1, 2}, R{18, 18},
                       R{23, 23}, R{40, 45}},
                      kCommon);
    m["OD_2_2"] = ids({R{1, 2}, R{16, 16}, R{19, 20}, R{35, 36}, R{39, 39}, R{46, 47}, R{72, 87}, R{18, 18},
                       R{21, 21}, R{23, 23}, R{40, 45}},
                      kCommon);
    m["DN_DI_2_2"] =
        ids({R{1, 2}, R{16, 16}, R{19, 20}, R{35, 36}, R{38, 39}, R{18, 18}, R{23, 23}, R{40, 45}}, kCommon);
    m["FN_DI_2_2"] = ids({R{48, 64}}, m["DN_DI_2_2"]);
    m["LG_3_2"] = ids({R{1, 2}, R{16, 16}, R{19, 20}, R{22, 22}, R{33, 33}, R{35, 36}, R{39, 39}, R{47, 47},
                       R{92, 114}, R{18, 18}, R{23, 23}, R{40, 45}},
                      kCommon);
    m["OD_3_2"] = ids({R{88, 92}, R{141, 142}}, m["OD_2_2"]);
    m["DN_DI_3_2"] = ids({R{1, 2}, R{16, 16}, R{19, 20}, R{33, 33}, R{35, 36}, R{38, 39}, R{92, 92},
                          R{141, 142}, R{18, 18}, R{23, 23}, R{40, 45}},
                         kCommon);
    m["FN_DI_3_2"] = ids({R{48, 54}, R{61, 63}, R{65, 71}}, m["DN_DI_3_2"]);
    return m;
}();
const std::set<int> kChannel14Common = ids({R{11, 15}, R{24, 32}, R{110, 114}});
const std::map<std::string, std::set<int>> kChannel14Ids = {
    {"DI", ids({R{34, 36}, R{38, 45}, R{33, 33}, R{92, 92}, R{141, 142}}, kChannel14Common)},
    {"OD",
     ids({R{47, 47}, R{34, 36}, R{39, 46}, R{72, 80}, R{82, 87}, R{88, 92}, R{141, 142}}, kChannel14Common)},
    {"LG",
     ids({R{47, 47}, R{34, 36}, R{46, 46}, R{93, 102}, R{33, 33}, R{92, 92}, R{103, 109}}, kChannel14Common)},
};
const std::set<int> kChannel256KpIds = {16, 19, 20, 22};

// The syncers a sensor of this variant and version gets (both models for DI, which share a file).
std::vector<std::string> syncersFor(const std::string& variant, const std::string& version) {
    auto in = [&](std::initializer_list<const char*> list) {
        return std::find(list.begin(), list.end(), version) != list.end();
    };
    if (variant == "LG") {
        return in({"2_1", "3_0"})                 ? std::vector<std::string>{"LG_2_1"}
               : in({"3_2", "3_3", "3_4", "3_5"}) ? std::vector<std::string>{"LG_3_2"}
                                                  : std::vector<std::string>{};
    }
    if (variant == "OD") {
        return in({"2_2", "3_0"})          ? std::vector<std::string>{"OD_2_2"}
               : in({"3_2", "3_3", "3_4"}) ? std::vector<std::string>{"OD_3_2"}
                                           : std::vector<std::string>{};
    }
    return in({"2_2", "3_1"})          ? std::vector<std::string>{"DN_DI_2_2", "FN_DI_2_2"}
           : in({"3_2", "3_3", "3_4"}) ? std::vector<std::string>{"DN_DI_3_2", "FN_DI_3_2"}
                                       : std::vector<std::string>{};
}

// --- Helpers -------------------------------------------------------------------------------------

std::vector<uint8_t> resource(const QString& name) {
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray bytes = file.readAll();
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

std::string expand(const PathUse& use, const std::string& variant, int index) {
    std::string s = use.member;
    static const std::map<std::string, std::string> function = {
        {"DI", "DistImageCust"}, {"OD", "ObjectListCust"}, {"LG", "LineGuidanceCust"}};
    if (const size_t f = s.find("%F"); f != std::string::npos) {
        s.replace(f, 2, function.at(variant));
    }
    if (const size_t i = s.find("%1"); i != std::string::npos) {
        s.replace(i, 2, std::to_string(index));
    }
    return s;
}

const PathUse& useOfId(int id) {
    for (const PathUse& u : kPaths) {
        if (u.id == id) {
            return u;
        }
    }
    throw std::out_of_range("no path for identifier " + std::to_string(id));
}

template <class T> void readAs(const ITypePtr& root, const std::string& path, uint32_t count) {
    std::vector<uint8_t> data(root->size());
    std::vector<T> dest(count);
    read<T>(root, path, dest.data(), count, data.data(), data.size());
}

// The path resolves to the expected element type and count, and a typed read of that type and
// count succeeds on a block of the description's size.
void expectReadable(const ITypePtr& root, const std::string& path, int type, uint32_t count) {
    SCOPED_TRACE(path);
    try {
        const PathType found = typeOfPath(root, path);
        uint64_t elements = 1;
        for (const uint32_t d : found.uncoveredDimensions) {
            elements *= d;
        }
        if (type == AnyByte) {
            EXPECT_TRUE(found.code == TC_INT8 || found.code == TC_UINT8) << "type code " << found.code;
        } else {
            EXPECT_EQ(found.code, type);
        }
        EXPECT_EQ(elements, count);
        switch (type == AnyByte ? found.code : type) {
        case TC_INT8:
            return readAs<int8_t>(root, path, count);
        case TC_INT16:
            return readAs<int16_t>(root, path, count);
        case TC_INT32:
            return readAs<int32_t>(root, path, count);
        case TC_UINT8:
            return readAs<uint8_t>(root, path, count);
        case TC_UINT16:
            return readAs<uint16_t>(root, path, count);
        case TC_UINT32:
            return readAs<uint32_t>(root, path, count);
        case TC_FLOAT:
            return readAs<float>(root, path, count);
        default:
            ADD_FAILURE() << "no reader for type code " << type;
        }
    } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
    }
}

// Every node below root: path, type code, dimensions, offset relative to root's offset.
struct Leaf {
    int code;
    Dimensions dims;
    uint32_t offset;
    bool operator==(const Leaf& o) const { return code == o.code && dims == o.dims && offset == o.offset; }
};
std::map<std::string, Leaf> layoutOf(const ITypePtr& root) {
    std::map<std::string, Leaf> out;
    std::function<void(const IType&, const std::string&)> walk = [&](const IType& t,
                                                                     const std::string& path) {
        for (const ITypePtr& m : t.members()) {
            const std::string p = path + "." + m->name();
            out[p] = Leaf{typeCodeOf(*m), m->dimensions(), m->offset() - root->offset()};
            walk(*m, p);
        }
    };
    walk(*root, "");
    return out;
}

ITypePtr memberNamed(const ITypePtr& parent, const std::string& name) {
    for (const ITypePtr& m : parent->members()) {
        if (m->name() == name) {
            return m;
        }
    }
    return {};
}

struct Param {
    std::string block, variant, version;
    std::string name() const { return block + "_" + variant + "_" + version; }
    QString resourceName() const { return QString::fromStdString(":/paramdescription/" + name() + ".kvd"); }
};
std::vector<Param> allParams() {
    std::vector<Param> all;
    for (const char* block : {"DSP_CPAR", "KP_CPAR"}) {
        for (const auto& [variant, versions] : kVersions) {
            for (const std::string& version : versions) {
                all.push_back({block, variant, version});
            }
        }
    }
    return all;
}

QString streamResource(int channel, const std::string& variant) {
    return QStringLiteral(":/streamdescription/%1_%2.kvd").arg(channel).arg(QString::fromStdString(variant));
}

} // namespace

// --- Tests ---------------------------------------------------------------------------------------

// Other resources (diagnostic descriptions, flash drivers) share the folder; descriptions end in .kvd.
static const QStringList kKvd{QStringLiteral("*.kvd")};

TEST(EmbeddedDescriptions, EveryDescriptionIsPresentUnderItsNameAndNoOther) {
    QStringList expected;
    for (const Param& p : allParams()) {
        expected << QString::fromStdString(p.name() + ".kvd");
    }
    expected.sort();
    EXPECT_EQ(expected.size(), 54);
    EXPECT_EQ(QDir(":/paramdescription").entryList(kKvd, QDir::Files, QDir::Name), expected);

    QStringList streams;
    for (const int channel : {8, 14, 256}) {
        for (const char* variant : {"DI", "OD", "LG"}) {
            streams << QStringLiteral("%1_%2.kvd").arg(channel).arg(variant);
        }
    }
    streams.sort();
    EXPECT_EQ(QDir(":/streamdescription").entryList(kKvd, QDir::Files, QDir::Name), streams);
}

TEST(EmbeddedDescriptions, EachParsesAndIsRewrittenByteForByte) {
    QStringList names;
    for (const QString& dir :
         {QStringLiteral(":/paramdescription/"), QStringLiteral(":/streamdescription/")}) {
        for (const QString& f : QDir(dir).entryList(kKvd, QDir::Files)) {
            names << dir + f;
        }
    }
    ASSERT_EQ(names.size(), 63);
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        const std::vector<uint8_t> bytes = resource(name);
        ASSERT_FALSE(bytes.empty());
        // The plug-in's own descriptions are version 0x0300, compressed, not enciphered.
        ASSERT_GE(bytes.size(), 13u);
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 8),
                  (std::vector<uint8_t>{0xDA, 0xDE, 0x03, 0x00, 1, 0, 0, 0}));
        try {
            const ITypePtr root = parse(bytes);
            ASSERT_TRUE(root);
            EXPECT_EQ(write(root), bytes);
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
        }
    }
}

TEST(EmbeddedDescriptions, ParameterBlocksKeepTheirRootsFirstMembersSizesAndByteOrders) {
    std::set<uint32_t> kpSizes, dspSizes;
    for (const Param& p : allParams()) {
        SCOPED_TRACE(p.name());
        const std::vector<uint8_t> bytes = resource(p.resourceName());
        // The CAN parameter transfer reads descriptions and blocks into 5000-byte buffers.
        EXPECT_LE(bytes.size(), 5000u);
        const ITypePtr root = parse(bytes);
        ASSERT_TRUE(root);
        const bool dsp = p.block == "DSP_CPAR";
        EXPECT_EQ(root->name(), dsp ? "DSP_CPARType" : "KP_CPARType");
        EXPECT_EQ(root->byteOrder(), uint32_t(dsp ? LittleEndian : BigEndian));
        EXPECT_TRUE(root->dimensions().empty());
        EXPECT_LE(root->size() + (dsp ? 0 : 64), 5000u);
        (dsp ? dspSizes : kpSizes).insert(root->size());

        ASSERT_GE(root->members().size(), 2u);
        const IType& id = *root->members()[0];
        const IType& version = *root->members()[1];
        EXPECT_EQ(id.name(), "BlockIdName");
        EXPECT_EQ(typeCodeOf(id), TC_INT8);
        EXPECT_EQ(id.dimensions(), Dimensions{21});
        EXPECT_EQ(id.offset(), 0u);
        EXPECT_EQ(version.name(), "BlockVersion");
        EXPECT_EQ(typeCodeOf(version), TC_UINT8);
        EXPECT_EQ(version.dimensions(), Dimensions{3});
        EXPECT_EQ(version.offset(), 21u);
    }
    EXPECT_TRUE(kpSizes.count(40)) << "no KP block of 40 bytes";
    EXPECT_TRUE(dspSizes.count(296)) << "no DSP block of 296 bytes";
}

// A sensor's newer firmware keeps every member of the older layouts where it was, with its type.
TEST(EmbeddedDescriptions, LaterVersionsKeepEveryMemberOfEarlierOnes) {
    for (const char* block : {"DSP_CPAR", "KP_CPAR"}) {
        for (const auto& [variant, versions] : kVersions) {
            std::map<std::string, Leaf> previous;
            std::string previousName;
            for (const std::string& version : versions) {
                const Param p{block, variant, version};
                SCOPED_TRACE(p.name());
                const std::map<std::string, Leaf> layout = layoutOf(parse(resource(p.resourceName())));
                for (const auto& [path, leaf] : previous) {
                    const auto it = layout.find(path);
                    EXPECT_TRUE(it != layout.end() && it->second == leaf)
                        << path << " of " << previousName << " is missing or changed";
                }
                previous = layout;
                previousName = p.name();
            }
        }
    }
}

TEST(EmbeddedDescriptions, EveryParameterTheSyncersReadResolvesWithItsType) {
    int checked = 0;
    for (const Param& p : allParams()) {
        SCOPED_TRACE(p.name());
        const ITypePtr root = parse(resource(p.resourceName()));
        const Family family = p.block == "DSP_CPAR" ? Dsp : Kp;
        const std::string prefix = family == Dsp ? "DSP_CPARType." : "KP_CPARType.";
        std::set<int> wanted;
        for (const std::string& syncer : syncersFor(p.variant, p.version)) {
            wanted.insert(kSyncerIds.at(syncer).begin(), kSyncerIds.at(syncer).end());
        }
        for (const int id : wanted) {
            if (id == 46 && p.variant == "DI") {
                continue; // the DI variant has no autocalibration mode
            }
            const auto it = std::find_if(std::begin(kPaths), std::end(kPaths),
                                         [&](const PathUse& u) { return u.id == id; });
            if (it == std::end(kPaths) || it->family != family) {
                continue; // identity and status values, or the other block
            }
            expectReadable(root, prefix + expand(*it, p.variant, 0), it->type, it->count);
            ++checked;
        }
    }
    EXPECT_GT(checked, 800); // the tables above really were walked
}

TEST(EmbeddedDescriptions, EveryStreamPathResolvesWithItsType) {
    for (const char* variantText : {"DI", "OD", "LG"}) {
        const std::string variant = variantText;
        const int mask = variant == "DI" ? DI : variant == "OD" ? OD : LG;
        SCOPED_TRACE(variant);

        const ITypePtr algo = parse(resource(streamResource(8, variant)));
        const ITypePtr dsp = parse(resource(streamResource(14, variant)));
        const ITypePtr meas = parse(resource(streamResource(256, variant)));
        ASSERT_TRUE(algo && dsp && meas);
        EXPECT_EQ(algo->name(), "AlgoIFOutput");
        EXPECT_EQ(dsp->name(), "SDspFrameCustomerKvel_t");
        EXPECT_EQ(meas->name(), "Meas_Customer_Data_Type");
        EXPECT_EQ(algo->byteOrder(), uint32_t(LittleEndian));
        EXPECT_EQ(dsp->byteOrder(), uint32_t(LittleEndian));
        EXPECT_EQ(meas->byteOrder(), uint32_t(BigEndian));

        for (const PathUse& use : kPaths) {
            if ((use.family == Algo || use.family == Meas) && (use.variants & mask)) {
                const ITypePtr& root = use.family == Algo ? algo : meas;
                const std::string prefix = use.family == Algo ? "AlgoIFOutput." : "Meas_Customer_Data_Type.";
                for (const int index : {0, std::max(use.indices - 1, 0)}) {
                    expectReadable(root, prefix + expand(use, variant, index), use.type, use.count);
                }
            }
        }
        for (const int id : kChannel14Ids.at(variant)) {
            const PathUse& use = useOfId(id);
            expectReadable(dsp, "SDspFrameCustomerKvel_t.DspCustomerParameter." + expand(use, variant, 0),
                           use.type, use.count);
        }
        for (const int id : kChannel256KpIds) {
            const PathUse& use = useOfId(id);
            expectReadable(meas, "Meas_Customer_Data_Type.KpCustomerParameter." + expand(use, variant, 0),
                           use.type, use.count);
        }
        // Variant-specific parts stay out of the other variants' streams.
        EXPECT_EQ(bool(memberNamed(algo, "objectDetectionResult")), variant == "OD");
        EXPECT_EQ(bool(memberNamed(algo, "lineGuidanceResult")), variant == "LG");
    }
}

// Channel 14 carries the newest parameter layout of the variant, channel 256 the newest KP block,
// so a sensor can fill both from its one parameter image.
TEST(EmbeddedDescriptions, StreamParameterBlocksMatchTheNewestParameterLayouts) {
    for (const auto& [variant, versions] : kVersions) {
        SCOPED_TRACE(variant);
        const ITypePtr dspBlock = parse(resource(Param{"DSP_CPAR", variant, versions.back()}.resourceName()));
        const ITypePtr kpBlock = parse(resource(Param{"KP_CPAR", variant, versions.back()}.resourceName()));
        const ITypePtr dspStream =
            memberNamed(parse(resource(streamResource(14, variant))), "DspCustomerParameter");
        const ITypePtr kpStream =
            memberNamed(parse(resource(streamResource(256, variant))), "KpCustomerParameter");
        ASSERT_TRUE(dspStream && kpStream);
        EXPECT_EQ(dspStream->size(), dspBlock->size());
        EXPECT_EQ(kpStream->size(), kpBlock->size());
        EXPECT_EQ(layoutOf(dspStream), layoutOf(dspBlock));
        EXPECT_EQ(layoutOf(kpStream), layoutOf(kpBlock));
    }
}

// Channel 256 and its description must each fit one datagram (1472 bytes less 64 of headers and
// delimiter): the automatic search reads them only that way.
TEST(EmbeddedDescriptions, IdentificationChannelFitsOneDatagram) {
    for (const char* variant : {"DI", "OD", "LG"}) {
        const std::vector<uint8_t> bytes = resource(streamResource(256, variant));
        EXPECT_LE(bytes.size(), 1408u) << variant;
        EXPECT_LE(parse(bytes)->size(), 1408u) << variant;
    }
}

// The same value lands in opposite byte orders through channel 14 (DSP, little-endian) and
// channel 256 (KP, big-endian), and reads back through both.
TEST(EmbeddedDescriptions, StreamByteOrdersPlaceBytesAsTheProcessorsStoreThem) {
    const ITypePtr meas = parse(resource(streamResource(256, "OD")));
    const ITypePtr dsp = parse(resource(streamResource(14, "OD")));
    std::vector<uint8_t> measData(meas->size()), dspData(dsp->size());

    const uint32_t baud = 250000; // 0x0003D090
    write<uint32_t>(meas, "Meas_Customer_Data_Type.CANBaudrate", &baud, 1, measData.data(), measData.size());
    const uint16_t port = 42000; // 0xA410
    write<uint16_t>(dsp, "SDspFrameCustomerKvel_t.DspCustomerParameter.destinationUDPPort", &port, 1,
                    dspData.data(), dspData.size());

    const uint32_t baudAt = getAccessor<uint32_t>(meas, "Meas_Customer_Data_Type.CANBaudrate")->byteOffset;
    EXPECT_EQ(std::vector<uint8_t>(measData.begin() + baudAt, measData.begin() + baudAt + 4),
              (std::vector<uint8_t>{0x00, 0x03, 0xD0, 0x90}));
    const uint32_t portAt =
        getAccessor<uint16_t>(dsp, "SDspFrameCustomerKvel_t.DspCustomerParameter.destinationUDPPort")
            ->byteOffset;
    EXPECT_EQ(dspData[portAt], 0x10);
    EXPECT_EQ(dspData[portAt + 1], 0xA4);

    double asDouble = 0;
    read<double>(meas, "Meas_Customer_Data_Type.CANBaudrate", &asDouble, 1, measData.data(), measData.size());
    EXPECT_EQ(asDouble, 250000.0);
    uint16_t portBack = 0;
    read<uint16_t>(dsp, "SDspFrameCustomerKvel_t.DspCustomerParameter.destinationUDPPort", &portBack, 1,
                   dspData.data(), dspData.size());
    EXPECT_EQ(portBack, 42000);
}
