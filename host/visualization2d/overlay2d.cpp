#include "visualization2d/overlay2d.h"

#include <cmath>

Overlay2D::Overlay2D(QGraphicsItem* parent) : QGraphicsObject(parent) {}

void Overlay2D::setImageSize(int w, int h) {
    w = qMax(0, w);
    h = qMax(0, h);
    if (w == width && h == height)
        return;
    prepareGeometryChange();
    width = w;
    height = h;
    imageSizeChanged();
    update();
}

QRectF Overlay2D::boundingRect() const {
    // A little margin: cosmetic pens on the outer edges draw half a device pixel outside.
    return QRectF(-1, -1, width + 2, height + 2);
}

QPoint Overlay2D::pixelAt(const QPointF& pos) const {
    if (width <= 0 || height <= 0)
        return QPoint(-1, -1);
    return QPoint(qBound(0, int(std::floor(pos.x())), width - 1),
                  qBound(0, int(std::floor(pos.y())), height - 1));
}
