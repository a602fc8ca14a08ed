#pragma once
// The plug-in's root object: the device as a Qt plug-in with the CANBusDevice interface id.

#include "candevices/socketcan/socketcandevice.h"

#include <QObject>

class SocketCanPlugin : public QObject, public SocketCanDevice {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID CANBusDevice_iid FILE "socketcanplugin.json")
    Q_INTERFACES(CANBusDevice)
};
