#pragma once

#include <QList>
#include <QtPlugin>

class SensorScout;
class SensorType;

#define PluginInterface_iid "Vexa.OrlanGUI.common.Plugin_Interface/1.0"

// The interface of a device plug-in: the scouts it offers and the sensor types it supports. The
// plug-in owns both; the host does not delete them.
class PluginInterface {
public:
    virtual ~PluginInterface();
    // A copy of the plug-in's scout list.
    virtual QList<SensorScout*> getSensorScouts() = 0;
    // A new list (the caller deletes the list, not its elements).
    virtual QList<SensorType*>* getSensorTypes() = 0;
};

Q_DECLARE_INTERFACE(PluginInterface, PluginInterface_iid)
