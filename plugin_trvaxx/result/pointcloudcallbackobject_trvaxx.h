#pragma once

#include "result/primedresult_trvaxx.h"

#include <QColor>

#include <array>

// Adapter through which the 3D point-cloud visualization asks for the size, the points and the
// colours of the cloud of one primed result. Runs on the GUI thread, like the primed result.
class PointCloudCallBackObject_TRVAXX {
public:
    enum ColorSource {
        COLOR_DISTANCE = 0,
        COLOR_AMPLITUDE = 1,
        COLOR_CONFIDENCE = 2,
        COLOR_FIXED = 5,
    };

    PointCloudCallBackObject_TRVAXX() = default;
    virtual ~PointCloudCallBackObject_TRVAXX();

    // The record's sensor size; 0 × 0 without a record.
    virtual void getSize(unsigned int& width, unsigned int& height);
    // X, Y, Z of pixel `index` as the sensor delivers them.
    virtual std::array<float, 3> getPoint(unsigned int index);
    // RGBA in 0..1 (channel / 256); fully transparent for hidden pixels.
    virtual std::array<float, 4> getColor(unsigned int index);

    void setPrimedResult(const PrimedResultSP_TRVAXX_t& value) { primed = value; }
    const PrimedResultSP_TRVAXX_t& getPrimedResult() const { return primed; }
    void setLogarithmicAmplitude(bool value) { logarithmicAmplitude = value; }
    void setSprayVisible(bool value) { sprayVisible = value; }
    void setGroundVisible(bool value) { groundVisible = value; }
    void setHideFlaggedPixels(bool value) { hideFlaggedPixels = value; }
    // 0 (also 3 and 4) distance, 1 amplitude, 2 confidence, 5 the fixed colour.
    void setColorSource(int value) { colorSource = value; }
    void setFixedColor(const QColor& value) { fixedColor = value; }

    bool isLogarithmicAmplitude() const { return logarithmicAmplitude; }
    bool isSprayVisible() const { return sprayVisible; }
    bool isGroundVisible() const { return groundVisible; }
    bool isHideFlaggedPixels() const { return hideFlaggedPixels; }
    int getColorSource() const { return colorSource; }
    QColor getFixedColor() const { return fixedColor; }

private:
    PrimedResultSP_TRVAXX_t primed;
    bool logarithmicAmplitude = true;
    bool sprayVisible = true;
    bool groundVisible = true;
    bool hideFlaggedPixels = true;
    int colorSource = COLOR_DISTANCE;
    QColor fixedColor;
};
