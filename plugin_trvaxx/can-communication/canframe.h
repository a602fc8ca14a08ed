#pragma once
// One CAN frame as it crosses the boundary to the CAN interface plug-ins. Arrays of frames have a
// stride of 16 bytes, so the layout is fixed here and checked at compile time.

#include <cstdint>

struct CanFrame {
    // The identifier as a plain number, no flag bits. Identifiers up to 0x7FF travel as 11-bit
    // frames (CANopen), all others as 29-bit extended frames.
    uint32_t identifier = 0;
    uint8_t data[8] = {};
    uint8_t length = 0; // valid data bytes, 0..8
};
static_assert(sizeof(CanFrame) == 16, "CanFrame arrays cross the plug-in boundary at a 16-byte stride");

// Largest identifier sent as a standard (11-bit) frame.
constexpr uint32_t kCanMaxStandardId = 0x7FF;
inline bool isExtendedCanId(uint32_t identifier) {
    return identifier > kCanMaxStandardId;
}
