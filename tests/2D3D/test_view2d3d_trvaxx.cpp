// The joint view: a black canvas without a grabber, object boxes on the virtual sensor's camera stream.

#include "viewtest.h"

#include "2D3D/overlay2d3d.h"
#include "2D3D/view2d3d_trvaxx.h"
#include "2D3D/windrowvisualization.h"
#include "common/commonutilities.h"
#include "simulator/camera/camerahttpserver.h"
#include "simulator/virtualsensor.h"
#include "tests/support/truthrecord.h"
#include "visualization2d/view2d.h"

#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <map>

using namespace trvsim;
using resulttest::recordFromTruth;

struct JointView : ViewFixture<View2D3D_TRVAXX> {
    JointView() { size = QSize(700, 520); }
    // What the pane shows, in picture pixels (zoom 1).
    QImage shown() {
        QCoreApplication::processEvents();
        return view.pane()->viewport()->grab().toImage();
    }
    QPoint onScreen(QPointF picturePoint) const { return view.pane()->viewportPosOf(picturePoint); }
};

TEST_F(JointView, WithoutAGrabberTheCanvasSaysSoTheLayersAndTheWindrowAreDrawn) {
    QTemporaryDir empty;
    view.setGrabberFolders({empty.path()}); // the loader's own test lists what an empty folder offers

    const Scene scene({Variant::OD, 1, 40, defaultCameraPose()});
    auto truth = std::make_unique<FrameTruth>();
    scene.render(10, *truth);
    feed(recordFromTruth(*truth, "OD "));
    EXPECT_FALSE(view.hasPicture());
    const QImage image = shown();
    EXPECT_EQ(image.pixelColor(onScreen({3, 3})), QColor(Qt::black));
    EXPECT_GT(pixelsNear(image, Qt::white, 10, QRectF(onScreen({200, 200}), QSizeF(240, 80))), 0)
        << "the canvas says there is no camera picture";

    const QColor objectColour = StyleProxy::getProperty("objectColor").value<QColor>();
    int drawnBoxes = 0;
    for (const ObjectTruth& o : truth->objects) {
        if (o.id < 0 || o.type == TRVAXX_RETRO_OBJECT_TYPE)
            continue;
        QPointF corner;
        if (view.overlay()->project(o.x1, o.y1, o.zMax, corner) && QRectF(0, 0, 640, 480).contains(corner)) {
            EXPECT_TRUE(colourNear(image, onScreen(corner), objectColour, 60, 2)) << "object " << o.id;
            ++drawnBoxes;
        }
    }
    EXPECT_GT(drawnBoxes, 0);

    view.setObjectsEnabled(false);
    EXPECT_LT(pixelsNear(shown(), objectColour, 10), pixelsNear(image, objectColour, 10) / 2)
        << "the object layer is off";

    auto record = recordFromTruth(FrameTruth(), "LG ");
    for (const auto& [key, value] : {std::pair{99, 0.4}, {100, 1.1}, {101, 2.9}})
        record->info.insert(key, value);
    feed(record);
    EXPECT_TRUE(view.windrow()->isVisible());
    EXPECT_DOUBLE_EQ(view.windrow()->windrowMinHeight(), 0.4);
    EXPECT_DOUBLE_EQ(view.windrow()->windrowMinWidth(), 1.1);
    EXPECT_DOUBLE_EQ(view.windrow()->windrowMaxWidth(), 2.9);

    const int drawn = view.drawnResults();
    view.hide();
    feed(recordFromTruth(FrameTruth(), "OD "));
    EXPECT_EQ(view.drawnResults(), drawn);
    view.show();
    EXPECT_EQ(view.drawnResults(), drawn + 1) << "shown again, it draws the newest result";
    EXPECT_FALSE(view.windrow()->isVisible());
}

TEST_F(JointView, ObjectBoxesLandOnTheObjectsOfTheCameraStream) {
    // The virtual sensor is not streaming, so its camera shows frame 0 all along.
    SimConfig config;
    config.destAddress = "127.0.0.1";
    config.verbosity = 0;
    VirtualSensor sensor(config);
    CameraHttpServer camera(sensor, "127.0.0.1", 0);
    ASSERT_TRUE(camera.start()) << camera.errorText();
    const QString url = QStringLiteral("http://127.0.0.1:%1/").arg(camera.port());
    CommonUtilities::gocSettings().setValue(QStringLiteral("plugin_trvaxx/camera_urls"), url);

    view.setGrabberFolders({qEnvironmentVariable("TRVAXX_PLUGIN_PATH")});
    QSignalSpy devices(&view, &View2D3D_TRVAXX::devicesFound);
    view.findDevices();
    ASSERT_TRUE(devices.at(0).at(0).toStringList().contains(url));
    view.createGrabber(url);
    view.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.hasPicture(); }, 5000));
    const FrameTruth truth = sensor.truth(0);
    feed(recordFromTruth(truth, "OD "));

    // The picture without the layers: thin objects (the retro-reflective post) would otherwise be
    // covered by their own box lines.
    view.setObjectsEnabled(false);
    view.setRetroObjectsEnabled(false);
    view.setPixelEnabled(false);
    for (bool rectified : {false, true}) {
        view.setRectifyImageEnabled(rectified);
        const QImage image = shown();
        std::map<int, QRectF> boxes;
        for (const ObjectTruth& o : truth.objects)
            for (int corner = 0; o.id >= 0 && corner < 8; ++corner) {
                QPointF p;
                if (view.overlay()->project(corner & 1 ? o.x2 : o.x1, corner & 2 ? o.y2 : o.y1,
                                            corner & 4 ? o.zMax : o.zMin, p))
                    boxes[o.id] |= QRectF(p, QSizeF(0.01, 0.01));
            }
        int checked = 0;
        for (const ObjectTruth& o : truth.objects) {
            if (o.id < 0)
                continue;
            // The middle of the box's front face, seen from the camera, shows the object itself
            // unless a nearer object stands in front of it.
            QPointF middle;
            const float front = std::min(o.x1, o.x2);
            if (!view.overlay()->project(front, (o.y1 + o.y2) / 2, (o.zMin + o.zMax) / 2, middle) ||
                !QRectF(20, 20, 600, 440).contains(middle))
                continue;
            const bool hidden =
                std::any_of(truth.objects.begin(), truth.objects.end(), [&](const ObjectTruth& other) {
                    return other.id >= 0 && other.id != o.id && std::min(other.x1, other.x2) < front &&
                           boxes[other.id].contains(middle);
                });
            if (hidden)
                continue;
            SCOPED_TRACE(testing::Message() << "object " << o.id << (rectified ? " rectified" : ""));
            EXPECT_TRUE(colourNear(image, onScreen(middle), CameraRenderer::objectColour(o.id), 40, 3));
            ++checked;
        }
        EXPECT_GT(checked, 0) << "objects in the picture";
    }
    view.stop();
    CommonUtilities::gocSettings().remove(QStringLiteral("plugin_trvaxx"));
}
