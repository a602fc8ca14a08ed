#include "kvel/kvel_interpret.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <type_traits>
#include <unordered_map>

namespace kvel {

#define KVEL_INTERPRET_ERROR(code, ...) InterpretError(__FILE__, __LINE__, code, ##__VA_ARGS__)

namespace {

const char* baseName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

const char* codeText(int code) {
    switch (code) {
    case InterpretError::NullPointer:
        return "Received null pointer.";
    case InterpretError::Expression:
        return "Error while interpreting expression:";
    case InterpretError::SizeMismatch:
        return "Size mismatch: ";
    default:
        return "Interpret Error, unknown error.";
    }
}

// The one lock of the library: description cache and accessor caches.
std::mutex& libraryLock() {
    static std::mutex lock;
    return lock;
}

} // namespace

InterpretError::InterpretError(const char* sourceFile, int line, int code, std::string detail)
    : m_code(code), m_detail(std::move(detail)) {
    m_text = std::string(baseName(sourceFile)) + " (line " + std::to_string(line) + "): " + codeText(code);
    if (!m_detail.empty())
        m_text += "\"" + m_detail + "\"";
}

int typeCodeOf(const IType& node) {
    const uint32_t kind = node.typeKind();
    const uint32_t size = node.size();
    switch (kind) {
    case KindSigned:
    case KindUnsigned: {
        const int base = kind == KindSigned ? TC_INT8 : TC_UINT8;
        switch (size) {
        case 1:
            return base;
        case 2:
            return base + 1;
        case 4:
            return base + 2;
        case 8:
            return base + 3;
        default:
            return -1;
        }
    }
    case KindFloat:
        return size == 4 ? TC_FLOAT : size == 8 ? TC_DOUBLE : -1;
    case KindStruct:
        return TC_STRUCT;
    default:
        throw KVEL_INTERPRET_ERROR(InterpretError::Unknown, "Unknown type ID");
    }
}

const char* versionString() {
    return "3.3.13";
}

// Description cache ------------------------------------------------------------------------------

struct DescriptionEntry {
    std::string bytes; // the key; the map's string_view points here
    ITypePtr root;
    size_t cost = 0; // bytes held: the key plus an estimate of the tree
};

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
    DescriptionCacheStats stats() const { return {m_entries.size(), m_bytes, m_refusals}; }

private:
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
    auto entry = std::make_unique<DescriptionEntry>();
    entry->root = parse(key.data(), key.size()); // throws before anything is stored
    entry->bytes.assign(key.data(), key.size());
    entry->cost = entry->bytes.capacity() + treeCost(entry->root.get());
    std::lock_guard<std::mutex> guard(libraryLock());
    return descriptionCache().insert(std::move(entry));
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
namespace {

const DescriptionEntry* descriptionEntry(const KvelChunk& chunk) {
    if (const DescriptionEntry* entry = KvelChunkMemo::get(chunk))
        return entry;
    const DescriptionEntry* entry = lookupOrParse(chunk.description, chunk.descriptionLength);
    KvelChunkMemo::set(chunk, entry);
    return entry;
}

} // namespace

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

// Path resolution -------------------------------------------------------------------------------

namespace {

struct Component {
    std::string_view name;
    Indices indices;
};

bool parseIndex(std::string_view piece, uint32_t& value) {
    // "<decimal>]" or "<decimal>"; the closing bracket is optional.
    if (!piece.empty() && piece.back() == ']')
        piece.remove_suffix(1);
    if (piece.empty() || piece.size() > 10)
        return false;
    uint64_t number = 0;
    for (char c : piece) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + uint64_t(c - '0');
    }
    if (number > 0xFFFFFFFFu)
        return false;
    value = uint32_t(number);
    return true;
}

std::vector<Component> splitPath(std::string_view path) {
    std::vector<Component> components;
    size_t start = 0;
    for (;;) {
        const size_t dot = path.find('.', start);
        std::string_view text =
            path.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
        if (!text.empty() && text.front() == '[')
            throw KVEL_INTERPRET_ERROR(InterpretError::Unknown);
        Component component;
        const size_t bracket = text.find('[');
        component.name = text.substr(0, bracket);
        size_t pos = bracket;
        while (pos != std::string_view::npos) {
            const size_t next = text.find('[', pos + 1);
            const std::string_view piece = text.substr(
                pos + 1, next == std::string_view::npos ? std::string_view::npos : next - pos - 1);
            uint32_t index = 0;
            if (!parseIndex(piece, index))
                throw KVEL_INTERPRET_ERROR(InterpretError::Unknown);
            component.indices.push_back(index);
            pos = next;
        }
        components.push_back(std::move(component));
        if (dot == std::string_view::npos)
            break;
        start = dot + 1;
    }
    return components;
}

bool indicesFit(const IType& node, const Indices& indices, bool allRequired) {
    const Dimensions& dims = node.dimensions();
    if (indices.size() > dims.size())
        return false;
    if (allRequired && indices.size() != dims.size())
        return false;
    for (size_t i = 0; i < indices.size(); ++i)
        if (indices[i] >= dims[i])
            return false;
    return true;
}

// A path whose addressed bytes do not lie inside the root (or whose arithmetic overflows).
InterpretError outsideRoot(std::string_view path) {
    return KVEL_INTERPRET_ERROR(InterpretError::Expression, std::string(path));
}

struct Resolved {
    const IType* node = nullptr;
    uint64_t byteOffset = 0; // of the first addressed element
    uint64_t elementCount = 1;
    Dimensions uncovered;
};

enum class Purpose { Accessor, TypeQuery };

// Walks path from root. Offsets in a description are absolute, so only the index contributions of
// the components are summed, plus the final node's own offset.
Resolved resolve(const IType* root, std::string_view path, Purpose purpose) {
    if (!root)
        throw KVEL_INTERPRET_ERROR(InterpretError::NullPointer);
    Resolved result;
    const IType* node = root;
    Indices lastIndices;
    uint64_t running = 0;
    if (!path.empty()) {
        const std::vector<Component> components = splitPath(path);
        auto fail = [&](const IType& at, const Indices& indices) -> InterpretError {
            if (purpose == Purpose::TypeQuery && indices.size() > at.dimensions().size())
                return KVEL_INTERPRET_ERROR(InterpretError::Expression,
                                            "Referenced dimension does not exist");
            return KVEL_INTERPRET_ERROR(InterpretError::Expression, std::string(path));
        };
        const Component& first = components.front();
        const bool rootIsLast = components.size() == 1;
        if (first.name != root->name() || !indicesFit(*root, first.indices, !rootIsLast))
            throw fail(*root, first.indices);
        // Hostile extents can push index arithmetic past 64 bits; such a path lies outside the root.
        auto addIndex = [&](const IType& at, const Indices& indices) {
            const std::optional<uint64_t> index = at.checkedLinearIndex(indices);
            uint64_t bytes = 0;
            if (!index || __builtin_mul_overflow(*index, uint64_t(at.size()), &bytes) ||
                __builtin_add_overflow(running, bytes, &running))
                throw outsideRoot(path);
        };
        addIndex(*root, first.indices);
        lastIndices = first.indices;
        for (size_t i = 1; i < components.size(); ++i) {
            const Component& component = components[i];
            const IType* member = nullptr;
            for (const ITypePtr& candidate : node->members())
                if (candidate && candidate->name() == component.name) {
                    member = candidate.get();
                    break;
                }
            const bool isLast = i + 1 == components.size();
            if (!member)
                throw fail(*node, {});
            if (!indicesFit(*member, component.indices, !isLast))
                throw fail(*member, component.indices);
            addIndex(*member, component.indices);
            node = member;
            lastIndices = component.indices;
        }
    }
    result.node = node;
    if (__builtin_add_overflow(uint64_t(node->offset()), running, &result.byteOffset))
        throw outsideRoot(path);
    const Dimensions& dims = node->dimensions();
    result.uncovered.assign(dims.begin() + std::min(lastIndices.size(), dims.size()), dims.end());
    for (uint32_t extent : result.uncovered)
        if (__builtin_mul_overflow(result.elementCount, uint64_t(extent), &result.elementCount))
            throw outsideRoot(path);
    return result;
}

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

// Raw accessor of (root, path, code); valid for the life of the process.
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

const Accessor* cachedAccessor(const ITypePtr& root, std::string_view path, TypeCode code) {
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

} // namespace

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

// Element copies ---------------------------------------------------------------------------------

namespace {

template <size_t N> void copyReversed(uint8_t* dest, const uint8_t* src) {
    for (size_t i = 0; i < N; ++i)
        dest[i] = src[N - 1 - i];
}

// Copies count elements of size N, reversing each when asked.
template <size_t N> void copyElements(void* dest, const void* src, size_t count, bool reverse) {
    if (!reverse || N == 1) {
        std::memcpy(dest, src, count * N);
        return;
    }
    auto* d = static_cast<uint8_t*>(dest);
    auto* s = static_cast<const uint8_t*>(src);
    for (size_t i = 0; i < count; ++i)
        copyReversed<N>(d + i * N, s + i * N);
}

template <class T> T loadElement(const uint8_t* src, bool reverse) {
    T value;
    if (reverse) {
        uint8_t bytes[sizeof(T)];
        copyReversed<sizeof(T)>(bytes, src);
        std::memcpy(&value, bytes, sizeof(T));
    } else {
        std::memcpy(&value, src, sizeof(T));
    }
    return value;
}

template <class T> void storeElement(uint8_t* dest, T value, bool reverse) {
    if (reverse) {
        uint8_t bytes[sizeof(T)];
        std::memcpy(bytes, &value, sizeof(T));
        copyReversed<sizeof(T)>(dest, bytes);
    } else {
        std::memcpy(dest, &value, sizeof(T));
    }
}

// Calls f with a value-initialized object of the described element's C++ type; false when the
// (kind, size) pair has no such type.
template <class F> bool withElementType(uint32_t kind, uint32_t size, F&& f) {
    switch (kind) {
    case KindSigned:
        switch (size) {
        case 1:
            f(int8_t());
            return true;
        case 2:
            f(int16_t());
            return true;
        case 4:
            f(int32_t());
            return true;
        case 8:
            f(int64_t());
            return true;
        }
        return false;
    case KindUnsigned:
        switch (size) {
        case 1:
            f(uint8_t());
            return true;
        case 2:
            f(uint16_t());
            return true;
        case 4:
            f(uint32_t());
            return true;
        case 8:
            f(uint64_t());
            return true;
        }
        return false;
    case KindFloat:
        switch (size) {
        case 4:
            f(float());
            return true;
        case 8:
            f(double());
            return true;
        }
        return false;
    }
    return false;
}

// Converts a number to T; out-of-range floating values saturate instead of invoking undefined
// behaviour.
template <class T, class S> T convertNumber(S value) {
    if constexpr (std::is_floating_point<T>::value || !std::is_floating_point<S>::value) {
        return static_cast<T>(value);
    } else {
        if (!(value == value))
            return T(0);
        if (value <= static_cast<S>(std::numeric_limits<T>::lowest()))
            return std::numeric_limits<T>::lowest();
        if (value >= static_cast<S>(std::numeric_limits<T>::max()))
            return std::numeric_limits<T>::max();
        return static_cast<T>(value);
    }
}

template <class T> void checkIntegerAccess(const Accessor& a, uint32_t count, size_t dataLength) {
    if (dataLength != a.expectedDataSize) {
        char detail[128];
        std::snprintf(detail, sizeof detail, "expected %d bytes (from kvel description), got %d bytes",
                      int(a.expectedDataSize), int(dataLength));
        throw KVEL_INTERPRET_ERROR(InterpretError::SizeMismatch, detail);
    }
    const uint32_t wantedKind = std::is_signed<T>::value ? KindSigned : KindUnsigned;
    if (a.elementSize != sizeof(T) || a.kind != wantedKind || count != a.elementCount)
        throw KVEL_INTERPRET_ERROR(InterpretError::Unknown);
}

void checkFloatingAccess(const Accessor& a, uint32_t count, size_t dataLength) {
    if (dataLength != a.expectedDataSize || count != a.elementCount)
        throw KVEL_INTERPRET_ERROR(InterpretError::Unknown);
}

template <class T>
void readInto(const Accessor& a, T* dest, uint32_t count, const void* data, size_t dataLength) {
    const uint8_t* src = static_cast<const uint8_t*>(data) + a.byteOffset;
    if constexpr (std::is_integral<T>::value) {
        checkIntegerAccess<T>(a, count, dataLength);
        copyElements<sizeof(T)>(dest, src, count, a.reverseBytes);
    } else {
        checkFloatingAccess(a, count, dataLength);
        if (a.kind == KindFloat && a.elementSize == sizeof(T)) {
            copyElements<sizeof(T)>(dest, src, count, a.reverseBytes);
            return;
        }
        const bool known = withElementType(a.kind, a.elementSize, [&](auto prototype) {
            using E = decltype(prototype);
            for (uint32_t i = 0; i < count; ++i)
                dest[i] = convertNumber<T>(loadElement<E>(src + size_t(i) * sizeof(E), a.reverseBytes));
        });
        if (!known)
            throw KVEL_INTERPRET_ERROR(InterpretError::Unknown);
    }
}

template <class T>
void writeFrom(const Accessor& a, const T* source, uint32_t count, void* data, size_t dataLength) {
    uint8_t* dest = static_cast<uint8_t*>(data) + a.byteOffset;
    if constexpr (std::is_integral<T>::value) {
        checkIntegerAccess<T>(a, count, dataLength);
        copyElements<sizeof(T)>(dest, source, count, a.reverseBytes);
    } else {
        checkFloatingAccess(a, count, dataLength);
        if (a.kind == KindFloat && a.elementSize == sizeof(T)) {
            copyElements<sizeof(T)>(dest, source, count, a.reverseBytes);
            return;
        }
        const bool known = withElementType(a.kind, a.elementSize, [&](auto prototype) {
            using E = decltype(prototype);
            for (uint32_t i = 0; i < count; ++i)
                storeElement<E>(dest + size_t(i) * sizeof(E), convertNumber<E>(source[i]), a.reverseBytes);
        });
        if (!known)
            throw KVEL_INTERPRET_ERROR(InterpretError::Unknown);
    }
}

} // namespace

template <class T>
void read(const AccessorPtr& accessor, T* dest, uint32_t count, const void* data, size_t dataLength) {
    if (!accessor)
        throw KVEL_INTERPRET_ERROR(InterpretError::NullPointer, "Interpreter is null");
    readInto(*accessor, dest, count, data, dataLength);
}

template <class T>
void write(const AccessorPtr& accessor, const T* src, uint32_t count, void* data, size_t dataLength) {
    if (!accessor)
        throw KVEL_INTERPRET_ERROR(InterpretError::NullPointer, "Interpreter is null");
    writeFrom(*accessor, src, count, data, dataLength);
}

template <class T>
void read(std::string_view path, T* dest, uint32_t count, const std::vector<KvelChunk>& chunks, int channel) {
    const KvelChunk& chunk = findChunk(chunks, channel);
    const DescriptionEntry* entry = descriptionEntry(chunk);
    const Accessor* accessor = cachedAccessor(entry->root, path, NativeTypeCode<T>::value);
    readInto(*accessor, dest, count, chunk.data, chunk.dataLength);
}

#define KVEL_INSTANTIATE(T)                                                                                  \
    template void read<T>(const AccessorPtr&, T*, uint32_t, const void*, size_t);                            \
    template void write<T>(const AccessorPtr&, const T*, uint32_t, void*, size_t);                           \
    template void read<T>(std::string_view, T*, uint32_t, const std::vector<KvelChunk>&, int);
KVEL_INSTANTIATE(int8_t)
KVEL_INSTANTIATE(int16_t)
KVEL_INSTANTIATE(int32_t)
KVEL_INSTANTIATE(int64_t)
KVEL_INSTANTIATE(uint8_t)
KVEL_INSTANTIATE(uint16_t)
KVEL_INSTANTIATE(uint32_t)
KVEL_INSTANTIATE(uint64_t)
KVEL_INSTANTIATE(float)
KVEL_INSTANTIATE(double)
#undef KVEL_INSTANTIATE

// Paths and type codes ----------------------------------------------------------------------------

PathType typeOfPath(const ITypePtr& root, std::string_view path) {
    const Resolved resolved = resolve(root.get(), path, Purpose::TypeQuery);
    PathType result;
    result.code = typeCodeOf(*resolved.node);
    result.uncoveredDimensions = resolved.uncovered;
    return result;
}

namespace {

// No real description lists anywhere near this many objects; hostile ones must not hang the caller.
constexpr uint64_t MAX_LISTED_OBJECTS = 1u << 16;

void checkListSize(uint64_t count) {
    if (count > MAX_LISTED_OBJECTS)
        throw KVEL_INTERPRET_ERROR(InterpretError::Unknown, "too many addressed objects");
}

// Appends "[i][j]..." for every element of dims in row-major order.
void enumerateElements(const std::string& base, const Dimensions& dims, std::vector<std::string>& out) {
    uint64_t total = 1;
    for (uint32_t extent : dims) {
        total *= extent;
        checkListSize(total);
    }
    checkListSize(out.size() + total);
    Indices index(dims.size(), 0);
    for (uint64_t n = 0; n < total; ++n) {
        std::string path = base;
        for (uint32_t i : index)
            path += "[" + std::to_string(i) + "]";
        out.push_back(std::move(path));
        for (size_t d = dims.size(); d-- > 0;) {
            if (++index[d] < dims[d])
                break;
            index[d] = 0;
        }
    }
}

void walk(const IType& node, const std::string& path, int budget, std::vector<std::string>& out) {
    checkListSize(out.size() + 1);
    if (node.typeKind() != KindStruct) {
        if (budget <= 0)
            out.push_back(path);
        return;
    }
    if (budget == 0) {
        out.push_back(path);
        return;
    }
    for (const ITypePtr& member : node.members()) {
        if (!member)
            continue;
        const std::string memberPath = path + "." + member->name();
        const int next = budget - 1;
        if (member->typeKind() == KindStruct && !member->dimensions().empty() && next != 0) {
            std::vector<std::string> elements;
            enumerateElements(memberPath, member->dimensions(), elements);
            for (const std::string& element : elements)
                walk(*member, element, next, out);
        } else {
            walk(*member, memberPath, next, out);
        }
    }
}

} // namespace

std::vector<std::string> memberPaths(const ITypePtr& root, std::string_view path, int depth) {
    const Resolved resolved = resolve(root.get(), path, Purpose::Accessor);
    const std::string base = path.empty() ? root->name() : std::string(path);
    std::vector<std::string> paths;
    if (!resolved.uncovered.empty()) {
        enumerateElements(base, resolved.uncovered, paths);
        if (paths.size() != resolved.elementCount)
            throw KVEL_INTERPRET_ERROR(InterpretError::Unknown,
                                       "Internal Error, number of addressed objects mismatch dimensions");
        return paths;
    }
    if (resolved.node->typeKind() == KindStruct)
        walk(*resolved.node, base, depth, paths);
    else
        paths.push_back(base);
    return paths;
}

// Copy between two expressions ------------------------------------------------------------------

namespace {

// A run of consecutive elementary elements in one data block.
struct Run {
    uint64_t byteOffset;
    uint64_t count;
    uint32_t kind;
    uint32_t size;
    bool reverse;
};

// True when count elements of size bytes starting at node offset + running lie inside dataLength.
bool runFits(const IType& node, uint64_t running, uint64_t count, uint64_t dataLength) {
    uint64_t start = 0, bytes = 0, end = 0;
    return !__builtin_add_overflow(uint64_t(node.offset()), running, &start) &&
           !__builtin_mul_overflow(count, uint64_t(node.size()), &bytes) &&
           !__builtin_add_overflow(start, bytes, &end) && end <= dataLength;
}

// Every range is checked against the block before it is walked, so a hostile count cannot make
// the walk long; the number of runs is capped like the listed paths.
void collectRuns(const IType& node, uint64_t running, uint64_t count, uint64_t dataLength,
                 std::string_view path, std::vector<Run>& runs) {
    if (!runFits(node, running, count, dataLength))
        throw outsideRoot(path);
    if (node.typeKind() != KindStruct) {
        checkListSize(runs.size() + 1);
        runs.push_back(
            {node.offset() + running, count, node.typeKind(), node.size(), node.byteOrder() == BigEndian});
        return;
    }
    for (uint64_t e = 0; e < count; ++e)
        for (const ITypePtr& member : node.members())
            if (member)
                collectRuns(*member, running + e * node.size(), member->elementCount(), dataLength, path,
                            runs);
}

std::vector<Run> runsOf(const ITypePtr& root, std::string_view path, size_t dataLength, uint64_t& objects) {
    const Resolved resolved = resolve(root.get(), path, Purpose::Accessor);
    if (dataLength != root->size()) {
        char detail[128];
        std::snprintf(detail, sizeof detail, "expected %d bytes (from kvel description), got %d bytes",
                      int(root->size()), int(dataLength));
        throw KVEL_INTERPRET_ERROR(InterpretError::SizeMismatch, detail);
    }
    std::vector<Run> runs;
    collectRuns(*resolved.node, resolved.byteOffset - resolved.node->offset(), resolved.elementCount,
                dataLength, path, runs);
    objects = 0;
    for (const Run& run : runs)
        objects += run.count;
    return runs;
}

// One elementary value, held exactly for integers and as double for floating point.
struct Number {
    enum { Signed, Unsigned, Floating } kind;
    int64_t s;
    uint64_t u;
    double f;
};

Number loadNumber(const uint8_t* src, const Run& run) {
    Number number{Number::Floating, 0, 0, 0.0};
    const bool known = withElementType(run.kind, run.size, [&](auto prototype) {
        using E = decltype(prototype);
        const E value = loadElement<E>(src, run.reverse);
        if constexpr (std::is_floating_point<E>::value)
            number = {Number::Floating, 0, 0, double(value)};
        else if constexpr (std::is_signed<E>::value)
            number = {Number::Signed, int64_t(value), 0, 0.0};
        else
            number = {Number::Unsigned, 0, uint64_t(value), 0.0};
    });
    if (!known)
        throw KVEL_INTERPRET_ERROR(InterpretError::Unknown);
    return number;
}

void storeNumber(uint8_t* dest, const Run& run, const Number& number) {
    const bool known = withElementType(run.kind, run.size, [&](auto prototype) {
        using E = decltype(prototype);
        E value;
        if (number.kind == Number::Floating)
            value = convertNumber<E>(number.f);
        else if (number.kind == Number::Signed)
            value = static_cast<E>(number.s);
        else
            value = static_cast<E>(number.u);
        storeElement<E>(dest, value, run.reverse);
    });
    if (!known)
        throw KVEL_INTERPRET_ERROR(InterpretError::Unknown);
}

} // namespace

void copy(const ITypePtr& srcRoot, std::string_view srcPath, const void* srcData, size_t srcLength,
          const ITypePtr& destRoot, std::string_view destPath, void* destData, size_t destLength) {
    uint64_t srcObjects = 0, destObjects = 0;
    const std::vector<Run> src = runsOf(srcRoot, srcPath, srcLength, srcObjects);
    const std::vector<Run> dest = runsOf(destRoot, destPath, destLength, destObjects);
    if (srcObjects != destObjects) {
        char detail[256];
        std::snprintf(
            detail, sizeof detail,
            "Logical Error: Number of objects (%d) addressed by srcExpression is different than number "
            "of objects (%d) addressed by destExpression.",
            int(srcObjects), int(destObjects));
        throw KVEL_INTERPRET_ERROR(InterpretError::Unknown, detail);
    }
    const auto* in = static_cast<const uint8_t*>(srcData);
    auto* out = static_cast<uint8_t*>(destData);
    size_t d = 0;
    uint64_t dIndex = 0;
    for (const Run& s : src) {
        for (uint64_t i = 0; i < s.count; ++i) {
            while (dIndex == dest[d].count) {
                ++d;
                dIndex = 0;
            }
            const Run& t = dest[d];
            const Number number = loadNumber(in + s.byteOffset + i * s.size, s);
            storeNumber(out + t.byteOffset + dIndex * t.size, t, number);
            ++dIndex;
        }
    }
}

} // namespace kvel
