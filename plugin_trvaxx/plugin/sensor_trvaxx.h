#pragma once

#include "plugin/notificationids_trvaxx.h"

#include "common/sensoraddressmobilecan.h"
#include "result/resultchain_trvaxx.h"
#include "sdk/sensor.h"

#include <QFutureWatcher>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

class CanBusController;
class PCDevice_TRVAXX;

// One connection to one sensor over Ethernet, CAN or both. connectToSensor() brings the result
// chain, the CAN bus controller, the parameter device and its syncer up in a fixed order and
// decides the firmware variant; while connected, two 10 s timers (scaled by the host's time
// scale) watch the Ethernet stream and refresh the status parameters. A lost sensor ends the
// connection with connectionWasAborted(). GUI thread only; results arrive through queued signals.
class Sensor_TRVAXX : public QObject, public Sensor {
    Q_OBJECT
public:
    // Interval of the Ethernet watchdog and of the status timer, before time scaling.
    static constexpr int WATCHDOG_MS = 10000;
    // With CAN only, this many failed state reads in a row end the connection.
    static constexpr int MAX_FAILED_STATE_READS = 3;
    // The first Ethernet result must arrive within this time (never scaled: it follows the
    // sensor's cycle), polled every FIRST_RESULT_POLL_MS.
    static constexpr int FIRST_RESULT_WAIT_MS = 1000;
    static constexpr int FIRST_RESULT_POLL_MS = 50;
    // Delay before the automatic calibration is switched off, after its notification.
    static constexpr int AUTO_CALIBRATION_SHUT_OFF_MS = 4321;

    // Operating mode of a sensor that measures.
    static constexpr int RUNNING_MODE = 34;

    // Asks the user a yes/no question on behalf of the connection; `accepted` is called (on the
    // GUI thread, later) when the user agrees. The GUI shows a dialog, a headless tool logs the
    // question and agrees. Without a handler the question is logged and nothing is switched off.
    typedef std::function<void(const QString& title, const QString& text, std::function<void()> accepted)>
        QuestionHandler;

    explicit Sensor_TRVAXX(SensorAdrMobileCanSP_t address);
    ~Sensor_TRVAXX() override;

    SensorAdrSP_t getSensorAddress() const override { return address; }
    SensorAdrMobileCanSP_t getMobileAddress() const { return address; }

    // The CAN interface the controller opens (URL as CANBusDevice takes it); empty: the configured
    // default. Takes effect at the next connect.
    void setCanInterfaceUrl(const QByteArray& url) { canInterfaceUrl = url; }
    void setQuestionHandler(QuestionHandler handler) { questionHandler = std::move(handler); }

    // Returns 0 or a notification id; after a failure nothing keeps running.
    int connectToSensor();
    // Stops both timers and the result loader and takes the CAN bus controller down. Returns the
    // last result code of those steps (0 when all went well).
    int closeConnection();
    // Decides the variant code (0..9), stores it in the parameter device and returns it.
    int checkDeviceVariant();
    // Sets the serial number; false when CAN and Ethernet reach different sensors.
    bool checkSameSensor();

    // Start-up checks, run by the GUI controller after a successful connect, in this order.
    void checkDebugData();
    void checkAutoCalibration();
    void checkRunningMode();

    // Around every write to the sensor: the watchdogs pause, and restart with the first result
    // after resumeWatchdogs().
    void suspendWatchdogs();
    void resumeWatchdogs();
    bool isSuspended() const { return suspended; }
    bool isCanConnected() const { return canConnected; }
    bool isWatchdogActive() const { return ethernetWatchdog.isActive(); }
    bool isStatusTimerActive() const { return statusTimer.isActive(); }

    ResultCache_TRVAXX* getResultCache() { return &chain.cache(); }
    CaptureControler_TRVAXX* getCaptureControler() { return &chain.recorder(); }
    PCDevice_TRVAXX* getPCDevice() const { return pcDevice.get(); }
    CanBusController* getCanBusController() const { return canBusController.get(); }
    QString getSerialNumber() const { return serialNumber; }
    // Software version, variant, article number and serial number as read over CAN (empty
    // texts without CAN).
    QStringList getCanDeviceIdentification() const;
    // The decided variant code (8 before the decision), as the parameter device holds it.
    int getVariantCode() const;

signals:
    void connectionWasAborted(ErrorCode error);

public slots:
    void ethernetWatchdogTimeout();
    void ethernetWatchdogReset();
    void statusDataTimeout();
    void shutOffDebugData();
    void shutOffAutoCalibration();

private:
    // Writes the parameter device to the sensor with the watchdogs suspended; on failure the
    // connection ends with `failureCode` (0: the write's own code).
    void shutOff(int parameterId, int failureCode);
    // Writes the parameter device to the sensor over CAN; 0 or a notification id.
    int writeParameters();
    void onStateRead();
    void abort(ErrorCode error);
    bool hasEthernetResult() { return chain.cache().isDataAvailable(); }
    void restartStatusTimer();
    // Lets the syncer refresh the status parameters and restarts the status timer.
    void refreshStatus();
    // Connects the CAN function results of the sensor's variant to the result cache and starts
    // their receiver.
    void startCanResults();

    SensorAdrMobileCanSP_t address;
    // Cache, package processor, recorder and result loader, torn down in reverse order.
    ResultChain_TRVAXX chain;
    // Owns the variant's device syncer.
    std::unique_ptr<PCDevice_TRVAXX> pcDevice;
    std::unique_ptr<CanBusController> canBusController;
    bool canConnected = false;
    QTimer ethernetWatchdog;
    bool suspended = false;
    bool resumePending = false;
    QTimer statusTimer;
    QString serialNumber;
    QByteArray canInterfaceUrl;
    QuestionHandler questionHandler;
    // The CAN-only liveness check: a state read off the GUI thread and the failures in a row.
    QFutureWatcher<int> stateRead;
    int failedStateReads = 0;
    // A write to the sensor serves GUI events while it waits: a close requested meanwhile is
    // carried out when the write has ended, never under its feet.
    bool writing = false;
    bool closeAfterWrite = false;
};
