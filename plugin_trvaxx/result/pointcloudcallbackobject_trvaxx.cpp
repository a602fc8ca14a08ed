#include "result/pointcloudcallbackobject_trvaxx.h"

PointCloudCallBackObject_TRVAXX::~PointCloudCallBackObject_TRVAXX() = default;

void PointCloudCallBackObject_TRVAXX::getSize(unsigned int& width, unsigned int& height) {
    if (primed && primed->getResult()) {
        width = primed->getResult()->sensorWidth;
        height = primed->getResult()->sensorHeight;
    } else {
        width = 0;
        height = 0;
    }
}

std::array<float, 3> PointCloudCallBackObject_TRVAXX::getPoint(unsigned int index) {
    if (!primed || !primed->getResult() || index >= unsigned(TRVAXX_PIXEL_COUNT))
        return {0.0f, 0.0f, 0.0f};
    const ResultData_TRVAXX& r = *primed->getResult();
    return {r.X[index], r.Y[index], r.Z[index]};
}

std::array<float, 4> PointCloudCallBackObject_TRVAXX::getColor(unsigned int index) {
    const std::array<float, 4> hidden{0.0f, 0.0f, 0.0f, 0.0f};
    if (!primed || index >= unsigned(TRVAXX_PIXEL_COUNT))
        return hidden;
    const ResultDataSP_TRVAXX& record = primed->getResult();
    const DisplaySettings_TRVAXX& settings = primed->getDisplaySettings();
    if (record && settings.distanceColor) {
        const double d = record->cameraAxisDistance[index];
        if (d < settings.distanceMin || d > settings.distanceMax)
            return hidden;
    }
    const quint16 c = record ? record->confidence[index] : 0;
    if (!groundVisible && (c & 0x100))
        return hidden;
    if (!sprayVisible && (c & 0xC0))
        return hidden;
    if (hideFlaggedPixels && (c & 0x20))
        return hidden;

    auto pixel = [index](const QImage& image) -> QRgb {
        const int w = image.width();
        if (w <= 0 || int(index) >= w * image.height())
            return 0u;
        return image.pixel(int(index) % w, int(index) / w);
    };
    QRgb value;
    switch (colorSource) {
    case COLOR_AMPLITUDE:
        value = pixel(logarithmicAmplitude ? primed->getLogarithmicAmplitudeImage()
                                           : primed->getAmplitudeImage());
        break;
    case COLOR_CONFIDENCE:
        value = pixel(primed->getConfidenceImage());
        break;
    case COLOR_FIXED:
        value = fixedColor.rgb();
        break;
    default:
        value = pixel(primed->getDistanceImage());
        break;
    }
    constexpr float scale = 0.00390625f; // 1/256
    return {float(qRed(value)) * scale, float(qGreen(value)) * scale, float(qBlue(value)) * scale, 1.0f};
}
