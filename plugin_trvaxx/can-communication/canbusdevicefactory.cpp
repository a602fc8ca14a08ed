#include "can-communication/canbusdevicefactory.h"

#include "common/commonutilities.h"

#include "can-communication/canbusdevice.h"
#include "can-communication/canlogging.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QMutex>
#include <QPluginLoader>

#include <memory>
#include <vector>

namespace {

struct Registry {
    QMutex mutex;
    int users = 0;
    QStringList folders; // empty: the default folders
    QMap<int, CANBusDevice*> devices;
    std::vector<std::unique_ptr<QPluginLoader>> loaders;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

// Registers the device under its type unless the type is there already. Caller holds the mutex.
bool insertDevice(Registry& r, CANBusDevice* device) {
    const int type = device->CAN_GetDeviceType();
    if (r.devices.contains(type)) {
        qCDebug(lcCan)
            << "[CANBusDeviceFactory] There is already a CANBusDevice-implementations with the same type!";
        return false;
    }
    r.devices.insert(type, device);
    return true;
}

void eraseDevice(Registry& r, CANBusDevice* device) {
    for (auto it = r.devices.begin(); it != r.devices.end();) {
        if (it.value() == device)
            it = r.devices.erase(it);
        else
            ++it;
    }
}

void loadPlugins(Registry& r) {
    const QStringList folders = r.folders.isEmpty() ? CANBusDeviceFactory::searchFolders() : r.folders;
    QStringList seen;
    for (const QString& folder : folders) {
        const QDir dir(folder);
        const QString canonical = dir.canonicalPath();
        if (canonical.isEmpty() || seen.contains(canonical))
            continue;
        seen << canonical;
        const QStringList files = dir.entryList({QString::fromLatin1(CANBusDeviceFactory::kFilePattern)},
                                                QDir::Files, QDir::NoSort);
        for (const QString& file : files) {
            auto loader = std::make_unique<QPluginLoader>(dir.absoluteFilePath(file));
            if (!loader->load()) {
                qCDebug(lcCan).noquote()
                    << "Plugin " << file << "could not be loaded" << loader->errorString();
                continue;
            }
            qCDebug(lcCan).noquote() << "Plugin " << file << "successfully loaded";
            CANBusDevice* device = qobject_cast<CANBusDevice*>(loader->instance());
            if (!device) {
                qCDebug(lcCan).noquote() << "Plugin " << file << "is no CANBusDevice";
                loader->unload();
                continue;
            }
            if (!insertDevice(r, device)) {
                loader->unload();
                continue;
            }
            r.loaders.push_back(std::move(loader));
        }
    }
}

void unloadPlugins(Registry& r) {
    for (auto& loader : r.loaders) {
        CANBusDevice* device = qobject_cast<CANBusDevice*>(loader->instance());
        eraseDevice(r, device);
        qCDebug(lcCan).noquote() << "Unload" << QFileInfo(loader->fileName()).fileName();
        loader->unload();
    }
    r.loaders.clear();
}

} // namespace

void CANBusDeviceFactory::acquire() {
    Registry& r = registry();
    QMutexLocker lock(&r.mutex);
    if (r.users++ == 0)
        loadPlugins(r);
}

void CANBusDeviceFactory::release() {
    Registry& r = registry();
    QMutexLocker lock(&r.mutex);
    if (r.users > 0 && --r.users == 0)
        unloadPlugins(r);
}

CANBusDevice* CANBusDeviceFactory::device(int type) {
    Registry& r = registry();
    QMutexLocker lock(&r.mutex);
    return r.devices.value(type, nullptr);
}

QStringList CANBusDeviceFactory::searchFolders() {
    return CommonUtilities::pluginSearchFolders();
}

void CANBusDeviceFactory::setSearchFolders(const QStringList& folders) {
    Registry& r = registry();
    QMutexLocker lock(&r.mutex);
    r.folders = folders;
}

bool CANBusDeviceFactory::registerDevice(CANBusDevice* device) {
    Registry& r = registry();
    QMutexLocker lock(&r.mutex);
    return insertDevice(r, device);
}

void CANBusDeviceFactory::unregisterDevice(CANBusDevice* device) {
    Registry& r = registry();
    QMutexLocker lock(&r.mutex);
    eraseDevice(r, device);
}
