#pragma once

#include <QGraphicsView>
#include <QImage>
#include <QList>

class QGraphicsPixmapItem;
class Overlay2D;

// One image pane: a background image on a graphics view, shown at a fixed zoom factor, with
// overlay items drawn on top in image pixel coordinates (pixel (c, r) covers the square from
// (c, r) to (c + 1, r + 1)). Panning (dragging the image) and zooming (mouse wheel) can be switched
// on and off; without zooming the pane's minimum size shows the whole image. Lives on the GUI thread.
class View2D : public QGraphicsView {
    Q_OBJECT
public:
    explicit View2D(QWidget* parent = nullptr);
    ~View2D() override;

    // Replaces the background; the scene takes the image's size. A null image clears it.
    void setBackgroundImage(const QImage& image);
    const QImage& backgroundImage() const { return background; }

    void setZoomFactor(double factor);
    double zoomFactor() const { return zoom; }
    void setPanningEnabled(bool enabled);
    bool isPanningEnabled() const { return panning; }
    void setZoomingEnabled(bool enabled);
    bool isZoomingEnabled() const { return zooming; }

    // The view takes ownership of the item; an Overlay2D is given the image size now and whenever
    // it changes. Any other item is drawn in image pixel coordinates as it is.
    void addOverlay(QGraphicsItem* overlay);
    // Gives the item back to the caller (not deleted).
    void removeOverlay(QGraphicsItem* overlay);
    const QList<QGraphicsItem*>& overlays() const { return overlayItems; }

    // The part `rect` (image pixels) of the background; pixels outside the image are transparent,
    // so a 3 × 3 cut around a corner pixel still has the corner in its centre.
    QImage subImage(const QRect& rect) const;

    // Image pixel under a point of the viewport (may lie outside the image), and back: the
    // viewport position of an image point.
    QPointF imagePosAt(const QPoint& viewportPos) const;
    QPoint viewportPosOf(const QPointF& imagePos) const;
    // The position of an image point in this widget's own coordinates.
    QPoint widgetPosOf(const QPointF& imagePos) const;

    QSize sizeHint() const override;

signals:
    void zoomFactorChanged(double factor);

protected:
    void wheelEvent(QWheelEvent* event) override;

private:
    void applyTransform();
    void updateMinimumSize();

    QGraphicsScene sceneObject;
    QGraphicsPixmapItem* backgroundItem = nullptr;
    QImage background;
    QList<QGraphicsItem*> overlayItems;
    double zoom = 1.0;
    bool panning = true;
    bool zooming = true;
};
