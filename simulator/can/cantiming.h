#pragma once
// How long a frame occupies the bus: the bit count of a data frame (11-bit: 47 + 8n bits,
// 29-bit: 67 + 8n bits, from start of frame to the end of the interframe space) plus the worst
// case of stuff bits over the stuffed part (start of frame to the end of the CRC).

#include "simulator/can/simcanbus.h"

namespace trvsim {

constexpr uint32_t canFrameBits(const SimCanFrame& frame) {
    const uint32_t dataBits = 8u * (frame.length > 8 ? 8u : frame.length);
    const uint32_t stuffed = (frame.extended ? 54u : 34u) + dataBits;
    return (frame.extended ? 67u : 47u) + dataBits + (stuffed - 1) / 4;
}

inline SimClock::duration canFrameTime(const SimCanFrame& frame, uint32_t bitRate) {
    if (bitRate == 0)
        return {};
    return std::chrono::duration_cast<SimClock::duration>(
        std::chrono::nanoseconds(uint64_t{canFrameBits(frame)} * 1000000000u / bitRate));
}

} // namespace trvsim
