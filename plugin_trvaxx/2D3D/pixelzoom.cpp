#include "2D3D/pixelzoom.h"

#include "common/styleproxy.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>

namespace {
QColor styleColor(const char* name) {
    return StyleProxy::getProperty(name).value<QColor>();
}
} // namespace

PixelZoom::PixelZoom(QWidget* parent)
    : QWidget(parent), smallFrame(styleColor("smallFrameColor")), strokeFrame(styleColor("strokeFrameColor")),
      beginFrame(styleColor("beginFrameColor")), endFrame(styleColor("endFrameColor")) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFixedSize(sizeHint());
    hide();
}

QSize PixelZoom::sizeHint() const {
    return QSize(3 * CELL + 2 * FRAME, 3 * CELL + 2 * FRAME);
}

void PixelZoom::setSubImage(const QImage& cut, const QColor& crossColor) {
    image = cut;
    cross = crossColor;
    update();
}

void PixelZoom::setGlobalPos(int x, int y) {
    QPoint target(x, y);
    if (QWidget* p = parentWidget()) {
        target.setX(qBound(0, x, qMax(0, p->width() - width())));
        target.setY(qBound(0, y, qMax(0, p->height() - height())));
    }
    move(target);
}

void PixelZoom::setLocalPos(int column, int row) {
    local = QPoint(column, row);
}

void PixelZoom::hideSlot() {
    hide();
}

void PixelZoom::showSlot() {
    if (isVisible())
        return;
    show();
    raise();
    emit pixelZoomShow();
}

QRect PixelZoom::cellRect(int cx, int cy) const {
    return QRect(FRAME + cx * CELL, FRAME + cy * CELL, CELL, CELL);
}

void PixelZoom::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QLinearGradient gradient(0, 0, width(), height());
    gradient.setColorAt(0, beginFrame);
    gradient.setColorAt(1, endFrame);
    painter.fillRect(rect(), gradient);
    painter.setPen(QPen(strokeFrame, 1));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));

    // Transparent pixels (outside the image, masked) show as black, as in the panes.
    painter.fillRect(QRect(FRAME, FRAME, 3 * CELL, 3 * CELL), Qt::black);
    if (!image.isNull())
        painter.drawImage(QRect(FRAME, FRAME, 3 * CELL, 3 * CELL), image);

    painter.setPen(QPen(smallFrame, 1));
    for (int i = 1; i < 3; ++i) {
        painter.drawLine(FRAME + i * CELL, FRAME, FRAME + i * CELL, FRAME + 3 * CELL - 1);
        painter.drawLine(FRAME, FRAME + i * CELL, FRAME + 3 * CELL - 1, FRAME + i * CELL);
    }
    const QRect centre = cellRect(1, 1).adjusted(CELL / 4, CELL / 4, -CELL / 4, -CELL / 4);
    painter.setPen(QPen(cross, 2));
    painter.drawLine(centre.topLeft(), centre.bottomRight());
    painter.drawLine(centre.topRight(), centre.bottomLeft());
}

void PixelZoom::mousePressEvent(QMouseEvent* event) {
    event->accept();
    for (int cy = 0; cy < 3; ++cy)
        for (int cx = 0; cx < 3; ++cx)
            if (cellRect(cx, cy).contains(event->position().toPoint()) && local.x() >= 0)
                emit pixelPosChanged(local.x() + cx - 1, local.y() + cy - 1);
}
