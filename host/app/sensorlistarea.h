#pragma once

#include "common/sensoraddress.h"

#include <QWidget>

class PluginManager;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QLabel;
class QVBoxLayout;
class SensorScoutAutomatic;
class SensorScoutManual;

// The left side of the main window: the automatic search with its results, one form per manual
// scout of the loaded plug-ins, and the recently used sensors. Every way ends in
// connectRequested(address).
class SensorListArea : public QWidget {
    Q_OBJECT
public:
    explicit SensorListArea(PluginManager& plugins, QWidget* parent = nullptr);

    // Remembers `address` at the top of the recent list (kept in the settings, at most 8).
    void addRecentSensor(const SensorAdrSP_t& address);
    QList<SensorAdrSP_t> recentSensors() const;
    int foundSensorCount() const;

public slots:
    void startSearch();

signals:
    void connectRequested(SensorAdrSP_t address);

private:
    void buildManualForms(QVBoxLayout* layout);
    void onSearchDone(SensorScoutAutomatic* scout);
    void showRecent();
    void saveRecent();
    void requestFromItem(QListWidgetItem* item);

    PluginManager& plugins;
    QList<SensorScoutAutomatic*> automatic;
    QList<SensorScoutManual*> manual;
    int searchesRunning = 0;
    QPushButton* searchButton;
    QPushButton* connectButton;
    QLabel* searchState;
    QListWidget* found;
    QListWidget* recent;
    QList<SensorAdrSP_t> foundAddresses;
    QList<SensorAdrSP_t> recentAddresses;
};
