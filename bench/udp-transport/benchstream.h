#pragma once
// A realistic result stream for the benchmarks: per cycle the DSP sends the algorithm output
// (channel 8, about 30 kB) with its description and the parameter channels 14/15, the KP sends
// channels 256/257; datagrams of at most 1472 bytes.

#include "udp-transport/streamencoder.h"

#include <cstdint>
#include <vector>

namespace benchstream {

using udpframing::Bytes;

inline Bytes pattern(std::size_t size, std::uint32_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 2654435761u + seed) >> 13);
    return bytes;
}

inline std::vector<udpframing::FramedChannel> dspChannels(std::uint32_t seed) {
    using udpframing::makeChannel;
    return {makeChannel(8, pattern(30000, seed)), makeChannel(9, pattern(3000, seed + 1)),
            makeChannel(14, pattern(2000, seed + 2)), makeChannel(15, pattern(1200, seed + 3))};
}

inline std::vector<udpframing::FramedChannel> kpChannels(std::uint32_t seed) {
    using udpframing::makeChannel;
    return {makeChannel(256, pattern(1200, seed)), makeChannel(257, pattern(2500, seed + 1))};
}

} // namespace benchstream
