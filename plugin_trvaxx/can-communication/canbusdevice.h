#pragma once
// The abstract CAN interface that CAN interface plug-ins ("trvaxx_candevice_*.so") implement.
// The controller never reads a device directly: MultiReceiveCanProxy owns the only reading
// thread and fans frames out to its receivers. The virtual slots keep their order, since
// plug-ins built separately depend on it; new operations are appended at the end.

#include "can-communication/candeviceconfig.h"
#include "can-communication/canframe.h"

#include <QtPlugin>
#include <cstdint>

class CANBusDevice {
public:
    virtual ~CANBusDevice() = default;
    // Stores the configuration used by the next CAN_InitDriver.
    virtual void CAN_SetConfig(const CanDeviceConfig& config) = 0;
    // Opens the interface. 0 opened; 2 the interface does not exist or cannot be reached; 209 it
    // exists but another program holds it; any other value another failure.
    virtual uint16_t CAN_InitDriver() = 0;
    virtual uint16_t CAN_CloseDriver() = 0;
    // Transmits one frame; 0 = sent. Thread-safe: several threads send at once. The diagnostic
    // layer always passes length 8.
    virtual uint16_t CAN_SendData(uint32_t identifier, const uint8_t* data, uint32_t length) = 0;
    // Takes one received frame without waiting: 0 = a frame was delivered, anything else = none.
    virtual uint16_t CAN_ReadData(uint32_t* identifier, uint8_t* data, uint8_t* length) = 0;
    // Waits up to timeoutMs for received frames and delivers all that are there, at most *count
    // (the capacity of frames on entry); *count is the number delivered on return. 0 = success,
    // even with no frame. Always returns within the time-out.
    virtual uint16_t CAN_ReadDataBlock(uint32_t timeoutMs, CanFrame* frames, uint32_t* count) = 0;
    // 1 CANFox, 2 Vector, 3 PEAK (the Linux plug-in reports 3).
    virtual int32_t CAN_GetDeviceType() = 0;
    // Which interface the next CAN_InitDriver opens: "socketcand://HOST:PORT/BUS",
    // "qtcanbus://BACKEND/INTERFACE" or a kernel interface name ("can0"). Empty: the default
    // (TRVAXX_CAN_INTERFACE, then the setting "plugin_trvaxx/can_interface", then
    // "socketcand://127.0.0.1:29536/can0").
    virtual void CAN_SetInterface(const char* url) = 0;
};

#define CANBusDevice_iid "Vexa.OrlanGUI.trvaxx.CANBusDevice/1.0"
Q_DECLARE_INTERFACE(CANBusDevice, CANBusDevice_iid)
