#pragma once

#include "udp-transport/cycleentry.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

// Channel byte vectors and cycle map nodes handed back when their cycle is erased, reused by the
// next channels and cycles, so that a steady stream allocates nothing per channel or cycle. What
// it keeps is bounded in count and size; vectors a consumer still holds are left to it.
class ReassemblyPool {
public:
    using Cycles = std::map<std::uint32_t, CycleEntry>;
    using Bytes = std::shared_ptr<std::vector<std::uint8_t>>;

    static constexpr std::size_t kMaxSpareBuffers = 64;
    static constexpr std::size_t kMaxSpareCapacity = 1u << 20;
    static constexpr std::size_t kMaxSpareNodes = 4;

    // An empty vector, with the capacity of an earlier channel when one is spare.
    Bytes takeBytes();
    void giveBack(Bytes bytes);
    // Removes `it` from `cycles`, keeping its node and its channels' vectors for reuse.
    void erase(Cycles& cycles, Cycles::iterator it);
    // Inserts an empty cycle `id` (which must not be in `cycles`) into a kept node when there is one.
    Cycles::iterator insert(Cycles& cycles, std::uint32_t id);

private:
    std::vector<Bytes> m_bytes;
    std::vector<Cycles::node_type> m_nodes;
};
