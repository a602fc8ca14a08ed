#pragma once

#include "visualization2d/overlay2d.h"

#include <QTimer>

class View2D;

// The selected pixel of one pane, drawn as a white frame around the pixel (or, in 3 × 3 mode,
// around the 3 × 3 block centred on it), and the mouse picking of that pane:
// - a left press selects the pixel under the cursor and emits userSelectedPosition;
// - dragging moves the selection; updates are emitted at most every 100 ms (the last one is
//   repeated through resendMousePos() when the 100-ms timer runs out);
// - holding the button without moving for 1000 ms, and releasing it, emit
//   userSelectedGlobalPosition with the pane's widget position of the pixel's lower-right corner
//   (isDragging() tells the two apart: still true while held).
// While locked (3 × 3 mode) presses are passed on to the view.
class SelectionOverlay : public Overlay2D {
    Q_OBJECT
public:
    explicit SelectionOverlay(View2D* pane);

    View2D* pane() const { return view; }
    int column() const { return col; }
    int row() const { return rowIndex; }
    bool hasSelection() const { return col >= 0 && rowIndex >= 0; }

    void set3x3Marker(bool enabled);
    bool is3x3Marker() const { return marker3x3; }
    int markerSize() const { return marker3x3 ? 3 : 1; }
    void setLocked(bool locked) { lockedToPos = locked; }
    bool isLocked() const { return lockedToPos; }
    bool isDragging() const { return dragging; }
    Qt::MouseButton lastButton() const { return lastPressed; }

    // The hold time before userSelectedGlobalPosition is sent while the button is down.
    static constexpr int HOLD_MS = 1000;
    static constexpr int REPEAT_MS = 100;

    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;
    QPainterPath shape() const override;

signals:
    void userSelectedPosition(SelectionOverlay* overlay, int column, int row);
    void userSelectedGlobalPosition(SelectionOverlay* overlay, int x, int y);

public slots:
    // Shows this pixel as selected without emitting anything; (-1, -1) clears the selection.
    void setPos(int column, int row);
    // Emits the current selection again.
    void resendMousePos();

protected:
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseMoveEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent* event) override;

private:
    // Selects the pixel under `pos` (clamped into the image); true when it changed.
    bool selectAt(const QPointF& pos);
    void emitGlobalPosition();
    void repeatTimeout();

    View2D* view;
    int col = -1;
    int rowIndex = -1;
    bool marker3x3 = false;
    bool lockedToPos = false;
    bool dragging = false;
    bool pending = false;
    Qt::MouseButton lastPressed = Qt::NoButton;
    QTimer holdTimer;
    QTimer repeatTimer;
};
