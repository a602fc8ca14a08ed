#pragma once

#include "sdk/sensorscout.h"

#include <QString>

class QWidget;

// A scout that is a form: the host shows the widget it creates and takes the one address it
// builds when the scout signals done().
class SensorScoutManual : public SensorScout {
    Q_OBJECT
public:
    explicit SensorScoutManual(QObject* parent = nullptr) : SensorScout(parent) {}
    ~SensorScoutManual() override;

    ScoutType getType() const override { return SCOUT_MANUAL; }
    // A form has nothing running to stop.
    void stop() override {}
    // Title of the form in the host's sensor list.
    virtual QString getDisplayName() const = 0;
    // Builds the form; the widget belongs to `parent`.
    virtual QWidget* createWidget(QWidget* parent) = 0;
    virtual void resetToDefaults() = 0;
    // Scouts offered only in developer mode.
    virtual bool isDevOnly() const { return false; }
};
