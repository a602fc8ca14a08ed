#include "2D3D/connect2doverlays.h"

#include "2D3D/selectionoverlay.h"

Connect2DOverlays::Connect2DOverlays(QObject* parent) : QObject(parent) {}

void Connect2DOverlays::addOverlay(SelectionOverlay* overlay) {
    connect(overlay, SIGNAL(userSelectedPosition(SelectionOverlay*, int, int)), this,
            SLOT(posChanged(SelectionOverlay*, int, int)));
    connect(overlay, SIGNAL(userSelectedGlobalPosition(SelectionOverlay*, int, int)), this,
            SLOT(globalPosChanged(SelectionOverlay*, int, int)));
    connect(this, SIGNAL(writePos(int, int)), overlay, SLOT(setPos(int, int)));
}

void Connect2DOverlays::setPosition(int column, int row) {
    current = QPoint(column, row);
    emit writePos(column, row);
}

void Connect2DOverlays::posChanged(SelectionOverlay* overlay, int column, int row) {
    last = overlay;
    setPosition(column, row);
}

void Connect2DOverlays::globalPosChanged(SelectionOverlay* overlay, int x, int y) {
    last = overlay;
    lastGlobal = QPoint(x, y);
    if (overlay && overlay->isDragging())
        emit switchTo3x3Marker();
}
