#pragma once

#include "common/sensoraddress.h"
#include "sdk/hostframe.h"
#include "sdk/sensor.h"

#include <QMainWindow>
#include <QPointer>

class LogView;
class MainWindow;
class NotificationPanel;
class PluginManager;
class QLabel;
class ReplayWindow;
class QStackedWidget;
class SensorGUI;
class SensorListArea;

// The host frame the sensor GUI controllers talk to; forwards to the main window.
class MainHostFrame : public HostFrame {
    Q_OBJECT
public:
    explicit MainHostFrame(MainWindow& window);

    void closeSensorGUI() override;
    void showScreen(QWidget* screen) override;
    void reconnect(SensorAdrSP_t address) override;

public slots:
    void disconnectSensor() override;
    void showMainSettings() override;

private:
    MainWindow& window;
};

// The application window: sensor list on the left, the current sensor's screens in the middle,
// notifications on the right and the log below.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(PluginManager& plugins, QWidget* parent = nullptr);
    ~MainWindow() override;

    NotificationPanel* notificationPanel() const { return notifications; }
    SensorListArea* sensorList() const { return sensors; }
    LogView* logView() const { return log; }
    bool hasSensorGUI() const { return !gui.isNull(); }

public slots:
    // Finds the sensor type for the address, creates connection and GUI controller and starts it.
    // Failures are shown as notifications; returns whether a GUI controller runs afterwards.
    bool connectToSensor(SensorAdrSP_t address);
    void closeSensorGUI();
    void disconnectSensor();
    void showScreen(QWidget* screen);
    void showMainSettings();
    void showAbout();
    // Opens a recording in a replay window of its own (also from the menu and by dropping a file
    // on the window); `page` picks the view's page ("2d", "joint", "3d").
    ReplayWindow* openRecording(const QString& fileName, const QString& page = {});

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QWidget* buildHome();
    void reportRefusals();
    void updateStatus();
    void fail(const QString& title, const QString& text);

    PluginManager& plugins;
    MainHostFrame* hostFrame;
    SensorListArea* sensors;
    QStackedWidget* screens;
    QWidget* home;
    NotificationPanel* notifications;
    LogView* log;
    QLabel* pluginStatus;
    QLabel* sensorStatus;
    QPointer<SensorGUI> gui;
    SensorSP_t sensor;
    SensorAdrSP_t sensorAddress;
    // True while a GUI controller starts; its waits serve events, so requests may arrive meanwhile.
    bool connecting = false;
};
