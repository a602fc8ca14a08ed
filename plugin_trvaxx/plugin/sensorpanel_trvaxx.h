#pragma once

#include <QTimer>
#include <QWidget>

class QLabel;
class QTableWidget;
class QVBoxLayout;
class Sensor_TRVAXX;

// The plain screen of a connected sensor: its identity, variant code and parameter values, and
// an empty area that the live result views take (resultViewArea()). Parameter values are shown
// again every second. GUI thread only; the connection outlives the panel.
class SensorPanel_TRVAXX : public QWidget {
    Q_OBJECT
public:
    static constexpr int REFRESH_MS = 1000;

    explicit SensorPanel_TRVAXX(Sensor_TRVAXX& sensor, QWidget* parent = nullptr);

    // Where a result visualization is embedded (an empty vertical layout until then).
    QVBoxLayout* resultViewArea() const { return viewArea; }

public slots:
    void refresh();

private:
    Sensor_TRVAXX& sensor;
    QLabel* identity;
    QTableWidget* parameters;
    QVBoxLayout* viewArea;
    QTimer refreshTimer;
};
