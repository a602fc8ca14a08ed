#pragma once

#include "udp-transport/cycleentry.h"
#include "udp-transport/packetlist.h"

#include <cstdint>
#include <map>

// Reassembly state of one SubDevice (DSP or KP).
struct DeviceStreamState {
    struct MultiPartProgress {
        std::uint16_t lastPart = 0;
        std::uint16_t numberOfParts = 0;
    };

    bool hasPrevious = false;
    std::uint32_t previousPacketCounter = 0;
    std::uint32_t previousChannelId = 0;
    std::uint32_t previousCycleCounter = 0;

    // Channel id -> last part seen; only used to report parts that arrive out of order.
    std::map<std::uint32_t, MultiPartProgress> multiPartTracker;

    bool cycleStart = false; // a datagram with index 0 in its cycle arrived since the last complete hand-out
    bool collecting = false; // datagrams are kept only after a cycle start

    PacketList packets;
    // Ordered by cycle id (unsigned), oldest first.
    std::map<std::uint32_t, CycleEntry> cycles;
    // What the cycle map holds (channel bytes plus a fixed charge per channel), kept below a bound
    // so that no stream can make it grow without end.
    std::uint64_t storedBytes = 0;
    // The cycle whose channel limit was last reported (one log line per cycle, not per channel).
    std::uint32_t channelLimitCycle = 0;
    bool channelLimitReported = false;

    std::uint32_t lastCompleteId = 0;
    bool lastCompleteSet = false;
    std::uint32_t lastPartialId = 0;
    bool lastPartialSet = false;

    // Back to waiting for a cycle start after a gap or an unfinished channel. The multi-part
    // tracker survives, everything else is cleared.
    void reset() {
        hasPrevious = false;
        previousPacketCounter = previousChannelId = previousCycleCounter = 0;
        cycleStart = collecting = false;
        packets.clear();
        cycles.clear();
        storedBytes = 0;
        channelLimitReported = false;
        lastCompleteId = lastPartialId = 0;
        lastCompleteSet = lastPartialSet = false;
    }
};
