#include "visualization/lightingobject_trvaxx.h"

#include "osg3dvisualization/scenestyle.h"

#include <cmath>

LightingObject_TRVAXX::LightingObject_TRVAXX() {
    setDataVariance(osg::Object::DYNAMIC);
    const osg::Vec4 color = sceneColor("lightingColor");
    // A cone 2 m long, opening ±30° sideways and ±10° up and down like the sensor's field.
    const float length = 2.0f, halfWidth = length * std::tan(0.52f), halfHeight = length * std::tan(0.17f);
    const osg::Vec3 apex;
    // Along the camera's optical axis, its own z.
    const osg::Vec3 c[4] = {{-halfWidth, -halfHeight, length},
                            {halfWidth, -halfHeight, length},
                            {halfWidth, halfHeight, length},
                            {-halfWidth, halfHeight, length}};
    osg::ref_ptr<PolygonGeometry> cone = new PolygonGeometry;
    cone->setPoints({apex, c[0], c[1], c[2], c[3], c[0]});
    cone->setColor(color);
    osg::ref_ptr<LineGeometry> edges = new LineGeometry(GL_LINES, 1.0f);
    edges->setPoints({apex, c[0], apex, c[1], apex, c[2], apex, c[3]});
    edges->setColor(osg::Vec4(color.r(), color.g(), color.b(), std::min(1.0f, color.a() * 3)));
    addChild(cone.get());
    addChild(edges.get());
}

void LightingObject_TRVAXX::place(const osg::Vec3d& position, const osg::Quat& rotation) {
    setMatrix(osg::Matrixd::rotate(rotation) * osg::Matrixd::translate(position));
}
