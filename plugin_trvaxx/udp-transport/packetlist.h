#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Copies of the datagrams of the channel being received (header included), kept in one
// contiguous store that is reused from channel to channel, so collecting allocates nothing in
// the steady state.
class PacketList {
public:
    struct Packet {
        const std::uint8_t* bytes;
        std::size_t length;
    };

    void append(const std::uint8_t* bytes, std::size_t length) {
        m_offsets.push_back(m_store.size());
        m_store.insert(m_store.end(), bytes, bytes + length);
    }
    void clear() {
        m_store.clear();
        m_offsets.clear();
    }
    bool empty() const { return m_offsets.empty(); }
    std::size_t size() const { return m_offsets.size(); }
    // Total bytes of all datagrams (headers included).
    std::size_t byteCount() const { return m_store.size(); }
    Packet operator[](std::size_t i) const {
        const std::size_t end = i + 1 < m_offsets.size() ? m_offsets[i + 1] : m_store.size();
        return {m_store.data() + m_offsets[i], end - m_offsets[i]};
    }

private:
    std::vector<std::uint8_t> m_store;
    std::vector<std::size_t> m_offsets;
};
