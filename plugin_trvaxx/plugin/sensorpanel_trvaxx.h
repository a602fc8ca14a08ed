#pragma once

#include <QTimer>
#include <QWidget>

class QLabel;
class QTableWidget;
class QVBoxLayout;
class ResultTransformer_TRVAXX;
class ResultVisualization;
class Sensor_TRVAXX;

// The plain screen of a connected sensor: its identity, variant code and parameter values, and
// the live result views (2D, joint, 3D) in resultViewArea(), fed by a transformer of their own. Parameter
// values are shown again every second. GUI thread only; the connection outlives the panel.
class SensorPanel_TRVAXX : public QWidget {
    Q_OBJECT
public:
    static constexpr int REFRESH_MS = 1000;

    explicit SensorPanel_TRVAXX(Sensor_TRVAXX& sensor, QWidget* parent = nullptr);

    // Where the result visualization is embedded.
    QVBoxLayout* resultViewArea() const { return viewArea; }
    ResultVisualization* resultVisualization() const { return visualization; }

public slots:
    void refresh();

private:
    Sensor_TRVAXX& sensor;
    QLabel* identity;
    QTableWidget* parameters;
    QVBoxLayout* viewArea;
    ResultTransformer_TRVAXX* transformer;
    ResultVisualization* visualization;
    QTimer refreshTimer;
};
