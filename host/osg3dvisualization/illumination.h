#pragma once

#include <osg/Matrixd>
#include <osg/Vec3d>

// The camera's orientation in the vehicle frame from its mounting angles (see below).
osg::Matrixd cameraMountingRotation(double rotX, double rotY, double rotZ);

// Where the illumination sits relative to the camera: the illumination offset, given in the
// camera's own frame (x right, y down, z along the optical axis), turned by the camera's mounting
// angles (radians; about z first, then y, then x, the order in which the sensor's camera-axis
// distance is computed) into the vehicle frame. The illumination position is the camera position
// plus this vector.
osg::Vec3d illuminationSideVector(double rotX, double rotY, double rotZ, const osg::Vec3d& offset);
