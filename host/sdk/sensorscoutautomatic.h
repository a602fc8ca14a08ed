#pragma once

#include "sdk/sensorscout.h"

// A scout that searches by itself: the host starts a search and reads the found addresses when
// the scout signals done(). stop() aborts a running search; done() then does not come.
class SensorScoutAutomatic : public SensorScout {
    Q_OBJECT
public:
    explicit SensorScoutAutomatic(QObject* parent = nullptr) : SensorScout(parent) {}
    ~SensorScoutAutomatic() override;

    ScoutType getType() const override { return SCOUT_AUTOMATIC; }
    virtual void startSearch() = 0;
};
