#include "visualization/scenevisualization_trvaxx.h"

#include "osg3dvisualization/illumination.h"
#include "osg3dvisualization/scenestyle.h"

#include <cmath>

namespace {
osg::ref_ptr<osg::Node> makeOrigin() {
    osg::ref_ptr<osg::Group> group = new osg::Group;
    const osg::Vec3 axes[3] = {osg::X_AXIS, osg::Y_AXIS, osg::Z_AXIS};
    const osg::Vec4 colors[3] = {{0.9f, 0.25f, 0.25f, 1}, {0.3f, 0.85f, 0.3f, 1}, {0.3f, 0.5f, 1, 1}};
    for (int i = 0; i < 3; ++i) {
        osg::ref_ptr<LineGeometry> axis = new LineGeometry(GL_LINES, 3.0f);
        axis->setPoints({osg::Vec3(), axes[i]});
        axis->setColor(colors[i]);
        group->addChild(axis.get());
    }
    return group;
}

// The sensor housing: a small box with the viewing direction drawn as a short frustum.
osg::ref_ptr<osg::MatrixTransform> makeCamera() {
    osg::ref_ptr<osg::MatrixTransform> node = new osg::MatrixTransform;
    node->setDataVariance(osg::Object::DYNAMIC);
    const osg::Vec4 color = sceneColor("cameraColor");
    osg::ref_ptr<BoxGeometry> housing = new BoxGeometry;
    housing->setBox(osg::Vec3(0, 0, -0.05f), osg::Vec3(0.1f, 0.04f, 0.05f));
    housing->setColor(color);
    osg::ref_ptr<LineGeometry> frustum = new LineGeometry(GL_LINES, 1.5f);
    // The camera's own frame: x right, y down, z along the optical axis.
    const osg::Vec3 o, a(-0.23f, -0.07f, 0.4f), b(0.23f, -0.07f, 0.4f), c(0.23f, 0.07f, 0.4f),
        d(-0.23f, 0.07f, 0.4f);
    frustum->setPoints({o, a, o, b, o, c, o, d, a, b, b, c, c, d, d, a});
    frustum->setColor(color);
    osg::ref_ptr<osg::Geode> label = new osg::Geode;
    osg::ref_ptr<osgText::Text> text = makeSceneText(0.15f, sceneColor("tooltipFontColor"));
    text->setText("Sensor");
    text->setPosition(osg::Vec3(0, -0.1f, 0));
    label->addDrawable(text.get());
    node->addChild(housing.get());
    node->addChild(frustum.get());
    node->addChild(label.get());
    return node;
}
} // namespace

SceneVisualization_TRVAXX::SceneVisualization_TRVAXX()
    : parts(new osg::Switch), origin(makeOrigin()), cameraNode(makeCamera()),
      lighting(new LightingObject_TRVAXX), spatialBox(new BoxGeometry) {
    const osg::Vec4 planeColor = sceneColor("planeColor");
    // XY: the ground ahead; YZ: across at the sensor; ZX: along the driving axis.
    const std::vector<osg::Vec3> corners[3] = {{{0, -10, 0}, {20, -10, 0}, {20, 10, 0}, {0, 10, 0}},
                                               {{0, -10, 0}, {0, 10, 0}, {0, 10, 5}, {0, -10, 5}},
                                               {{0, 0, 0}, {20, 0, 0}, {20, 0, 5}, {0, 0, 5}}};
    parts->addChild(origin.get(), true);
    parts->addChild(cameraNode.get(), true);
    parts->addChild(lighting.get(), true);
    for (int i = 0; i < 3; ++i) {
        planes[size_t(i)] = new PolygonGeometry;
        planes[size_t(i)]->setPoints(corners[i]);
        planes[size_t(i)]->setColor(planeColor);
        parts->addChild(planes[size_t(i)].get(), false);
    }
    const osg::Vec4 spatial = sceneColor("planeColor");
    spatialBox->setColor(osg::Vec4(spatial.r(), spatial.g(), spatial.b(), 1.0f));
    parts->addChild(spatialBox.get(), false);
    addChild(parts.get());
}

void SceneVisualization_TRVAXX::updateSpatialFilter(const QMap<int, QVariant>& info) {
    std::array<float, 6> v{};
    for (int i = 0; i < 6; ++i) {
        bool ok = false;
        v[size_t(i)] = info.value(40 + i).toFloat(&ok);
        if (!ok || !std::isfinite(v[size_t(i)]))
            return;
    }
    if (v == lastSpatial)
        return;
    lastSpatial = v;
    spatialBox->setBox(osg::Vec3(v[0] + v[1], v[2] + v[3], v[4] + v[5]) * 0.5f,
                       osg::Vec3(std::abs(v[1] - v[0]), std::abs(v[3] - v[2]), std::abs(v[5] - v[4])) * 0.5f);
}

osg::Quat SceneVisualization_TRVAXX::cameraRotation(const CameraCalibration_TRVAXX& c) {
    return cameraMountingRotation(c.rotX, c.rotY, c.rotZ).getRotate();
}

bool SceneVisualization_TRVAXX::placeSensor(const CameraCalibration_TRVAXX& c,
                                            const std::array<double, 3>& illumination) {
    const std::array<float, 6> calibration{c.transX, c.transY, c.transZ, c.rotX, c.rotY, c.rotZ};
    if (placed && calibration == lastCalibration && illumination == lastIllumination)
        return false;
    placed = true;
    lastCalibration = calibration;
    lastIllumination = illumination;
    const osg::Quat rotation = cameraRotation(c);
    cameraNode->setMatrix(osg::Matrixd::rotate(rotation) *
                          osg::Matrixd::translate(c.transX, c.transY, c.transZ));
    lighting->place(osg::Vec3d(illumination[0], illumination[1], illumination[2]), rotation);
    ++placements;
    return true;
}
