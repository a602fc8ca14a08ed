#include "simulator/datagramcomposer.h"

#include "udp-transport/udpframing.h"

#include <algorithm>
#include <cstring>

namespace trvsim {

namespace {
constexpr std::size_t kMaxPayload = kMaxDatagramSize - udpframing::kDatagramHeaderSize;
} // namespace

DatagramComposer::DatagramComposer(uint16_t subDevice, uint32_t firstPacketCounter)
    : m_subDevice(subDevice), m_packetCounter(firstPacketCounter) {}

std::size_t DatagramComposer::datagramsFor(uint32_t bodySize) {
    const std::size_t channelLength = bodySize + udpframing::kChannelFramingSize;
    return (channelLength + kMaxPayload - 1) / kMaxPayload;
}

void DatagramComposer::compose(uint32_t cycleCounter, const ChannelPart* parts, std::size_t count,
                               DatagramBatch& out, bool withLrc) {
    std::size_t inCycle = 0;
    for (std::size_t c = 0; c < count; ++c)
        inCycle += datagramsFor(parts[c].bodySize);

    std::size_t indexInCycle = 0;
    for (std::size_t c = 0; c < count; ++c) {
        const ChannelPart& part = parts[c];
        uint8_t head[udpframing::kChannelHeaderSize];
        uint8_t tail[udpframing::kEndDelimiterSize];

        udpframing::ChannelHeader ch;
        ch.startDelimiter = part.faults.badStart ? ~udpframing::kStartDelimiter : udpframing::kStartDelimiter;
        uint32_t lrc = 0;
        if (withLrc || part.faults.badLrc) {
            udpframing::computeLrc(part.body, part.bodySize, lrc);
            if (part.faults.badLrc)
                lrc = ~lrc == 0 ? 1u : ~lrc; // differs, and never the "not transmitted" 0
        }
        ch.lrc = lrc;
        ch.rollingCounter = m_rollingCounter++;
        ch.currentPart = part.currentPart;
        ch.numberOfParts = part.numberOfParts;
        ch.offset = part.offset;
        ch.partSize = part.bodySize;
        ch.totalSize = part.totalSize;
        ch.write(head);
        udpframing::writeU32(tail,
                             part.faults.badEnd ? ~udpframing::kEndDelimiter : udpframing::kEndDelimiter);

        const std::size_t channelLength = part.bodySize + udpframing::kChannelFramingSize;
        const std::size_t inChannel = datagramsFor(part.bodySize);
        // Copies channel bytes [from, from + n) of head | body | tail to dst.
        auto copyChannel = [&](uint8_t* dst, std::size_t from, std::size_t n) {
            const std::size_t bodyEnd = udpframing::kChannelHeaderSize + part.bodySize;
            while (n > 0) {
                std::size_t chunk;
                if (from < udpframing::kChannelHeaderSize) {
                    chunk = std::min(n, udpframing::kChannelHeaderSize - from);
                    std::memcpy(dst, head + from, chunk);
                } else if (from < bodyEnd) {
                    chunk = std::min(n, bodyEnd - from);
                    std::memcpy(dst, part.body + (from - udpframing::kChannelHeaderSize), chunk);
                } else {
                    chunk = std::min(n, channelLength - from);
                    std::memcpy(dst, tail + (from - bodyEnd), chunk);
                }
                dst += chunk;
                from += chunk;
                n -= chunk;
            }
        };

        for (std::size_t k = 0; k < inChannel; ++k) {
            const std::size_t from = k * kMaxPayload;
            const std::size_t payload = std::min(kMaxPayload, channelLength - from);
            uint8_t* dgram = out.append(static_cast<uint16_t>(udpframing::kDatagramHeaderSize + payload));
            udpframing::DatagramHeader h;
            h.version = kHeaderVersion;
            h.subDevice = m_subDevice;
            h.packetCounter = m_packetCounter++;
            h.cycleCounter = cycleCounter;
            h.packetsInCycle = static_cast<uint16_t>(inCycle);
            h.indexInCycle = static_cast<uint16_t>(indexInCycle++);
            h.packetsInChannel = static_cast<uint16_t>(inChannel);
            h.indexInChannel = static_cast<uint16_t>(k);
            h.channelId = part.channel;
            h.totalLength = static_cast<uint32_t>(channelLength);
            h.payloadLength = static_cast<uint32_t>(payload);
            h.write(dgram);
            copyChannel(dgram + udpframing::kDatagramHeaderSize, from, payload);
        }
    }
}

} // namespace trvsim
