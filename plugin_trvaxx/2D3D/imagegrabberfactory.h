#pragma once
// The interface of the image-grabber plug-ins ("image_grabber_*.so") that feed the joint view with
// camera pictures. A plug-in lists the devices it can open and makes a grabber for one of them.
// A grabber is a QObject with the slots start() and stop() and the signal newImage(QImage)
// (RGB888), connected by name so that the plug-in and the view need not share moc output.
// Header only: the grabber plug-ins build against it without linking the views.

#include <QObject>
#include <QString>
#include <QStringList>
#include <QtPlugin>

class ImageGrabberFactory {
public:
    virtual ~ImageGrabberFactory() = default;
    // Device names as the user picks them (a camera's name, a stream's URL).
    virtual QStringList findDevices() = 0;
    // A grabber for one of the devices findDevices() listed, owned by the caller; null when the
    // device cannot be opened.
    virtual QObject* createGrabber(const QString& device) = 0;
};

#define ImageGrabberFactory_iid "trvaxx.ImageGrabberFactory/1.0"
Q_DECLARE_INTERFACE(ImageGrabberFactory, ImageGrabberFactory_iid)
