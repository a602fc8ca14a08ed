// The 2D view driven as a user meets it, on the offscreen platform: the three panes show the
// primed result's images, clicks pick the same pixel in every pane, the panel shows the pixel's
// values, holding the button opens the magnifier, and a hidden view computes nothing. Screenshots
// are written into the test's working directory (the build tree's tests/2D3D) as view2d_*.png.

#include "2D3D/connect2doverlays.h"
#include "2D3D/pixelzoom.h"
#include "2D3D/pixselparametermenubar.h"
#include "2D3D/positionoverlays.h"
#include "2D3D/selectionoverlay.h"
#include "2D3D/view2d_trvaxx.h"

#include "common/styleproxy.h"
#include "result/resultcache_trvaxx.h"
#include "result/resulttransformer_trvaxx.h"
#include "tests/support/messagecapture.h"
#include "visualization2d/view2d.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

namespace {

// Pixel 5 is invalid, pixel 6 was taken with the long exposure, the rest are valid and short.
ResultDataSP_TRVAXX makeRecord(float distanceOffset = 0.5f) {
    ResultDataSP_TRVAXX r(new ResultData_TRVAXX);
    r->sensorWidth = 64;
    r->sensorHeight = 16;
    for (int i = 0; i < TRVAXX_PIXEL_COUNT; ++i) {
        const size_t p = size_t(i);
        r->cameraAxisDistance[p] = distanceOffset + 0.02f * float(i);
        r->normalizedAmplitude[p] = 3.0f * float(i);
        r->X[p] = 0.01f * float(i);
        r->Y[p] = -0.01f * float(i);
        r->Z[p] = 1.5f;
        r->confidence[p] = i % 97 == 3 ? 0x100 : 0; // a few ground pixels for the confidence pane
    }
    r->confidence[5] = 0x1;
    r->confidence[6] = 0x2;
    return r;
}

struct Fixture : ::testing::Test {
    ResultCache_TRVAXX cache;
    ResultTransformer_TRVAXX transformer{&cache};
    View2D_TRVAXX view;
    PrimedResultSP_TRVAXX_t last;

    void SetUp() override {
        QObject::connect(&transformer, SIGNAL(processNewData(PrimedResultSP_TRVAXX_t)), &view,
                         SLOT(processNewData(PrimedResultSP_TRVAXX_t)));
        QObject::connect(&transformer, SIGNAL(sizeChanged(uint, uint)), &view, SLOT(setSize(uint, uint)));
        QObject::connect(&transformer, &ResultTransformer_TRVAXX::processNewData,
                         [this](PrimedResultSP_TRVAXX_t p) { last = p; });
        view.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&view));
    }
    void feed(const ResultDataSP_TRVAXX& record) {
        cache.setResult(record);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
    View2D* pane(int i) const { return view.pane(View2D_TRVAXX::Pane(i)); }
    static QPoint centreOf(QPoint pixel) { return pixel * 10 + QPoint(5, 5); }
    void click(int paneIndex, QPoint pixel) {
        QTest::mouseClick(pane(paneIndex)->viewport(), Qt::LeftButton, {}, centreOf(pixel));
    }
    QImage expected(int paneIndex) const {
        switch (paneIndex) {
        case 0:
            return last->getDistanceImage();
        case 1:
            return view.isAmplitudeLogarithmic() ? last->getLogarithmicAmplitudeImage()
                                                 : last->getAmplitudeImage();
        default:
            return last->getConfidenceImage();
        }
    }
};

const QPoint CORNERS[] = {{0, 0}, {63, 0}, {0, 15}, {63, 15}};

} // namespace

TEST_F(Fixture, PanesShowTheirImagesIncludingTheLogarithmicAmplitude) {
    feed(makeRecord());
    ASSERT_TRUE(last);
    for (const bool logarithmic : {false, true}) {
        view.setAmplitudeLogarithmic(logarithmic);
        for (int p = 0; p < 3; ++p) {
            const QImage shown = pane(p)->viewport()->grab().toImage();
            const QImage image = expected(p);
            for (const QPoint pixel :
                 {QPoint(0, 0), QPoint(63, 15), QPoint(31, 8), QPoint(3, 0), QPoint(5, 0)})
                EXPECT_EQ(shown.pixel(centreOf(pixel)), image.pixel(pixel))
                    << "pane " << p << " log " << logarithmic << " pixel " << pixel.x() << "," << pixel.y();
            // The grid runs along the pixel borders.
            EXPECT_EQ(shown.pixel(QPoint(10, 55)), qRgb(40, 40, 40)) << "pane " << p;
        }
        view.grab().save(QStringLiteral("view2d_panes_%1.png").arg(logarithmic ? "log" : "linear"));
    }
    // The two amplitude images differ, so the toggle really switched the picture.
    EXPECT_NE(last->getAmplitudeImage().pixel(10, 2), last->getLogarithmicAmplitudeImage().pixel(10, 2));
}

TEST_F(Fixture, AHiddenViewComputesNothingAndTheNextVisibleResultUpdatesAllPanes) {
    feed(makeRecord());
    const QImage before = pane(0)->backgroundImage();
    view.hide();
    feed(makeRecord(2.0f));
    ASSERT_TRUE(last);
    EXPECT_FALSE(last->isMaskComputed());
    EXPECT_FALSE(last->isDistanceImageComputed());
    EXPECT_FALSE(last->isAmplitudeImageComputed());
    EXPECT_FALSE(last->isLogarithmicAmplitudeImageComputed());
    EXPECT_FALSE(last->isConfidenceImageComputed());
    EXPECT_EQ(pane(0)->backgroundImage(), before);

    view.show();
    feed(makeRecord(2.0f));
    for (int p = 0; p < 3; ++p)
        EXPECT_EQ(pane(p)->backgroundImage(), expected(p)) << p;
    EXPECT_NE(pane(0)->backgroundImage(), before);
}

TEST_F(Fixture, ClickingACornerSelectsItInAllThreePanes) {
    feed(makeRecord());
    QSignalSpy moved(&view, SIGNAL(posChanged(int, int)));
    for (int p = 0; p < 3; ++p)
        for (const QPoint corner : CORNERS) {
            click(p, corner);
            for (int q = 0; q < 3; ++q) {
                const SelectionOverlay* overlay = view.selectionOverlay(View2D_TRVAXX::Pane(q));
                EXPECT_EQ(QPoint(overlay->column(), overlay->row()), corner) << "clicked in pane " << p;
            }
            ASSERT_FALSE(moved.isEmpty());
            EXPECT_EQ(moved.last().at(0).toInt(), corner.x());
            EXPECT_EQ(moved.last().at(1).toInt(), corner.y());
            EXPECT_FALSE(view.is3x3Active()); // a click is not a hold
        }
    // The marker is white around the selected pixel (63, 15) in every pane.
    for (int p = 0; p < 3; ++p)
        EXPECT_EQ(pane(p)->viewport()->grab().toImage().pixel(QPoint(630, 155)), qRgb(255, 255, 255)) << p;
    view.grab().save(QStringLiteral("view2d_selection.png"));
}

TEST_F(Fixture, DraggingEndsOnTheReleasedPixelInAllPanes) {
    feed(makeRecord());
    QSignalSpy moved(&view, SIGNAL(posChanged(int, int)));
    QWidget* viewport = pane(0)->viewport();
    QTest::mousePress(viewport, Qt::LeftButton, {}, centreOf({0, 0}));
    // Faster than the 100-ms update interval: the intermediate pixels may be skipped, the last not.
    for (const QPoint pixel : {QPoint(10, 3), QPoint(20, 3), QPoint(30, 4)})
        QTest::mouseMove(viewport, centreOf(pixel));
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, centreOf({30, 4}));
    ASSERT_FALSE(moved.isEmpty());
    EXPECT_EQ(moved.last().at(0).toInt(), 30);
    EXPECT_EQ(moved.last().at(1).toInt(), 4);
    EXPECT_EQ(view.pixelPanel()->positionText(), QStringLiteral("Column 30, Row 4"));
    for (int p = 0; p < 3; ++p)
        EXPECT_EQ(view.selectionOverlay(View2D_TRVAXX::Pane(p))->column(), 30) << p;
    EXPECT_FALSE(view.is3x3Active());
}

TEST_F(Fixture, PixelPanelShowsTheSelectedPixelsValues) {
    feed(makeRecord());
    const PixSelParameterMenuBar* panel = view.pixelPanel();
    const struct {
        QPoint pixel;
        const char* distance;
        const char* exposure;
        const char* x;
    } cases[] = {
        {{5, 0}, "invalid", "Short", "x: 0.05"}, // invalid: coordinates still shown
        {{6, 0}, "0.62 m", "Long", "x: 0.06"},
        {{63, 15}, "20.96 m", "Short", "x: 10.23"},
    };
    for (const auto& c : cases) {
        click(0, c.pixel);
        const int i = c.pixel.y() * 64 + c.pixel.x();
        EXPECT_EQ(panel->distanceViewer()->text(), QString::fromUtf8(c.distance));
        EXPECT_EQ(panel->distanceViewer()->color().rgba(), last->getDistanceImage().pixel(c.pixel));
        EXPECT_EQ(panel->exposureViewer()->text(), QString::fromUtf8(c.exposure));
        EXPECT_EQ(panel->coordinateText(0), QString::fromUtf8(c.x));
        EXPECT_EQ(panel->coordinateText(1), QStringLiteral("y: -%1").arg(0.01 * i, 0, 'f', 2));
        EXPECT_EQ(panel->coordinateText(2), QStringLiteral("z: 1.50"));
        EXPECT_EQ(panel->amplitudeIndicator()->value(), qRed(last->getAmplitudeImage().pixel(c.pixel)));
    }
    view.setAmplitudeLogarithmic(true);
    EXPECT_EQ(panel->amplitudeIndicator()->value(), qRed(last->getLogarithmicAmplitudeImage().pixel(63, 15)));
    view.grab().save(QStringLiteral("view2d_panel.png"));
}

TEST_F(Fixture, HoldingStillOpensTheMagnifierAndAnyPressClosesIt) {
    feed(makeRecord());
    // Hold the button on the amplitude pane's top-left pixel.
    pane(1)->setFocus();
    QTest::mousePress(pane(1)->viewport(), Qt::LeftButton, {}, centreOf({0, 0}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.is3x3Active(); }, 3000));
    QTest::mouseRelease(pane(1)->viewport(), Qt::LeftButton, {}, centreOf({0, 0}));
    const PixelZoom* zoom = view.pixelZoom();
    EXPECT_TRUE(zoom->isVisible());
    for (int p = 0; p < 3; ++p)
        EXPECT_TRUE(view.selectionOverlay(View2D_TRVAXX::Pane(p))->is3x3Marker());
    // The cut comes from the amplitude pane, centred on the corner; outside the image it is empty.
    EXPECT_EQ(zoom->subImage().pixel(1, 1), last->getAmplitudeImage().pixel(0, 0));
    EXPECT_EQ(zoom->subImage().pixel(0, 0), 0u);
    EXPECT_EQ(zoom->crossColor(), view.property("crossAmplitudeColor").value<QColor>());
    view.grab().save(QStringLiteral("view2d_magnifier.png"));

    // A click on the right neighbour in the magnifier moves the selection there.
    QTest::mouseClick(
        const_cast<PixelZoom*>(zoom), Qt::LeftButton, {},
        QPoint(PixelZoom::FRAME + 2 * PixelZoom::CELL + 3, PixelZoom::FRAME + PixelZoom::CELL + 3));
    EXPECT_EQ(view.selectedPixel(), QPoint(1, 0));
    EXPECT_EQ(zoom->subImage().pixel(1, 1), last->getAmplitudeImage().pixel(1, 0));
    // A new result refreshes the open magnifier.
    ResultDataSP_TRVAXX brighter = makeRecord();
    brighter->normalizedAmplitude[1] = 3000.0f;
    feed(brighter);
    EXPECT_EQ(zoom->subImage().pixel(1, 1), last->getAmplitudeImage().pixel(1, 0));
    EXPECT_NE(zoom->subImage().pixel(1, 1), zoom->subImage().pixel(0, 1));

    // Any press on a pane closes it and keeps the selection.
    click(2, {40, 10});
    EXPECT_FALSE(view.is3x3Active());
    EXPECT_FALSE(zoom->isVisible());
    for (int p = 0; p < 3; ++p) {
        const SelectionOverlay* overlay = view.selectionOverlay(View2D_TRVAXX::Pane(p));
        EXPECT_FALSE(overlay->is3x3Marker());
        EXPECT_EQ(QPoint(overlay->column(), overlay->row()), QPoint(1, 0));
    }
}

TEST(PositionOverlays, ReportThePressedPixelAndDrawAtTheGivenOne) {
    View2D pane;
    pane.setZoomFactor(10.0);
    pane.setZoomingEnabled(false);
    QImage black(64, 16, QImage::Format_ARGB32);
    black.fill(Qt::black);
    pane.setBackgroundImage(black);
    auto* cross = new CrossOverlay(&pane, Qt::red);
    auto* block = new PixelZoomOverlay(&pane);
    pane.resize(pane.sizeHint());
    pane.show();
    for (PositionOverlay* overlay :
         {static_cast<PositionOverlay*>(cross), static_cast<PositionOverlay*>(block)}) {
        pane.addOverlay(overlay);
        QSignalSpy picked(overlay, SIGNAL(userSelectedPosition(int, int)));
        QSignalSpy corner(overlay, SIGNAL(userSelectedGlobalPosition(int, int)));
        QTest::mouseClick(pane.viewport(), Qt::LeftButton, {}, QPoint(635, 155));
        ASSERT_EQ(picked.size(), 1);
        EXPECT_EQ(picked[0], (QVariantList{63, 15}));
        EXPECT_EQ(corner[0], (QVariantList{640, 160}));
        pane.removeOverlay(overlay);
    }
    pane.addOverlay(cross);
    cross->setPos(10, 3);
    const QImage shown = pane.viewport()->grab().toImage();
    EXPECT_EQ(shown.pixel(600, 35), qRgb(255, 0, 0));  // the horizontal line through row 3
    EXPECT_EQ(shown.pixel(105, 150), qRgb(255, 0, 0)); // the vertical line through column 10
    EXPECT_EQ(shown.pixel(300, 100), qRgb(0, 0, 0));
    delete block;
}

TEST(View2DStyle, EveryStylePropertyHasADistinctValidDefault) {
    MessageCapture messages;
    const char* names[] = {"crossDistanceColor", "crossAmplitudeColor", "crossConfidanceColor",
                           "smallFrameColor",    "strokeFrameColor",    "beginFrameColor",
                           "endFrameColor"};
    QSet<QRgb> seen;
    for (const char* name : names) {
        const QColor color = StyleProxy::getProperty(name).value<QColor>();
        EXPECT_TRUE(color.isValid()) << name;
        EXPECT_FALSE(seen.contains(color.rgba())) << name;
        seen.insert(color.rgba());
    }
    View2D_TRVAXX view;
    EXPECT_EQ(view.property("crossDistanceColor").value<QColor>(), QColor(Qt::white));
    EXPECT_EQ(view.pixelZoom()->property("endFrameColor").value<QColor>(),
              StyleProxy::getProperty("endFrameColor").value<QColor>());
    EXPECT_EQ(view.paneTitle(View2D_TRVAXX::ConfidencePane), QStringLiteral("Confidence"));
    EXPECT_TRUE(messages.all().isEmpty()) << messages.all().join('\n').toStdString();
}
