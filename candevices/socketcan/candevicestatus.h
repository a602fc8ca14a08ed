#pragma once
// Status values the CAN interface plug-in returns. 0, 2 and 209 carry the meanings the controller
// maps to its result codes; the others are this plug-in's own.

#include <cstdint>

namespace CanDeviceStatus {
constexpr uint16_t Ok = 0;
constexpr uint16_t NotOpen = 1;        // CAN_InitDriver has not opened the interface
constexpr uint16_t Unreachable = 2;    // the interface does not exist, is down or cannot be reached
constexpr uint16_t ConnectionLost = 3; // it was open and went away; reconnecting
constexpr uint16_t SendFailed = 4;     // the back-end refused the frame or stayed full for 100 ms
constexpr uint16_t InvalidArgument = 5;
constexpr uint16_t OpenFailed = 6; // opening failed for another reason (see the log)
constexpr uint16_t HeldByOther = 209;
constexpr uint16_t NoFrame = 255;
} // namespace CanDeviceStatus
