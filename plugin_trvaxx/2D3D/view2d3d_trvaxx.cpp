#include "2D3D/view2d3d_trvaxx.h"

#include "2D3D/imagegrabberloader.h"
#include "2D3D/overlay2d3d.h"
#include "2D3D/viewslog_trvaxx.h"
#include "2D3D/windrowvisualization.h"
#include "visualization2d/view2d.h"

#include <QHBoxLayout>
#include <QPainter>

#include <cstring>

namespace {

constexpr int kCanvasWidth = 640, kCanvasHeight = 480;

// Line-guidance parameters the windrow shows (parameter ids of the info map).
constexpr int kLgMinHeight = 99, kLgMinWidth = 100, kLgMaxWidth = 101;

} // namespace

View2D3D_TRVAXX::View2D3D_TRVAXX(QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    view = new View2D(this);
    view->setZoomFactor(1.0);
    overlayItem = new Overlay2D3D;
    view->addOverlay(overlayItem);
    windrowWidget = new WindrowVisualization(this);
    windrowWidget->hide();
    layout->addWidget(view, 1);
    layout->addWidget(windrowWidget);
    view->setBackgroundImage(canvas());
}

View2D3D_TRVAXX::~View2D3D_TRVAXX() {
    stop();
    delete grabber;
}

void View2D3D_TRVAXX::setGrabberFolders(const QStringList& folders) {
    grabberFolders = folders;
    loader.reset();
}

void View2D3D_TRVAXX::findDevices() {
    if (!loader)
        loader = std::make_unique<ImageGrabberLoader>(grabberFolders);
    const QStringList devices = loader->findDevices();
    if (!loader->hasGrabbers())
        qCWarning(lcViews) << "No image grabber plug-in found; the joint view shows no camera picture";
    pictureChanged = pictureChanged || !hasPicture(); // the canvas tells whether grabbers exist
    if (isVisible())
        redraw();
    emit devicesFound(devices);
}

void View2D3D_TRVAXX::createGrabber(QString device) {
    const bool wasRunning = grabberRunning;
    stop();
    delete grabber;
    if (!loader)
        findDevices();
    grabber = loader->createGrabber(device);
    if (!grabber) {
        qCWarning(lcViews).noquote() << "Camera" << device << "cannot be opened";
        return;
    }
    connect(grabber, SIGNAL(newImage(QImage)), this, SLOT(newImage(QImage)));
    if (wasRunning)
        start();
}

void View2D3D_TRVAXX::start() {
    if (grabber && !grabberRunning)
        QMetaObject::invokeMethod(grabber, "start");
    grabberRunning = grabber;
}

void View2D3D_TRVAXX::stop() {
    if (grabber && grabberRunning)
        QMetaObject::invokeMethod(grabber, "stop");
    grabberRunning = false;
}

void View2D3D_TRVAXX::newImage(QImage image) {
    picture = image.format() == QImage::Format_RGB888 ? image : image.convertToFormat(QImage::Format_RGB888);
    pictureChanged = true;
    if (isVisible())
        redraw();
}

void View2D3D_TRVAXX::processNewData(PrimedResultSP_TRVAXX_t primedResult) {
    primed = primedResult;
    if (isVisible())
        redraw();
}

void View2D3D_TRVAXX::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    redraw();
}

void View2D3D_TRVAXX::rebuildFor(const QString& variantText) {
    builtFor = variantText;
    windrowWidget->setVisible(variantText.startsWith(QLatin1String("LG")));
}

void View2D3D_TRVAXX::redraw() {
    if (primed && primed->hasResult() && primed != drawnResult) {
        drawnResult = primed;
        const ResultData_TRVAXX& record = *primed->getResult();
        if (record.cameraVariant != builtFor)
            rebuildFor(record.cameraVariant);
        const Calibration2d_TRVAXX& calibration = primed->getCalibration2d();
        if (std::memcmp(&calibration, &shownCalibration, sizeof calibration) != 0) {
            overlayItem->setCameraModel(calibration);
            shownCalibration = calibration;
            pictureChanged = pictureChanged || rectify; // the table follows the intrinsics
        }
        overlayItem->setResult(primed);
        if (windrowWidget->isVisible()) {
            const auto lg = [&record](int id, qreal fallback) {
                return record.info.value(id, fallback).toReal();
            };
            windrowWidget->setWindrowMinHeight(lg(kLgMinHeight, windrowWidget->windrowMinHeight()));
            windrowWidget->setWindrowMinWidth(lg(kLgMinWidth, windrowWidget->windrowMinWidth()));
            windrowWidget->setWindrowMaxWidth(lg(kLgMaxWidth, windrowWidget->windrowMaxWidth()));
        }
        ++drawn;
    }
    // The picture is converted once per new picture (or setting), not once per result.
    if (!pictureChanged)
        return;
    pictureChanged = false;
    overlayItem->setRectified(rectify && hasPicture());
    if (hasPicture())
        view->setBackgroundImage(rectify ? overlayItem->rectify(picture) : picture);
    else
        view->setBackgroundImage(canvas());
}

QImage View2D3D_TRVAXX::canvas() const {
    QImage black(kCanvasWidth, kCanvasHeight, QImage::Format_RGB888);
    black.fill(Qt::black);
    QPainter painter(&black);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setPixelSize(22);
    painter.setFont(font);
    QString text = tr("No camera picture");
    if (loader && !loader->hasGrabbers())
        text += QLatin1Char('\n') + tr("No image grabber installed");
    painter.drawText(black.rect(), Qt::AlignCenter, text);
    return black;
}

void View2D3D_TRVAXX::setRectifyImageEnabled(bool enable) {
    rectify = enable;
    pictureChanged = true;
    if (isVisible())
        redraw();
}

void View2D3D_TRVAXX::setGridEnabled(bool enable) {
    overlayItem->setLayerEnabled(Overlay2D3D::Grid, enable);
}
void View2D3D_TRVAXX::setPixelEnabled(bool enable) {
    overlayItem->setLayerEnabled(Overlay2D3D::Pixels, enable);
}
void View2D3D_TRVAXX::setObjectsEnabled(bool enable) {
    overlayItem->setLayerEnabled(Overlay2D3D::Objects, enable);
}
void View2D3D_TRVAXX::setRetroObjectsEnabled(bool enable) {
    overlayItem->setLayerEnabled(Overlay2D3D::RetroObjects, enable);
}
void View2D3D_TRVAXX::setFovEnabled(bool enable) {
    overlayItem->setLayerEnabled(Overlay2D3D::FieldOfView, enable);
}
