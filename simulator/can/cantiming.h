#pragma once
// How long a frame occupies the bus: the bit count of a data frame from start of frame to the end
// of the interframe space (11-bit: 47 + 8n bits, 29-bit: 67 + 8n bits). Stuff bits are not
// counted: they depend on the bits sent, and the bus limits our measurements are compared
// against (7 payload bytes per 131-bit frame) count none either.

#include "simulator/can/simcanbus.h"

namespace trvsim {

constexpr uint32_t canFrameBits(const SimCanFrame& frame) {
    const uint32_t dataBits = 8u * (frame.length > 8 ? 8u : frame.length);
    return (frame.extended ? 67u : 47u) + dataBits;
}

inline SimClock::duration canFrameTime(const SimCanFrame& frame, uint32_t bitRate) {
    if (bitRate == 0)
        return {};
    return std::chrono::duration_cast<SimClock::duration>(
        std::chrono::nanoseconds(uint64_t{canFrameBits(frame)} * 1000000000u / bitRate));
}

} // namespace trvsim
