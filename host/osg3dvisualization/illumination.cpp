#include "osg3dvisualization/illumination.h"

#include <osg/Matrixd>

osg::Vec3d illuminationSideVector(double rotX, double rotY, double rotZ, const osg::Vec3d& offset) {
    // osg multiplies row vectors: v * Rx * Ry * Rz applies x first.
    const osg::Matrixd rotation = osg::Matrixd::rotate(rotX, osg::X_AXIS) *
                                  osg::Matrixd::rotate(rotY, osg::Y_AXIS) *
                                  osg::Matrixd::rotate(rotZ, osg::Z_AXIS);
    return offset * rotation;
}
