#pragma once
// Deterministic synthetic scene seen by the virtual sensor: a ground plane, boxes moving on it, a
// retro-reflective post, spray now and then and, for LG, a windrow. Every value is a pure function
// of the seed and the frame counter, so the truth of any frame can be recomputed at any time.

#include "simulator/frametruth.h"
#include "simulator/simconfig.h"

#include <array>
#include <cstdint>
#include <vector>

namespace trvsim {

struct SceneSettings {
    Variant variant = Variant::OD;
    uint32_t seed = 1;
    uint32_t cycleTimeMs = 40;
    CameraPose pose;          // from the calibration parameters
    float vehicleXMax = 0.5f; // front of the vehicle (crash predictor)
    float vehicleYMin = -1.0f, vehicleYMax = 1.0f;
    std::array<float, 3> refPoint{}; // line guidance reference point
    bool carriesCalibration2d = false;
};

// The factory calibration of the virtual sensor: 1.5 m above the ground, looking forward and
// 0.2 rad down.
CameraPose defaultCameraPose();

// The calibration of the video camera beside the sensor (what the sensor sends as its 2D
// calibration): 0.1 m to the sensor's left, looking the same way, 420-pixel focal length for a
// 640 x 480 picture, mild barrel distortion. Values in the order of kCalibration2dNames.
std::array<float, 19> cameraCalibration2d(const CameraPose& pose);

class Scene {
public:
    explicit Scene(const SceneSettings& settings);

    // Fills out (no allocation) with the truth of one frame.
    void render(uint32_t frameCounter, FrameTruth& out) const;

    const SceneSettings& settings() const { return m_settings; }
    static constexpr float kMaxRange = 30.0f; // metres; farther returns are invalid

private:
    struct Box {
        float lengthX, widthY, height;
        float laneY;
        float xMin, xMax; // travel range of the box centre
        float speed;      // m/s
        float phase;      // seconds
        int objectId;
        int objectType;
        float reflectivity;
        bool moving;
    };
    struct BoxState {
        float cx, cy, vx;
        float lo[3], hi[3];
    };
    struct Windrow {
        float y0, alpha, width, height;
    };

    struct Frame;
    struct Hit;
    // The steps of render().
    Frame beginFrame(uint32_t frameCounter, FrameTruth& out) const;
    Hit traceRay(const Frame& f, const std::array<float, 3>& direction) const;
    void traceSpray(const Frame& f, int pixel, Hit& hit) const;
    void writePixel(Frame& f, int pixel, const Hit& hit, FrameTruth& out) const;
    void fillGeometry(FrameTruth& out) const;
    void fillObjects(const Frame& f, FrameTruth& out) const;
    void fillLines(const Frame& f, FrameTruth& out) const;
    void fillStatus(const Frame& f, FrameTruth& out) const;

    BoxState boxAt(const Box& box, double seconds) const;
    Windrow windrowAt(double seconds) const;
    bool sprayActive(uint32_t frameCounter) const;

    SceneSettings m_settings;
    float m_rot[3][3];                                    // camera -> vehicle frame
    std::array<std::array<float, 3>, kPixelCount> m_rays; // unit directions, vehicle frame
    std::vector<Box> m_boxes;
};

} // namespace trvsim
