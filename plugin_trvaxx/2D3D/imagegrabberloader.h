#pragma once
// Loads every image-grabber plug-in ("image_grabber_*.so") in the plug-in search order and merges
// their device lists; a device opens through the plug-in that listed it. A failing plug-in is
// logged with the loader's error text and the others go on. GUI thread.

#include <QHash>
#include <QList>
#include <QObject>
#include <QStringList>

#include <memory>

class ImageGrabberFactory;
class QPluginLoader;

class ImageGrabberLoader {
public:
    static constexpr const char* kFilePattern = "image_grabber_*.so";

    // Loads the plug-ins in `folders` (empty: the host's plug-in search folders).
    explicit ImageGrabberLoader(const QStringList& folders = {});
    ~ImageGrabberLoader();

    bool hasGrabbers() const { return !factories.isEmpty(); }
    // The loaders' error texts, one per plug-in that failed.
    const QStringList& errors() const { return loadErrors; }

    // Every device of every plug-in, in search order; a name listed twice is kept once.
    QStringList findDevices();
    // A grabber (owned by the caller) for a device of the last findDevices(); null otherwise.
    QObject* createGrabber(const QString& device);

private:
    QList<std::shared_ptr<QPluginLoader>> loaders;
    QList<ImageGrabberFactory*> factories;
    QHash<QString, ImageGrabberFactory*> deviceOwner;
    QStringList loadErrors;
};
