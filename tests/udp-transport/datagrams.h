#pragma once
// Stream material shared by the transport tests: recognisable channel bodies and flood cycles.

#include "udp-transport/streamencoder.h"

namespace udpframing {

// Bytes that differ per seed and per position, so that misplaced or mixed-up copies show.
inline Bytes pattern(std::size_t size, std::uint8_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(seed + i * 13 + (i >> 8));
    return bytes;
}

// A cycle of `channels` channels of one datagram each (empty bodies), as a flood would send it.
inline std::vector<Bytes> floodCycle(StreamEncoder& encoder, std::uint32_t cycle, std::uint32_t channels) {
    std::vector<FramedChannel> framed;
    for (std::uint32_t id = 0; id < channels; ++id)
        framed.push_back(makeChannel(id, {}));
    return encoder.encodeCycle(cycle, framed);
}

} // namespace udpframing
