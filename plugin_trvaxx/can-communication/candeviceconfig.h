#pragma once
// Configuration handed to CANBusDevice::CAN_SetConfig before CAN_InitDriver.

#include <cstdint>

struct CanDeviceConfig {
    uint32_t bitRate = 250000; // bit/s
    // Six option bytes whose meaning belongs to the interface implementation. The controller
    // fills them with 1, 23, 1, 1, (left as it was), 1 and never varies them.
    uint8_t options[6] = {1, 23, 1, 1, 0, 1};
};
