// Out-of-line destructors of the host's interfaces: they anchor the virtual tables (and the
// Qt meta objects) in this library, so every plug-in sees the same type information.
#include "hostframe.h"
#include "plugininterface.h"
#include "replaydataview.h"
#include "sensor.h"
#include "sensorgui.h"
#include "sensorscout.h"
#include "sensorscoutautomatic.h"
#include "sensorscoutmanual.h"
#include "sensortype.h"

PluginInterface::~PluginInterface() = default;
Sensor::~Sensor() = default;
SensorType::~SensorType() = default;
HostFrame::~HostFrame() = default;
SensorGUI::~SensorGUI() = default;
SensorScout::~SensorScout() = default;
SensorScoutManual::~SensorScoutManual() = default;
SensorScoutAutomatic::~SensorScoutAutomatic() = default;
ReplayDataView::~ReplayDataView() = default;
