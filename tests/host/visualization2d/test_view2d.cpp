// The image pane: drawing at the zoom, overlays, sub-images at corners, wheel zoom.

#include "visualization2d/overlay2d.h"
#include "visualization2d/view2d.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPainter>
#include <QWheelEvent>

namespace {

class CountingOverlay : public Overlay2D {
public:
    int sizeChanges = 0;
    void paint(QPainter*, const QStyleOptionGraphicsItem*, QWidget*) override {}

protected:
    void imageSizeChanged() override { ++sizeChanges; }
};

} // namespace

TEST(View2D, DrawsAtTheZoomCutsSubImagesAndZoomsByWheelOnlyWhenSwitchedOn) {
    QImage image(64, 16, QImage::Format_ARGB32);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 64; ++x)
            image.setPixel(x, y, qRgb(x * 3, y * 10, 200));
    View2D view;
    view.setZoomFactor(10.0);
    auto* overlay = new CountingOverlay;
    view.addOverlay(overlay);
    view.setBackgroundImage(image);
    EXPECT_EQ(overlay->imageWidth(), 64);
    EXPECT_EQ(overlay->imageHeight(), 16);
    view.setBackgroundImage(image.copy()); // same size: overlays are not told again
    EXPECT_EQ(overlay->sizeChanges, 1);

    view.resize(view.sizeHint());
    view.show();
    const QImage shown = view.viewport()->grab().toImage();
    for (const QPoint pixel : {QPoint(0, 0), QPoint(63, 0), QPoint(0, 15), QPoint(63, 15), QPoint(20, 7)}) {
        EXPECT_EQ(shown.pixel(pixel * 10 + QPoint(5, 5)), image.pixel(pixel))
            << pixel.x() << "," << pixel.y();
        EXPECT_EQ(view.imagePosAt(pixel * 10 + QPoint(5, 5)), QPointF(pixel) + QPointF(0.5, 0.5));
    }

    // Around corners, the cut keeps the corner in its centre; outside the image it is transparent.
    for (const QPoint centre : {QPoint(0, 0), QPoint(63, 15), QPoint(63, 0)}) {
        const QImage cut = view.subImage(QRect(centre - QPoint(1, 1), QSize(3, 3)));
        ASSERT_EQ(cut.size(), QSize(3, 3));
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                const QPoint p = centre + QPoint(dx, dy);
                const QRgb expected = image.rect().contains(p) ? image.pixel(p) : 0u;
                EXPECT_EQ(cut.pixel(dx + 1, dy + 1), expected) << p.x() << "," << p.y();
            }
    }
    view.removeOverlay(overlay);
    delete overlay;

    view.setZoomFactor(4.0);
    view.setPanningEnabled(false);
    EXPECT_EQ(view.dragMode(), QGraphicsView::NoDrag);
    for (const bool enabled : {false, true}) {
        view.setZoomingEnabled(enabled);
        QWheelEvent wheel(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, 120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view.viewport(), &wheel);
        EXPECT_DOUBLE_EQ(view.zoomFactor(), enabled ? 5.0 : 4.0);
    }
}
