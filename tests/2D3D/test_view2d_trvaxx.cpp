// The 2D view driven as a user meets it: panes, selection, pixel panel, magnifier, hidden view.

#include "viewtest.h"

#include "2D3D/pixelzoom.h"
#include "2D3D/pixselparametermenubar.h"
#include "2D3D/selectionoverlay.h"
#include "2D3D/view2d_trvaxx.h"
#include "tests/support/messagecapture.h"
#include "visualization2d/view2d.h"

#include <vector>

namespace {

struct Fixture : ViewFixture<View2D_TRVAXX> {
    void SetUp() override {
        QObject::connect(&transformer, SIGNAL(sizeChanged(uint, uint)), &view, SLOT(setSize(uint, uint)));
        size = QSize(); // the panes' own size: ten screen pixels a sensor pixel
        ViewFixture::SetUp();
    }
    View2D* pane(int i) const { return view.pane(View2D_TRVAXX::Pane(i)); }
    QPoint selectedIn(int i) const {
        const SelectionOverlay* overlay = view.selectionOverlay(View2D_TRVAXX::Pane(i));
        return {overlay->column(), overlay->row()};
    }
    static QPoint centreOf(QPoint pixel) { return pixel * 10 + QPoint(5, 5); }
    QImage expected(int paneIndex) const {
        if (paneIndex == 1)
            return view.isAmplitudeLogarithmic() ? last->getLogarithmicAmplitudeImage()
                                                 : last->getAmplitudeImage();
        return paneIndex == 0 ? last->getDistanceImage() : last->getConfidenceImage();
    }
};

} // namespace

// First: the style warns about an unknown property only once per process.
TEST(View2DStyle, TheViewTakesItsStyleWithoutAskingForUnknownProperties) {
    MessageCapture messages;
    View2D_TRVAXX view;
    EXPECT_EQ(view.paneTitle(View2D_TRVAXX::ConfidencePane), QStringLiteral("Confidence"));
    EXPECT_TRUE(messages.all().isEmpty()) << messages.all().join('\n').toStdString();
}

TEST_F(Fixture, PanesShowTheirImagesAndAHiddenViewComputesNothingUntilShown) {
    ASSERT_TRUE(feed(makeRecord()));
    for (const bool logarithmic : {false, true}) {
        view.setAmplitudeLogarithmic(logarithmic);
        // The grid runs along the pixel borders (drawing at the zoom is the image pane's test).
        for (int p = 0; p < 3; ++p) {
            EXPECT_EQ(pane(p)->backgroundImage(), expected(p)) << "pane " << p << " log " << logarithmic;
            EXPECT_EQ(pane(p)->viewport()->grab().toImage().pixel(10, 55), qRgb(40, 40, 40)) << p;
        }
    }
    // The two amplitude images differ, so the toggle really switched the picture.
    EXPECT_NE(last->getAmplitudeImage().pixel(10, 2), last->getLogarithmicAmplitudeImage().pixel(10, 2));

    const QImage before = pane(0)->backgroundImage();
    view.hide();
    const PrimedResultSP_TRVAXX_t hidden = feed(makeRecord(2.0f));
    EXPECT_FALSE(hidden->isMaskComputed() || hidden->isDistanceImageComputed() ||
                 hidden->isAmplitudeImageComputed() || hidden->isLogarithmicAmplitudeImageComputed() ||
                 hidden->isConfidenceImageComputed());
    view.show();
    for (int p = 0; p < 3; ++p)
        EXPECT_EQ(pane(p)->backgroundImage(), expected(p))
            << "shown again, pane " << p << " shows the newest";
    EXPECT_NE(pane(0)->backgroundImage(), before);
}

TEST_F(Fixture, ClicksAndDragsSelectTheReleasedPixelInAllPanesAndThePanelShowsItsValues) {
    feed(makeRecord());
    QSignalSpy moved(&view, SIGNAL(posChanged(int, int)));
    // A drag faster than the 100-ms update interval may skip the pixels between, never the last;
    // then clicks at the far corners of each pane.
    const std::pair<int, std::vector<QPoint>> gestures[] = {
        {0, {{0, 0}, {10, 3}, {20, 3}, {30, 4}}}, {1, {{63, 0}}}, {2, {{0, 15}}}, {0, {{63, 15}}}};
    for (const auto& [p, path] : gestures) {
        const QPoint end = path.back();
        SCOPED_TRACE(testing::Message() << "pane " << p << " to " << end.x() << "," << end.y());
        QTest::mousePress(pane(p)->viewport(), Qt::LeftButton, {}, centreOf(path.front()));
        for (size_t i = 1; i < path.size(); ++i)
            QTest::mouseMove(pane(p)->viewport(), centreOf(path[i]));
        QTest::mouseRelease(pane(p)->viewport(), Qt::LeftButton, {}, centreOf(end));
        for (int q = 0; q < 3; ++q)
            EXPECT_EQ(selectedIn(q), end) << "pane " << q;
        ASSERT_FALSE(moved.isEmpty());
        EXPECT_EQ(moved.last(), (QVariantList{end.x(), end.y()}));
        EXPECT_EQ(view.pixelPanel()->positionText(),
                  QStringLiteral("Column %1, Row %2").arg(end.x()).arg(end.y()));
        EXPECT_FALSE(view.is3x3Active()); // a click is not a hold
    }
    for (int p = 0; p < 3; ++p) // the white marker around the selected pixel (63, 15)
        EXPECT_EQ(pane(p)->viewport()->grab().toImage().pixel(QPoint(630, 155)), qRgb(255, 255, 255)) << p;
    const PixSelParameterMenuBar* panel = view.pixelPanel();
    for (const auto& [pixel, distance, exposure, x] :
         {std::tuple{QPoint(5, 0), "invalid", "Short", "x: 0.05"}, // invalid: coordinates still shown
          {{6, 0}, "0.62 m", "Long", "x: 0.06"},
          {{63, 15}, "20.96 m", "Short", "x: 10.23"}}) {
        QTest::mouseClick(pane(0)->viewport(), Qt::LeftButton, {}, centreOf(pixel));
        const int i = pixel.y() * 64 + pixel.x();
        EXPECT_EQ(panel->distanceViewer()->text(), QString::fromUtf8(distance));
        EXPECT_EQ(panel->distanceViewer()->color().rgba(), last->getDistanceImage().pixel(pixel));
        EXPECT_EQ(panel->exposureViewer()->text(), QString::fromUtf8(exposure));
        EXPECT_EQ(panel->coordinateText(0), QString::fromUtf8(x));
        EXPECT_EQ(panel->coordinateText(1), QStringLiteral("y: -%1").arg(0.01 * i, 0, 'f', 2));
        EXPECT_EQ(panel->coordinateText(2), QStringLiteral("z: 1.50"));
        EXPECT_EQ(panel->amplitudeIndicator()->value(), qRed(last->getAmplitudeImage().pixel(pixel)));
    }
    view.setAmplitudeLogarithmic(true);
    EXPECT_EQ(panel->amplitudeIndicator()->value(), qRed(last->getLogarithmicAmplitudeImage().pixel(63, 15)));
}

TEST_F(Fixture, HoldingStillOpensTheMagnifierAndAnyPressClosesIt) {
    feed(makeRecord());
    pane(1)->setFocus();
    QTest::mousePress(pane(1)->viewport(), Qt::LeftButton, {}, centreOf({0, 0}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.is3x3Active(); }, 3000));
    QTest::mouseRelease(pane(1)->viewport(), Qt::LeftButton, {}, centreOf({0, 0}));
    const PixelZoom* zoom = view.pixelZoom();
    EXPECT_TRUE(zoom->isVisible());
    for (int p = 0; p < 3; ++p)
        EXPECT_TRUE(view.selectionOverlay(View2D_TRVAXX::Pane(p))->is3x3Marker());
    // The cut comes from the amplitude pane (how it is cut at the edges is the image pane's test).
    EXPECT_EQ(zoom->subImage().pixel(1, 1), last->getAmplitudeImage().pixel(0, 0));
    EXPECT_EQ(zoom->crossColor(), view.property("crossAmplitudeColor").value<QColor>());

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
    QTest::mouseClick(pane(2)->viewport(), Qt::LeftButton, {}, centreOf({40, 10}));
    EXPECT_FALSE(view.is3x3Active());
    EXPECT_FALSE(zoom->isVisible());
    for (int p = 0; p < 3; ++p) {
        EXPECT_FALSE(view.selectionOverlay(View2D_TRVAXX::Pane(p))->is3x3Marker());
        EXPECT_EQ(selectedIn(p), QPoint(1, 0));
    }
}
