#include "2D3D/resultvisualization.h"

#include "2D3D/view2d3d_trvaxx.h"
#include "2D3D/view2d_trvaxx.h"
#include "2D3D/view3d_trvaxx.h"
#include "2D3D/viewselectionstrip.h"
#include "2D3D/viewslog_trvaxx.h"

#include "result/resulttransformer_trvaxx.h"

#include <QLabel>
#include <QStackedWidget>
#include <QVBoxLayout>

ResultVisualization::ResultVisualization(bool withJointView, QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    strip = new ViewSelectionStrip(withJointView, this);
    layout->addWidget(strip);
    stack = new QStackedWidget(this);
    layout->addWidget(stack, 1);

    waitingPage = new QLabel(tr("Waiting for results"), stack);
    waitingPage->setAlignment(Qt::AlignCenter);
    stack->addWidget(waitingPage);
    view2D = new View2D_TRVAXX(stack);
    stack->addWidget(view2D);
    if (withJointView) {
        view2D3D = new View2D3D_TRVAXX(stack);
        stack->addWidget(view2D3D);
        connect(view2D3D, &View2D3D_TRVAXX::devicesFound, strip, &ViewSelectionStrip::setDeviceList);
        connect(strip, &ViewSelectionStrip::findDevices, view2D3D, &View2D3D_TRVAXX::findDevices);
        connect(strip, &ViewSelectionStrip::openDevice, view2D3D, &View2D3D_TRVAXX::createGrabber);
    }
    view3D = new View3D_TRVAXX(stack);
    stack->addWidget(view3D);
    stack->setCurrentWidget(waitingPage);

    connect(strip, &ViewSelectionStrip::switchTo2D, this, &ResultVisualization::switchTo2D);
    connect(strip, &ViewSelectionStrip::switchTo2D3D, this, &ResultVisualization::switchTo2D3D);
    connect(strip, &ViewSelectionStrip::switchTo3D, this, &ResultVisualization::switchTo3D);
    strip->setMode(mode);
}

void ResultVisualization::connectTransformer(ResultTransformer_TRVAXX* transformer) {
    // The container first, so that a page it brings up with the first result is fed that result.
    connect(transformer, &ResultTransformer_TRVAXX::processNewData, this,
            &ResultVisualization::processNewData);
    connect(transformer, &ResultTransformer_TRVAXX::processNewData, view2D, &View2D_TRVAXX::processNewData);
    connect(transformer, &ResultTransformer_TRVAXX::sizeChanged, view2D, &View2D_TRVAXX::setSize);
    if (view2D3D)
        connect(transformer, &ResultTransformer_TRVAXX::processNewData, view2D3D,
                &View2D3D_TRVAXX::processNewData);
    connect(transformer, &ResultTransformer_TRVAXX::processNewData, view3D, &View3D_TRVAXX::processNewData);
}

QWidget* ResultVisualization::pageOf(int pageMode) const {
    switch (pageMode) {
    case Mode2D3D:
        return view2D3D;
    case Mode3D:
        return view3D;
    default:
        return view2D;
    }
}

QWidget* ResultVisualization::currentPage() const {
    return stack->currentWidget();
}

void ResultVisualization::processNewData(PrimedResultSP_TRVAXX_t primedResult) {
    if (!primedResult || !primedResult->hasResult())
        return;
    const QString text = primedResult->getResult()->cameraVariant.left(2);
    if (text != variant || !haveResult) {
        variant = text;
        qCDebug(lcViews).noquote() << "ResultVisualization: results of variant" << variant;
        emit variantChanged(variant);
    }
    if (!haveResult) {
        haveResult = true;
        showModePage(mode);
    }
}

void ResultVisualization::showModePage(int newMode) {
    const int oldMode = mode;
    mode = newMode;
    strip->setMode(mode);
    if (view2D3D && mode != Mode2D3D)
        view2D3D->stop();
    // Before the first result the waiting page stays (and the camera off); the mode is remembered.
    if (haveResult) {
        stack->setCurrentWidget(pageOf(mode));
        if (view2D3D && mode == Mode2D3D)
            view2D3D->start();
    }
    if (oldMode != Mode2D3D && mode == Mode2D3D)
        emit overlayActivated();
    else if (oldMode == Mode2D3D && mode != Mode2D3D)
        emit overlayDeActivated();
}

void ResultVisualization::switchTo2D() {
    showModePage(Mode2D);
}

void ResultVisualization::switchTo2D3D() {
    if (view2D3D)
        showModePage(Mode2D3D);
}

void ResultVisualization::switchTo3D() {
    showModePage(Mode3D);
}

void ResultVisualization::setAmplitudeLogarithmic(bool enable) {
    view2D->setAmplitudeLogarithmic(enable);
    view3D->setAmplitudeLogarithmic(enable);
}

void ResultVisualization::paintYOffset(int value) {
    yOffset = value;
    view3D->paintYOffset(value);
}

// Joint view: nothing to do on a sensor without one.
void ResultVisualization::findDevices() {
    if (view2D3D)
        view2D3D->findDevices();
}

void ResultVisualization::createGrabber(QString device) {
    if (view2D3D)
        view2D3D->createGrabber(device);
}

void ResultVisualization::setRectifyImageEnabled(bool enable) {
    if (view2D3D)
        view2D3D->setRectifyImageEnabled(enable);
}

void ResultVisualization::setGridEnabled(bool enable) {
    if (view2D3D)
        view2D3D->setGridEnabled(enable);
}

void ResultVisualization::setPixelEnabled(bool enable) {
    if (view2D3D)
        view2D3D->setPixelEnabled(enable);
}

void ResultVisualization::setObjectsEnabled(bool enable) {
    if (view2D3D)
        view2D3D->setObjectsEnabled(enable);
}

void ResultVisualization::setRetroObjectsEnabled(bool enable) {
    if (view2D3D)
        view2D3D->setRetroObjectsEnabled(enable);
}

void ResultVisualization::setFovEnabled(bool enable) {
    if (view2D3D)
        view2D3D->setFovEnabled(enable);
}

void ResultVisualization::setPointCloudColorSourceDistance() {
    view3D->setPointCloudColorSourceDistance();
}
void ResultVisualization::setPointCloudColorSourceAmplitude() {
    view3D->setPointCloudColorSourceAmplitude();
}
void ResultVisualization::setPointCloudColorSourceConfidence() {
    view3D->setPointCloudColorSourceConfidence();
}
void ResultVisualization::setPointCloudGroundVisibility(bool visible) {
    view3D->setPointCloudGroundVisibility(visible);
}
void ResultVisualization::setPointCloudSprayVisibility(bool visible) {
    view3D->setPointCloudSprayVisibility(visible);
}
void ResultVisualization::setObjectVisibility(bool visible) {
    view3D->setObjectVisibility(visible);
}
void ResultVisualization::setRetroVisibility(bool visible) {
    view3D->setRetroVisibility(visible);
}
void ResultVisualization::setOriginVisibility(bool visible) {
    view3D->setOriginVisibility(visible);
}
void ResultVisualization::setSpatialVisibility(bool visible) {
    view3D->setSpatialVisibility(visible);
}
void ResultVisualization::setDrivingDirectionVisibility(bool visible) {
    view3D->setDrivingDirectionVisibility(visible);
}
void ResultVisualization::setPointCloudVisibility(bool visible) {
    view3D->setPointCloudVisibility(visible);
}

void ResultVisualization::setLineVisibility(bool visible) {
    view3D->setLineVisibility(visible);
    view3D->setCrossSectionVisibility(visible);
}

void ResultVisualization::setGTPoints() {
    view3D->setGTPoints();
}
void ResultVisualization::setGTLines() {
    view3D->setGTLines();
}
void ResultVisualization::setGTMesh() {
    view3D->setGTMesh();
}
void ResultVisualization::setSub2DViewHidden(bool hidden) {
    view3D->setSub2DViewHidden(hidden);
}
void ResultVisualization::setLeftDefaultView() {
    view3D->setLeftDefaultView();
}
void ResultVisualization::setTopDefaultView() {
    view3D->setTopDefaultView();
}
void ResultVisualization::setRightDefaultView() {
    view3D->setRightDefaultView();
}
