#include "udp-transport/reassemblypool.h"

#include <utility>

ReassemblyPool::Bytes ReassemblyPool::takeBytes() {
    if (m_bytes.empty())
        return std::make_shared<std::vector<std::uint8_t>>();
    Bytes bytes = std::move(m_bytes.back());
    m_bytes.pop_back();
    return bytes;
}

void ReassemblyPool::giveBack(Bytes bytes) {
    // use_count 1: no consumer kept the vector beyond the hand-out, so nobody else can see it.
    if (!bytes || bytes.use_count() != 1 || bytes->capacity() > kMaxSpareCapacity ||
        m_bytes.size() >= kMaxSpareBuffers)
        return;
    bytes->clear();
    m_bytes.push_back(std::move(bytes));
}

void ReassemblyPool::erase(Cycles& cycles, Cycles::iterator it) {
    for (ChannelBuffer& channel : it->second.channels)
        giveBack(std::move(channel.data));
    Cycles::node_type node = cycles.extract(it);
    if (m_nodes.size() >= kMaxSpareNodes)
        return;
    node.mapped().channels.clear();
    m_nodes.push_back(std::move(node));
}

ReassemblyPool::Cycles::iterator ReassemblyPool::insert(Cycles& cycles, std::uint32_t id) {
    if (m_nodes.empty())
        return cycles.emplace(id, CycleEntry{id, {}}).first;
    Cycles::node_type node = std::move(m_nodes.back());
    m_nodes.pop_back();
    node.key() = id;
    node.mapped().cycleId = id;
    return cycles.insert(std::move(node)).position;
}
