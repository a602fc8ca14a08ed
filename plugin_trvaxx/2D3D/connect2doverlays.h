#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>

class SelectionOverlay;

// Keeps the selection overlays of several panes showing the same pixel: a selection in any pane is
// written to all of them. A pointer held still in a pane (the overlay reports its position while
// the button is still down) asks for the 3 × 3 marker.
class Connect2DOverlays : public QObject {
    Q_OBJECT
public:
    explicit Connect2DOverlays(QObject* parent = nullptr);

    // Connects the overlay's selections to this connector and writePos to the overlay.
    void addOverlay(SelectionOverlay* overlay);

    QPoint position() const { return current; }
    // The overlay that reported last and the pane widget position it reported last.
    SelectionOverlay* lastOverlay() const { return last; }
    QPoint lastGlobalPosition() const { return lastGlobal; }

    // Writes a position to all overlays, as if it had been picked.
    void setPosition(int column, int row);

signals:
    void writePos(int column, int row);
    void switchTo3x3Marker();

public slots:
    void posChanged(SelectionOverlay* overlay, int column, int row);
    void globalPosChanged(SelectionOverlay* overlay, int x, int y);

private:
    QPoint current{-1, -1};
    QPoint lastGlobal;
    QPointer<SelectionOverlay> last;
};
