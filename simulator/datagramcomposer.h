#pragma once
// Frames the channels of one sub-device's cycle (channel header, LRC, end delimiter) and splits
// them into datagrams of at most kMaxDatagramSize bytes with their datagram headers. Keeps the
// sub-device's running datagram counter and rolling channel counter.

#include "simulator/datagrambatch.h"

#include <cstddef>
#include <cstdint>

namespace trvsim {

struct ChannelFaults {
    bool badLrc = false;
    bool badStart = false;
    bool badEnd = false;
};

// One channel (or one part of a channel sent over several cycles) to be framed.
struct ChannelPart {
    uint32_t channel = 0;
    const uint8_t* body = nullptr; // the bytes of this part
    uint32_t bodySize = 0;
    uint16_t currentPart = 0;
    uint16_t numberOfParts = 1;
    uint32_t offset = 0;    // of this part in the joined channel
    uint32_t totalSize = 0; // of the joined channel (bodySize for a single part)
    ChannelFaults faults;
};

class DatagramComposer {
public:
    static constexpr uint16_t kHeaderVersion = 3;

    explicit DatagramComposer(uint16_t subDevice, uint32_t firstPacketCounter = 0);

    // Appends the datagrams of one cycle to out. withLrc false sends 0 ("not transmitted").
    void compose(uint32_t cycleCounter, const ChannelPart* parts, std::size_t count, DatagramBatch& out,
                 bool withLrc = true);

    uint16_t subDevice() const { return m_subDevice; }
    uint32_t nextPacketCounter() const { return m_packetCounter; }

    // Datagrams a channel part of bodySize bytes takes.
    static std::size_t datagramsFor(uint32_t bodySize);

private:
    uint16_t m_subDevice;
    uint32_t m_packetCounter;
    uint32_t m_rollingCounter = 0;
};

} // namespace trvsim
