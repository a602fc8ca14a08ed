// Out-of-line destructors of the host's interfaces: they anchor the virtual tables (and the
// Qt meta objects) in this library, so every plug-in sees the same type information.
#include "sdk/hostframe.h"
#include "sdk/plugininterface.h"
#include "sdk/sensor.h"
#include "sdk/sensorgui.h"
#include "sdk/sensorscout.h"
#include "sdk/sensorscoutautomatic.h"
#include "sdk/sensorscoutmanual.h"
#include "sdk/sensortype.h"

PluginInterface::~PluginInterface() = default;
Sensor::~Sensor() = default;
SensorType::~SensorType() = default;
HostFrame::~HostFrame() = default;
SensorGUI::~SensorGUI() = default;
SensorScout::~SensorScout() = default;
SensorScoutManual::~SensorScoutManual() = default;
SensorScoutAutomatic::~SensorScoutAutomatic() = default;
