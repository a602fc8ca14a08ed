#pragma once
// The sensor's error memory: trouble codes (24 bit) with their status bytes. The diagnostic
// server reads and clears it on the bus thread; the scene or a test adds codes from any thread.

#include <cstdint>
#include <mutex>
#include <vector>

namespace trvsim {

struct TroubleCode {
    uint32_t code = 0; // 24 bit
    uint8_t status = 0;
};

class ErrorMemory {
public:
    // A few codes a sensor collects in its life: supply voltage low once, illumination
    // temperature high (confirmed), CAN bus-off once.
    ErrorMemory() : m_codes{{0xD00116, 0x08}, {0x9A0498, 0x09}, {0xC07388, 0x28}} {}

    // Adds a code or merges the status into one that is there.
    void add(uint32_t code, uint8_t status) {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto& c : m_codes)
            if (c.code == (code & 0xFFFFFF)) {
                c.status |= status;
                return;
            }
        if (m_codes.size() < kLimit)
            m_codes.push_back({code & 0xFFFFFF, status});
    }
    void clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_codes.clear();
    }
    // The codes whose status shares a bit with mask.
    std::vector<TroubleCode> matching(uint8_t mask) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<TroubleCode> out;
        for (const auto& c : m_codes)
            if (c.status & mask)
                out.push_back(c);
        return out;
    }

private:
    static constexpr std::size_t kLimit = 200; // an answer holds at most 1022 records
    mutable std::mutex m_mutex;
    std::vector<TroubleCode> m_codes;
};

} // namespace trvsim
