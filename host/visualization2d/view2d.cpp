#include "visualization2d/view2d.h"

#include "visualization2d/overlay2d.h"

#include <QGraphicsPixmapItem>
#include <QPainter>
#include <QWheelEvent>

#include <cmath>

View2D::View2D(QWidget* parent) : QGraphicsView(parent) {
    setScene(&sceneObject);
    backgroundItem = sceneObject.addPixmap(QPixmap());
    backgroundItem->setTransformationMode(Qt::FastTransformation); // sensor pixels stay squares
    backgroundItem->setZValue(-1);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setBackgroundBrush(Qt::black);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setTransformationAnchor(QGraphicsView::AnchorUnderMouse);
    setDragMode(QGraphicsView::ScrollHandDrag);
    setOptimizationFlags(QGraphicsView::DontSavePainterState | QGraphicsView::DontAdjustForAntialiasing);
    applyTransform();
}

View2D::~View2D() {
    // Overlays are owned by the scene; drop them before the scene member goes.
    for (QGraphicsItem* overlay : overlayItems)
        sceneObject.removeItem(overlay);
    qDeleteAll(overlayItems);
}

void View2D::setBackgroundImage(const QImage& image) {
    const QSize oldSize = background.size();
    background = image;
    backgroundItem->setPixmap(QPixmap::fromImage(image));
    if (image.size() != oldSize) {
        sceneObject.setSceneRect(QRectF(QPointF(0, 0), QSizeF(image.size())));
        for (QGraphicsItem* item : overlayItems)
            if (auto* overlay = dynamic_cast<Overlay2D*>(item))
                overlay->setImageSize(image.width(), image.height());
        updateMinimumSize();
    }
}

void View2D::setZoomFactor(double factor) {
    if (!(factor > 0.0) || factor == zoom)
        return;
    zoom = qBound(0.1, factor, 100.0);
    applyTransform();
    updateMinimumSize();
    emit zoomFactorChanged(zoom);
}

void View2D::setPanningEnabled(bool enabled) {
    panning = enabled;
    setDragMode(enabled ? QGraphicsView::ScrollHandDrag : QGraphicsView::NoDrag);
}

void View2D::setZoomingEnabled(bool enabled) {
    zooming = enabled;
    updateMinimumSize();
}

void View2D::updateMinimumSize() {
    // Without zooming the user cannot make the image fit, so the pane asks for all of it.
    setMinimumSize(zooming ? QSize(0, 0) : sizeHint());
    updateGeometry();
}

void View2D::addOverlay(QGraphicsItem* item) {
    if (!item || overlayItems.contains(item))
        return;
    overlayItems.append(item);
    auto* overlay = dynamic_cast<Overlay2D*>(item);
    if (overlay && !background.isNull())
        overlay->setImageSize(background.width(), background.height());
    sceneObject.addItem(item);
}

void View2D::removeOverlay(QGraphicsItem* overlay) {
    if (overlayItems.removeOne(overlay))
        sceneObject.removeItem(overlay);
}

QImage View2D::subImage(const QRect& rect) const {
    QImage part(rect.size(), QImage::Format_ARGB32);
    part.fill(Qt::transparent);
    if (background.isNull() || rect.isEmpty())
        return part;
    QPainter painter(&part);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QPoint(0, 0), background, rect);
    return part;
}

QPointF View2D::imagePosAt(const QPoint& viewportPos) const {
    return mapToScene(viewportPos);
}

QPoint View2D::viewportPosOf(const QPointF& imagePos) const {
    return mapFromScene(imagePos);
}

QPoint View2D::widgetPosOf(const QPointF& imagePos) const {
    return viewport()->mapTo(this, viewportPosOf(imagePos));
}

QSize View2D::sizeHint() const {
    const QSizeF image = background.isNull() ? QSizeF(64, 16) : QSizeF(background.size());
    return (image * zoom).toSize() + QSize(2 * frameWidth(), 2 * frameWidth());
}

void View2D::wheelEvent(QWheelEvent* event) {
    if (!zooming) {
        event->ignore();
        return;
    }
    const double steps = event->angleDelta().y() / 120.0;
    if (steps != 0.0)
        setZoomFactor(zoom * std::pow(1.25, steps));
    event->accept();
}

void View2D::applyTransform() {
    setTransform(QTransform::fromScale(zoom, zoom));
}
