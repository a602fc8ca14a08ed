#pragma once

// One channel of a result cycle as the interpreter sees it: the description container and the
// data block it describes. A chunk is a view: it owns neither buffer, and the bytes must stay
// unchanged and alive while the chunk is used.

#include <atomic>
#include <cstdint>

namespace kvel {
struct DescriptionEntry;
}

struct KvelChunk {
    const char* description = nullptr; // description container bytes
    uint32_t descriptionLength = 0;
    const char* data = nullptr; // raw data block
    uint32_t dataLength = 0;
    int32_t channel = 0;

    KvelChunk() = default;
    KvelChunk(const char* description, uint32_t descriptionLength, const char* data, uint32_t dataLength,
              int32_t channel)
        : description(description), descriptionLength(descriptionLength), data(data), dataLength(dataLength),
          channel(channel) {}
    KvelChunk(const KvelChunk& other)
        : description(other.description), descriptionLength(other.descriptionLength), data(other.data),
          dataLength(other.dataLength), channel(other.channel) {
        copyMemo(other);
    }
    KvelChunk& operator=(const KvelChunk& other) {
        description = other.description;
        descriptionLength = other.descriptionLength;
        data = other.data;
        dataLength = other.dataLength;
        channel = other.channel;
        copyMemo(other);
        return *this;
    }

private:
    // The description cache remembers here which cache entry served this chunk, so that the many
    // reads of one cycle compare the description bytes only once. Valid only while description and
    // descriptionLength are the ones it was made for.
    friend struct kvel::DescriptionEntry;
    friend class KvelChunkMemo;
    void copyMemo(const KvelChunk& other) {
        m_memoDescription.store(other.m_memoDescription.load(std::memory_order_relaxed),
                                std::memory_order_relaxed);
        m_memoEntry.store(other.m_memoEntry.load(std::memory_order_relaxed), std::memory_order_relaxed);
    }
    mutable std::atomic<const char*> m_memoDescription{nullptr};
    mutable std::atomic<const kvel::DescriptionEntry*> m_memoEntry{nullptr};
};

namespace kvel {
using ::KvelChunk;
}
