#include "app/pluginmanager.h"

#include "common/commonutilities.h"

#include "common/logentry.h"
#include "common/pluginverification.h"
#include "sdk/plugininterface.h"
#include "sdk/sensortype.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QLibrary>
#include <QPluginLoader>

PluginManager::PluginManager(QObject* parent) : QObject(parent) {}

PluginManager::~PluginManager() {
    unloadAll();
}

QStringList PluginManager::defaultSearchPaths() {
    return CommonUtilities::pluginSearchFolders();
}

int PluginManager::loadPlugins(const QStringList& folders) {
    const QStringList search = folders.isEmpty() ? defaultSearchPaths() : folders;
    QStringList seenFolders;
    int count = 0;
    for (const QString& folder : search) {
        const QDir dir(folder);
        const QString canonical = dir.canonicalPath();
        if (canonical.isEmpty() || seenFolders.contains(canonical))
            continue;
        seenFolders << canonical;
        const QFileInfoList files = dir.entryInfoList(QDir::Files | QDir::Readable, QDir::Name);
        for (const QFileInfo& file : files) {
            if (!QLibrary::isLibrary(file.fileName()))
                continue;
            bool already = false;
            for (const LoadedPlugin& p : std::as_const(loaded)) {
                if (p.fileName == file.fileName()) {
                    if (QFileInfo(p.filePath).canonicalFilePath() != file.canonicalFilePath())
                        LogEntry(LOG_INFO, tr("Plug-in %1 skipped: already loaded from %2")
                                               .arg(file.absoluteFilePath(), p.filePath));
                    already = true;
                    break;
                }
            }
            if (!already && loadPlugin(file.absoluteFilePath()))
                ++count;
        }
    }
    return count;
}

bool PluginManager::loadPlugin(const QString& filePath) {
    auto* loader = new QPluginLoader(filePath, this);
    // The metadata is read without running any code of the file.
    const QJsonObject meta = loader->metaData();
    if (meta.isEmpty()) {
        refuse(filePath, tr("not a Qt plug-in (%1)").arg(loader->errorString()));
        delete loader;
        return false;
    }
    const QString iid = meta.value(QStringLiteral("IID")).toString();
    if (iid != QLatin1String(PluginInterface_iid)) {
        skip(filePath, tr("a plug-in of another interface (%1)").arg(iid));
        delete loader;
        return false;
    }
    // The verification text is read through a separate handle that is closed again before the
    // loader opens the file, so the loader's unload later really unloads it.
    QString problem;
    {
        QLibrary library(filePath);
        using VerificationFunction = const char* (*)();
        auto verification =
            reinterpret_cast<VerificationFunction>(library.resolve(PluginVerification::EXPORT_SYMBOL));
        if (!library.isLoaded())
            problem = tr("cannot be loaded: %1").arg(library.errorString());
        else if (!verification)
            problem = tr("verification failed: it exports no plug-in verification text");
        else if (const QString reason = PluginVerification::check(verification()); !reason.isEmpty())
            problem = tr("verification failed: %1").arg(reason);
        library.unload();
    }
    if (!problem.isEmpty()) {
        refuse(filePath, problem);
        delete loader;
        return false;
    }
    if (!loader->load()) {
        refuse(filePath, tr("cannot be loaded: %1").arg(loader->errorString()));
        delete loader;
        return false;
    }
    QObject* instance = loader->instance();
    PluginInterface* plugin = qobject_cast<PluginInterface*>(instance);
    if (!plugin) {
        refuse(filePath, instance ? tr("the plug-in object does not implement the device plug-in interface")
                                  : tr("no plug-in object: %1").arg(loader->errorString()));
        loader->unload();
        delete loader;
        return false;
    }
    LoadedPlugin entry;
    entry.filePath = filePath;
    entry.fileName = QFileInfo(filePath).fileName();
    entry.loader = loader;
    entry.plugin = plugin;
    QList<SensorType*>* types = plugin->getSensorTypes();
    if (types) {
        entry.sensorTypes = *types;
        entry.sensorTypes.removeAll(nullptr);
        delete types; // the list is ours, the types stay the plug-in's
    }
    entry.scouts = plugin->getSensorScouts();
    entry.scouts.removeAll(nullptr);
    loaded.append(entry);
    QStringList names;
    for (SensorType* type : std::as_const(entry.sensorTypes))
        names << type->getName();
    LogEntry(LOG_INFO, tr("Plug-in %1 loaded: sensor types %2, %3 scout(s)")
                           .arg(filePath, names.join(QStringLiteral(", ")))
                           .arg(entry.scouts.size()));
    emit pluginLoaded(filePath);
    return true;
}

void PluginManager::unloadAll() {
    // Newest first, so a plug-in never outlives one loaded before it.
    while (!loaded.isEmpty()) {
        LoadedPlugin p = loaded.takeLast();
        p.loader->unload();
        delete p.loader;
    }
}

QList<SensorType*> PluginManager::sensorTypes() const {
    QList<SensorType*> all;
    for (const LoadedPlugin& p : loaded)
        all += p.sensorTypes;
    return all;
}

QList<SensorScout*> PluginManager::scouts() const {
    QList<SensorScout*> all;
    for (const LoadedPlugin& p : loaded)
        all += p.scouts;
    return all;
}

SensorType* PluginManager::sensorTypeFor(const QByteArray& typeId) const {
    for (const LoadedPlugin& p : loaded)
        for (SensorType* type : p.sensorTypes)
            if (type->isSupportedTypeID(typeId.constData()))
                return type;
    return nullptr;
}

void PluginManager::refuse(const QString& filePath, const QString& reason) {
    refused.append(Refusal{filePath, reason});
    LogEntry(LOG_ERROR, tr("Plug-in %1 refused: %2").arg(filePath, reason));
    emit pluginRefused(filePath, reason);
}

void PluginManager::skip(const QString& filePath, const QString& reason) {
    LogEntry(LOG_DEBUG, tr("%1 skipped: %2").arg(filePath, reason));
}
