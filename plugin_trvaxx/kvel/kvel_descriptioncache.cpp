// The process-wide description cache: one parsed tree per distinct description, bounded by bytes.

#include "kvel/kvel_internal.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

namespace kvel {
using namespace detail;

namespace {

// Estimated memory of a parsed tree: each node object with its shared-pointer block, name and
// extents.
size_t treeCost(const IType* node) {
    if (!node)
        return 0;
    constexpr size_t NODE_OVERHEAD = sizeof(StructType) + 96;
    size_t cost = NODE_OVERHEAD + node->name().capacity() + node->dimensions().capacity() * sizeof(uint32_t) +
                  node->members().capacity() * sizeof(ITypePtr);
    for (const ITypePtr& member : node->members())
        cost += treeCost(member.get());
    return cost;
}

// Entries are never evicted (accessors and chunks point into them); the byte budget refuses new
// descriptions once it is spent, so hostile streams cannot grow the process without bound.
class DescriptionCache {
public:
    // Caller holds libraryLock().
    const DescriptionEntry* find(std::string_view key) const {
        auto found = m_entries.find(key);
        return found == m_entries.end() ? nullptr : found->second.get();
    }
    // Caller holds libraryLock(). Another thread may have inserted the same bytes meanwhile: then
    // that entry is kept and returned.
    const DescriptionEntry* insert(std::unique_ptr<DescriptionEntry> entry) {
        if (const DescriptionEntry* existing = find(entry->bytes))
            return existing;
        if (entry->cost > DESCRIPTION_CACHE_BUDGET - std::min(m_bytes, DESCRIPTION_CACHE_BUDGET)) {
            ++m_refusals;
            throw ParseError(__FILE__, __LINE__,
                             "description cache full (" + std::to_string(m_bytes) + " bytes in " +
                                 std::to_string(m_entries.size()) + " descriptions), description of " +
                                 std::to_string(entry->bytes.size()) + " bytes refused");
        }
        m_bytes += entry->cost;
        const std::string_view storedKey(entry->bytes);
        m_entries.emplace(storedKey, std::move(entry));
        const DescriptionEntry* stored = find(storedKey);
        if (!stored)
            throw std::runtime_error("Internal Error");
        return stored;
    }
    DescriptionCacheStats stats() const {
        return {m_entries.size(), m_bytes, m_refusals, m_repeatedRefusals};
    }

    // Descriptions that failed (to parse or to fit) fail again without being parsed: a stream that
    // repeats a hostile description every cycle pays for its parse once. Caller holds libraryLock().
    bool refusedBefore(uint64_t hash) {
        if (m_refused.count(hash) == 0)
            return false;
        ++m_repeatedRefusals;
        return true;
    }
    void rememberRefusal(uint64_t hash) {
        if (!m_refused.insert(hash).second)
            return;
        m_refusedOrder.push_back(hash);
        if (m_refusedOrder.size() > REMEMBERED_REFUSALS) {
            m_refused.erase(m_refusedOrder.front());
            m_refusedOrder.pop_front();
        }
    }

private:
    static constexpr size_t REMEMBERED_REFUSALS = 256;
    std::unordered_set<uint64_t> m_refused;
    std::deque<uint64_t> m_refusedOrder;
    uint64_t m_repeatedRefusals = 0;
    std::unordered_map<std::string_view, std::unique_ptr<DescriptionEntry>> m_entries;
    size_t m_bytes = 0;
    uint64_t m_refusals = 0;
};

DescriptionCache& descriptionCache() {
    static DescriptionCache cache;
    return cache;
}

// The entry of a description, parsed on a miss. The parse runs without the library lock, so a
// slow or hostile description never stalls the other threads' lookups; its cost is bounded by
// the parser's limits.
const DescriptionEntry* lookupOrParse(const char* description, size_t length) {
    const std::string_view key(description ? description : "", description ? length : 0);
    {
        std::lock_guard<std::mutex> guard(libraryLock());
        if (const DescriptionEntry* entry = descriptionCache().find(key))
            return entry;
    }
    const uint64_t hash = std::hash<std::string_view>()(key);
    {
        std::lock_guard<std::mutex> guard(libraryLock());
        if (descriptionCache().refusedBefore(hash))
            throw ParseError(__FILE__, __LINE__, "description refused before");
    }
    try {
        auto entry = std::make_unique<DescriptionEntry>();
        entry->root = parse(key.data(), key.size()); // throws before anything is stored
        entry->bytes.assign(key.data(), key.size());
        entry->cost = entry->bytes.capacity() + treeCost(entry->root.get());
        std::lock_guard<std::mutex> guard(libraryLock());
        return descriptionCache().insert(std::move(entry));
    } catch (const ParseError&) {
        std::lock_guard<std::mutex> guard(libraryLock());
        descriptionCache().rememberRefusal(hash);
        throw;
    }
}

} // namespace
} // namespace kvel

// Remembers inside a chunk which cache entry holds its description (entries live forever).
class KvelChunkMemo {
public:
    static const kvel::DescriptionEntry* get(const KvelChunk& chunk) {
        const kvel::DescriptionEntry* entry = chunk.m_memoEntry.load(std::memory_order_acquire);
        if (entry && chunk.m_memoDescription.load(std::memory_order_relaxed) == chunk.description &&
            entry->bytes.size() == chunk.descriptionLength)
            return entry;
        return nullptr;
    }
    static void set(const KvelChunk& chunk, const kvel::DescriptionEntry* entry) {
        chunk.m_memoDescription.store(chunk.description, std::memory_order_relaxed);
        chunk.m_memoEntry.store(entry, std::memory_order_release);
    }
};

namespace kvel {

const DescriptionEntry* detail::descriptionEntry(const KvelChunk& chunk) {
    if (const DescriptionEntry* entry = KvelChunkMemo::get(chunk))
        return entry;
    const DescriptionEntry* entry = lookupOrParse(chunk.description, chunk.descriptionLength);
    KvelChunkMemo::set(chunk, entry);
    return entry;
}

ITypePtr cachedParse(const void* description, size_t length) {
    const DescriptionEntry* entry = lookupOrParse(static_cast<const char*>(description), length);
    std::lock_guard<std::mutex> guard(libraryLock()); // the copy touches the shared count
    return entry->root;
}

ITypePtr cachedParse(const KvelChunk& chunk) {
    const DescriptionEntry* entry = descriptionEntry(chunk);
    std::lock_guard<std::mutex> guard(libraryLock()); // the copy touches the shared count
    return entry->root;
}

size_t descriptionCacheSize() {
    return descriptionCacheStats().entries;
}

DescriptionCacheStats descriptionCacheStats() {
    std::lock_guard<std::mutex> guard(libraryLock());
    return descriptionCache().stats();
}

const KvelChunk& findChunk(const std::vector<KvelChunk>& chunks, int channel) {
    for (const KvelChunk& chunk : chunks)
        if (chunk.channel == channel)
            return chunk;
    throw std::runtime_error("Unable to find requested channel " + std::to_string(channel) +
                             " in KvelChunk vector");
}

} // namespace kvel
