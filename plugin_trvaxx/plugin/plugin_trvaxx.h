#pragma once

#include "generated/trvaxx_version.h"
#include "sdk/plugininterface.h"

#include <QList>
#include <QObject>

class SensorScout;
class SensorType_TRVAXX;

// The plug-in object the host gets from qt_plugin_instance(): it registers the plug-in's
// notifications and versions and owns the sensor type and the scouts.
class Plugin_TRVAXX : public QObject, public PluginInterface {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID PluginInterface_iid FILE "plugin_trvaxx.json")
    Q_INTERFACES(PluginInterface)
public:
    static constexpr const char* VERSION = TRVAXX_PLUGIN_VERSION;

    Plugin_TRVAXX();
    ~Plugin_TRVAXX() override;

    QList<SensorScout*> getSensorScouts() override;
    QList<SensorType*>* getSensorTypes() override;

private:
    SensorType_TRVAXX* sensorType;
    QList<SensorScout*> scouts;
};
