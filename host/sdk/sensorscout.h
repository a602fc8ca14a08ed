#pragma once

#include "common/sensoraddress.h"

#include <QList>
#include <QObject>

// A way of finding sensors: a form the user fills in (manual) or a search (automatic). The scout
// signals `done()` when it has addresses to offer; the host then reads them.
class SensorScout : public QObject {
    Q_OBJECT
public:
    enum ScoutType { SCOUT_MANUAL = 0, SCOUT_AUTOMATIC = 1 };

    explicit SensorScout(QObject* parent = nullptr) : QObject(parent) {}
    ~SensorScout() override;

    virtual ScoutType getType() const = 0;
    virtual QList<SensorAdrSP_t> getFoundSensors() = 0;
    virtual void stop() = 0;

signals:
    void done();
};
