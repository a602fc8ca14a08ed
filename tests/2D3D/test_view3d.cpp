// The 3D view fed by the transformer: hidden-view idling, colour sources, parts per variant, rendering.

#include "viewtest.h"

#include "2D3D/view3d_trvaxx.h"
#include "visualization/objectlist.h"
#include "visualization/scenevisualization_trvaxx.h"

#include <QLabel>

using View3D = ViewFixture<View3D_TRVAXX>;

TEST_F(View3D, AHiddenViewWaitsForItsShowThenColoursAndPartsFollowTheResult) {
    view.hide();
    const PrimedResultSP_TRVAXX_t p = feed(makeRecord());
    EXPECT_EQ(view.getProcessedCount(), 0);
    EXPECT_FALSE(p->isDistanceImageComputed() || p->isMaskComputed());
    showAndWait(view);
    EXPECT_EQ(view.getProcessedCount(), 1);
    EXPECT_EQ(view.getPointCloud()->getVertices()->size(), 1024u);
    EXPECT_TRUE(view.getViewer2DDistanceImage()->isVisible());
    view.setSub2DViewHidden(true);
    EXPECT_FALSE(view.getViewer2DDistanceImage()->isVisible());

    EXPECT_NE(view.getObjectList(), nullptr);
    EXPECT_NE(view.getCollisionVisualization(), nullptr);
    EXPECT_EQ(view.getLineVisualization(), nullptr);
    EXPECT_EQ(view.getScene()->getLightingObject()->getPosition(), osg::Vec3d(0, 0.1f, 0))
        << "without key 33 the illumination offset is its position";
    using Image = const QImage& (PrimedResult_TRVAXX::*)();
    const std::pair<std::function<void()>, Image> cases[] = {
        {[&] { view.setPointCloudColorSourceConfidence(); }, &PrimedResult_TRVAXX::getConfidenceImage},
        {[&] { view.setPointCloudColorSourceAmplitude(); },
         &PrimedResult_TRVAXX::getLogarithmicAmplitudeImage},
        {[&] { view.setAmplitudeLogarithmic(false); }, &PrimedResult_TRVAXX::getAmplitudeImage},
        {[&] { view.setPointCloudColorSourceDistance(); }, &PrimedResult_TRVAXX::getDistanceImage},
    };
    for (size_t c = 0; c < std::size(cases); ++c) {
        cases[c].first();
        for (int i : {0, 6, 500, 1023}) {
            const QRgb e = (p.get()->*cases[c].second)().pixel(i % 64, i / 64);
            EXPECT_EQ((*view.getPointCloud()->getColors())[size_t(i)],
                      osg::Vec4(qRed(e) / 256.0f, qGreen(e) / 256.0f, qBlue(e) / 256.0f, 1))
                << "case " << c << ", point " << i;
        }
    }
    ObjectList* objects = view.getObjectList();
    feed(ResultDataSP_TRVAXX());
    EXPECT_EQ(view.getPointCloud()->getVertices()->size(), 0u);
    EXPECT_EQ(view.getObjectList(), objects);

    ResultDataSP_TRVAXX lg = makeRecord(0.5f, "LG");
    lg->info.insert(33, 1);
    view.setLineVisibility(false);
    feed(lg);
    EXPECT_EQ(view.getObjectList(), nullptr);
    EXPECT_EQ(view.getCollisionVisualization(), nullptr);
    ASSERT_NE(view.getLineVisualization(), nullptr);
    // Relative: the camera position plus the offset turned a quarter about z, (0, 0.1, 0) → (-0.1, 0, 0).
    const osg::Vec3d light = view.getScene()->getLightingObject()->getPosition();
    EXPECT_NEAR((light - osg::Vec3d(0.0, -0.2, 1.3)).length(), 0, 1e-6);
}

TEST_F(View3D, RendersTheRecordedCycle) {
    const QColor magenta(255, 0, 255);
    view.getCallback().setColorSource(PointCloudCallBackObject_TRVAXX::COLOR_FIXED);
    view.getCallback().setFixedColor(magenta);
    const PrimedResultSP_TRVAXX_t p = feed(resulttest::Variant::OD, 5, [](resulttest::CycleBuilder& c) {
        // Looking ahead, so that the whole cloud lies inside the distance range.
        const std::string calibration = "AlgoIFOutput.distanceImageResult.cameraCalibration.";
        c.algo.set<float>(calibration + "rotX", 0.0f);
        c.algo.set<float>(calibration + "rotY", float(M_PI / 2));
        c.algo.set<float>(calibration + "rotZ", float(-M_PI / 2));
    });
    ASSERT_TRUE(p && p->hasResult());
    Osg3DView* osgView = view.getOsgView();
    const QImage image = osgView->grabFramebuffer().convertToFormat(QImage::Format_RGB32);

    // Every cloud point projects onto a cloud-coloured pixel...
    const ResultData_TRVAXX& r = *p->getResult();
    QRectF projected;
    int onCloud = 0, sampled = 0;
    for (size_t i = 0; i < size_t(TRVAXX_PIXEL_COUNT); ++i) {
        const QPointF q = osgView->project(osg::Vec3d(r.X[i], r.Y[i], r.Z[i]));
        projected = projected.isNull() ? QRectF(q, QSizeF(1, 1)) : projected.united(QRectF(q, QSizeF(1, 1)));
        if (i % 5 == 0 && image.rect().contains(q.toPoint())) {
            ++sampled;
            onCloud += colourNear(image, q, magenta, 10, 1);
        }
    }
    EXPECT_GT(sampled, 100);
    EXPECT_GE(onCloud, sampled * 9 / 10);
    // ...and no cloud-coloured pixel lies outside where the points project.
    const int cloudPixels = pixelsNear(image, magenta, 2);
    EXPECT_GT(cloudPixels, 300);
    EXPECT_EQ(pixelsNear(image, magenta, 2, projected.adjusted(-4, -4, 4, 4)), cloudPixels);

    // Moved into another window (a new GL context), the view draws the same picture.
    QWidget window;
    view.setParent(&window);
    view.show();
    showAndWait(window);
    const QImage again = osgView->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    EXPECT_GT(pixelsNear(again, magenta, 2), cloudPixels / 2);
    view.setParent(nullptr);
}

TEST_F(View3D, RendersTheGuidanceLine) {
    view.setPointCloudVisibility(false);
    view.setDrivingDirectionVisibility(false);
    // Line 1 runs straight ahead from 2 m, 1 m to the left of the reference point, for 6 m.
    const PrimedResultSP_TRVAXX_t p = feed(resulttest::Variant::LG, 5, [](resulttest::CycleBuilder& c) {
        const std::string l = "AlgoIFOutput.lineGuidanceResult.lineList[0].";
        c.algo.set<int32_t>(l + "id", 1);
        c.algo.set<int32_t>(l + "measured", 1);
        c.algo.set<float>(l + "offset", 1.0f);
        c.algo.set<float>(l + "foresight", 6.0f);
        const float ref[3] = {2.0f, 0.0f, 0.0f};
        c.algo.set("AlgoIFOutput.lineGuidanceResult.ref_Point", ref, 3);
    });
    ASSERT_TRUE(p && p->hasResult());
    const QImage image = view.getOsgView()->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    const QColor lineColor = StyleProxy::getProperty("lineColor").value<QColor>();
    // Along the line its colour; mirrored to the other side, none.
    int onLine = 0, mirrored = 0;
    for (double x = 3.0; x <= 7.5; x += 0.5) {
        onLine += colourNear(image, view.getOsgView()->project(osg::Vec3d(x, 1.0, 0.0)), lineColor, 10, 2);
        mirrored += colourNear(image, view.getOsgView()->project(osg::Vec3d(x, -1.0, 0.0)), lineColor, 10, 2);
    }
    EXPECT_GE(onLine, 8);
    EXPECT_EQ(mirrored, 0);
}

TEST_F(View3D, ClickSelectsAnObjectAndOnlyInputOrResultsRepaint) {
    ResultDataSP_TRVAXX r = makeRecord();
    // Object 4: x 6 to 8, y 2 to 4, z 0 to 2.
    r->objects.objects[0] = DetectedObject_TRVAXX{4, 0, 0, 0, 0, 6, 2, 8, 4, 0, 2};
    view.setPointCloudVisibility(false);
    feed(r);
    QSignalSpy selected(view.getObjectList(), SIGNAL(objectSelected(int)));
    QSignalSpy deselected(view.getObjectList(), SIGNAL(objectDeselected()));
    Osg3DView* osgView = view.getOsgView();
    QTest::qWait(100);
    const int frames = osgView->getFrameCount();
    QTest::qWait(300);
    EXPECT_EQ(osgView->getFrameCount(), frames); // idle: no frames

    const QPoint box = osgView->project(osg::Vec3d(7, 3, 1)).toPoint();
    QTest::mouseClick(osgView, Qt::LeftButton, Qt::NoModifier, box);
    QTRY_COMPARE(selected.size(), 1);
    EXPECT_EQ(selected.at(0).at(0).toInt(), 4);
    EXPECT_GT(osgView->getFrameCount(), frames);
    QTest::mouseClick(osgView, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    QTRY_COMPARE(deselected.size(), 1);

    // The presets move the camera and say so; the compass follows the offsets.
    QSignalSpy moved(osgView, SIGNAL(cameraMoved()));
    view.setTopDefaultView();
    EXPECT_EQ(moved.size(), 1);
    EXPECT_NE(osgView->project(osg::Vec3d(7, 3, 1)).toPoint(), box);
    view.setCompassaxisViewPortPosition(10);
    view.setReplayViewOffset(12);
    view.paintYOffset(5);
    const osg::Viewport* compass = osgView->getCompassCamera()->getViewport();
    EXPECT_EQ(compass->x(), 22);
    EXPECT_EQ(compass->y(), 5);
}
