#pragma once
// One open CAN device shared by every controller of the process that uses it (a connection and a
// discovery check may use the same interface at once). The first user opens the device and starts
// the proxy's reading thread; the device is closed when the last user lets go, so a check never
// closes a device that a live connection reads.

#include "can-communication/candeviceconfig.h"

#include <QByteArray>

#include <memory>

class CANBusDevice;
class CanTrace;
class MultiReceiveCanProxy;
class QString;

class CanDeviceSession {
public:
    // Opens `device` with `config` and the interface `url` (empty: the device's default), or joins
    // the session already open on it. Returns the CAN_InitDriver status: 0 with `session` set; 209
    // when the device is open with another bit rate or interface. A new session traces every frame
    // into `tracePath` when it is not empty.
    static uint16_t open(CANBusDevice* device, const CanDeviceConfig& config, const QByteArray& url,
                         const QString& tracePath, std::shared_ptr<CanDeviceSession>& session);
    // Whether the device is open in a session now, and if so with which bit rate and interface
    // (bit rate 0 while its session is still starting).
    static bool isOpen(CANBusDevice* device, uint32_t* bitRate = nullptr, QByteArray* url = nullptr);

    // Stops the reading thread, then closes the device.
    ~CanDeviceSession();
    CanDeviceSession(const CanDeviceSession&) = delete;
    CanDeviceSession& operator=(const CanDeviceSession&) = delete;

    CANBusDevice* device() const { return dev; }
    MultiReceiveCanProxy* proxy() const { return prox.get(); }
    uint32_t bitRate() const { return config.bitRate; }

private:
    CanDeviceSession(CANBusDevice* device, const CanDeviceConfig& config, const QByteArray& url,
                     const QString& tracePath);

    CANBusDevice* const dev;
    const CanDeviceConfig config;
    const QByteArray url;
    std::unique_ptr<CanTrace> trace; // outlives the proxy that writes to it
    std::unique_ptr<MultiReceiveCanProxy> prox;
};
