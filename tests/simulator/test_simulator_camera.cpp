// The camera beside the virtual sensor: the objects it draws lie inside the boxes the joint view's
// camera model projects from the same truth, in the camera's own picture and in the rectified one.

#include "2D3D/cameramodel2d3d.h"
#include "simulator/camera/camerarenderer.h"
#include "simulator/scene.h"
#include "tests/support/truthrecord.h"

#include "tests/support/colours.h"

#include <gtest/gtest.h>

#include <memory>

using namespace trvsim;

namespace {

// The picture rectangle around the eight projected corners of an object's box.
QRectF projectedBox(const CameraModel2D3D& model, const ObjectTruth& o, bool rectified) {
    QRectF box;
    for (int corner = 0; corner < 8; ++corner) {
        QPointF p;
        if (!model.project(corner & 1 ? o.x2 : o.x1, corner & 2 ? o.y2 : o.y1, corner & 4 ? o.zMax : o.zMin,
                           rectified, p))
            return {};
        box = box.isNull() ? QRectF(p, QSizeF(0.001, 0.001)) : box.united(QRectF(p, QSizeF(0.001, 0.001)));
    }
    return box;
}

TEST(SimulatorCamera, ProjectedObjectBoxesEncloseTheObjectsPixels) {
    SceneSettings settings;
    settings.variant = Variant::OD;
    settings.seed = 3;
    settings.pose = defaultCameraPose();
    const Scene scene(settings);
    CameraRenderer renderer;
    CameraModel2D3D model;
    int checked = 0;
    for (uint32_t frame : {10u, 200u, 400u}) {
        auto truth = std::make_unique<FrameTruth>();
        scene.render(frame, *truth);
        const QImage camera = renderer.render(*truth);
        model.setModel(resulttest::recordFromTruth(*truth, "OD ")->calibration2d);
        const QImage rectified = model.rectify(camera);
        for (bool straight : {false, true}) {
            const QImage& picture = straight ? rectified : camera;
            for (int i = 0; i < truth->numberOfObjects; ++i) {
                const ObjectTruth& o = truth->objects[std::size_t(i)];
                const QRectF box = projectedBox(model, o, straight).adjusted(-1.5, -1.5, 1.5, 1.5);
                if (box.isNull() || !box.intersects(QRectF(0, 0, picture.width(), picture.height())))
                    continue;
                const QRgb colour = CameraRenderer::objectColour(o.id);
                int inside = 0, outside = 0;
                for (int y = 0; y < picture.height(); ++y)
                    for (int x = 0; x < picture.width(); ++x)
                        if (coloursNear(picture.pixel(x, y), colour, straight ? 4 : 0))
                            ++(box.contains(x + 0.5, y + 0.5) ? inside : outside);
                SCOPED_TRACE(testing::Message() << "frame " << frame << " object " << o.id
                                                << (straight ? " rectified" : " camera picture"));
                EXPECT_GT(inside, 20);
                EXPECT_EQ(outside, 0);
                ++checked;
            }
        }
    }
    EXPECT_GE(checked, 6) << "objects in view";
}

} // namespace
