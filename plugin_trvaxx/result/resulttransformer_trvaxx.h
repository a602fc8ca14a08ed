#pragma once

#include "result/primedresult_trvaxx.h"
#include "result/resultdata_trvaxx.h"

#include "visualization2d/arrayimageconverter.h"

#include <QObject>
#include <QTimer>

class ResultCache_TRVAXX;

// Turns the newest record of a result cache into a display-ready primed result on the GUI thread.
// New results only start a 0-ms single-shot timer, so a burst of results that arrives while the
// GUI thread is busy collapses into one processNewData() per turn of the event loop.
class ResultTransformer_TRVAXX : public QObject {
    Q_OBJECT
public:
    explicit ResultTransformer_TRVAXX(ResultCache_TRVAXX* cache, QObject* parent = nullptr);
    ~ResultTransformer_TRVAXX() override;

    // Enabled after construction; while disabled no primed results are made.
    void enable();
    void disable();
    bool isEnabled() const { return enabled; }

    const DisplaySettings_TRVAXX& getDisplaySettings() const { return settings; }
    unsigned int getWidth() const { return width; }
    unsigned int getHeight() const { return height; }
    ResultDataSP_TRVAXX getCurrentResult() const { return current; }

signals:
    void processNewData(PrimedResultSP_TRVAXX_t primedResult);
    void sizeChanged(uint sensorWidth, uint sensorHeight);

public slots:
    void slotProcessNewData();
    void setMinMaxDistance(qreal min, qreal max);
    void setMinMaxAmplitude(qreal min, qreal max);
    void setPointCloudColorSourceDistance();
    void setPointCloudColorSourceAmplitude();
    void triggerRepaint();
    // Extremes over the valid pixels of the current record (bit 0 of the confidence word clear);
    // 0 and 30.0 (amplitude: 0 and 65535.0) when no pixel is valid; unchanged without a record.
    void calcMinMaxDistance(qreal& min, qreal& max);
    void calcMinMaxAmplitude(qreal& min, qreal& max);

private:
    void startTimerUnlessRunning();
    ImageConverters_TRVAXX converters();

    ResultCache_TRVAXX* cache;
    ResultDataSP_TRVAXX current;
    bool enabled = true;
    DisplaySettings_TRVAXX settings;
    ArrayImageConverter distanceConverter;
    ArrayImageConverter amplitudeConverter;
    ArrayImageConverter confidenceConverter;
    unsigned int width = 0;
    unsigned int height = 0;
    QTimer timer;
};
