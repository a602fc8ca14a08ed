#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class PluginInterface;
class QPluginLoader;
class SensorScout;
class SensorType;

// Finds and loads the device plug-ins: every library in the search folders whose Qt metadata
// names the device plug-in interface, whose verification text matches this host and whose
// instance implements PluginInterface. Anything else is refused with a reason; loading goes on.
class PluginManager : public QObject {
    Q_OBJECT
public:
    struct LoadedPlugin {
        QString filePath;
        QString fileName;
        QPluginLoader* loader = nullptr;
        PluginInterface* plugin = nullptr;
        QList<SensorType*> sensorTypes;
        QList<SensorScout*> scouts;
    };
    struct Refusal {
        QString filePath;
        QString reason;
    };

    explicit PluginManager(QObject* parent = nullptr);
    ~PluginManager() override;

    // The folders searched, in order: the application's "plugins" folder, the current folder,
    // then every entry of TRVAXX_PLUGIN_PATH (separated by ':'). Missing folders are skipped.
    static QStringList defaultSearchPaths();

    // Loads from `folders` (default search paths when empty). A plug-in file name already loaded
    // from an earlier folder is skipped. Returns the number of plug-ins loaded by this call.
    int loadPlugins(const QStringList& folders = QStringList());
    // Loads one file; returns false and records the refusal when it is not a usable plug-in.
    bool loadPlugin(const QString& filePath);
    // Unloads everything (plug-in objects are deleted by their loaders).
    void unloadAll();

    const QList<LoadedPlugin>& plugins() const { return loaded; }
    const QList<Refusal>& refusals() const { return refused; }
    QList<SensorType*> sensorTypes() const;
    QList<SensorScout*> scouts() const;
    // The sensor type that supports `typeId`; null when none does.
    SensorType* sensorTypeFor(const QByteArray& typeId) const;

signals:
    void pluginLoaded(const QString& filePath);
    void pluginRefused(const QString& filePath, const QString& reason);

private:
    void refuse(const QString& filePath, const QString& reason);
    // Files of other plug-in interfaces are expected in the same folder and skipped quietly.
    void skip(const QString& filePath, const QString& reason);

    QList<LoadedPlugin> loaded;
    QList<Refusal> refused;
};
