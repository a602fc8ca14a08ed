#pragma once

#include "common/sensoraddress.h"

#include <QSharedPointer>

// The host's view of one connection to one sensor. Plug-ins derive their connection class from it
// (usually together with QObject).
class Sensor {
public:
    virtual ~Sensor();
    virtual SensorAdrSP_t getSensorAddress() const = 0;
};

typedef QSharedPointer<Sensor> SensorSP_t;
