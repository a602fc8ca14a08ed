#pragma once
// The plug-in "image_grabber_network.so": network cameras serving MJPEG over HTTP, listed from
// the setting "plugin_trvaxx/camera_urls" (a list of URLs, or one text separated by spaces or
// commas), and the test pattern when "plugin_trvaxx/camera_test_pattern" is true.

#include "2D3D/imagegrabberfactory.h"

#include <QObject>

class NetworkGrabberPlugin : public QObject, public ImageGrabberFactory {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID ImageGrabberFactory_iid FILE "networkgrabberplugin.json")
    Q_INTERFACES(ImageGrabberFactory)
public:
    static constexpr const char* kTestPattern = "Test pattern";

    QStringList findDevices() override;
    QObject* createGrabber(const QString& device) override;
};
