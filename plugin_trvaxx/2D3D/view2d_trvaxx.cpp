#include "2D3D/view2d_trvaxx.h"

#include "2D3D/connect2doverlays.h"
#include "2D3D/gridoverlay.h"
#include "2D3D/pixelzoom.h"
#include "2D3D/pixselparametermenubar.h"
#include "2D3D/selectionoverlay.h"

#include "common/styleproxy.h"
#include "visualization2d/view2d.h"

#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

View2D_TRVAXX::View2D_TRVAXX(QWidget* parent)
    : QWidget(parent), connector(new Connect2DOverlays(this)),
      crossDistance(StyleProxy::getProperty("crossDistanceColor").value<QColor>()),
      crossAmplitude(StyleProxy::getProperty("crossAmplitudeColor").value<QColor>()),
      crossConfidance(StyleProxy::getProperty("crossConfidanceColor").value<QColor>()) {
    auto* paneColumn = new QVBoxLayout;
    for (int i = 0; i < PaneCount; ++i) {
        frames[size_t(i)] = new QGroupBox(this);
        auto* frameLayout = new QVBoxLayout(frames[size_t(i)]);
        frameLayout->setContentsMargins(2, 2, 2, 2);
        View2D* view = new View2D(frames[size_t(i)]);
        view->setZoomFactor(10.0);
        view->setPanningEnabled(false);
        view->setZoomingEnabled(false);
        view->setFocusPolicy(Qt::StrongFocus);
        view->installEventFilter(this);
        view->viewport()->installEventFilter(this);
        frameLayout->addWidget(view);
        paneColumn->addWidget(frames[size_t(i)]);

        grids[size_t(i)] = new GridOverlay;
        selections[size_t(i)] = new SelectionOverlay(view);
        view->addOverlay(grids[size_t(i)]);
        view->addOverlay(selections[size_t(i)]);
        connector->addOverlay(selections[size_t(i)]);
        panes[size_t(i)] = view;
    }
    paneColumn->addStretch(1);

    panel = new PixSelParameterMenuBar(this);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(paneColumn, 1);
    layout->addWidget(panel);

    zoom = new PixelZoom(this);

    connect(connector, SIGNAL(writePos(int, int)), this, SIGNAL(posChanged(int, int)));
    connect(this, SIGNAL(posChanged(int, int)), panel, SLOT(setPos(int, int)));
    connect(connector, &Connect2DOverlays::writePos, this, [this](int c, int r) {
        selected = QPoint(c, r);
        if (SelectionOverlay* overlay = connector->lastOverlay())
            lastPane = paneOf(overlay->pane());
    });
    connect(zoom, SIGNAL(pixelPosChanged(int, int)), this, SLOT(pixelPosChanged(int, int)));
    connect(zoom, SIGNAL(pixelPosChanged(int, int)), this, SLOT(updatePixelZoom()));
    connect(zoom, SIGNAL(pixelZoomShow()), this, SLOT(updatePixelZoom()));
    connect(connector, SIGNAL(switchTo3x3Marker()), this, SLOT(set3x3Active()));
    retranslateUi();
}

View2D_TRVAXX::~View2D_TRVAXX() = default;

QString View2D_TRVAXX::paneTitle(Pane which) const {
    return frames[which]->title();
}

void View2D_TRVAXX::retranslateUi() {
    frames[DistancePane]->setTitle(tr("Distance"));
    frames[AmplitudePane]->setTitle(tr("Amplitude"));
    frames[ConfidencePane]->setTitle(tr("Confidence"));
}

void View2D_TRVAXX::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange)
        retranslateUi();
    QWidget::changeEvent(event);
}

void View2D_TRVAXX::processNewData(PrimedResultSP_TRVAXX_t primedResult) {
    if (!primedResult)
        return;
    primed = primedResult;
    // A hidden view only keeps the result (its images stay uncomputed) and shows it when shown.
    shownPrimed = isVisible();
    if (!shownPrimed)
        return;
    showImages();
    panel->processNewData(primed);
    updatePixelZoom();
}

void View2D_TRVAXX::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (primed && !shownPrimed)
        processNewData(primed);
}

void View2D_TRVAXX::showImages() {
    panes[DistancePane]->setBackgroundImage(primed->getDistanceImage());
    panes[AmplitudePane]->setBackgroundImage(logarithmic ? primed->getLogarithmicAmplitudeImage()
                                                         : primed->getAmplitudeImage());
    panes[ConfidencePane]->setBackgroundImage(primed->getConfidenceImage());
}

void View2D_TRVAXX::setAmplitudeLogarithmic(bool enable) {
    if (logarithmic == enable)
        return;
    logarithmic = enable;
    panel->setAmplitudeLogarithmic(enable);
    if (primed && isVisible()) {
        panes[AmplitudePane]->setBackgroundImage(logarithmic ? primed->getLogarithmicAmplitudeImage()
                                                             : primed->getAmplitudeImage());
        updatePixelZoom();
    }
}

void View2D_TRVAXX::setSize(uint width_, uint height_) {
    const int w = int(qMin<uint>(width_, 4096));
    const int h = int(qMin<uint>(height_, 4096));
    for (int i = 0; i < PaneCount; ++i) {
        grids[size_t(i)]->setGridSize(w, h);
        selections[size_t(i)]->setImageSize(w, h);
    }
}

void View2D_TRVAXX::pixelPosChanged(int column, int row) {
    const int w = selections[0]->imageWidth();
    const int h = selections[0]->imageHeight();
    if (column < 0 || row < 0 || column >= w || row >= h)
        return;
    connector->setPosition(column, row);
}

void View2D_TRVAXX::set3x3Active() {
    if (selected.x() < 0)
        return;
    mode3x3 = true;
    for (SelectionOverlay* overlay : selections) {
        overlay->set3x3Marker(true);
        overlay->setLocked(true);
    }
    if (SelectionOverlay* overlay = connector->lastOverlay()) {
        lastPane = paneOf(overlay->pane());
        // Just below and right of the 3 × 3 marker, so the marker stays visible.
        const QPoint at = overlay->pane()->mapTo(this, connector->lastGlobalPosition()) + QPoint(12, 12);
        zoom->setGlobalPos(at.x(), at.y());
    }
    updatePixelZoom();
    zoom->showSlot();
}

QColor View2D_TRVAXX::crossColor(int pane) const {
    switch (pane) {
    case AmplitudePane:
        return crossAmplitude;
    case ConfidencePane:
        return crossConfidance;
    default:
        return crossDistance;
    }
}

int View2D_TRVAXX::paneOf(const QObject* object) const {
    for (int i = 0; i < PaneCount; ++i)
        if (object == panes[size_t(i)] || object == panes[size_t(i)]->viewport())
            return i;
    return -1;
}

void View2D_TRVAXX::updatePixelZoom() {
    if (!mode3x3)
        return;
    int source = -1;
    for (int i = 0; i < PaneCount; ++i)
        if (panes[size_t(i)]->hasFocus() && selections[size_t(i)]->is3x3Marker())
            source = i;
    if (source < 0 && selections[size_t(lastPane)]->is3x3Marker())
        source = lastPane;
    if (source < 0 || selected.x() < 0) {
        if (!zoom->isVisible())
            leave3x3();
        return;
    }
    zoom->setLocalPos(selected.x(), selected.y());
    zoom->setSubImage(panes[size_t(source)]->subImage(QRect(selected.x() - 1, selected.y() - 1, 3, 3)),
                      crossColor(source));
}

void View2D_TRVAXX::leave3x3() {
    mode3x3 = false;
    zoom->hideSlot();
    for (SelectionOverlay* overlay : selections) {
        overlay->set3x3Marker(false);
        overlay->setLocked(false);
    }
    if (selected.x() >= 0)
        connector->setPosition(selected.x(), selected.y());
}

bool View2D_TRVAXX::eventFilter(QObject* watched, QEvent* event) {
    const int which = paneOf(watched);
    if (which >= 0) {
        if (event->type() == QEvent::FocusIn)
            lastPane = which;
        // Any press on a pane closes the magnifier; it does not also pick a pixel.
        if (event->type() == QEvent::MouseButtonPress && mode3x3) {
            leave3x3();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
