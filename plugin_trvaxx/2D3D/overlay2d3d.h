#pragma once
// The joint view's overlay: the sensor's results drawn onto the camera picture through the camera
// model of the result's 2D calibration. Layers: a ground grid, the sensor pixels (coloured like
// the distance image), detected objects, retro-reflector objects and the field of view. With an
// unusable calibration (fx or fy 0) nothing is drawn and one log line says why.
// GUI thread.

#include "2D3D/cameramodel2d3d.h"
#include "result/primedresult_trvaxx.h"
#include "visualization2d/overlay2d.h"

#include <QPainterPath>

class Overlay2D3D : public Overlay2D {
    Q_OBJECT
public:
    // Objects of this type are retro-reflectors (drawn on their own layer).
    static constexpr int32_t kRetroObjectType = 2;
    enum Layer { Grid = 1, Pixels = 2, Objects = 4, RetroObjects = 8, FieldOfView = 16 };

    explicit Overlay2D3D(QGraphicsItem* parent = nullptr);

    // The camera model from the 19 calibration values.
    void setCameraModel(const Calibration2d_TRVAXX& calibration);
    void setPictureOffset(QPointF offset);
    // Whether the shown picture is the rectified one (projections without distortion).
    void setRectified(bool rectified);
    bool isRectified() const { return rectified; }
    void setLayerEnabled(Layer layer, bool enabled);
    bool isLayerEnabled(Layer layer) const { return layers & layer; }
    void setResult(const PrimedResultSP_TRVAXX_t& primed);

    // Picture coordinates of a sensor point; false when it cannot be seen or the model is unusable.
    bool project(double x, double y, double z, QPointF& picturePoint) const;
    // The picture corrected through the model's lookup table (unchanged with an unusable model).
    QImage rectify(const QImage& picture) { return model.rectify(picture); }
    const CameraModel2D3D& cameraModel() const { return model; }

    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

private:
    // A 3D polyline sampled every `step` metres, so that straight lines bend with the lens.
    void addLine(QPainterPath& path, const std::array<float, 3>& from, const std::array<float, 3>& to,
                 double step) const;
    void paintObjects(QPainter* painter, bool retro) const;

    CameraModel2D3D model;
    PrimedResultSP_TRVAXX_t result;
    QPainterPath gridPath; // cached per model
    bool rectified = false;
    int layers = Grid | Pixels | Objects | RetroObjects | FieldOfView;
};
