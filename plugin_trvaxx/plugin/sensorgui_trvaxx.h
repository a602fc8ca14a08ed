#pragma once

#include "plugin/notificationids_trvaxx.h"
#include "plugin/sensorpanel_trvaxx.h"

#include "sdk/sensorgui.h"

#include <QPointer>
#include <QSharedPointer>

class HostFrame;
class Sensor_TRVAXX;

// The host's handle of one connected sensor: start() opens the connection, shows the sensor's
// panel and runs the start-up checks; a lost connection closes the panel and shows why.
// GUI thread only.
class SensorGUI_TRVAXX : public SensorGUI {
    Q_OBJECT
public:
    explicit SensorGUI_TRVAXX(QSharedPointer<Sensor_TRVAXX> sensor, QObject* parent = nullptr);
    ~SensorGUI_TRVAXX() override;

    int start(HostFrame* hostFrame) override;
    bool shutDown() override;

    SensorPanel_TRVAXX* panel() const { return sensorPanel; }

public slots:
    // Closes the screen and shows notification `error` (the connection is already down).
    void disconnectSensor(ErrorCode error);

private:
    QSharedPointer<Sensor_TRVAXX> sensor;
    QPointer<HostFrame> hostFrame;
    QPointer<SensorPanel_TRVAXX> sensorPanel;
};
