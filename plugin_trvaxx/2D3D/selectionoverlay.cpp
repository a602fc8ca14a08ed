#include "2D3D/selectionoverlay.h"

#include "visualization2d/view2d.h"

#include <QGraphicsSceneMouseEvent>
#include <QPainter>

SelectionOverlay::SelectionOverlay(View2D* pane) : view(pane) {
    setImageSize(64, 16);
    setAcceptedMouseButtons(Qt::LeftButton);
    setZValue(2);
    holdTimer.setSingleShot(true);
    holdTimer.setInterval(HOLD_MS);
    repeatTimer.setSingleShot(true);
    repeatTimer.setInterval(REPEAT_MS);
    connect(&holdTimer, &QTimer::timeout, this, [this] {
        if (dragging)
            emitGlobalPosition();
    });
    connect(&repeatTimer, &QTimer::timeout, this, &SelectionOverlay::repeatTimeout);
}

void SelectionOverlay::set3x3Marker(bool enabled) {
    if (marker3x3 == enabled)
        return;
    marker3x3 = enabled;
    update();
}

void SelectionOverlay::setPos(int column, int row) {
    if (column < 0 || row < 0)
        column = row = -1;
    if (column == col && row == rowIndex)
        return;
    col = column;
    rowIndex = row;
    update();
}

void SelectionOverlay::resendMousePos() {
    pending = false;
    if (hasSelection())
        emit userSelectedPosition(this, col, rowIndex);
}

void SelectionOverlay::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    if (!hasSelection())
        return;
    QPen pen(Qt::white);
    pen.setCosmetic(true);
    pen.setWidth(2);
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    const int size = markerSize();
    const int left = marker3x3 ? col - 1 : col;
    const int top = marker3x3 ? rowIndex - 1 : rowIndex;
    // Right and bottom edges at left + size - 1 in pixel indices: the frame encloses `size` pixels.
    painter->drawRect(QRectF(left, top, size, size));
}

QPainterPath SelectionOverlay::shape() const {
    // The whole image picks, not only the marker.
    QPainterPath path;
    path.addRect(QRectF(0, 0, imageWidth(), imageHeight()));
    return path;
}

bool SelectionOverlay::selectAt(const QPointF& pos) {
    const QPoint pixel = pixelAt(pos);
    if (pixel.x() < 0 || (pixel.x() == col && pixel.y() == rowIndex))
        return false;
    setPos(pixel.x(), pixel.y());
    return true;
}

void SelectionOverlay::mousePressEvent(QGraphicsSceneMouseEvent* event) {
    lastPressed = event->button();
    if (lockedToPos || event->button() != Qt::LeftButton || imageWidth() <= 0 || imageHeight() <= 0) {
        event->ignore();
        return;
    }
    event->accept();
    dragging = true;
    selectAt(event->pos());
    emit userSelectedPosition(this, col, rowIndex);
    pending = false;
    holdTimer.start();
    repeatTimer.start();
}

void SelectionOverlay::mouseMoveEvent(QGraphicsSceneMouseEvent* event) {
    if (!dragging)
        return;
    holdTimer.start();
    if (!selectAt(event->pos()))
        return;
    if (repeatTimer.isActive()) {
        pending = true;
    } else {
        emit userSelectedPosition(this, col, rowIndex);
        repeatTimer.start();
    }
}

void SelectionOverlay::mouseReleaseEvent(QGraphicsSceneMouseEvent* event) {
    if (!dragging || event->button() != Qt::LeftButton)
        return;
    holdTimer.stop();
    repeatTimer.stop();
    dragging = false;
    selectAt(event->pos());
    if (pending)
        resendMousePos();
    emitGlobalPosition();
}

void SelectionOverlay::repeatTimeout() {
    if (pending)
        resendMousePos();
}

void SelectionOverlay::emitGlobalPosition() {
    if (!hasSelection() || !view)
        return;
    // The lower-right corner of the pixel: whole pixels, rounded up.
    const QPoint inPane = view->widgetPosOf(QPointF(col + 1, rowIndex + 1));
    emit userSelectedGlobalPosition(this, inPane.x(), inPane.y());
}
