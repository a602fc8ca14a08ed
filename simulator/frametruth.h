#pragma once
// The scene's truth for one measurement cycle: exactly the values the virtual sensor puts into
// its result frame, so that a test can compare what a receiver decodes against them.

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace trvsim {

constexpr int kSensorWidth = 64;
constexpr int kSensorHeight = 16;
constexpr int kPixelCount = kSensorWidth * kSensorHeight;
constexpr int kObjectSlots = 20;
constexpr int kLineSlots = 5;

// Confidence word bits.
namespace confidence {
constexpr uint16_t kInvalid = 0x0001;      // no valid measurement
constexpr uint16_t kExposureMask = 0x0006; // bits 1..2: index of the amplitude normalisation
constexpr int kExposureShift = 1;
constexpr uint16_t kClipping = 0x0020; // amplitude saturated (retro-reflector)
constexpr uint16_t kSpray = 0x00C0;    // bits 6..7: spray / rain / dust
constexpr uint16_t kSprayLight = 0x0040;
constexpr uint16_t kGround = 0x0100; // pixel lies on the ground plane
} // namespace confidence

// Bits of the `available` word (the global information flags, bit 0 first).
namespace available {
constexpr uint32_t kDistanceImage = 0x01;
constexpr uint32_t kObjectList = 0x02;
constexpr uint32_t kLineList = 0x04;
constexpr uint32_t kCalibrationResult = 0x08;
constexpr uint32_t kCalibration2d = 0x10;
constexpr uint32_t kSprayDetected = 0x20;
constexpr uint32_t kClipping = 0x40;
} // namespace available

// Unit of distanceData: millimetres of radial distance from the camera centre; 0 = invalid.
constexpr float kDistanceUnitMetres = 0.001f;

struct CameraPose {
    float transX = 0, transY = 0, transZ = 0; // metres, vehicle frame (x forward, y left, z up)
    float rotX = 0, rotY = 0, rotZ = 0;       // radians; camera axis = Rx(rotX) Ry(rotY) Rz(rotZ) e_z
};

struct ObjectTruth {
    int32_t id = -1, history = 0, measured = 0, type = 0, age = 0;
    float x1 = 0, y1 = 0, x2 = 0, y2 = 0, zMin = 0, zMax = 0;
    float vX = 0, vY = 0, vZ = 0, aX = 0, aY = 0, aZ = 0;
    float existenceProbability = 0, vXQuality = 0, vYQuality = 0;
};

struct CrashPredictorTruth {
    int32_t crashObjectID = -1;
    float crashPredictTime = 0;
    float relImpactVelocity = 0;
    int32_t crashPredicted = -1; // 1 predicted, 0 recently predicted, -1 none
};

struct LineTruth {
    int32_t id = -1, history = 0, measured = 0, type = 0;
    float alpha = 0, offset = 0, curvature = 0, quality = 0, foresight = 0;
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

struct CalibResultTruth {
    float transZ = 0, rotX = 0, rotY = 0, rotZ = 0;
    int32_t calibrationStableCounter = 0;
    int32_t calibValid = 0;
};

// Names of the 2D calibration values, in the order of FrameTruth::calibration2d.
extern const std::array<const char*, 19> kCalibration2dNames;

struct FrameTruth {
    uint32_t frameCounter = 0;
    uint32_t masterclockTimestamp = 0; // microseconds since frame 0 (wraps after about 71 minutes)
    uint32_t available = 0;
    uint16_t sensorWidth = kSensorWidth;
    uint16_t sensorHeight = kSensorHeight;

    // Pixels row by row, 64 columns x 16 rows.
    std::array<uint16_t, kPixelCount> distanceData{};
    std::array<float, kPixelCount> X{}, Y{}, Z{}; // metres, vehicle frame; 0 for invalid pixels
    std::array<uint16_t, kPixelCount> confidence{};
    std::array<uint16_t, kPixelCount> amplitude{};
    std::array<float, 4> amplitude_normalization{};
    // Distance along the camera axis (metres) as a receiver computes it from X/Y/Z and the pose.
    std::array<float, kPixelCount> cameraAxisDistance{};

    CameraPose cameraCalibration;
    // Unit view directions of the corner pixels in the vehicle frame.
    std::array<float, 3> fovUpperLeft{}, fovUpperRight{}, fovLowerRight{}, fovLowerLeft{};

    bool hasObjects = false;     // OD
    int32_t numberOfObjects = 0; // slots in use, from slot 0 on; the others have id -1
    std::array<ObjectTruth, kObjectSlots> objects{};
    CrashPredictorTruth crashPredictor;

    bool hasLines = false; // LG
    int32_t numberOfLines = 0;
    std::array<LineTruth, kLineSlots> lines{};
    std::array<float, 3> refPoint{};
    CalibResultTruth calibResult;

    bool hasCalibration2d = false;
    std::array<float, 19> calibration2d{};

    float cameraMainTemperature = 0;
    float illuTemperature = 0;
    uint8_t opMode = 34;
    bool sprayActive = false;
};

// What the identification channel says about the sensor.
struct IdentificationTruth {
    std::string softwareVersion; // "3.4.1"
    std::string cameraVariant;   // "OD" (sent as three characters "OD ")
    std::string partNumber;      // the model, "TRVAFN"
    std::string serialNumber;
    uint32_t canBaudrate = 0;
    uint8_t canProtocol = 0;
    uint8_t j1939SourceAddress = 0;
    uint8_t canopenNodeAddress = 0;
};

// Parameter values by block member name (without the root), every element of an array member
// in order; IPv4 addresses as their four bytes. Integers and floats are held exactly.
using ParameterValues = std::map<std::string, std::vector<double>>;

} // namespace trvsim
