#pragma once
// The local-adapter transport: a QCanBusDevice of one of Qt's CAN back-ends (socketcan, peakcan,
// tinycan, virtualcan, passthrucan), created and used on the worker's thread only.

#include "candevices/socketcan/transportworker.h"

#include <QCanBusDevice>

class QtCanBusWorker : public TransportWorker {
    Q_OBJECT
public:
    static constexpr qint64 kMaxQueuedFrames = 64; // back-ends that queue: wait above this
    static constexpr int kConnectTimeoutMs = 3000;

    QtCanBusWorker(ReceiveQueue& queue, const CanDeviceConfig& config, const QString& backend,
                   const QString& interface);

    uint16_t open() override;

protected:
    WriteResult tryWrite(const CanFrame& frame, uint16_t& status) override;
    void reopen() override;
    void closeConnection() override;

private:
    uint16_t openDevice(bool logFailures);
    bool waitUntilConnected();
    void applyBitRate();
    void onFramesReceived();
    void onError(QCanBusDevice::CanBusError error);
    void onStateChanged(QCanBusDevice::CanBusDeviceState state);
    QString name() const;

    const QString m_backend;
    const QString m_interface;
    QCanBusDevice* m_device = nullptr;
    bool m_open = false;
    int m_configurationErrors = 0;
    quint64 m_transmitFull = 0;
};

// Sorts a back-end's error text into the statuses of CAN_InitDriver (2, 209, other).
uint16_t classifyOpenError(const QString& errorText);
// True for the write errors that mean "transmit queue full, try again".
bool isTransmitQueueFull(const QString& errorText);
