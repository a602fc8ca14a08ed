#pragma once
// The datagrams of one cycle: fixed-size slots reused from cycle to cycle, plus the send list
// (slot and length, in order) that the fault injector may thin out, repeat, reorder or shorten
// without copying a byte.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace trvsim {

// Largest datagram the sensor sends: an Ethernet frame's UDP payload.
constexpr std::size_t kMaxDatagramSize = 1472;

class DatagramBatch {
public:
    struct Send {
        uint32_t slot;
        uint16_t length;
    };

    void clear() {
        m_used = 0;
        m_sends.clear();
    }
    // A fresh slot of kMaxDatagramSize bytes, queued for sending with the given length.
    uint8_t* append(uint16_t length) {
        if (m_used == m_slots.size())
            m_slots.emplace_back();
        m_sends.push_back({static_cast<uint32_t>(m_used), length});
        return m_slots[m_used++].data();
    }
    uint8_t* slot(uint32_t index) { return m_slots[index].data(); }
    const uint8_t* slot(uint32_t index) const { return m_slots[index].data(); }
    std::vector<Send>& sends() { return m_sends; }
    const std::vector<Send>& sends() const { return m_sends; }
    std::size_t slotsUsed() const { return m_used; }

private:
    std::vector<std::array<uint8_t, kMaxDatagramSize>> m_slots;
    std::size_t m_used = 0;
    std::vector<Send> m_sends;
};

} // namespace trvsim
