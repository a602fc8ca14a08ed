#pragma once
// Sender side of the result stream: frames channel bodies (header, LRC, end delimiter), splits
// large channels into parts for a multi-cycle transmission and cuts a cycle's channels into
// datagrams with the running counters of one SubDevice. Used by the virtual sensor, the tests,
// the benchmarks and the fuzz seed generator; it shares nothing with the receiving side but the
// wire layout.

#include "udp-transport/udpframing.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace udpframing {

using Bytes = std::vector<std::uint8_t>;

// One channel as sent: its number and its framed bytes (channel header ... end delimiter).
struct FramedChannel {
    std::uint32_t channelId = 0;
    Bytes bytes;
};

// Frames `body` as one channel. The header's startDelimiter, currentPart, numberOfParts, offset,
// partSize and totalSize are taken from `header`; with `withLrc` the LRC is computed (0 for an
// empty body), else the transmitted LRC stays `header.lrc`.
Bytes frameChannel(const std::uint8_t* body, std::size_t size, ChannelHeader header, bool withLrc = true,
                   std::uint32_t endDelimiter = kEndDelimiter);
// A complete single-part channel.
FramedChannel makeChannel(std::uint32_t channelId, const Bytes& body, std::uint32_t rollingCounter = 0);
// The parts of a multi-cycle transmission of `body` in `parts` nearly equal pieces; part k is to be
// sent in the k-th cycle from the first.
std::vector<FramedChannel> makeParts(std::uint32_t channelId, const Bytes& body, std::uint16_t parts,
                                     std::uint32_t rollingCounter = 0);

class StreamEncoder {
public:
    static constexpr std::size_t kDefaultDatagramSize = 1472; // one Ethernet frame

    explicit StreamEncoder(std::uint16_t subDevice, std::size_t maxDatagramSize = kDefaultDatagramSize,
                           std::uint16_t version = 3);

    // The datagrams of one cycle, in sending order; advances the packet counter.
    std::vector<Bytes> encodeCycle(std::uint32_t cycleCounter, const std::vector<FramedChannel>& channels);

    std::uint32_t packetCounter() const { return m_packetCounter; }
    void setPacketCounter(std::uint32_t next) { m_packetCounter = next; }
    std::uint16_t subDevice() const { return m_subDevice; }

private:
    std::uint16_t m_subDevice;
    std::size_t m_maxPayload;
    std::uint16_t m_version;
    std::uint32_t m_packetCounter = 0;
};

} // namespace udpframing
