// Out-of-line destructors of the host's interfaces: they anchor the virtual tables (and the
// Qt meta objects) in this library, so every plug-in sees the same type information.
#include "common/hostframe.h"
#include "common/plugininterface.h"
#include "common/replaydataview.h"
#include "common/sensor.h"
#include "common/sensorgui.h"
#include "common/sensorscout.h"
#include "common/sensorscoutautomatic.h"
#include "common/sensorscoutmanual.h"
#include "common/sensortype.h"

PluginInterface::~PluginInterface() = default;
Sensor::~Sensor() = default;
SensorType::~SensorType() = default;
HostFrame::~HostFrame() = default;
SensorGUI::~SensorGUI() = default;
SensorScout::~SensorScout() = default;
SensorScoutManual::~SensorScoutManual() = default;
SensorScoutAutomatic::~SensorScoutAutomatic() = default;
ReplayDataView::~ReplayDataView() = default;
