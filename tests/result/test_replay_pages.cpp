// Recordings that `trvaxx record` made of the virtual sensor, replayed through the plug-in's replay
// view page by page the way the replay window shows them, and through `orlangui --replay` itself.
// Rendered pixels are checked against the results and the scene's truth; the screenshots stay in
// this test's build folder.

#include "2D3D/overlay2d3d.h"
#include "2D3D/resultvisualization.h"
#include "2D3D/view2d3d_trvaxx.h"
#include "2D3D/view2d_trvaxx.h"
#include "2D3D/view3d_trvaxx.h"
#include "2D3D/windrowvisualization.h"
#include "capture_replay/recordingreader.h"
#include "common/styleproxy.h"
#include "result/replaydataview_trvaxx.h"
#include "result/resulttransformer_trvaxx.h"
#include "simulator/virtualsensor.h"
#include "tests/support/colours.h"
#include "tests/support/simsensor.h"
#include "visualization2d/view2d.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

const QString kArtifacts = QStringLiteral(TEST_ARTIFACT_DIR);

bool colourNear(const QImage& image, QPoint at, QColor colour, int tolerance, int radius) {
    for (int dy = -radius; dy <= radius; ++dy)
        for (int dx = -radius; dx <= radius; ++dx)
            if (image.valid(at + QPoint(dx, dy)) &&
                coloursNear(image.pixelColor(at + QPoint(dx, dy)).rgb(), colour.rgb(), tolerance))
                return true;
    return false;
}

// Share of pixels that differ from the top left one: a blank page (or no image) has none.
double drawnShare(const QImage& image) {
    if (image.isNull())
        return 0;
    const QRgb background = image.pixel(0, 0);
    qint64 differing = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            differing += image.pixel(x, y) != background;
    return double(differing) / double(qMax<qint64>(1, qint64(image.width()) * image.height()));
}

// Records about two seconds of a virtual sensor of the variant with `trvaxx record`.
QString record(trvsim::Variant variant, const QString& file, std::unique_ptr<trvsim::VirtualSensor>& sensor) {
    QProcess tool;
    tool.start(QStringLiteral(TRVAXX_EXECUTABLE),
               {"record", file, "--seconds", "2", "--port", "0", "--wake-up", "loopback"});
    if (!tool.waitForStarted(10000))
        return QStringLiteral("trvaxx did not start");
    static const QRegularExpression listening(QStringLiteral("listening on UDP port (\\d+)"));
    QByteArray err;
    quint16 port = 0;
    QDeadlineTimer until(20000);
    while (port == 0 && !until.hasExpired() && tool.state() != QProcess::NotRunning) {
        tool.waitForReadyRead(200);
        err += tool.readAllStandardError();
        if (const auto m = listening.match(QString::fromUtf8(err)); m.hasMatch())
            port = quint16(m.captured(1).toUInt());
    }
    if (port == 0)
        return QStringLiteral("trvaxx listens on no port: ") + QString::fromUtf8(err);
    sensor = std::make_unique<trvsim::VirtualSensor>(loopbackSensor(variant, "127.0.0.2", port));
    if (!sensor->start())
        return QString::fromStdString(sensor->errorText());
    const bool finished = tool.waitForFinished(60000);
    sensor->stop();
    if (!finished || tool.exitCode() != 0)
        return QStringLiteral("trvaxx record failed: ") + QString::fromUtf8(tool.readAllStandardError());
    return {};
}

void settle() {
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

} // namespace

TEST(ReplayPages, RecordedOdAndLgCyclesRenderOnEveryPageAndInOrlangui) {
    const QColor objectColour = StyleProxy::getProperty("objectColor").value<QColor>();
    for (trvsim::Variant variant : {trvsim::Variant::OD, trvsim::Variant::LG}) {
        const QString name = QString::fromLatin1(trvsim::variantName(variant)).toLower();
        SCOPED_TRACE(name.toStdString());
        const QString file = kArtifacts + QStringLiteral("/replay_%1.orlrec").arg(name);
        std::unique_ptr<trvsim::VirtualSensor> sensor;
        const QString failure = record(variant, file, sensor);
        ASSERT_TRUE(failure.isEmpty()) << failure.toStdString();

        ReplayDataView_TRVAXX view;
        QSignalSpy info(&view, &ReplayDataView::info);
        PrimedResultSP_TRVAXX_t newest;
        QObject::connect(view.getResultTransformer(), &ResultTransformer_TRVAXX::processNewData,
                         [&](PrimedResultSP_TRVAXX_t p) { newest = p; });
        view.resize(1100, 750);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
        EXPECT_FALSE(view.showPage(QStringLiteral("4d")));

        RecordingReader reader;
        ASSERT_TRUE(reader.open(file)) << reader.errorString().toStdString();
        RecordedPacket packet;
        int packets = 0;
        while (reader.readPacket(packet) == RecordingReader::Status::Packet) {
            view.newReplayPacket(packet.data.constData(), unsigned(packet.data.size()));
            settle();
            ++packets;
        }
        ASSERT_GT(packets, 5);
        EXPECT_EQ(view.getRejectedPackets(), 0);
        ASSERT_TRUE(newest && newest->hasResult());
        // One info line for the recording's identity, not one per cycle.
        ASSERT_EQ(info.size(), 1);
        EXPECT_TRUE(info.at(0).at(0).toString().contains(newest->getResult()->cameraVariant));
        const trvsim::FrameTruth truth = sensor->truth(newest->getResult()->frameCounter());

        // 2D: the distance pane shows the newest distance image, pixel by pixel.
        ASSERT_TRUE(view.showPage(QStringLiteral("2d")));
        View2D* distance = view.getVisualization()->getView2D()->pane(View2D_TRVAXX::DistancePane);
        const QImage pane = distance->viewport()->grab().toImage();
        view.grab().save(kArtifacts + QStringLiteral("/replay_%1_2d.png").arg(name));
        const QImage& expected = newest->getDistanceImage();
        int matching = 0, sampled = 0;
        for (int y = 1; y < expected.height(); y += 3)
            for (int x = 1; x < expected.width(); x += 5) {
                const QPoint at = distance->viewportPosOf(QPointF(x + 0.5, y + 0.5));
                if (!pane.valid(at))
                    continue;
                ++sampled;
                matching += coloursNear(pane.pixelColor(at).rgb(), expected.pixelColor(x, y).rgb(), 4);
            }
        EXPECT_GT(sampled, 20);
        EXPECT_GE(matching, sampled * 9 / 10);

        // Joint view: object boxes where the camera model puts the scene's objects; the windrow
        // for line guidance.
        ASSERT_TRUE(view.showPage(QStringLiteral("joint")));
        settle();
        View2D3D_TRVAXX* joint = view.getVisualization()->getView2D3D();
        const QImage jointImage = joint->pane()->viewport()->grab().toImage();
        view.grab().save(kArtifacts + QStringLiteral("/replay_%1_joint.png").arg(name));
        int boxes = 0;
        for (const trvsim::ObjectTruth& o : truth.objects) {
            QPointF corner;
            if (o.id < 0 || o.type == TRVAXX_RETRO_OBJECT_TYPE ||
                !joint->overlay()->project(o.x1, o.y1, o.zMax, corner) ||
                !QRectF(0, 0, 640, 480).contains(corner))
                continue;
            EXPECT_TRUE(colourNear(jointImage, joint->pane()->viewportPosOf(corner), objectColour, 60, 2))
                << "object " << o.id;
            ++boxes;
        }
        EXPECT_EQ(boxes > 0, variant == trvsim::Variant::OD);
        EXPECT_EQ(joint->windrow()->isVisible(), variant == trvsim::Variant::LG);

        // 3D: the cloud and the scene are drawn.
        ASSERT_TRUE(view.showPage(QStringLiteral("3d")));
        settle();
        View3D_TRVAXX* view3D = view.getVisualization()->getView3D();
        const QImage scene = view3D->getOsgView()->grabFramebuffer();
        scene.save(kArtifacts + QStringLiteral("/replay_%1_3d.png").arg(name));
        EXPECT_EQ(view3D->getVariant(), newest->getResult()->cameraVariant.left(2));
        EXPECT_GT(drawnShare(scene), 0.02);

        // The application itself, on the 3D page.
        const QString shot = kArtifacts + QStringLiteral("/orlangui_replay_%1_3d.png").arg(name);
        QFile::remove(shot);
        QProcess gui;
        gui.start(QStringLiteral(ORLANGUI_EXECUTABLE),
                  {"--replay", file, "--page", "3d", "--screenshot", shot});
        ASSERT_TRUE(gui.waitForFinished(60000));
        EXPECT_EQ(gui.exitCode(), 0) << gui.readAllStandardError().toStdString();
        EXPECT_GT(drawnShare(QImage(shot)), 0.05);
    }
}
