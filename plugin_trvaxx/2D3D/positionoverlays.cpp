#include "2D3D/positionoverlays.h"

#include "visualization2d/view2d.h"

#include <QGraphicsSceneMouseEvent>
#include <QPainter>

PositionOverlay::PositionOverlay(View2D* pane) : view(pane) {
    setAcceptedMouseButtons(Qt::LeftButton);
    setZValue(2);
}

QPainterPath PositionOverlay::shape() const {
    QPainterPath path;
    path.addRect(QRectF(0, 0, imageWidth(), imageHeight()));
    return path;
}

void PositionOverlay::setPos(int column, int row) {
    const QPoint next = column < 0 || row < 0 ? QPoint(-1, -1) : QPoint(column, row);
    if (next == current)
        return;
    current = next;
    update();
}

void PositionOverlay::mousePressEvent(QGraphicsSceneMouseEvent* event) {
    const QPoint pixel = pixelAt(event->pos());
    if (event->button() != Qt::LeftButton || pixel.x() < 0) {
        event->ignore();
        return;
    }
    setPos(pixel.x(), pixel.y());
    emit userSelectedPosition(pixel.x(), pixel.y());
    if (view) {
        const QPoint corner = view->widgetPosOf(QPointF(pixel + QPoint(1, 1)));
        emit userSelectedGlobalPosition(corner.x(), corner.y());
    }
}

CrossOverlay::CrossOverlay(View2D* pane, const QColor& color) : PositionOverlay(pane), lineColor(color) {}

void CrossOverlay::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    if (position().x() < 0)
        return;
    QPen pen(lineColor);
    pen.setCosmetic(true);
    painter->setPen(pen);
    const QPointF centre = QPointF(position()) + QPointF(0.5, 0.5);
    painter->drawLine(QPointF(0, centre.y()), QPointF(imageWidth(), centre.y()));
    painter->drawLine(QPointF(centre.x(), 0), QPointF(centre.x(), imageHeight()));
}

void PixelZoomOverlay::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    if (position().x() < 0)
        return;
    QPen pen(Qt::white);
    pen.setCosmetic(true);
    pen.setWidth(2);
    painter->setPen(pen);
    painter->drawRect(QRectF(position() - QPoint(1, 1), QSizeF(3, 3)));
}
