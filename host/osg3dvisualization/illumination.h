#pragma once

#include <osg/Vec3d>

// Where the illumination sits relative to the camera: the illumination offset, given in the
// camera's own frame, turned by the camera's mounting angles (radians; applied about x, then y,
// then z) into the vehicle frame. The illumination position is the camera position plus this
// vector.
osg::Vec3d illuminationSideVector(double rotX, double rotY, double rotZ, const osg::Vec3d& offset);
