#pragma once

#include "common/sensoraddress.h"
#include "sdk/sensor.h"
#include "sdk/sensorgui.h"

#include <QString>

class ReplayDataView;

// One family of sensors a plug-in supports. The host asks it to make connections, GUI controllers
// and replay views. Holds nothing but its virtual table.
class SensorType {
public:
    virtual ~SensorType();

    // A connection for `address`; null when the address is not one this type can use.
    virtual SensorSP_t createSensor(SensorAdrSP_t address) = 0;
    // The GUI controller for `sensor`; null for GUI types the sensor type does not offer.
    virtual SensorGUI* createSensorGUI(SensorSP_t sensor, GuiType type) = 0;
    // Whether a sensor type identifier (for example "TRVADN DI") belongs to this type.
    virtual bool isSupportedTypeID(const char* typeId) = 0;
    // A new replay view without parent, owned by the caller; null when the type has none.
    virtual ReplayDataView* createReplayDataView() = 0;
    virtual QString getName() = 0;
};
