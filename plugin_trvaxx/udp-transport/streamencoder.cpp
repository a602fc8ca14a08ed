#include "udp-transport/streamencoder.h"

#include <algorithm>
#include <stdexcept>

namespace udpframing {

Bytes frameChannel(const std::uint8_t* body, std::size_t size, ChannelHeader header, bool withLrc,
                   std::uint32_t endDelimiter) {
    Bytes channel(size + kChannelFramingSize);
    if (size > 0)
        std::copy(body, body + size, channel.begin() + kChannelHeaderSize);
    if (withLrc) {
        header.lrc = 0;
        computeLrc(channel.data() + kChannelHeaderSize, static_cast<long long>(size), header.lrc);
    }
    header.write(channel.data());
    writeU32(channel.data() + channel.size() - kEndDelimiterSize, endDelimiter);
    return channel;
}

FramedChannel makeChannel(std::uint32_t channelId, const Bytes& body, std::uint32_t rollingCounter) {
    ChannelHeader header;
    header.rollingCounter = rollingCounter;
    header.partSize = static_cast<std::uint32_t>(body.size());
    header.totalSize = static_cast<std::uint32_t>(body.size());
    return {channelId, frameChannel(body.data(), body.size(), header)};
}

std::vector<FramedChannel> makeParts(std::uint32_t channelId, const Bytes& body, std::uint16_t parts,
                                     std::uint32_t rollingCounter) {
    if (parts == 0)
        throw std::invalid_argument("a transmission has at least one part");
    std::vector<FramedChannel> result;
    const std::size_t piece = (body.size() + parts - 1) / parts;
    for (std::uint16_t k = 0; k < parts; ++k) {
        const std::size_t offset = std::min(body.size(), k * piece);
        const std::size_t size = std::min(piece, body.size() - offset);
        ChannelHeader header;
        header.rollingCounter = rollingCounter;
        header.currentPart = k;
        header.numberOfParts = parts;
        header.offset = static_cast<std::uint32_t>(offset);
        header.partSize = static_cast<std::uint32_t>(size);
        header.totalSize = static_cast<std::uint32_t>(body.size());
        result.push_back({channelId, frameChannel(body.data() + offset, size, header)});
    }
    return result;
}

StreamEncoder::StreamEncoder(std::uint16_t subDevice, std::size_t maxDatagramSize, std::uint16_t version)
    : m_subDevice(subDevice), m_maxPayload(maxDatagramSize - kDatagramHeaderSize), m_version(version) {
    if (maxDatagramSize <= kDatagramHeaderSize)
        throw std::invalid_argument("datagram size leaves no room for a payload");
}

std::vector<Bytes> StreamEncoder::encodeCycle(std::uint32_t cycleCounter,
                                              const std::vector<FramedChannel>& channels) {
    std::size_t total = 0;
    for (const FramedChannel& channel : channels)
        total += std::max<std::size_t>(1, (channel.bytes.size() + m_maxPayload - 1) / m_maxPayload);

    std::vector<Bytes> datagrams;
    datagrams.reserve(total);
    for (const FramedChannel& channel : channels) {
        const std::size_t size = channel.bytes.size();
        const std::size_t count = std::max<std::size_t>(1, (size + m_maxPayload - 1) / m_maxPayload);
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t offset = i * m_maxPayload;
            const std::size_t payload = std::min(m_maxPayload, size - std::min(size, offset));
            DatagramHeader header;
            header.version = m_version;
            header.subDevice = m_subDevice;
            header.packetCounter = m_packetCounter++;
            header.cycleCounter = cycleCounter;
            header.packetsInCycle = static_cast<std::uint16_t>(total);
            header.indexInCycle = static_cast<std::uint16_t>(datagrams.size());
            header.packetsInChannel = static_cast<std::uint16_t>(count);
            header.indexInChannel = static_cast<std::uint16_t>(i);
            header.channelId = channel.channelId;
            header.totalLength = static_cast<std::uint32_t>(size);
            header.payloadLength = static_cast<std::uint32_t>(payload);
            Bytes datagram(kDatagramHeaderSize + payload);
            header.write(datagram.data());
            std::copy_n(channel.bytes.begin() + static_cast<std::ptrdiff_t>(offset), payload,
                        datagram.begin() + kDatagramHeaderSize);
            datagrams.push_back(std::move(datagram));
        }
    }
    return datagrams;
}

} // namespace udpframing
