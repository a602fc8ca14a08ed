#include "2D3D/imagegrabberloader.h"

#include "2D3D/imagegrabberfactory.h"
#include "2D3D/viewslog_trvaxx.h"
#include "common/commonutilities.h"

#include <QDir>
#include <QPluginLoader>
#include <QSet>

ImageGrabberLoader::ImageGrabberLoader(const QStringList& folders) {
    QSet<QString> seen;
    for (const QString& folder : folders.isEmpty() ? CommonUtilities::pluginSearchFolders() : folders) {
        const QDir dir(folder);
        for (const QString& name :
             dir.entryList({QString::fromLatin1(kFilePattern)}, QDir::Files, QDir::Name)) {
            if (seen.contains(name)) // the first folder that has a plug-in wins
                continue;
            seen.insert(name);
            auto loader = std::make_shared<QPluginLoader>(dir.absoluteFilePath(name));
            auto* factory = qobject_cast<ImageGrabberFactory*>(loader->instance());
            if (!factory) {
                const QString text = loader->errorString();
                qCWarning(lcViews).noquote() << "Image grabber" << name << "not loaded:" << text;
                loadErrors << text;
                continue;
            }
            loaders << loader;
            factories << factory;
        }
    }
}

ImageGrabberLoader::~ImageGrabberLoader() {
    factories.clear();
    for (const auto& loader : loaders)
        loader->unload();
}

QStringList ImageGrabberLoader::findDevices() {
    QStringList devices;
    deviceOwner.clear();
    for (ImageGrabberFactory* factory : factories)
        for (const QString& device : factory->findDevices())
            if (!deviceOwner.contains(device)) {
                deviceOwner.insert(device, factory);
                devices << device;
            }
    return devices;
}

QObject* ImageGrabberLoader::createGrabber(const QString& device) {
    ImageGrabberFactory* factory = deviceOwner.value(device);
    return factory ? factory->createGrabber(device) : nullptr;
}
