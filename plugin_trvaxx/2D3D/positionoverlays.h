#pragma once

#include "visualization2d/overlay2d.h"

#include <QColor>
#include <QPoint>

class View2D;

// An overlay that marks the pixel given to setPos(int,int) and reports the pixel the user presses
// (column, row) and the pane widget position of its lower-right corner. Views that show one
// position in several panes connect the report of each to setPos of the others.
class PositionOverlay : public Overlay2D {
    Q_OBJECT
public:
    explicit PositionOverlay(View2D* pane);
    QPoint position() const { return current; }
    QPainterPath shape() const override;

signals:
    void userSelectedPosition(int column, int row);
    void userSelectedGlobalPosition(int x, int y);

public slots:
    void setPos(int column, int row);

protected:
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override;

private:
    View2D* view;
    QPoint current{-1, -1};
};

// Cross hairs through the centre of the position, across the whole image, in one colour.
class CrossOverlay : public PositionOverlay {
    Q_OBJECT
public:
    CrossOverlay(View2D* pane, const QColor& color);
    QColor color() const { return lineColor; }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

private:
    QColor lineColor;
};

// The 3 × 3 block around the position, framed, as the magnifier shows it.
class PixelZoomOverlay : public PositionOverlay {
    Q_OBJECT
public:
    using PositionOverlay::PositionOverlay;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;
};
