#pragma once
// The joint 2D/3D view: the picture of the video camera mounted with the sensor, optionally
// rectified, with the sensor's results drawn onto it through the result's 2D calibration
// (Overlay2D3D), and for line guidance the windrow cross-section beside it. Pictures come from the
// image-grabber plug-ins (ImageGrabberLoader). Without a picture the layers are drawn on a black
// canvas that says "No camera picture"; without any grabber plug-in the canvas says that too.
// A hidden view only keeps the newest result and picture; it draws when it is shown. GUI thread.

#include "result/primedresult_trvaxx.h"

#include <QImage>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <memory>

class ImageGrabberLoader;
class Overlay2D3D;
class View2D;
class WindrowVisualization;

class View2D3D_TRVAXX : public QWidget {
    Q_OBJECT
public:
    explicit View2D3D_TRVAXX(QWidget* parent = nullptr);
    ~View2D3D_TRVAXX() override;

    // Where the grabber plug-ins are looked for (default: the host's plug-in search folders);
    // takes effect at the next findDevices().
    void setGrabberFolders(const QStringList& folders);

    View2D* pane() const { return view; }
    Overlay2D3D* overlay() const { return overlayItem; }
    WindrowVisualization* windrow() const { return windrowWidget; }
    bool hasPicture() const { return !picture.isNull(); }
    bool isGrabberRunning() const { return grabberRunning; }
    // The variant text the scene parts were built for ("" before the first result).
    const QString& variant() const { return builtFor; }
    // Results drawn since construction (hidden views draw none).
    int drawnResults() const { return drawn; }

signals:
    void devicesFound(QStringList deviceList);

public slots:
    void findDevices();
    void createGrabber(QString device);
    void processNewData(PrimedResultSP_TRVAXX_t primedResult);
    void newImage(QImage image);
    void stop();
    void start();
    void setRectifyImageEnabled(bool enable);
    void setGridEnabled(bool enable);
    void setPixelEnabled(bool enable);
    void setObjectsEnabled(bool enable);
    void setRetroObjectsEnabled(bool enable);
    void setFovEnabled(bool enable);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void rebuildFor(const QString& variantText);
    void redraw();
    QImage canvas() const;

    View2D* view = nullptr;
    Overlay2D3D* overlayItem = nullptr;
    WindrowVisualization* windrowWidget = nullptr;
    std::unique_ptr<ImageGrabberLoader> loader;
    QStringList grabberFolders;
    QPointer<QObject> grabber;
    PrimedResultSP_TRVAXX_t primed;
    PrimedResultSP_TRVAXX_t drawnResult; // what the overlay shows
    QImage picture;
    bool pictureChanged = true;
    Calibration2d_TRVAXX shownCalibration;
    QString builtFor;
    bool rectify = false;
    bool grabberRunning = false;
    int drawn = 0;
};
