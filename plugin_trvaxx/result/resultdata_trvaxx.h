#pragma once

#include <QMap>
#include <QMetaType>
#include <QSharedPointer>
#include <QString>
#include <QVariant>

#include <array>
#include <cstdint>

// Result records of one measurement cycle. Each record is filled once by its producer (the package
// processor for Ethernet, the CAN receivers for function results) and read only afterwards, so
// they cross threads as shared pointers without locks.

// Number of pixels of the sensor image: 64 columns × 16 rows, stored row by row.
constexpr int TRVAXX_SENSOR_WIDTH = 64;
constexpr int TRVAXX_SENSOR_HEIGHT = 16;
constexpr int TRVAXX_PIXEL_COUNT = TRVAXX_SENSOR_WIDTH * TRVAXX_SENSOR_HEIGHT;
constexpr int TRVAXX_OBJECT_COUNT = 20;
constexpr int TRVAXX_LINE_COUNT = 5;
constexpr int TRVAXX_ROI_GROUP_COUNT = 64;

// Object type of a retro-reflector (shown on a layer and in colours of its own).
constexpr int32_t TRVAXX_RETRO_OBJECT_TYPE = 2;

// One detected object (object detection firmware).
struct DetectedObject_TRVAXX {
    int32_t id = -1;
    int32_t history = 0;
    int32_t measured = 0;
    int32_t type = 0;
    int32_t age = 0;
    float x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    float zMin = 0, zMax = 0;
    float vX = 0, vY = 0, vZ = 0;
    float aX = 0, aY = 0, aZ = 0;
    float existenceProbability = 0;
    float vXQuality = 0, vYQuality = 0;
};

// The object list with the collision predictor and the vehicle data that only CAN carries.
struct DetectedObjectData_TRVAXX {
    int32_t count = TRVAXX_OBJECT_COUNT;
    std::array<DetectedObject_TRVAXX, TRVAXX_OBJECT_COUNT> objects{};
    // Crash predictor; the first byte of crashPredictorValid is read as a flag.
    int32_t crashPredictorValid = 0;
    int32_t crashObjectID = 0;
    float crashPredictTime = 0;
    float relImpactVelocity = 0;
    int32_t crashPredicted = 0;
    // Filled from CAN only.
    uint8_t crashPredictorFlagsA = 0;
    uint8_t crashPredictorFlagsB = 0;
    uint8_t egoVelocityValid = 0;
    uint8_t yawRateValid = 0;
    float egoVelocity = 0;
    int32_t egoVelocityCycleTime = 0;
    int32_t drivingDirection = 0;
    float yawRate = 0;
    int32_t yawRateCycleTime = 0;
};

// One guidance line (line guidance firmware).
struct DetectedLine_TRVAXX {
    int32_t id = 0;
    int32_t history = 0;
    int32_t measured = 0;
    int32_t type = 0;
    float alpha = 0;
    float offset = 0;
    float curvature = 0;
    float quality = 0;
    float foresight = 0;
    float heap_area = 0;
    int32_t heap_area_valid = 0;
    float heap_width = 0;
    int32_t heap_width_valid = 0;
    float center_of_gravity_offset = 0;
    int32_t center_of_gravity_offset_valid = 0;
    float max_height_offset = 0;
    int32_t max_height_offset_valid = 0;
    float heap_height = 0;
    int32_t heap_height_valid = 0;
    float z_step_detection_height = 0;
    int32_t z_step_detection_valid = 0;
};

struct DetectedLineData_TRVAXX {
    int32_t count = TRVAXX_LINE_COUNT;
    std::array<DetectedLine_TRVAXX, TRVAXX_LINE_COUNT> lines{};
    std::array<float, 3> ref_Point{};
};

// Basic-function values of one ROI group; a value that is not available is a quiet NaN.
struct RoiGroupValues_TRVAXX {
    float x = 0, y = 0, z = 0;
    float amplitude = 0;
};

struct BasicFunctionsData_TRVAXX {
    int32_t count = TRVAXX_ROI_GROUP_COUNT;
    std::array<RoiGroupValues_TRVAXX, TRVAXX_ROI_GROUP_COUNT> roiGroups{};
};

struct CameraCalibration_TRVAXX {
    float transX = 0, transY = 0, transZ = 0;
    float rotX = 0, rotY = 0, rotZ = 0;
};

struct FieldOfView_TRVAXX {
    std::array<float, 3> upperLeft{};
    std::array<float, 3> upperRight{};
    std::array<float, 3> lowerRight{};
    std::array<float, 3> lowerLeft{};
};

// Intrinsic and extrinsic calibration of the 2D camera model.
struct Calibration2d_TRVAXX {
    float intrCalib_2D_fx = 0, intrCalib_2D_fy = 0;
    float intrCalib_2D_mx = 0, intrCalib_2D_my = 0;
    float intrCalib_alpha = 0;
    float intrCalib_k1 = 0, intrCalib_k2 = 0, intrCalib_k3 = 0, intrCalib_k4 = 0, intrCalib_k5 = 0;
    float extrCalib_center_tx = 0, extrCalib_center_ty = 0, extrCalib_center_tz = 0;
    float extrCalib_delta_tx = 0, extrCalib_delta_ty = 0, extrCalib_delta_tz = 0;
    float extrCalib_rot_x = 0, extrCalib_rot_y = 0, extrCalib_rot_z = 0;
};

// Result of the sensor's automatic (street) calibration.
struct CalibResult_TRVAXX {
    float transZ = 0, rotX = 0, rotY = 0, rotZ = 0;
    int32_t calibrationStableCounter = 0;
    int32_t calibValid = 0;
};

// Keys of the info map (parameters and a few result values carried by every result).
namespace InfoKey_TRVAXX {
enum : int {
    SoftwareVersion = 3,
    CameraVariant = 4,
    PartNumber = 5,
    OpMode = 6,
    CameraMainTemperature = 7,
    IlluTemperature = 8,
    FrameCounter = 9,
    Available = 10,
    Ipv4AddressCamera = 11,
    SubnetMask = 12,
    Ipv4AddressDestination = 13,
    DestinationUDPPort = 14,
    EthernetOutputConfiguration = 15,
    CANProtocol = 16,
    CANBaudrate = 17,
    J1939SourceAddress = 19,
    CANopenNodeAddress = 20,
    CANMaxNumberOfLines = 22,
};
}

// The result record of one measurement cycle (about 29 kB, one allocation per cycle).
struct ResultData_TRVAXX {
    typedef std::array<float, TRVAXX_PIXEL_COUNT> FloatImage;
    typedef std::array<uint16_t, TRVAXX_PIXEL_COUNT> WordImage;

    uint16_t sensorWidth = 0;
    uint16_t sensorHeight = 0;
    WordImage distanceData{};
    FloatImage X{};
    FloatImage Y{};
    FloatImage Z{};
    WordImage confidence{};
    WordImage amplitude{};
    std::array<float, 4> amplitude_normalization{};
    uint32_t masterclockTimestamp = 0;
    CameraCalibration_TRVAXX cameraCalibration;
    std::array<float, 3> illuminationOffset{};
    FieldOfView_TRVAXX fieldOfView;
    // Distance along the camera's optical axis, computed by the package processor.
    FloatImage cameraAxisDistance{};
    // Amplitude scaled by the normalisation factor that the pixel's exposure bits select.
    FloatImage normalizedAmplitude{};
    DetectedObjectData_TRVAXX objects;
    DetectedLineData_TRVAXX lines;
    Calibration2d_TRVAXX calibration2d;
    CalibResult_TRVAXX calibResult;
    QString softwareVersion;
    QString cameraVariant;
    QString partNumber;
    QString serialNumber;
    // Parameter identifier (InfoKey_TRVAXX and the parameter ids 24..142) to value.
    QMap<int, QVariant> info;
    // Bookkeeping of the package processor for recycled records: which remembered parameter block
    // the info map's DSP parameter entries were last copied from (0: none).
    quint64 parameterStamp = 0;

    // The frame counter of the info map, 0 when absent.
    quint32 frameCounter() const { return info.value(InfoKey_TRVAXX::FrameCounter).toUInt(); }
};

typedef QSharedPointer<ResultData_TRVAXX> ResultDataSP_TRVAXX;
typedef QSharedPointer<DetectedObjectData_TRVAXX> DetectedObjectData_TRVAXX_t;
typedef QSharedPointer<DetectedLineData_TRVAXX> DetectedLineData_TRVAXX_t;
typedef QSharedPointer<BasicFunctionsData_TRVAXX> BasicFunctionsData_TRVAXX_t;

Q_DECLARE_METATYPE(ResultDataSP_TRVAXX)
Q_DECLARE_METATYPE(DetectedObjectData_TRVAXX_t)
Q_DECLARE_METATYPE(DetectedLineData_TRVAXX_t)
Q_DECLARE_METATYPE(BasicFunctionsData_TRVAXX_t)

// Registers the record types under their type names so that queued string-based connections can
// carry them. Safe to call more than once and from any thread.
void registerResultMetaTypes_TRVAXX();
