#include "osg3dvisualization/illumination.h"

#include <osg/Matrixd>

osg::Matrixd cameraMountingRotation(double rotX, double rotY, double rotZ) {
    // osg multiplies row vectors: v * Rz * Ry * Rx applies z first.
    return osg::Matrixd::rotate(rotZ, osg::Z_AXIS) * osg::Matrixd::rotate(rotY, osg::Y_AXIS) *
           osg::Matrixd::rotate(rotX, osg::X_AXIS);
}

osg::Vec3d illuminationSideVector(double rotX, double rotY, double rotZ, const osg::Vec3d& offset) {
    return offset * cameraMountingRotation(rotX, rotY, rotZ);
}
