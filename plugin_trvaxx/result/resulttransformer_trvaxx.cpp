#include "result/resulttransformer_trvaxx.h"

#include "result/resultcache_trvaxx.h"
#include "result/resultlog_trvaxx.h"

#include "common/logentry.h"

#include <QDebug>

#include <limits>

ResultTransformer_TRVAXX::ResultTransformer_TRVAXX(ResultCache_TRVAXX* resultCache, QObject* parent)
    : QObject(parent), cache(resultCache), distanceConverter(settings.distanceParams),
      amplitudeConverter(settings.amplitudeParams), confidenceConverter(settings.confidenceParams) {
    registerResultMetaTypes_TRVAXX();
    qRegisterMetaType<PrimedResultSP_TRVAXX_t>("PrimedResultSP_TRVAXX_t");
    timer.setInterval(0);
    timer.setSingleShot(true);
    connect(&timer, SIGNAL(timeout()), this, SLOT(slotProcessNewData()));
    if (cache)
        connect(cache, SIGNAL(receivedNewResultData()), this, SLOT(triggerRepaint()));
}

ResultTransformer_TRVAXX::~ResultTransformer_TRVAXX() = default;

void ResultTransformer_TRVAXX::enable() {
    enabled = true;
    startTimerUnlessRunning();
}

void ResultTransformer_TRVAXX::disable() {
    enabled = false;
}

void ResultTransformer_TRVAXX::startTimerUnlessRunning() {
    if (!timer.isActive())
        timer.start();
}

void ResultTransformer_TRVAXX::triggerRepaint() {
    startTimerUnlessRunning();
}

ImageConverters_TRVAXX ResultTransformer_TRVAXX::converters() {
    return ImageConverters_TRVAXX{&distanceConverter, &amplitudeConverter, &confidenceConverter};
}

void ResultTransformer_TRVAXX::slotProcessNewData() {
    if (!enabled)
        return;
    current = cache ? cache->getResult() : ResultDataSP_TRVAXX();
    if (current) {
        const unsigned int w = current->sensorWidth;
        const unsigned int h = current->sensorHeight;
        // Only the sensor's own geometry changes the image size; a record of another size has
        // been reported by the package processor and is shown with the previous size.
        if (w == TRVAXX_SENSOR_WIDTH && h == TRVAXX_SENSOR_HEIGHT && (w != width || h != height)) {
            width = w;
            height = h;
            distanceConverter.setSize(w, h);
            amplitudeConverter.setSize(w, h);
            confidenceConverter.setSize(w, h);
            emit sizeChanged(w, h);
        }
    } else {
        width = 0;
        height = 0;
        distanceConverter.setSize(0, 0);
        amplitudeConverter.setSize(0, 0);
        confidenceConverter.setSize(0, 0);
    }
    PrimedResultSP_TRVAXX_t primed(new PrimedResult_TRVAXX(converters(), current, settings));
    if (cache) {
        primed->setCANObjects(cache->getCANDetectedObjectData());
        primed->setCANLines(cache->getCANDetectedLineGuidanceData());
    }
    emit processNewData(primed);
}

void ResultTransformer_TRVAXX::setMinMaxDistance(qreal min, qreal max) {
    settings.distanceParams.lowerBound = float(min);
    settings.distanceParams.upperBound = float(max);
    settings.distanceMin = min;
    settings.distanceMax = max;
    startTimerUnlessRunning();
}

void ResultTransformer_TRVAXX::setMinMaxAmplitude(qreal min, qreal max) {
    settings.amplitudeParams.lowerBound = float(min);
    settings.amplitudeParams.upperBound = float(max);
    settings.amplitudeMin = min;
    settings.amplitudeMax = max;
    startTimerUnlessRunning();
}

void ResultTransformer_TRVAXX::setPointCloudColorSourceDistance() {
    settings.distanceColor = true;
}

void ResultTransformer_TRVAXX::setPointCloudColorSourceAmplitude() {
    settings.distanceColor = false;
}

namespace {

// Smallest and largest value over the pixels whose confidence bit 0 (invalid) is clear.
bool validExtremes(const ResultData_TRVAXX& r, const ResultData_TRVAXX::FloatImage& values, qreal& min,
                   qreal& max) {
    const qreal largest = std::numeric_limits<float>::max();
    qreal lo = largest;
    qreal hi = -largest;
    for (int i = 0; i < TRVAXX_PIXEL_COUNT; ++i) {
        if (r.confidence[size_t(i)] & 1)
            continue;
        const qreal v = values[size_t(i)];
        if (v < lo)
            lo = v;
        if (v > hi)
            hi = v;
    }
    if (hi < lo)
        return false;
    min = lo;
    max = hi;
    return true;
}

} // namespace

void ResultTransformer_TRVAXX::calcMinMaxDistance(qreal& min, qreal& max) {
    const ResultDataSP_TRVAXX record =
        current ? current : (cache ? cache->getResult() : ResultDataSP_TRVAXX());
    if (!record) {
        qCWarning(lcResult).noquote()
            << QStringLiteral("Called calcMinMaxDistance, but there is no result data") + LOG_LOC;
        return;
    }
    if (!validExtremes(*record, record->cameraAxisDistance, min, max)) {
        min = 0.0;
        max = 30.0;
    }
}

void ResultTransformer_TRVAXX::calcMinMaxAmplitude(qreal& min, qreal& max) {
    const ResultDataSP_TRVAXX record =
        current ? current : (cache ? cache->getResult() : ResultDataSP_TRVAXX());
    if (!record) {
        qCWarning(lcResult).noquote()
            << QStringLiteral("Called calcMinMaxAmplitude, but there is no result data") + LOG_LOC;
        return;
    }
    if (!validExtremes(*record, record->normalizedAmplitude, min, max)) {
        min = 0.0;
        max = 65535.0;
    }
}
