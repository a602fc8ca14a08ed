#include "result/primedresult_trvaxx.h"

namespace {

ConverterParams makeParams(ConverterParams::ColorMap map, float lower, float upper) {
    ConverterParams p;
    p.colorMap = map;
    p.lowerBound = lower;
    p.upperBound = upper;
    return p;
}

const DetectedObjectData_TRVAXX& emptyObjects() {
    static const DetectedObjectData_TRVAXX objects;
    return objects;
}
const DetectedLineData_TRVAXX& emptyLines() {
    static const DetectedLineData_TRVAXX lines;
    return lines;
}

} // namespace

DisplaySettings_TRVAXX::DisplaySettings_TRVAXX()
    : distanceParams(makeParams(ConverterParams::MAP_PERCEPTUAL, 0.0f, 30.0f)),
      amplitudeParams(makeParams(ConverterParams::MAP_GREY, 0.0f, 4000.0f)),
      confidenceParams(makeParams(ConverterParams::MAP_CONFIDENCE, 0.0f, 65535.0f)) {}

PrimedResult_TRVAXX::PrimedResult_TRVAXX(const ImageConverters_TRVAXX& imageConverters,
                                         const ResultDataSP_TRVAXX& record,
                                         const DisplaySettings_TRVAXX& display)
    : converters(imageConverters), result(record), settings(display) {
    const bool sized = converters.distance && converters.distance->getPixelCount() > 0;
    if (!result || !sized || !converters.amplitude || !converters.confidence)
        makeBlank();
    else
        mask.resize(converters.distance->getPixelCount());
}

void PrimedResult_TRVAXX::makeBlank() {
    mask = QVector<bool>(TRVAXX_PIXEL_COUNT, false);
    QImage blank(TRVAXX_SENSOR_WIDTH, TRVAXX_SENSOR_HEIGHT, QImage::Format_ARGB32);
    blank.fill(0u);
    distanceImage = amplitudeImage = logAmplitudeImage = confidenceImage = blank;
    distanceComputed = amplitudeComputed = logAmplitudeComputed = confidenceComputed = maskComputed = true;
}

const DetectedObjectData_TRVAXX& PrimedResult_TRVAXX::getObjectList() const {
    if (canObjects)
        return *canObjects;
    return result ? result->objects : emptyObjects();
}

const DetectedLineData_TRVAXX& PrimedResult_TRVAXX::getLineList() const {
    if (canLines)
        return *canLines;
    return result ? result->lines : emptyLines();
}

const Calibration2d_TRVAXX& PrimedResult_TRVAXX::getCalibration2d() const {
    static const Calibration2d_TRVAXX none;
    return result ? result->calibration2d : none;
}

const CalibResult_TRVAXX& PrimedResult_TRVAXX::getCalibResult() const {
    static const CalibResult_TRVAXX none;
    return result ? result->calibResult : none;
}

const QVector<bool>& PrimedResult_TRVAXX::getMask() {
    if (maskComputed)
        return mask;
    maskComputed = true;
    const int count = std::min<int>(mask.size(), TRVAXX_PIXEL_COUNT);
    if (!settings.distanceColor) {
        mask.fill(false);
        return mask;
    }
    const double lower = settings.distanceMin;
    const double upper = settings.distanceMax;
    for (int i = 0; i < count; ++i) {
        const double d = result->cameraAxisDistance[size_t(i)];
        // The bounds themselves are inside the range.
        mask[i] = d < lower || d > upper;
    }
    return mask;
}

const QImage& PrimedResult_TRVAXX::getDistanceImage() {
    if (!distanceComputed) {
        const QVector<bool>& m = getMask();
        converters.distance->setTransparencyMap(m);
        converters.distance->setParams(settings.distanceParams);
        distanceImage = converters.distance->convert(result->cameraAxisDistance.data(), TRVAXX_PIXEL_COUNT);
        distanceComputed = true;
    }
    return distanceImage;
}

QImage PrimedResult_TRVAXX::convertAmplitude(bool logarithmic) {
    const QVector<bool>& m = getMask();
    ConverterParams params = settings.amplitudeParams;
    params.logarithmic = logarithmic;
    converters.amplitude->setTransparencyMap(m);
    converters.amplitude->setParams(params);
    return converters.amplitude->convert(result->normalizedAmplitude.data(), TRVAXX_PIXEL_COUNT);
}

const QImage& PrimedResult_TRVAXX::getAmplitudeImage() {
    if (!amplitudeComputed) {
        amplitudeImage = convertAmplitude(false);
        amplitudeComputed = true;
    }
    return amplitudeImage;
}

const QImage& PrimedResult_TRVAXX::getLogarithmicAmplitudeImage() {
    if (!logAmplitudeComputed) {
        logAmplitudeImage = convertAmplitude(true);
        logAmplitudeComputed = true;
    }
    return logAmplitudeImage;
}

const QImage& PrimedResult_TRVAXX::getConfidenceImage() {
    if (!confidenceComputed) {
        converters.confidence->setTransparencyMap(getMask());
        confidenceImage = converters.confidence->convert(result->confidence.data(), TRVAXX_PIXEL_COUNT);
        confidenceComputed = true;
    }
    return confidenceImage;
}
