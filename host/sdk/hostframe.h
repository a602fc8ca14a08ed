#pragma once

#include "common/sensoraddress.h"

#include <QObject>

class QWidget;

// What a sensor GUI controller may ask of the host window that shows it. The host implements it;
// the controller receives it in SensorGUI::start.
class HostFrame : public QObject {
    Q_OBJECT
public:
    explicit HostFrame(QObject* parent = nullptr) : QObject(parent) {}
    ~HostFrame() override;

    // Closes the GUI controller of the current sensor and returns to the sensor list.
    virtual void closeSensorGUI() = 0;
    // Shows `screen` in the host's screen area; the host takes it into its layout, not ownership.
    virtual void showScreen(QWidget* screen) = 0;
    // Closes the current sensor GUI and connects again to `address`.
    virtual void reconnect(SensorAdrSP_t address) = 0;

public slots:
    virtual void disconnectSensor() = 0;
    virtual void showMainSettings() = 0;
};
