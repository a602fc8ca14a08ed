#pragma once
// The picture of the video camera mounted beside the virtual sensor: the scene's ground and boxes
// seen through the camera's own 2D calibration (the one the sensor sends with its results), lens
// distortion included. Every pixel is a ray cast of its own, in flat known colours, so a test can
// tell where each object landed; this code shares nothing with the plug-in's projection.
// One thread at a time (the camera server's).

#include "simulator/frametruth.h"
#include "simulator/scene.h"

#include <QImage>

#include <array>
#include <vector>

namespace trvsim {

class CameraRenderer {
public:
    static constexpr int kWidth = 640, kHeight = 480;
    static QRgb skyColour() { return qRgb(170, 200, 235); }
    static QRgb groundColour(bool dark) { return dark ? qRgb(90, 96, 90) : qRgb(120, 126, 118); }
    // Saturated, far apart from each other and from sky and ground.
    static QRgb objectColour(int objectId);

    // The picture of one frame (RGB888), through the truth's 2D calibration, or the pose's when the
    // frame carries none.
    QImage render(const FrameTruth& truth);

private:
    void prepareRays(const std::array<float, 19>& calibration);

    std::array<float, 19> raysFor{};
    std::array<double, 3> origin{};
    std::vector<std::array<float, 3>> rays; // per pixel, vehicle frame, not normalised
};

} // namespace trvsim
