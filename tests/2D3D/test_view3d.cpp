// The 3D view as the result transformer feeds it: a hidden view does no work, the cloud's colour
// sources, the function parts following the variant, the sensor placement, and rendered pixels of a
// recorded cycle (cloud where the camera projects it, the object box in the object colour).

#include "tests/support/resultstreambuilder.h"

#include "2D3D/view3d_trvaxx.h"
#include "osg3dvisualization/scenestyle.h"
#include "result/dataoutput_trvaxx.h"
#include "result/resultchain_trvaxx.h"
#include "result/resulttransformer_trvaxx.h"
#include "visualization/collisionavoidancevisualization_trvaxx.h"
#include "visualization/lineguidancevisualization_trvaxx.h"
#include "visualization/objectlist.h"
#include "visualization/scenevisualization_trvaxx.h"

#include "common/styleproxy.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <functional>

namespace {

// A result chain and transformer; each call hands out the primed result of what it was given.
class Feed {
public:
    Feed() {
        QObject::connect(&transformer, &ResultTransformer_TRVAXX::processNewData,
                         [this](PrimedResultSP_TRVAXX_t p) { last = p; });
    }
    PrimedResultSP_TRVAXX_t primed(const ResultDataSP_TRVAXX& record) {
        chain.cache().setResult(record);
        transformer.slotProcessNewData();
        return last;
    }
    // A recorded cycle of the given variant, interpreted like a replayed packet.
    PrimedResultSP_TRVAXX_t recorded(resulttest::Variant variant,
                                     const std::function<void(resulttest::CycleBuilder&)>& edit = {}) {
        resulttest::Identification id;
        id.variant = resulttest::CycleBuilder::variantText(variant);
        resulttest::CycleBuilder cycle(variant, id);
        cycle.fillImage(5);
        if (edit)
            edit(cycle);
        const QByteArray packet = DataOutput_TRVAXX::serializeChunks(cycle.chunks());
        EXPECT_EQ(chain.processPacket(packet.constData(), unsigned(packet.size())),
                  ResultChain_TRVAXX::PacketResult::Processed);
        transformer.slotProcessNewData();
        return last;
    }

private:
    ResultChain_TRVAXX chain;
    ResultTransformer_TRVAXX transformer{&chain.cache()};
    PrimedResultSP_TRVAXX_t last;
};

ResultDataSP_TRVAXX record(const QString& variant) {
    auto r = ResultDataSP_TRVAXX::create();
    r->sensorWidth = 64;
    r->sensorHeight = 16;
    r->cameraVariant = variant;
    for (int i = 0; i < TRVAXX_PIXEL_COUNT; ++i) {
        r->X[size_t(i)] = 3.0f + float(i % 64) * 0.05f;
        r->Y[size_t(i)] = float(i / 64) * 0.1f;
        r->cameraAxisDistance[size_t(i)] = 2.0f + float(i) / 100.0f;
        r->normalizedAmplitude[size_t(i)] = float(i * 3);
        r->confidence[size_t(i)] = uint16_t((i % 3) << 1);
    }
    r->cameraCalibration = {0.1f, -0.2f, 1.3f, 0.0f, 0.0f, float(M_PI / 2)};
    r->illuminationOffset = {0.0f, 0.1f, 0.0f};
    return r;
}

std::array<float, 4> expectedColor(const QImage& image, int i) {
    const QRgb p = image.pixel(i % 64, i / 64);
    return {qRed(p) / 256.0f, qGreen(p) / 256.0f, qBlue(p) / 256.0f, 1.0f};
}

bool near(QRgb a, const QColor& b, int tolerance = 10) {
    return std::abs(qRed(a) - b.red()) <= tolerance && std::abs(qGreen(a) - b.green()) <= tolerance &&
           std::abs(qBlue(a) - b.blue()) <= tolerance;
}

// Whether a pixel of `color` lies within `radius` of p.
bool colourNear(const QImage& image, QPointF p, const QColor& color, int radius) {
    for (int dy = -radius; dy <= radius; ++dy)
        for (int dx = -radius; dx <= radius; ++dx) {
            const QPoint q(int(std::lround(p.x())) + dx, int(std::lround(p.y())) + dy);
            if (image.rect().contains(q) && near(image.pixel(q), color))
                return true;
        }
    return false;
}

void showAndWait(QWidget& w) {
    w.resize(800, 600);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
}

} // namespace

TEST(View3D, HiddenViewDoesNoWorkUntilShown) {
    Feed feed;
    View3D_TRVAXX view;
    const PrimedResultSP_TRVAXX_t p = feed.primed(record("OD"));
    view.processNewData(p);
    EXPECT_EQ(view.getProcessedCount(), 0);
    EXPECT_FALSE(p->isDistanceImageComputed());
    EXPECT_FALSE(p->isMaskComputed());
    EXPECT_EQ(view.getPointCloud()->getVertices()->size(), 0u);
    EXPECT_EQ(view.getObjectList(), nullptr);
    showAndWait(view);
    EXPECT_EQ(view.getProcessedCount(), 1);
    EXPECT_EQ(view.getPointCloud()->getVertices()->size(), 1024u);
    EXPECT_NE(view.getObjectList(), nullptr);
    EXPECT_TRUE(view.getViewer2DDistanceImage()->isVisible());
    view.setSub2DViewHidden(true);
    EXPECT_FALSE(view.getViewer2DDistanceImage()->isVisible());
}

TEST(View3D, CloudColourSources) {
    Feed feed;
    View3D_TRVAXX view;
    showAndWait(view);
    const PrimedResultSP_TRVAXX_t p = feed.primed(record("OD"));
    view.processNewData(p);
    struct Case {
        const char* what;
        std::function<void()> choose;
        std::function<const QImage&()> image;
    } cases[] = {
        {"confidence", [&] { view.setPointCloudColorSourceConfidence(); },
         [&]() -> const QImage& { return p->getConfidenceImage(); }},
        {"amplitude, logarithmic", [&] { view.setPointCloudColorSourceAmplitude(); },
         [&]() -> const QImage& { return p->getLogarithmicAmplitudeImage(); }},
        {"amplitude, linear", [&] { view.setAmplitudeLogarithmic(false); },
         [&]() -> const QImage& { return p->getAmplitudeImage(); }},
        {"distance", [&] { view.setPointCloudColorSourceDistance(); },
         [&]() -> const QImage& { return p->getDistanceImage(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.choose();
        const osg::Vec4Array& colors = *view.getPointCloud()->getColors();
        for (int i : {0, 65, 500, 1023}) {
            const std::array<float, 4> e = expectedColor(c.image(), i);
            EXPECT_EQ(colors[size_t(i)], osg::Vec4(e[0], e[1], e[2], e[3])) << i;
        }
    }
    // A result without a record empties the cloud and leaves the scene objects alone.
    ObjectList* objects = view.getObjectList();
    view.processNewData(feed.primed(ResultDataSP_TRVAXX()));
    EXPECT_EQ(view.getPointCloud()->getVertices()->size(), 0u);
    EXPECT_EQ(view.getObjectList(), objects);
}

TEST(View3D, PartsFollowTheVariantAndTheSensorMovesOnlyOnChange) {
    Feed feed;
    View3D_TRVAXX view;
    showAndWait(view);
    view.processNewData(feed.primed(record("OD")));
    view.processNewData(feed.primed(record("OD")));
    EXPECT_NE(view.getObjectList(), nullptr);
    EXPECT_NE(view.getCollisionVisualization(), nullptr);
    EXPECT_EQ(view.getLineVisualization(), nullptr);
    EXPECT_EQ(view.getScene()->getPlacementCount(), 1);
    // Without key 33 the illumination offset is its position.
    EXPECT_EQ(view.getScene()->getLightingObject()->getPosition(), osg::Vec3d(0, 0.1f, 0));

    ResultDataSP_TRVAXX lg = record("LG");
    lg->info.insert(33, 1);
    view.setLineVisibility(false);
    view.processNewData(feed.primed(lg));
    EXPECT_EQ(view.getObjectList(), nullptr);
    EXPECT_EQ(view.getCollisionVisualization(), nullptr);
    ASSERT_NE(view.getLineVisualization(), nullptr);
    EXPECT_EQ(view.getVariant(), "LG");
    // Relative: the camera position plus the offset turned a quarter about z, (0, 0.1, 0) → (-0.1, 0, 0).
    const osg::Vec3d light = view.getScene()->getLightingObject()->getPosition();
    EXPECT_NEAR((light - osg::Vec3d(0.0, -0.2, 1.3)).length(), 0, 1e-6);
    EXPECT_EQ(view.getScene()->getPlacementCount(), 2);
}

TEST(View3D, RendersTheRecordedCycle) {
    Feed feed;
    View3D_TRVAXX view;
    showAndWait(view);
    const QColor magenta(255, 0, 255);
    view.getCallback().setColorSource(PointCloudCallBackObject_TRVAXX::COLOR_FIXED);
    view.getCallback().setFixedColor(magenta);
    // Object 7 left of the cloud; the other slots empty.
    const PrimedResultSP_TRVAXX_t p = feed.recorded(resulttest::Variant::OD, [](resulttest::CycleBuilder& c) {
        const std::string o = "AlgoIFOutput.objectDetectionResult.objectList[";
        for (int i = 0; i < TRVAXX_OBJECT_COUNT; ++i)
            c.algo.set<int32_t>(o + std::to_string(i) + "].id", i == 0 ? 7 : -1);
        const std::pair<const char*, float> bounds[] = {{"x1", 5.0f}, {"x2", 6.0f},   {"y1", 2.5f},
                                                        {"y2", 3.5f}, {"zMin", 0.0f}, {"zMax", 1.5f}};
        for (const auto& [name, value] : bounds)
            c.algo.set<float>(o + "0]." + name, value);
        // Looking ahead, so that the whole cloud lies inside the distance range.
        const std::string calibration = "AlgoIFOutput.distanceImageResult.cameraCalibration.";
        c.algo.set<float>(calibration + "rotX", 0.0f);
        c.algo.set<float>(calibration + "rotY", float(M_PI / 2));
        c.algo.set<float>(calibration + "rotZ", float(-M_PI / 2));
    });
    ASSERT_TRUE(p && p->hasResult());
    view.processNewData(p);
    const QImage image = view.getOsgView()->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    image.save(QStringLiteral(TEST_ARTIFACT_DIR "/view3d_od.png"));
    ASSERT_EQ(image.size(), view.getOsgView()->size());

    // Every cloud point projects onto a cloud-coloured pixel...
    const ResultData_TRVAXX& r = *p->getResult();
    Osg3DView* osgView = view.getOsgView();
    QRectF projected;
    int onCloud = 0, sampled = 0;
    for (int i = 0; i < TRVAXX_PIXEL_COUNT; ++i) {
        const QPointF q = osgView->project(osg::Vec3d(r.X[size_t(i)], r.Y[size_t(i)], r.Z[size_t(i)]));
        projected = projected.isNull() ? QRectF(q, QSizeF(1, 1)) : projected.united(QRectF(q, QSizeF(1, 1)));
        if (i % 5 == 0 && image.rect().contains(q.toPoint())) {
            ++sampled;
            onCloud += colourNear(image, q, magenta, 1);
        }
    }
    EXPECT_GT(sampled, 100);
    EXPECT_GE(onCloud, sampled * 9 / 10);
    // ...and no cloud-coloured pixel lies outside where the points project.
    int outside = 0, cloudPixels = 0;
    const QRectF allowed = projected.adjusted(-4, -4, 4, 4);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (near(image.pixel(x, y), magenta, 2)) {
                ++cloudPixels;
                outside += !allowed.contains(x, y);
            }
    EXPECT_GT(cloudPixels, 300);
    EXPECT_EQ(outside, 0);

    // The box edges of object 7 are drawn in the object colour where they project.
    const QColor objectColor = StyleProxy::getProperty("objectColor").value<QColor>();
    int edgesSeen = 0;
    const float xs[] = {5.0f, 6.0f}, ys[] = {2.5f, 3.5f}, zs[] = {0.0f, 1.5f};
    for (float x : xs)
        for (float z : zs)
            edgesSeen += colourNear(image, osgView->project(osg::Vec3d(x, 3.0, z)), objectColor, 2);
    for (float y : ys)
        for (float z : zs)
            edgesSeen += colourNear(image, osgView->project(osg::Vec3d(5.5, y, z)), objectColor, 2);
    EXPECT_GE(edgesSeen, 6);
    // Far from the box nothing has its colour.
    EXPECT_FALSE(colourNear(image, osgView->project(osg::Vec3d(5.5, -3.0, 0.75)), objectColor, 3));

    // Moved into another window (a new GL context), the view draws the same picture.
    QWidget window;
    QVBoxLayout layout(&window);
    layout.addWidget(&view);
    showAndWait(window);
    view.resize(image.size());
    const QImage again = view.getOsgView()->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    again.save(QStringLiteral(TEST_ARTIFACT_DIR "/view3d_od_reparented.png"));
    int cloudPixelsAgain = 0;
    for (int y = 0; y < again.height(); ++y)
        for (int x = 0; x < again.width(); ++x)
            cloudPixelsAgain += near(again.pixel(x, y), magenta, 2);
    EXPECT_GT(cloudPixelsAgain, cloudPixels / 2);
    layout.removeWidget(&view);
    view.setParent(nullptr);
}

TEST(View3D, RendersTheGuidanceLine) {
    Feed feed;
    View3D_TRVAXX view;
    showAndWait(view);
    view.setPointCloudVisibility(false);
    view.setDrivingDirectionVisibility(false);
    // Line 1 runs straight ahead from 2 m, 1 m to the left of the reference point, for 6 m.
    const PrimedResultSP_TRVAXX_t p = feed.recorded(resulttest::Variant::LG, [](resulttest::CycleBuilder& c) {
        const std::string l = "AlgoIFOutput.lineGuidanceResult.lineList[0].";
        c.algo.set<int32_t>(l + "id", 1);
        c.algo.set<int32_t>(l + "measured", 1);
        c.algo.set<float>(l + "offset", 1.0f);
        c.algo.set<float>(l + "foresight", 6.0f);
        const float ref[3] = {2.0f, 0.0f, 0.0f};
        c.algo.set("AlgoIFOutput.lineGuidanceResult.ref_Point", ref, 3);
    });
    ASSERT_TRUE(p && p->hasResult());
    view.processNewData(p);
    const QImage image = view.getOsgView()->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    image.save(QStringLiteral(TEST_ARTIFACT_DIR "/view3d_lg.png"));
    const QColor lineColor = StyleProxy::getProperty("lineColor").value<QColor>();
    Osg3DView* osgView = view.getOsgView();
    int onLine = 0;
    for (double x = 3.0; x <= 7.5; x += 0.5)
        onLine += colourNear(image, osgView->project(osg::Vec3d(x, 1.0, 0.0)), lineColor, 2);
    EXPECT_GE(onLine, 8);
    // Mirrored to the other side there is no line.
    int mirrored = 0;
    for (double x = 3.0; x <= 7.5; x += 0.5)
        mirrored += colourNear(image, osgView->project(osg::Vec3d(x, -1.0, 0.0)), lineColor, 2);
    EXPECT_EQ(mirrored, 0);
}

TEST(View3D, ClickSelectsAnObjectAndOnlyInputOrResultsRepaint) {
    Feed feed;
    View3D_TRVAXX view;
    showAndWait(view);
    ResultDataSP_TRVAXX r = record("OD");
    r->objects.objects[0] = DetectedObject_TRVAXX{};
    r->objects.objects[0].id = 4;
    r->objects.objects[0].x1 = 6;
    r->objects.objects[0].x2 = 8;
    r->objects.objects[0].y1 = 2;
    r->objects.objects[0].y2 = 4;
    r->objects.objects[0].zMax = 2;
    view.setPointCloudVisibility(false);
    view.processNewData(feed.primed(r));
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
    EXPECT_EQ(view.getObjectList()->getNode(0)->getBox()->getColor(), sceneColor("objectSelectedColor"));
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
    EXPECT_EQ(view.property("offset").toInt(), 10);
    EXPECT_EQ(view.property("yOffset").toInt(), 5);
}
