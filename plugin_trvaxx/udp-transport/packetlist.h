#pragma once

#include "udp-transport/udpframing.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// The datagrams of the channel being received: their headers, and their payloads joined in one
// store. When the payloads add up to the channel, the store becomes the channel's buffer as it
// is, so the bytes are copied once on their way from the socket to the consumer. Collecting
// allocates nothing in the steady state.
class PacketList {
public:
    using Store = std::shared_ptr<std::vector<std::uint8_t>>;
    struct Payload {
        const std::uint8_t* bytes;
        std::size_t length;
    };

    // A datagram of at least a header's length.
    void append(const std::uint8_t* bytes, std::size_t length) {
        if (!m_store)
            m_store = std::make_shared<std::vector<std::uint8_t>>();
        m_headers.insert(m_headers.end(), bytes, bytes + udpframing::kDatagramHeaderSize);
        m_offsets.push_back(m_store->size());
        m_store->insert(m_store->end(), bytes + udpframing::kDatagramHeaderSize, bytes + length);
    }
    void clear() {
        m_headers.clear();
        m_offsets.clear();
        if (m_store)
            m_store->clear();
    }
    bool empty() const { return m_offsets.empty(); }
    std::size_t size() const { return m_offsets.size(); }
    const std::uint8_t* header(std::size_t i) const {
        return m_headers.data() + i * udpframing::kDatagramHeaderSize;
    }
    Payload payload(std::size_t i) const {
        const std::size_t end = i + 1 < m_offsets.size() ? m_offsets[i + 1] : m_store->size();
        return {m_store->data() + m_offsets[i], end - m_offsets[i]};
    }
    // All payloads, joined (null while nothing was appended).
    const std::uint8_t* joined() const { return m_store ? m_store->data() : nullptr; }
    std::size_t payloadBytes() const { return m_store ? m_store->size() : 0; }
    // Hands out the joined payloads and continues with `fresh` (empty) as the store.
    Store takeStore(Store fresh) {
        Store taken = std::move(m_store);
        m_store = std::move(fresh);
        clear();
        return taken;
    }

private:
    std::vector<std::uint8_t> m_headers;
    std::vector<std::size_t> m_offsets;
    Store m_store;
};
