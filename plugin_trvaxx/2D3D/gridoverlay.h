#pragma once

#include "visualization2d/overlay2d.h"

// Lines along the pixel borders of a sensor image: width + 1 vertical and height + 1 horizontal
// lines, one device pixel wide whatever the zoom. Takes no mouse input.
class GridOverlay : public Overlay2D {
    Q_OBJECT
public:
    explicit GridOverlay(QGraphicsItem* parent = nullptr);

    // The grid's size in sensor pixels (64 × 16 by default).
    void setGridSize(int width, int height) { setImageSize(width, height); }

    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;
};
