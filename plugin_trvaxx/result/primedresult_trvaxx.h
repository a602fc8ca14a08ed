#pragma once

#include "result/resultdata_trvaxx.h"

#include "visualization2d/arrayimageconverter.h"

#include <QImage>
#include <QMetaType>
#include <QSharedPointer>
#include <QVector>

// What the views need to know about how to colour a result; a copy travels with every primed
// result, so a view always sees the settings the images were made with.
struct DisplaySettings_TRVAXX {
    ConverterParams distanceParams;
    ConverterParams amplitudeParams;
    ConverterParams confidenceParams;
    double distanceMin = 0.0;
    double distanceMax = 30.0;
    double amplitudeMin = 0.0;
    double amplitudeMax = 4000.0;
    // true: the point cloud is coloured by distance and pixels outside the distance range are
    // transparent; false: coloured by amplitude, nothing masked.
    bool distanceColor = true;

    DisplaySettings_TRVAXX();
};

// The converters a primed result draws its images with; owned by the transformer.
struct ImageConverters_TRVAXX {
    ArrayImageConverter* distance = nullptr;
    ArrayImageConverter* amplitude = nullptr;
    ArrayImageConverter* confidence = nullptr;
};

// A display-ready result: the record plus lazily computed images and transparency mask. Made by
// the result transformer on the GUI thread and used there only; each image is computed at most
// once, on the first request.
class PrimedResult_TRVAXX {
public:
    PrimedResult_TRVAXX(const ImageConverters_TRVAXX& converters, const ResultDataSP_TRVAXX& result,
                        const DisplaySettings_TRVAXX& settings);

    // Attaches the newest CAN function results; they take precedence over the record's own.
    void setCANObjects(const DetectedObjectData_TRVAXX_t& objects) { canObjects = objects; }
    void setCANLines(const DetectedLineData_TRVAXX_t& lines) { canLines = lines; }

    // The record; empty when the transformer had none.
    const ResultDataSP_TRVAXX& getResult() const { return result; }
    bool hasResult() const { return !result.isNull(); }
    // The CAN object list when one is held, else the record's (a default list without a record).
    const DetectedObjectData_TRVAXX& getObjectList() const;
    const DetectedLineData_TRVAXX& getLineList() const;
    bool hasCANObjects() const { return !canObjects.isNull(); }
    bool hasCANLines() const { return !canLines.isNull(); }
    const Calibration2d_TRVAXX& getCalibration2d() const;
    const CalibResult_TRVAXX& getCalibResult() const;
    const DisplaySettings_TRVAXX& getDisplaySettings() const { return settings; }

    // One flag per pixel; true = outside the distance range while colouring by distance.
    const QVector<bool>& getMask();
    const QImage& getDistanceImage();
    const QImage& getAmplitudeImage();
    const QImage& getLogarithmicAmplitudeImage();
    const QImage& getConfidenceImage();

    // Which of the lazy parts exist already (for tests and diagnostics).
    bool isMaskComputed() const { return maskComputed; }
    bool isDistanceImageComputed() const { return distanceComputed; }
    bool isAmplitudeImageComputed() const { return amplitudeComputed; }
    bool isLogarithmicAmplitudeImageComputed() const { return logAmplitudeComputed; }
    bool isConfidenceImageComputed() const { return confidenceComputed; }

private:
    // No record (or a 0 × 0 size): blank 64 × 16 images, mask all false, nothing left to compute.
    void makeBlank();
    QImage convertAmplitude(bool logarithmic);

    ImageConverters_TRVAXX converters;
    ResultDataSP_TRVAXX result;
    DetectedObjectData_TRVAXX_t canObjects;
    DetectedLineData_TRVAXX_t canLines;
    QVector<bool> mask;
    DisplaySettings_TRVAXX settings;
    bool distanceComputed = false;
    bool amplitudeComputed = false;
    bool logAmplitudeComputed = false;
    bool confidenceComputed = false;
    bool maskComputed = false;
    QImage distanceImage;
    QImage amplitudeImage;
    QImage logAmplitudeImage;
    QImage confidenceImage;
};

typedef QSharedPointer<PrimedResult_TRVAXX> PrimedResultSP_TRVAXX_t;
Q_DECLARE_METATYPE(PrimedResultSP_TRVAXX_t)
