// Accessors: a resolved path for one native type, built once and kept in a process-wide cache with
// a lock-free per-thread table in front of it.

#include "kvel/kvel_internal.h"

#include <cstring>
#include <memory>
#include <stdexcept>
#include <unordered_map>

namespace kvel {
using namespace detail;

namespace {

bool acceptsForNative(const IType& node, TypeCode code) {
    const uint32_t kind = node.typeKind();
    if (kind == KindStruct)
        return code == TC_STRUCT;
    if (code == TC_FLOAT || code == TC_DOUBLE) {
        const uint32_t size = node.size();
        return kind <= KindFloat && (size == 1 || size == 2 || size == 4 || size == 8);
    }
    return typeCodeOf(node) == code;
}

AccessorPtr buildAccessor(const IType* root, std::string_view path, TypeCode code) {
    const Resolved resolved = resolve(root, path, Purpose::Accessor);
    const IType& node = *resolved.node;
    if (code == TC_STRUCT || !acceptsForNative(node, code))
        throw KVEL_INTERPRET_ERROR(InterpretError::Expression,
                                   "type conversion not possible " + std::string(path));
    // A description may claim members outside its own root; such a path can never be read safely.
    uint64_t bytes = 0, end = 0;
    if (__builtin_mul_overflow(resolved.elementCount, uint64_t(node.size()), &bytes) ||
        __builtin_add_overflow(resolved.byteOffset, bytes, &end) || end > root->size())
        throw outsideRoot(path);
    auto accessor = new Accessor;
    accessor->expectedDataSize = root->size();
    accessor->byteOffset = uint32_t(resolved.byteOffset);
    accessor->elementCount = uint32_t(resolved.elementCount);
    accessor->kind = node.typeKind();
    accessor->elementSize = node.size();
    accessor->reverseBytes = node.byteOrder() == BigEndian;
    return AccessorPtr(static_cast<const Accessor*>(accessor));
}

// Accessor cache: one map per native type, keyed by root node and path. Entries are never removed;
// each keeps its root alive so that the node address in the key cannot be reused.
struct AccessorKey {
    const IType* root;
    std::string_view path;
    bool operator==(const AccessorKey& other) const { return root == other.root && path == other.path; }
};

// Hash of (root, path) over every byte: paths share long prefixes and differ anywhere (often only
// in an index). Two independent multiply lanes of eight bytes each keep the dependency chain short.
uint64_t pathHash(const IType* root, std::string_view path) {
    constexpr uint64_t K1 = 0x9E3779B97F4A7C15ull, K2 = 0xC2B2AE3D27D4EB4Full;
    const char* p = path.data();
    size_t n = path.size();
    uint64_t h1 = (uint64_t(reinterpret_cast<uintptr_t>(root)) ^ n) * K1, h2 = n * K2 + 1;
    for (; n >= 16; n -= 16, p += 16) {
        uint64_t w1, w2;
        std::memcpy(&w1, p, 8);
        std::memcpy(&w2, p + 8, 8);
        h1 = (h1 ^ w1) * K1;
        h2 = (h2 ^ w2) * K2;
        h1 ^= h1 >> 31;
        h2 ^= h2 >> 29;
    }
    uint64_t t1 = 0, t2 = 0;
    std::memcpy(&t1, p, std::min<size_t>(n, 8));
    if (n > 8)
        std::memcpy(&t2, p + 8, n - 8);
    h1 = (h1 ^ t1) * K1;
    h2 = (h2 ^ t2) * K2;
    const uint64_t h = (h1 ^ (h2 >> 32) ^ (h2 << 32)) * K1;
    return h ^ (h >> 29);
}

struct AccessorKeyHash {
    size_t operator()(const AccessorKey& key) const { return size_t(pathHash(key.root, key.path)); }
};

struct AccessorEntry {
    std::string path;
    ITypePtr root;
    AccessorPtr accessor;
};

class AccessorCache {
public:
    // Caller holds libraryLock(). rootHolder is the owning pointer of root (copied on a miss only).
    const AccessorEntry* lookupOrBuild(const ITypePtr& rootHolder, std::string_view path, TypeCode code) {
        auto& map = m_maps[size_t(code)];
        const AccessorKey key{rootHolder.get(), path};
        auto found = map.find(key);
        if (found != map.end())
            return found->second.get();
        auto entry = std::make_unique<AccessorEntry>();
        entry->accessor = buildAccessor(rootHolder.get(), path, code);
        entry->path.assign(path.data(), path.size());
        entry->root = rootHolder;
        const AccessorKey storedKey{rootHolder.get(), entry->path};
        map.emplace(storedKey, std::move(entry));
        found = map.find(storedKey);
        if (found == map.end())
            throw std::runtime_error("Internal Error");
        return found->second.get();
    }

private:
    std::unordered_map<AccessorKey, std::unique_ptr<AccessorEntry>, AccessorKeyHash> m_maps[TC_STRUCT + 1];
};

AccessorCache& accessorCache() {
    static AccessorCache cache;
    return cache;
}

// Each thread keeps a small direct-mapped table in front of the shared cache, so that the reads of
// a cycle take no lock once their paths are known. It only points at entries of the shared cache,
// which are immutable and never removed; a miss falls through to the locked lookup.
class ThreadAccessorTable {
public:
    const Accessor* find(const IType* root, std::string_view path, TypeCode code, uint64_t hash) const {
        const size_t i = index(hash, code);
        for (size_t way = 0; way < 2; ++way) {
            const Slot& slot = m_slots[i ^ way];
            if (slot.hash == hash && slot.code == code && slot.entry && slot.entry->root.get() == root &&
                std::string_view(slot.entry->path) == path)
                return slot.entry->accessor.get();
        }
        return nullptr;
    }
    // Two ways per set: the newcomer replaces the way that was not filled last.
    void remember(const AccessorEntry* entry, TypeCode code, uint64_t hash) {
        const size_t i = index(hash, code);
        const size_t way = m_slots[i].entry == nullptr       ? 0
                           : m_slots[i ^ 1].entry == nullptr ? 1
                                                             : m_nextWay[i >> 1]++ & 1;
        m_slots[i ^ way] = {hash, code, entry};
    }

private:
    static constexpr size_t SIZE = 2048;
    static size_t index(uint64_t hash, TypeCode code) {
        return size_t(hash + uint64_t(code) * 0x51) & (SIZE - 1);
    }
    struct Slot {
        uint64_t hash = 0;
        int code = -1;
        const AccessorEntry* entry = nullptr;
    };
    Slot m_slots[SIZE];
    uint8_t m_nextWay[SIZE / 2] = {};
};

} // namespace

const Accessor* detail::cachedAccessor(const ITypePtr& root, std::string_view path, TypeCode code) {
    if (!root)
        throw KVEL_INTERPRET_ERROR(InterpretError::NullPointer);
    thread_local std::unique_ptr<ThreadAccessorTable> table(new ThreadAccessorTable);
    const uint64_t hash = pathHash(root.get(), path);
    if (const Accessor* accessor = table->find(root.get(), path, code, hash))
        return accessor;
    const AccessorEntry* entry;
    {
        std::lock_guard<std::mutex> guard(libraryLock());
        entry = accessorCache().lookupOrBuild(root, path, code);
    }
    table->remember(entry, code, hash);
    return entry->accessor.get();
}

AccessorPtr getAccessor(const ITypePtr& root, std::string_view path, TypeCode code) {
    if (!root)
        throw KVEL_INTERPRET_ERROR(InterpretError::NullPointer);
    std::lock_guard<std::mutex> guard(libraryLock());
    return accessorCache().lookupOrBuild(root, path, code)->accessor;
}

AccessorPtr resolveAccessor(const ITypePtr& root, std::string_view path, TypeCode code) {
    if (!root)
        throw KVEL_INTERPRET_ERROR(InterpretError::NullPointer);
    return buildAccessor(root.get(), path, code);
}

} // namespace kvel
