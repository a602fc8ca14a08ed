#pragma once

// Internals shared by the interpreter's source files (not part of the library's interface): the
// library lock, the error helpers, path resolution and the caches' raw lookups.

#include "kvel/kvel_interpret.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#define KVEL_INTERPRET_ERROR(code, ...) ::kvel::InterpretError(__FILE__, __LINE__, code, ##__VA_ARGS__)

namespace kvel {

struct DescriptionEntry {
    std::string bytes; // the key; the map's string_view points here
    ITypePtr root;
    size_t cost = 0; // bytes held: the key plus an estimate of the tree
};

namespace detail {

// The one lock of the library: description cache and accessor caches.
std::mutex& libraryLock();

// Code 3 "expected %d bytes (from kvel description), got %d bytes".
InterpretError sizeMismatch(uint64_t expected, uint64_t got);
// A path whose addressed bytes do not lie inside the root (or whose arithmetic overflows): code 2
// with the path.
InterpretError outsideRoot(std::string_view path);

struct Resolved {
    const IType* node = nullptr;
    uint64_t byteOffset = 0; // of the first addressed element
    uint64_t elementCount = 1;
    Dimensions uncovered;
};

enum class Purpose { Accessor, TypeQuery };

// Walks path from root (kvel_paths.cpp). Throws InterpretError.
Resolved resolve(const IType* root, std::string_view path, Purpose purpose);

// The cache entry of a chunk's description, parsed on a miss (kvel_descriptioncache.cpp).
const DescriptionEntry* descriptionEntry(const KvelChunk& chunk);

// Raw accessor of (root, path, code); valid for the life of the process (kvel_accessors.cpp).
const Accessor* cachedAccessor(const ITypePtr& root, std::string_view path, TypeCode code);

// No real description lists anywhere near this many objects; hostile ones must not hang the caller.
constexpr uint64_t MAX_LISTED_OBJECTS = 1u << 16;
// Throws InterpretError code 0 "too many addressed objects" above MAX_LISTED_OBJECTS.
void checkListSize(uint64_t count);

} // namespace detail
} // namespace kvel
