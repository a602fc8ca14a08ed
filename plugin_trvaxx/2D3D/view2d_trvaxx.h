#pragma once

#include "result/primedresult_trvaxx.h"

#include <QColor>
#include <QPoint>
#include <QWidget>

#include <array>

class Connect2DOverlays;
class GridOverlay;
class PixSelParameterMenuBar;
class PixelZoom;
class QGroupBox;
class SelectionOverlay;
class View2D;

// The sensor's images side by side: distance, amplitude and confidence panes (zoom 10, no panning
// or zooming), each with a pixel grid and the selection marker, which all three share. Holding
// the button still on a pixel for a second opens the 3 × 3 magnifier on the focused pane; any
// press on the panes closes it. The "Pixel Properties" panel sits to the right of the panes; a
// screen that wants it elsewhere takes it with pixelPanel() and reparents it.
//
// A hidden view only keeps the newest result (no image is computed for it) and shows it when it is
// shown. GUI thread only.
class View2D_TRVAXX : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QColor crossDistanceColor MEMBER crossDistance)
    Q_PROPERTY(QColor crossAmplitudeColor MEMBER crossAmplitude)
    Q_PROPERTY(QColor crossConfidanceColor MEMBER crossConfidance)
public:
    enum Pane { DistancePane = 0, AmplitudePane = 1, ConfidencePane = 2, PaneCount = 3 };

    explicit View2D_TRVAXX(QWidget* parent = nullptr);
    ~View2D_TRVAXX() override;

    View2D* pane(Pane which) const { return panes[which]; }
    SelectionOverlay* selectionOverlay(Pane which) const { return selections[which]; }
    GridOverlay* gridOverlay(Pane which) const { return grids[which]; }
    PixelZoom* pixelZoom() const { return zoom; }
    PixSelParameterMenuBar* pixelPanel() const { return panel; }
    const PrimedResultSP_TRVAXX_t& primedResult() const { return primed; }
    bool is3x3Active() const { return mode3x3; }
    QPoint selectedPixel() const { return selected; }
    bool isAmplitudeLogarithmic() const { return logarithmic; }
    QString paneTitle(Pane which) const;

    // Shows the logarithmic amplitude image in the amplitude pane (and the panel's amplitude).
    void setAmplitudeLogarithmic(bool enable);

signals:
    void posChanged(int column, int row);

public slots:
    void processNewData(PrimedResultSP_TRVAXX_t primedResult);
    void setSize(uint width_, uint height_);
    void updatePixelZoom();
    void pixelPosChanged(int column, int row);
    void set3x3Active();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void retranslateUi();
    void showImages();
    void leave3x3();
    QColor crossColor(int pane) const;
    int paneOf(const QObject* object) const;

    std::array<View2D*, PaneCount> panes{};
    std::array<QGroupBox*, PaneCount> frames{};
    std::array<GridOverlay*, PaneCount> grids{};
    std::array<SelectionOverlay*, PaneCount> selections{};
    Connect2DOverlays* connector;
    PixelZoom* zoom;
    PixSelParameterMenuBar* panel;
    PrimedResultSP_TRVAXX_t primed;
    bool logarithmic = false;
    bool shownPrimed = false;
    bool mode3x3 = false;
    QPoint selected{-1, -1};
    int lastPane = DistancePane;
    QColor crossDistance;
    QColor crossAmplitude;
    QColor crossConfidance;
};
