#pragma once

#include "result/pointcloudcallbackobject_trvaxx.h"
#include "result/primedresult_trvaxx.h"

#include "osg3dvisualization/osg3dview.h"
#include "osg3dvisualization/pointcloudvisualization.h"

#include <osg/Switch>

#include <QWidget>

class QLabel;
class ObjectList;
class ObjectTable_TRVAXX;
class LineTable_TRVAXX;
class LineGuidanceVisualization_TRVAXX;
class LineGuidancePropertyView_TRVAXX;
class CollisionAvoidanceVisualization_TRVAXX;
class CollisionAvoidancePropertyView_TRVAXX;
class SceneVisualization_TRVAXX;
class SlotPickHandler;

// The 3D view of one sensor's results: the point cloud with the scene objects, the object and
// line tables beside the scene, the property panels of the picked line and of the collision
// predictor over it, and a small distance image in the upper right corner. The function parts
// follow the firmware variant of the results (objects and collision avoidance for "OD", lines for
// "LG"); they are built with the first result and rebuilt when the variant text changes.
//
// A hidden view only keeps the newest result and works on it once it is shown again. It renders
// only when a result arrives or the user moves the camera. GUI thread only.
class View3D_TRVAXX : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int yOffset READ getYOffset WRITE paintYOffset)
    Q_PROPERTY(int offset READ getOffset WRITE setCompassaxisViewPortPosition)
public:
    explicit View3D_TRVAXX(QWidget* parent = nullptr);
    ~View3D_TRVAXX() override;

    QLabel* getViewer2DDistanceImage() const { return cornerImage; }
    void setSub2DViewHidden(bool hidden);
    // Shows the object and line tables beside the scene.
    void setTablesVisible(bool visible);
    // The replay window's horizontal offset, added to `offset` when placing the compass.
    void setReplayViewOffset(unsigned int pixels);

    int getYOffset() const { return yOffset; }
    int getOffset() const { return offset; }
    void paintYOffset(int value);
    void setCompassaxisViewPortPosition(int value);

    // For tests and measurements.
    Osg3DView* getOsgView() const { return view; }
    PointCloudVisualization* getPointCloud() const { return pointCloud.get(); }
    PointCloudCallBackObject_TRVAXX& getCallback() { return callback; }
    SceneVisualization_TRVAXX* getScene() const { return scene.get(); }
    ObjectList* getObjectList() const { return objectList.get(); }
    LineGuidanceVisualization_TRVAXX* getLineVisualization() const { return lines.get(); }
    CollisionAvoidanceVisualization_TRVAXX* getCollisionVisualization() const { return collision.get(); }
    CollisionAvoidancePropertyView_TRVAXX* getCollisionPanel() const { return collisionPanel; }
    LineGuidancePropertyView_TRVAXX* getLinePanel() const { return linePanel; }
    ObjectTable_TRVAXX* getObjectTable() const { return objectTable; }
    LineTable_TRVAXX* getLineTable() const { return lineTable; }
    QString getVariant() const { return variant; }
    // Results worked on (a hidden view counts none).
    int getProcessedCount() const { return processed; }

public slots:
    void processNewData(PrimedResultSP_TRVAXX_t primedResult);
    void doubleSliderInput();
    void setPointCloudGroundVisibility(bool visible);
    void setSpatialVisibility(bool visible);
    void setPointCloudSprayVisibility(bool visible);
    void setPointCloudColorSourceDistance();
    void setPointCloudColorSourceAmplitude();
    void setPointCloudColorSourceConfidence();
    void setAmplitudeLogarithmic(bool enable);
    void setPointCloudVisibility(bool visible);
    void setOriginVisibility(bool visible);
    void setCameraVisibility(bool visible);
    void setCollisionAvoidanceVisibility(bool visible);
    void setLightingVisibility(bool visible);
    void setObjectVisibility(bool visible);
    void setRetroVisibility(bool visible);
    void setDrivingDirectionVisibility(bool visible);
    void setLineVisibility(bool visible);
    void setCrossSectionVisibility(bool visible);
    void setPlaneXYVisibility(bool visible);
    void setPlaneYZVisibility(bool visible);
    void setPlaneZXVisibility(bool visible);
    void setGTPoints();
    void setGTLines();
    void setGTMesh();
    void setDefaultView();
    void setRightDefaultView();
    void setLeftDefaultView();
    void setTopDefaultView();
    void cameraMoved();

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private slots:
    void showLineProperties(int lineId);

private:
    // Adapts the result's cloud source to the host node's interface.
    class CloudSource : public PointCloudCallBackObject {
    public:
        explicit CloudSource(PointCloudCallBackObject_TRVAXX& source) : source(source) {}
        void getSize(unsigned int& w, unsigned int& h) override { source.getSize(w, h); }
        std::array<float, 3> getPoint(unsigned int i) override { return source.getPoint(i); }
        std::array<float, 4> getColor(unsigned int i) override { return source.getColor(i); }

    private:
        PointCloudCallBackObject_TRVAXX& source;
    };

    void apply();
    void buildVariantParts(const QString& newVariant);
    void clearVariantParts();
    void updateObjects();
    void updateLines();
    void placeSensor();
    void updateCornerImage();
    void placeOverlays();
    void placeCompass();
    void recolorCloud();

    Osg3DView* view;
    PointCloudCallBackObject_TRVAXX callback;
    CloudSource cloudSource{callback};
    osg::ref_ptr<osg::Switch> cloudSwitch;
    osg::ref_ptr<PointCloudVisualization> pointCloud;
    osg::ref_ptr<SceneVisualization_TRVAXX> scene;
    osg::ref_ptr<ObjectList> objectList;
    osg::ref_ptr<LineGuidanceVisualization_TRVAXX> lines;
    osg::ref_ptr<CollisionAvoidanceVisualization_TRVAXX> collision;
    std::vector<osg::ref_ptr<SlotPickHandler>> pickHandlers;
    QWidget* sidePanel;
    ObjectTable_TRVAXX* objectTable = nullptr;
    LineTable_TRVAXX* lineTable = nullptr;
    LineGuidancePropertyView_TRVAXX* linePanel = nullptr;
    CollisionAvoidancePropertyView_TRVAXX* collisionPanel = nullptr;
    QLabel* cornerImage;
    QSize cornerTarget{192, 48};

    PrimedResultSP_TRVAXX_t primed;
    QString variant;
    bool pending = false;
    int processed = 0;
    bool tablesVisible = false;
    bool sub2DHidden = false;
    bool collisionVisible = true;
    bool objectsVisible = true;
    bool retroVisible = true;
    bool linesVisible = true;
    bool drivingDirectionVisible = true;
    bool crossSectionVisible = false;
    int yOffset = 0;
    int offset = 0;
    unsigned int replayOffset = 0;
};
