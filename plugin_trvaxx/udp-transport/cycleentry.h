#pragma once

#include "udp-transport/channelbuffer.h"

#include <cstdint>
#include <vector>

// The channels of one measurement cycle of one SubDevice, in order of arrival. Channels sent in
// several parts belong to the cycle in which their part 0 was sent.
struct CycleEntry {
    std::uint32_t cycleId = 0;
    std::vector<ChannelBuffer> channels;
};
