#pragma once
// MultiReceiveCanProxy owns the only thread that reads a CAN device and hands every frame to every
// registered receiver. It also is a CANBusDevice itself, so a diagnostic client can send through
// it and read the frames of its own queue.

#include "can-communication/canbusdevice.h"
#include "can-communication/canreceiver.h"

#include <QMutex>
#include <QObject>
#include <QSet>
#include <QThread>

#include <atomic>

class CanTrace;

class ReceiverThread : public QThread {
    Q_OBJECT
public:
    explicit ReceiverThread(CANBusDevice* device, QObject* parent = nullptr);

    void registerReceiver(CANReceiver* receiver);
    void unregisterReceiver(CANReceiver* receiver);
    void stop() { running = false; }
    // Frames read from the device since the start.
    uint64_t framesRead() const { return frames.load(); }

protected:
    void run() override;

private:
    CANBusDevice* const device;
    std::atomic<bool> running{true};
    std::atomic<uint64_t> frames{0};
    QMutex mutex; // guards receivers
    QSet<CANReceiver*> receivers;
};

class MultiReceiveCanProxy : public QObject, public CANBusDevice {
    Q_OBJECT
    Q_INTERFACES(CANBusDevice)
public:
    // Starts the reading thread at once; `device` must be open and outlive the proxy.
    explicit MultiReceiveCanProxy(CANBusDevice* device, QObject* parent = nullptr);
    // Stops the thread: 500 ms for a clean stop, then it is terminated.
    ~MultiReceiveCanProxy() override;

    void registerReceiver(CANReceiver* receiver) { thread->registerReceiver(receiver); }
    void unregisterReceiver(CANReceiver* receiver) { thread->unregisterReceiver(receiver); }
    // Every frame sent through the proxy is also written to `trace` (null: none). The trace
    // receives the bus frames as a registered receiver of its own.
    void setSendTrace(CanTrace* trace);
    uint64_t framesRead() const { return thread->framesRead(); }

    void CAN_SetConfig(const CanDeviceConfig& config) override;
    uint16_t CAN_InitDriver() override;
    uint16_t CAN_CloseDriver() override;
    uint16_t CAN_SendData(uint32_t identifier, const uint8_t* data, uint32_t length) override;
    uint16_t CAN_ReadData(uint32_t* identifier, uint8_t* data, uint8_t* length) override;
    uint16_t CAN_ReadDataBlock(uint32_t timeoutMs, CanFrame* frames, uint32_t* count) override;
    int32_t CAN_GetDeviceType() override;
    void CAN_SetInterface(const char* url) override;

private:
    CANBusDevice* const device;
    QueuedReceiver ownQueue;
    ReceiverThread* thread;
    std::atomic<CanTrace*> sendTrace{nullptr};
};

// A view of the proxy with a queue of its own: several diagnostic clients (the connection's and a
// discovery check's) share one open device without taking each other's frames.
class ProxyPort : public CANBusDevice {
public:
    explicit ProxyPort(MultiReceiveCanProxy* proxy);
    ~ProxyPort() override;

    QueuedReceiver& queue() { return ownQueue; }

    void CAN_SetConfig(const CanDeviceConfig&) override {}
    uint16_t CAN_InitDriver() override { return 1; }
    uint16_t CAN_CloseDriver() override { return 1; }
    uint16_t CAN_SendData(uint32_t identifier, const uint8_t* data, uint32_t length) override;
    uint16_t CAN_ReadData(uint32_t* identifier, uint8_t* data, uint8_t* length) override;
    uint16_t CAN_ReadDataBlock(uint32_t, CanFrame*, uint32_t* count) override;
    int32_t CAN_GetDeviceType() override { return proxy->CAN_GetDeviceType(); }
    void CAN_SetInterface(const char*) override {}

private:
    MultiReceiveCanProxy* const proxy;
    QueuedReceiver ownQueue;
};

// Pops one frame of `queue` in CAN_ReadData form: 0 with the frame, 255 when the queue is empty.
uint16_t readQueuedFrame(QueuedReceiver& queue, uint32_t* identifier, uint8_t* data, uint8_t* length);
