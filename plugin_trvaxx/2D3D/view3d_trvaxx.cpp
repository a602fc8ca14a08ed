#include "2D3D/view3d_trvaxx.h"

#include "osg3dvisualization/illumination.h"
#include "visualization/collisionavoidancevisualization_trvaxx.h"
#include "visualization/lineguidancevisualization_trvaxx.h"
#include "visualization/objectlist.h"
#include "visualization/pickhandlers.h"
#include "visualization/propertyviews_trvaxx.h"
#include "visualization/resulttables_trvaxx.h"
#include "visualization/scenevisualization_trvaxx.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

#include <algorithm>

namespace {
constexpr int kIlluCalibIsRelative = 33;
}

View3D_TRVAXX::View3D_TRVAXX(QWidget* parent)
    : QWidget(parent), view(new Osg3DView(this)), cloudSwitch(new osg::Switch),
      pointCloud(new PointCloudVisualization(PointVisParam(), &cloudSource)),
      scene(new SceneVisualization_TRVAXX), sidePanel(new QWidget(this)), cornerImage(new QLabel(view)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view, 1);
    auto* side = new QVBoxLayout(sidePanel);
    side->setContentsMargins(0, 0, 0, 0);
    sidePanel->setMinimumWidth(280);
    sidePanel->hide();
    layout->addWidget(sidePanel);

    cloudSwitch->addChild(pointCloud.get(), true);
    view->getSceneRoot()->addChild(cloudSwitch.get());
    view->getSceneRoot()->addChild(scene.get());
    cornerImage->setFixedSize(cornerTarget);
    cornerImage->setAlignment(Qt::AlignCenter);
    cornerImage->hide();
    connect(view, SIGNAL(cameraMoved()), this, SLOT(cameraMoved()));
}

View3D_TRVAXX::~View3D_TRVAXX() {
    clearVariantParts();
}

void View3D_TRVAXX::processNewData(PrimedResultSP_TRVAXX_t primedResult) {
    primed = primedResult;
    if (!isVisible()) {
        pending = true;
        return;
    }
    apply();
}

void View3D_TRVAXX::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (pending)
        apply();
}

void View3D_TRVAXX::apply() {
    pending = false;
    if (!primed)
        return;
    ++processed;
    if (primed->hasResult()) {
        const QString text = primed->getResult()->cameraVariant.left(2);
        if (text != variant)
            buildVariantParts(text);
        updateObjects();
        updateLines();
        placeSensor();
        scene->updateSpatialFilter(primed->getResult()->info);
    }
    callback.setPrimedResult(primed);
    pointCloud->processData();
    updateCornerImage();
    view->update();
}

void View3D_TRVAXX::clearVariantParts() {
    osg::Group* root = view->getSceneRoot();
    for (osg::Node* node : {static_cast<osg::Node*>(objectList.get()), static_cast<osg::Node*>(lines.get()),
                            static_cast<osg::Node*>(collision.get())})
        if (node)
            root->removeChild(node);
    for (const auto& handler : pickHandlers)
        view->removeEventHandler(handler.get());
    pickHandlers.clear();
    objectList = nullptr;
    lines = nullptr;
    collision = nullptr;
    for (QWidget* w : std::initializer_list<QWidget*>{objectTable, lineTable, linePanel, collisionPanel})
        delete w;
    objectTable = nullptr;
    lineTable = nullptr;
    linePanel = nullptr;
    collisionPanel = nullptr;
}

void View3D_TRVAXX::buildVariantParts(const QString& newVariant) {
    clearVariantParts();
    variant = newVariant;
    osg::Group* root = view->getSceneRoot();
    if (variant == QLatin1String("OD")) {
        objectList = new ObjectList;
        objectList->setObjectsVisible(objectsVisible);
        objectList->setRetroVisible(retroVisible);
        root->addChild(objectList.get());
        collision = new CollisionAvoidanceVisualization_TRVAXX;
        collision->setNodeMask(collisionVisible ? ~0u : 0u);
        root->addChild(collision.get());
        pickHandlers.push_back(new ObjectPickHandler(objectList.get()));
        objectTable = new ObjectTable_TRVAXX(sidePanel);
        sidePanel->layout()->addWidget(objectTable);
        collisionPanel = new CollisionAvoidancePropertyView_TRVAXX(view);
        collisionPanel->setVisible(collisionVisible);
    } else if (variant == QLatin1String("LG")) {
        lines = new LineGuidanceVisualization_TRVAXX;
        lines->setLinesVisible(linesVisible);
        lines->setDrivingDirectionVisible(drivingDirectionVisible);
        lines->setCrossSectionVisible(crossSectionVisible);
        root->addChild(lines.get());
        pickHandlers.push_back(new LinePickHandler(lines->getLineList()));
        connect(lines->getLineList(), SIGNAL(lineSelected(int)), this, SLOT(showLineProperties(int)));
        lineTable = new LineTable_TRVAXX(sidePanel);
        sidePanel->layout()->addWidget(lineTable);
        linePanel = new LineGuidancePropertyView_TRVAXX(view);
        linePanel->hide();
    }
    for (const auto& handler : pickHandlers)
        view->addEventHandler(handler.get());
    sidePanel->setVisible(tablesVisible && (objectTable || lineTable));
    placeOverlays();
}

void View3D_TRVAXX::updateObjects() {
    if (!objectList || !objectTable)
        return;
    const DetectedObjectData_TRVAXX& objects = primed->getObjectList();
    objectList->update(objects);
    if (objectTable->isVisible() && objects.count > 0)
        objectTable->refresh(objects);
    if (collision && collisionVisible) {
        collision->update(objects, primed->getResult()->info);
        collisionPanel->update(CrashPredictorBlock_TRVAXX::from(objects));
    }
}

void View3D_TRVAXX::updateLines() {
    if (!lines || !lineTable)
        return;
    const DetectedLineData_TRVAXX& data = primed->getLineList();
    lines->update(data);
    if (lineTable->isVisible() && data.count > 0)
        lineTable->refresh(data);
    const int selected = lines->getLineList()->getSelectedLine();
    if (linePanel->isVisible() && selected >= 0)
        linePanel->show(selected, data);
}

void View3D_TRVAXX::showLineProperties(int lineId) {
    if (linePanel && primed) {
        linePanel->show(lineId, primed->getLineList());
        placeOverlays();
    }
}

void View3D_TRVAXX::placeSensor() {
    const ResultData_TRVAXX& r = *primed->getResult();
    const CameraCalibration_TRVAXX& c = r.cameraCalibration;
    osg::Vec3d illumination(r.illuminationOffset[0], r.illuminationOffset[1], r.illuminationOffset[2]);
    if (r.info.value(kIlluCalibIsRelative).toInt() != 0)
        illumination = osg::Vec3d(c.transX, c.transY, c.transZ) +
                       illuminationSideVector(c.rotX, c.rotY, c.rotZ, illumination);
    scene->placeSensor(c, {illumination.x(), illumination.y(), illumination.z()});
}

void View3D_TRVAXX::updateCornerImage() {
    if (sub2DHidden) {
        cornerImage->hide();
        return;
    }
    const QImage& image = primed->getDistanceImage();
    if (image.isNull())
        return;
    cornerImage->setPixmap(
        QPixmap::fromImage(image.scaled(cornerTarget, Qt::KeepAspectRatio, Qt::FastTransformation)));
    cornerImage->show();
    cornerImage->raise();
}

void View3D_TRVAXX::placeOverlays() {
    cornerImage->move(std::max(0, view->width() - cornerTarget.width() - 8), 8);
    int y = cornerTarget.height() + 16;
    for (QWidget* panel : {static_cast<QWidget*>(collisionPanel), static_cast<QWidget*>(linePanel)})
        if (panel) {
            panel->adjustSize();
            panel->move(std::max(0, view->width() - panel->width() - 8), y);
            panel->raise();
            y += panel->height() + 8;
        }
}

void View3D_TRVAXX::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeOverlays();
}

void View3D_TRVAXX::placeCompass() {
    view->setCompassOffset(offset + int(replayOffset), yOffset);
}

void View3D_TRVAXX::paintYOffset(int value) {
    yOffset = value;
    placeCompass();
}

void View3D_TRVAXX::setCompassaxisViewPortPosition(int value) {
    offset = value;
    placeCompass();
}

void View3D_TRVAXX::setReplayViewOffset(unsigned int pixels) {
    replayOffset = std::min(pixels, 10000u);
    placeCompass();
}

void View3D_TRVAXX::setSub2DViewHidden(bool hidden) {
    sub2DHidden = hidden;
    cornerImage->setVisible(!hidden && cornerImage->pixmap().cacheKey() != 0 &&
                            !cornerImage->pixmap().isNull());
}

void View3D_TRVAXX::setTablesVisible(bool visible) {
    tablesVisible = visible;
    sidePanel->setVisible(visible && (objectTable || lineTable));
    if (visible && primed && primed->hasResult()) {
        if (objectTable)
            objectTable->refresh(primed->getObjectList());
        if (lineTable)
            lineTable->refresh(primed->getLineList());
    }
}

void View3D_TRVAXX::recolorCloud() {
    if (!primed || !isVisible()) {
        pending = pending || primed;
        return;
    }
    pointCloud->processData();
    view->update();
}

void View3D_TRVAXX::doubleSliderInput() {
    recolorCloud();
}

void View3D_TRVAXX::setPointCloudGroundVisibility(bool visible) {
    callback.setGroundVisible(visible);
    recolorCloud();
}

void View3D_TRVAXX::setPointCloudSprayVisibility(bool visible) {
    callback.setSprayVisible(visible);
    recolorCloud();
}

void View3D_TRVAXX::setPointCloudColorSourceDistance() {
    callback.setColorSource(PointCloudCallBackObject_TRVAXX::COLOR_DISTANCE);
    recolorCloud();
}

void View3D_TRVAXX::setPointCloudColorSourceAmplitude() {
    callback.setColorSource(PointCloudCallBackObject_TRVAXX::COLOR_AMPLITUDE);
    recolorCloud();
}

void View3D_TRVAXX::setPointCloudColorSourceConfidence() {
    callback.setColorSource(PointCloudCallBackObject_TRVAXX::COLOR_CONFIDENCE);
    recolorCloud();
}

void View3D_TRVAXX::setAmplitudeLogarithmic(bool enable) {
    callback.setLogarithmicAmplitude(enable);
    recolorCloud();
}

void View3D_TRVAXX::setPointCloudVisibility(bool visible) {
    visible ? cloudSwitch->setAllChildrenOn() : cloudSwitch->setAllChildrenOff();
    view->update();
}

void View3D_TRVAXX::setSpatialVisibility(bool visible) {
    scene->setSpatialVisible(visible);
    view->update();
}

void View3D_TRVAXX::setOriginVisibility(bool visible) {
    scene->setOriginVisible(visible);
    view->update();
}

void View3D_TRVAXX::setCameraVisibility(bool visible) {
    scene->setCameraVisible(visible);
    view->update();
}

void View3D_TRVAXX::setLightingVisibility(bool visible) {
    scene->setLightingVisible(visible);
    view->update();
}

void View3D_TRVAXX::setPlaneXYVisibility(bool visible) {
    scene->setPlaneXYVisible(visible);
    view->update();
}

void View3D_TRVAXX::setPlaneYZVisibility(bool visible) {
    scene->setPlaneYZVisible(visible);
    view->update();
}

void View3D_TRVAXX::setPlaneZXVisibility(bool visible) {
    scene->setPlaneZXVisible(visible);
    view->update();
}

void View3D_TRVAXX::setCollisionAvoidanceVisibility(bool visible) {
    collisionVisible = visible;
    if (collision)
        collision->setNodeMask(visible ? ~0u : 0u);
    if (collisionPanel)
        collisionPanel->setVisible(visible);
    view->update();
}

void View3D_TRVAXX::setObjectVisibility(bool visible) {
    objectsVisible = visible;
    if (objectList)
        objectList->setObjectsVisible(visible);
    view->update();
}

void View3D_TRVAXX::setRetroVisibility(bool visible) {
    retroVisible = visible;
    if (objectList)
        objectList->setRetroVisible(visible);
    view->update();
}

void View3D_TRVAXX::setDrivingDirectionVisibility(bool visible) {
    drivingDirectionVisible = visible;
    if (lines)
        lines->setDrivingDirectionVisible(visible);
    view->update();
}

void View3D_TRVAXX::setLineVisibility(bool visible) {
    linesVisible = visible;
    if (lines)
        lines->setLinesVisible(visible);
    view->update();
}

void View3D_TRVAXX::setCrossSectionVisibility(bool visible) {
    crossSectionVisible = visible;
    if (lines)
        lines->setCrossSectionVisible(visible);
    view->update();
}

void View3D_TRVAXX::setGTPoints() {
    pointCloud->setGeometryType(PointVisParam::Points);
    view->update();
}

void View3D_TRVAXX::setGTLines() {
    pointCloud->setGeometryType(PointVisParam::Lines);
    view->update();
}

void View3D_TRVAXX::setGTMesh() {
    pointCloud->setGeometryType(PointVisParam::Mesh);
    view->update();
}

void View3D_TRVAXX::setDefaultView() {
    view->setDefaultView(Osg3DView::Front);
}
void View3D_TRVAXX::setRightDefaultView() {
    view->setDefaultView(Osg3DView::Right);
}
void View3D_TRVAXX::setLeftDefaultView() {
    view->setDefaultView(Osg3DView::Left);
}
void View3D_TRVAXX::setTopDefaultView() {
    view->setDefaultView(Osg3DView::Top);
}

void View3D_TRVAXX::cameraMoved() {
    // The overlays stay above the scene whatever the camera does.
    cornerImage->raise();
    placeOverlays();
}
