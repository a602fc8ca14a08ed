#pragma once

#include "result/resultdata_trvaxx.h"
#include "visualization/lightingobject_trvaxx.h"
#include "visualization/scenegeometry.h"

#include <osg/MatrixTransform>
#include <osg/Switch>

#include <QMap>
#include <QVariant>

#include <array>

// The fixed parts of the scene: the coordinate origin, the sensor (camera) with its illumination
// (LightingObject_TRVAXX) and the three reference planes. The sensor is moved only when its six
// calibration values or the illumination position differ from the last applied ones.
// GUI thread only.
class SceneVisualization_TRVAXX : public osg::Group {
public:
    SceneVisualization_TRVAXX();

    // Places camera and illumination; returns false (and touches nothing) when nothing changed.
    bool placeSensor(const CameraCalibration_TRVAXX& camera, const std::array<double, 3>& illumination);
    // How often the sensor nodes were actually moved.
    int getPlacementCount() const { return placements; }

    void setOriginVisible(bool visible) { parts->setChildValue(origin.get(), visible); }
    void setCameraVisible(bool visible) { parts->setChildValue(cameraNode.get(), visible); }
    void setLightingVisible(bool visible) { parts->setChildValue(lighting.get(), visible); }
    void setPlaneXYVisible(bool visible) { parts->setChildValue(planes[0].get(), visible); }
    void setPlaneYZVisible(bool visible) { parts->setChildValue(planes[1].get(), visible); }
    void setPlaneZXVisible(bool visible) { parts->setChildValue(planes[2].get(), visible); }
    void setSpatialVisible(bool visible) { parts->setChildValue(spatialBox.get(), visible); }
    // The spatial filter volume from the info map (keys 40 to 45: x, y, z minimum and maximum);
    // unchanged while the values are.
    void updateSpatialFilter(const QMap<int, QVariant>& info);
    const BoxGeometry* getSpatialBox() const { return spatialBox.get(); }

    osg::MatrixTransform* getCameraNode() const { return cameraNode.get(); }
    LightingObject_TRVAXX* getLightingObject() const { return lighting.get(); }

    // The camera's orientation from its mounting angles (radians; its optical axis is its own z).
    static osg::Quat cameraRotation(const CameraCalibration_TRVAXX& camera);

private:
    osg::ref_ptr<osg::Switch> parts;
    osg::ref_ptr<osg::Node> origin;
    osg::ref_ptr<osg::MatrixTransform> cameraNode;
    osg::ref_ptr<LightingObject_TRVAXX> lighting;
    std::array<osg::ref_ptr<PolygonGeometry>, 3> planes;
    osg::ref_ptr<BoxGeometry> spatialBox;
    std::array<float, 6> lastSpatial{};
    bool placed = false;
    std::array<float, 6> lastCalibration{};
    std::array<double, 3> lastIllumination{};
    int placements = 0;
};
