#include "2D3D/gridoverlay.h"

#include <QPainter>

GridOverlay::GridOverlay(QGraphicsItem* parent) : Overlay2D(parent) {
    setImageSize(64, 16);
    setAcceptedMouseButtons(Qt::NoButton);
    setZValue(1);
    // The grid changes only with the size: drawn once into a cached pixmap, blitted per frame.
    setCacheMode(QGraphicsItem::DeviceCoordinateCache);
}

void GridOverlay::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    QPen pen(QColor(40, 40, 40));
    pen.setCosmetic(true);
    pen.setWidth(0);
    painter->setPen(pen);
    const int w = imageWidth();
    const int h = imageHeight();
    QVector<QLineF> lines;
    lines.reserve(w + h + 2);
    for (int x = 0; x <= w; ++x)
        lines.append(QLineF(x, 0, x, h));
    for (int y = 0; y <= h; ++y)
        lines.append(QLineF(0, y, w, y));
    painter->drawLines(lines);
}
