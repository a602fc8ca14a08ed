#pragma once
// The container of a sensor's live views: a stacked widget with the 2D view, the joint 2D/3D view
// (only when created with one), the 3D view and a waiting page shown until the first result. It
// switches between the views (mode 0 = 2D, 1 = joint view, 2 = 3D), carries the slots the
// view-options panel connects to and passes each on to the view that owns it. The views are fed
// by the result transformer directly (connectTransformer()); a hidden view only keeps the newest
// result and shows it when its page comes up. GUI thread only.

#include "result/primedresult_trvaxx.h"

#include <QStringList>
#include <QWidget>

class QLabel;
class QStackedWidget;
class ResultTransformer_TRVAXX;
class View2D3D_TRVAXX;
class View2D_TRVAXX;
class View3D_TRVAXX;
class ViewSelectionStrip;

class ResultVisualization : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int yOffset READ getYOffset WRITE paintYOffset)
public:
    enum Mode { Mode2D = 0, Mode2D3D = 1, Mode3D = 2 };

    explicit ResultVisualization(bool withJointView, QWidget* parent = nullptr);

    // Feeds all views and the container from the transformer's `processNewData` and `sizeChanged`.
    void connectTransformer(ResultTransformer_TRVAXX* transformer);

    View2D_TRVAXX* getView2D() const { return view2D; }
    View2D3D_TRVAXX* getView2D3D() const { return view2D3D; }
    View3D_TRVAXX* getView3D() const { return view3D; }
    ViewSelectionStrip* getStrip() const { return strip; }
    QWidget* currentPage() const;
    int getMode() const { return mode; }
    // Variant text ("OD", "LG", ...) of the newest result; "" before the first one.
    const QString& getVariant() const { return variant; }
    int getYOffset() const { return yOffset; }

signals:
    // The joint view with its overlay on the camera picture came up / went away.
    void overlayActivated();
    void overlayDeActivated();
    // The variant text of the results changed (also for the first result).
    void variantChanged(const QString& variant);

public slots:
    void processNewData(PrimedResultSP_TRVAXX_t primedResult);
    void switchTo2D();
    void switchTo2D3D();
    void switchTo3D();
    void setAmplitudeLogarithmic(bool enable);
    void paintYOffset(int value);

    // Joint view.
    void findDevices();
    void createGrabber(QString device);
    void setRectifyImageEnabled(bool enable);
    void setGridEnabled(bool enable);
    void setPixelEnabled(bool enable);
    void setObjectsEnabled(bool enable);
    void setRetroObjectsEnabled(bool enable);
    void setFovEnabled(bool enable);

    // 3D view.
    void setPointCloudColorSourceDistance();
    void setPointCloudColorSourceAmplitude();
    void setPointCloudColorSourceConfidence();
    void setPointCloudGroundVisibility(bool visible);
    void setPointCloudSprayVisibility(bool visible);
    void setObjectVisibility(bool visible);
    void setRetroVisibility(bool visible);
    void setOriginVisibility(bool visible);
    void setSpatialVisibility(bool visible);
    void setDrivingDirectionVisibility(bool visible);
    void setPointCloudVisibility(bool visible);
    // Lines and their cross-sections together.
    void setLineVisibility(bool visible);
    void setGTPoints();
    void setGTLines();
    void setGTMesh();
    void setSub2DViewHidden(bool hidden);
    void setLeftDefaultView();
    void setTopDefaultView();
    void setRightDefaultView();

private:
    void showModePage(int newMode);
    QWidget* pageOf(int pageMode) const;

    QStackedWidget* stack;
    View2D_TRVAXX* view2D;
    View2D3D_TRVAXX* view2D3D = nullptr;
    View3D_TRVAXX* view3D;
    QLabel* waitingPage;
    ViewSelectionStrip* strip;
    int mode = Mode2D;
    bool haveResult = false;
    QString variant;
    int yOffset = 0;
};
