#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// One reassembled channel: its body bytes (channel header and end delimiter removed) and, for a
// channel sent in several parts over several cycles, which parts have arrived.
struct ChannelBuffer {
    bool complete = false;
    // The body from `offset` on (totalSize bytes); shared so that a consumer may keep the bytes
    // beyond the hand-out.
    std::shared_ptr<std::vector<std::uint8_t>> data;
    std::size_t offset = 0;
    // One flag per part of a channel sent in several parts; empty for a channel in one part.
    std::vector<bool> partsReceived;
    std::int32_t numberOfParts = 0;
    std::uint32_t totalSize = 0;
    std::uint32_t channelId = 0;

    const std::uint8_t* bytes() const { return data ? data->data() + offset : nullptr; }
    std::size_t size() const { return data ? data->size() - offset : 0; }
};
