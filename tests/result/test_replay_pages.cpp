// A `trvaxx record` recording of the virtual sensor reaches every page of the replay view and
// `orlangui --replay` (what each page draws is checked pixel by pixel by the view tests).

#include "2D3D/resultvisualization.h"
#include "2D3D/view2d3d_trvaxx.h"
#include "2D3D/view2d_trvaxx.h"
#include "2D3D/view3d_trvaxx.h"
#include "2D3D/windrowvisualization.h"
#include "capture_replay/recordingreader.h"
#include "result/replaydataview_trvaxx.h"
#include "result/resulttransformer_trvaxx.h"
#include "simulator/virtualsensor.h"
#include "tests/support/simsensor.h"
#include "visualization2d/view2d.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

namespace {

const QString kArtifacts = QStringLiteral(TEST_ARTIFACT_DIR);

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
QString record(trvsim::Variant variant, const QString& file) {
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
    trvsim::VirtualSensor sensor(loopbackSensor(variant, "127.0.0.2", port));
    if (!sensor.start())
        return QString::fromStdString(sensor.errorText());
    const bool finished = tool.waitForFinished(60000);
    sensor.stop();
    if (!finished || tool.exitCode() != 0)
        return QStringLiteral("trvaxx record failed: ") + QString::fromUtf8(tool.readAllStandardError());
    return {};
}

void settle() {
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

} // namespace

// Line guidance, whose joint page adds the windrow; the other variants share the replay road.
TEST(ReplayPages, RecordedCyclesReachEveryPageAndOrlangui) {
    const QString file = kArtifacts + QStringLiteral("/replay_lg.orlrec");
    const QString failure = record(trvsim::Variant::LG, file);
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

    // Each page shows the newest replayed result.
    ASSERT_TRUE(view.showPage(QStringLiteral("2d")));
    EXPECT_EQ(view.getVisualization()->getView2D()->pane(View2D_TRVAXX::DistancePane)->backgroundImage(),
              newest->getDistanceImage());
    ASSERT_TRUE(view.showPage(QStringLiteral("joint")));
    settle();
    EXPECT_TRUE(view.getVisualization()->getView2D3D()->windrow()->isVisible());
    ASSERT_TRUE(view.showPage(QStringLiteral("3d")));
    settle();
    View3D_TRVAXX* view3D = view.getVisualization()->getView3D();
    EXPECT_EQ(view3D->getVariant(), newest->getResult()->cameraVariant.left(2));
    EXPECT_GT(drawnShare(view3D->getOsgView()->grabFramebuffer()), 0.02);

    // The application itself, on the 3D page.
    const QString shot = kArtifacts + QStringLiteral("/orlangui_replay_lg_3d.png");
    QFile::remove(shot);
    QProcess gui;
    gui.start(QStringLiteral(ORLANGUI_EXECUTABLE), {"--replay", file, "--page", "3d", "--screenshot", shot});
    ASSERT_TRUE(gui.waitForFinished(60000));
    EXPECT_EQ(gui.exitCode(), 0) << gui.readAllStandardError().toStdString();
    EXPECT_GT(drawnShare(QImage(shot)), 0.05);
}
