#pragma once

#include "result/resultdata_trvaxx.h"
#include "visualization/scenegeometry.h"

#include <osg/Switch>

#include <QMap>
#include <QVariant>

// Collision avoidance in the scene: the vehicle (from the vehicle dimension parameters of the
// result's info map), the zone ahead of it in which the crash predictor looks (as deep as the
// maximum crash object distance) and, while a crash is predicted, the vehicle projected to the
// predicted impact. The zone turns to the crashed colour while a crash is predicted.
class CollisionAvoidanceVisualization_TRVAXX : public osg::Switch {
public:
    // Info keys of the vehicle dimensions and the crash predictor's reach.
    enum InfoKey {
        VehicleXMin = 82,
        VehicleXMax,
        VehicleYMin,
        VehicleYMax,
        VehicleZMax,
        MaxCrashObjectDistance = 90
    };

    CollisionAvoidanceVisualization_TRVAXX();
    void update(const DetectedObjectData_TRVAXX& objects, const QMap<int, QVariant>& info);

    const BoxGeometry* getVehicle() const { return vehicle.get(); }
    const BoxGeometry* getProjectedVehicle() const { return projected.get(); }
    bool isProjectedVehicleShown() const { return getChildValue(projected.get()); }
    const PolygonGeometry* getZone() const { return zone.get(); }

private:
    osg::ref_ptr<BoxGeometry> vehicle, projected;
    osg::ref_ptr<PolygonGeometry> zone;
    osg::Vec4 zoneColor, crashedColor;
};
