#pragma once
// CANBusDevice for Linux over Qt's CAN back-ends or a socketcand server, device type 3. The
// plug-in module wraps it (socketcanplugin.h); tests use it directly to run several at once.

#include "can-communication/canbusdevice.h"
#include "candevices/socketcan/receivequeue.h"

#include <memory>
#include <mutex>
#include <string>

class TransportThread;

class SocketCanDevice : public CANBusDevice {
public:
    SocketCanDevice();
    ~SocketCanDevice() override;
    SocketCanDevice(const SocketCanDevice&) = delete;
    SocketCanDevice& operator=(const SocketCanDevice&) = delete;

    void CAN_SetConfig(const CanDeviceConfig& config) override;
    uint16_t CAN_InitDriver() override;
    uint16_t CAN_CloseDriver() override;
    uint16_t CAN_SendData(uint32_t identifier, const uint8_t* data, uint32_t length) override;
    uint16_t CAN_ReadData(uint32_t* identifier, uint8_t* data, uint8_t* length) override;
    uint16_t CAN_ReadDataBlock(uint32_t timeoutMs, CanFrame* frames, uint32_t* count) override;
    int32_t CAN_GetDeviceType() override { return 3; }
    void CAN_SetInterface(const char* url) override;

private:
    std::shared_ptr<TransportThread> transport() const;

    mutable std::mutex m_mutex; // guards the fields below; never held while waiting on the bus
    CanDeviceConfig m_config;
    std::string m_interface;
    std::shared_ptr<TransportThread> m_transport;

    std::mutex m_openMutex; // one open or close at a time
    ReceiveQueue m_queue;
};
