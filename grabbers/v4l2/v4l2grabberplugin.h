#pragma once
// The plug-in "image_grabber_v4l2.so": cameras through Video4Linux2.

#include "2D3D/imagegrabberfactory.h"
#include "grabbers/v4l2/v4l2grabber.h"

#include <QObject>

class V4l2GrabberPlugin : public QObject, public ImageGrabberFactory {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID ImageGrabberFactory_iid FILE "v4l2grabberplugin.json")
    Q_INTERFACES(ImageGrabberFactory)
public:
    QStringList findDevices() override { return V4l2Grabber::findDevices(); }
    QObject* createGrabber(const QString& device) override {
        return new V4l2Grabber(V4l2Grabber::pathOf(device));
    }
};
