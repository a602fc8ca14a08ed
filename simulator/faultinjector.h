#pragma once
// Plays the configured transmission faults on a cycle's datagrams: channel faults are decided
// before framing (checksum, delimiters), datagram faults on the finished send list (loss,
// duplicates, reordering, truncation). Seeded, so a run misbehaves the same way every time.

#include "simulator/datagrambatch.h"
#include "simulator/datagramcomposer.h"
#include "simulator/simconfig.h"

#include <cstdint>
#include <random>
#include <vector>

namespace trvsim {

struct FaultCounts {
    uint64_t dropped = 0;
    uint64_t duplicated = 0;
    uint64_t reordered = 0;
    uint64_t truncated = 0;
    uint64_t badLrc = 0;
    uint64_t badStart = 0;
    uint64_t badEnd = 0;
};

class FaultInjector {
public:
    FaultInjector(const FaultConfig& config, uint32_t seed);

    // Faults of the next channel to be framed.
    ChannelFaults nextChannel();
    // Applies the datagram faults to the sends of batch from index first on.
    void applyToDatagrams(DatagramBatch& batch, std::size_t first = 0);

    const FaultCounts& counts() const { return m_counts; }

private:
    bool draw(double share);

    FaultConfig m_config;
    std::mt19937 m_random;
    std::uniform_real_distribution<double> m_unit{0.0, 1.0};
    std::vector<DatagramBatch::Send> m_scratch;
    FaultCounts m_counts;
};

} // namespace trvsim
