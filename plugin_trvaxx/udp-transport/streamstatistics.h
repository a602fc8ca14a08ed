#pragma once

#include <cstdint>

// Running counters of the result stream; they only grow.
struct StreamStatistics {
    std::uint64_t dspPackets = 0;
    std::uint64_t kpPackets = 0;
    std::uint64_t missingPacketEvents = 0;
    std::uint64_t lrcErrors = 0;
    std::uint64_t startDelimiterErrors = 0;
    std::uint64_t endDelimiterErrors = 0;
    // Channels whose announced total length exceeds the payload bytes that arrived.
    std::uint64_t truncatedChannels = 0;
    // Channels dropped because their cycle already held CycleAssembler::kMaxChannelsPerCycle.
    std::uint64_t channelsOverLimit = 0;
    // CAN gateway beacons that arrived on the port: set aside, not damage.
    std::uint64_t canBeacons = 0;
};
