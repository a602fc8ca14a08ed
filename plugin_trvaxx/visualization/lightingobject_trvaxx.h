#pragma once

#include "visualization/scenegeometry.h"

#include <osg/MatrixTransform>

// The sensor's illumination: a translucent cone of light from the illumination position along the
// camera's viewing direction, in `lightingColor`.
class LightingObject_TRVAXX : public osg::MatrixTransform {
public:
    LightingObject_TRVAXX();
    // position in the vehicle frame; rotation the camera's (the light points where it looks).
    void place(const osg::Vec3d& position, const osg::Quat& rotation);
    osg::Vec3d getPosition() const { return getMatrix().getTrans(); }
};
