#include "visualization/collisionavoidancevisualization_trvaxx.h"

#include "osg3dvisualization/scenestyle.h"

#include <cmath>

namespace {
float infoValue(const QMap<int, QVariant>& info, int key, float fallback) {
    bool ok = false;
    const float v = info.value(key).toFloat(&ok);
    return ok && std::isfinite(v) ? v : fallback;
}
} // namespace

CollisionAvoidanceVisualization_TRVAXX::CollisionAvoidanceVisualization_TRVAXX()
    : vehicle(new BoxGeometry), projected(new BoxGeometry), zone(new PolygonGeometry),
      zoneColor(sceneColor("zoneColor")), crashedColor(sceneColor("objectCrashedColor")) {
    vehicle->setColor(sceneColor("vehicleColor"));
    projected->setColor(sceneColor("projectedVehicleColor"));
    addChild(zone.get(), true);
    addChild(vehicle.get(), true);
    addChild(projected.get(), false);
}

void CollisionAvoidanceVisualization_TRVAXX::update(const DetectedObjectData_TRVAXX& objects,
                                                    const QMap<int, QVariant>& info) {
    const float xMin = infoValue(info, VehicleXMin, -4.0f), xMax = infoValue(info, VehicleXMax, 0.0f);
    const float yMin = infoValue(info, VehicleYMin, -1.0f), yMax = infoValue(info, VehicleYMax, 1.0f);
    const float zMax = infoValue(info, VehicleZMax, 2.0f);
    const float reach = std::clamp(infoValue(info, MaxCrashObjectDistance, 5.0f), 0.0f, 100.0f);
    const osg::Vec3 center((xMin + xMax) / 2, (yMin + yMax) / 2, zMax / 2);
    const osg::Vec3 half(std::abs(xMax - xMin) / 2, std::abs(yMax - yMin) / 2, std::abs(zMax) / 2);
    vehicle->setBox(center, half);
    zone->setPoints(
        {{xMax, yMin, 0.01f}, {xMax + reach, yMin, 0.01f}, {xMax + reach, yMax, 0.01f}, {xMax, yMax, 0.01f}});
    const bool crash = objects.crashPredicted == 1;
    zone->setColor(crash ? osg::Vec4(crashedColor.r(), crashedColor.g(), crashedColor.b(), zoneColor.a())
                         : zoneColor);
    const float travel = objects.relImpactVelocity * objects.crashPredictTime;
    const bool project = crash && (objects.crashPredictorValid & 0xFF) && std::isfinite(travel);
    if (project)
        projected->setBox(center + osg::Vec3(std::clamp(travel, 0.0f, 100.0f), 0, 0), half);
    setChildValue(projected.get(), project);
}
