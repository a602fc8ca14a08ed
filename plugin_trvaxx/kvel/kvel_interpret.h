#pragma once

// Interpreter of kvel descriptions: reads and writes members of a raw data block by member path.
//
// A path is the root's name followed by member names, separated by "."; each component may carry
// indices "[n]" for its dimensions, outermost first, e.g. "AlgoIFOutput.objectDetectionResult.
// objectList[3].x1". Fewer indices than dimensions on the last component address a whole block.
//
// Typed reads and writes exist for the ten native types int8_t, int16_t, int32_t, int64_t, uint8_t,
// uint16_t, uint32_t, uint64_t, float and double. Integer targets need an element of the same
// signedness and size; float and double targets convert from any elementary element. Big-endian
// descriptions are byte-swapped on the way (the host is little-endian).
//
// A path is resolved once per (root, path, native type) into an Accessor and kept in a
// process-wide cache; the description cache keeps one parsed tree per distinct description bytes,
// within a byte budget. Both are guarded by one process-wide lock, released before any data is
// copied and never held while a description is parsed. Every offset and count taken from a
// description is overflow-checked against its root before use. Everything here is safe to call
// from several threads at once.

#include "kvel/kvel_chunk.h"
#include "kvel/kvel_parse.h"
#include "kvel/kvel_shared_ptr.h"
#include "kvel/kvel_types.h"
#include "kvel/kvel_version.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace kvel {

// Text: "<source file> (line <n>): <code text>" followed by "\"<detail>\"" when the detail is not
// empty. Code texts: 1 "Received null pointer.", 2 "Error while interpreting expression:",
// 3 "Size mismatch: ", others "Interpret Error, unknown error.".
class InterpretError : public std::exception {
public:
    enum Code { Unknown = 0, NullPointer = 1, Expression = 2, SizeMismatch = 3 };
    InterpretError(const char* sourceFile, int line, int code, std::string detail = std::string());
    const char* what() const noexcept override { return m_text.c_str(); }
    int code() const { return m_code; }
    const std::string& detail() const { return m_detail; }

private:
    int m_code;
    std::string m_detail;
    std::string m_text;
};

// Type codes of native types and described elements.
enum TypeCode : int {
    TC_INT8 = 0,
    TC_INT16 = 1,
    TC_INT32 = 2,
    TC_INT64 = 3,
    TC_UINT8 = 4,
    TC_UINT16 = 5,
    TC_UINT32 = 6,
    TC_UINT64 = 7,
    TC_FLOAT = 8,
    TC_DOUBLE = 9,
    TC_STRUCT = 10
};

template <class T> struct NativeTypeCode;
template <> struct NativeTypeCode<int8_t> { static constexpr TypeCode value = TC_INT8; };
template <> struct NativeTypeCode<int16_t> { static constexpr TypeCode value = TC_INT16; };
template <> struct NativeTypeCode<int32_t> { static constexpr TypeCode value = TC_INT32; };
template <> struct NativeTypeCode<int64_t> { static constexpr TypeCode value = TC_INT64; };
template <> struct NativeTypeCode<uint8_t> { static constexpr TypeCode value = TC_UINT8; };
template <> struct NativeTypeCode<uint16_t> { static constexpr TypeCode value = TC_UINT16; };
template <> struct NativeTypeCode<uint32_t> { static constexpr TypeCode value = TC_UINT32; };
template <> struct NativeTypeCode<uint64_t> { static constexpr TypeCode value = TC_UINT64; };
template <> struct NativeTypeCode<float> { static constexpr TypeCode value = TC_FLOAT; };
template <> struct NativeTypeCode<double> { static constexpr TypeCode value = TC_DOUBLE; };

// Type code of a described node (by kind and element size); -1 for an elementary size that has no
// native type. Throws InterpretError "Unknown type ID" for a kind outside 0 to 3.
int typeCodeOf(const IType& node);

// One resolved path for one native type. Immutable; shared through the accessor cache.
struct Accessor {
    uint32_t expectedDataSize = 0; // size of the root: every data block must have this length
    uint32_t byteOffset = 0;       // first addressed element from the start of the data block
    uint32_t elementCount = 0;     // number of addressed elements
    uint32_t kind = 0;             // KindSigned, KindUnsigned, KindFloat
    uint32_t elementSize = 0;      // bytes per element
    bool reverseBytes = false;     // big-endian description
};
using AccessorPtr = kvel_shared_ptr<const Accessor>;

// Description cache ------------------------------------------------------------------------------

// Parsed tree of a description container, parsed once per distinct byte string for the life of
// the process (outside the library lock). Throws ParseError (nothing is cached then).
ITypePtr cachedParse(const void* description, size_t length);
ITypePtr cachedParse(const KvelChunk& chunk);
// Number of distinct descriptions held.
size_t descriptionCacheSize();
// Bytes the description cache may hold (key bytes plus an estimate of each tree). A description
// that does not fit any more is refused with ParseError "description cache full ..." and counted.
constexpr size_t DESCRIPTION_CACHE_BUDGET = 32u * 1024u * 1024u;
// A description that failed to parse or to fit is remembered (the last 256 of them) and refused
// again without a parse, counted in repeatedRefusals.
struct DescriptionCacheStats {
    size_t entries = 0;
    size_t bytes = 0;
    uint64_t refusals = 0; // cache full
    uint64_t repeatedRefusals = 0;
};
DescriptionCacheStats descriptionCacheStats();

// The chunk of channel; std::runtime_error "Unable to find requested channel %d in KvelChunk vector".
const KvelChunk& findChunk(const std::vector<KvelChunk>& chunks, int channel);

// Accessors ------------------------------------------------------------------------------------

// Resolves path for native type code (cached). Throws InterpretError.
AccessorPtr getAccessor(const ITypePtr& root, std::string_view path, TypeCode code);
template <class T> AccessorPtr getAccessor(const ITypePtr& root, std::string_view path) {
    return getAccessor(root, path, NativeTypeCode<T>::value);
}

// Resolves path without the cache: for one-off use on trees that are not kept (the cache keeps
// every root it has seen alive, so it should be fed roots from cachedParse() or other long-lived
// trees).
AccessorPtr resolveAccessor(const ITypePtr& root, std::string_view path, TypeCode code);

// Reads count elements through accessor from data (dataLength bytes) into dest; write() stores
// count elements from src into data. Throws InterpretError (code 1 "Interpreter is null" for an
// empty accessor, code 3 for a data block of the wrong size, code 0 for a count or type mismatch).
// A failed read may leave dest partly written; the data block is never changed by a read.
template <class T>
void read(const AccessorPtr& accessor, T* dest, uint32_t count, const void* data, size_t dataLength);
template <class T>
void write(const AccessorPtr& accessor, const T* src, uint32_t count, void* data, size_t dataLength);

// By path on a raw block the caller owns (resolves through the accessor cache).
template <class T>
void read(const ITypePtr& root, std::string_view path, T* dest, uint32_t count, const void* data,
          size_t dataLength) {
    read(getAccessor<T>(root, path), dest, count, data, dataLength);
}
template <class T>
void write(const ITypePtr& root, std::string_view path, const T* src, uint32_t count, void* data,
           size_t dataLength) {
    write(getAccessor<T>(root, path), src, count, data, dataLength);
}

// Typed reads from a cycle: the chunk of channel, its description through the description cache,
// the accessor through the accessor cache, then one copy of count elements into dest.
template <class T>
void read(std::string_view path, T* dest, uint32_t count, const std::vector<KvelChunk>& chunks, int channel);
template <class T>
void read(std::string_view path, T& dest, const std::vector<KvelChunk>& chunks, int channel) {
    read(path, &dest, 1, chunks, channel);
}

// Paths and type codes ----------------------------------------------------------------------------

struct PathType {
    int code = -1;                  // TypeCode of the addressed node
    Dimensions uncoveredDimensions; // extents not consumed by the path's indices (empty: one element)
};
// Type code of the node path addresses and the dimensions its indices leave open. Throws
// InterpretError (code 2 with the path; "Referenced dimension does not exist" for too many indices).
PathType typeOfPath(const ITypePtr& root, std::string_view path);

// For a path that addresses a whole array: the paths of its elements with their indices in
// row-major order. For a path to one structure: the paths of the members found by a tree walk with
// the given depth budget (1: direct members "<path>.<member>" in member order; -1: every
// elementary leaf, arrays of structures expanded per element). For one elementary element: the
// path itself.
std::vector<std::string> memberPaths(const ITypePtr& root, std::string_view path, int depth = 1);

// Copies every object addressed by srcPath (in srcData) to the objects addressed by destPath (in
// destData), element by element with byte-order and numeric conversion. Both sides must address
// the same number of elementary objects, else InterpretError code 0 "Logical Error: ...".
void copy(const ITypePtr& srcRoot, std::string_view srcPath, const void* srcData, size_t srcLength,
          const ITypePtr& destRoot, std::string_view destPath, void* destData, size_t destLength);

// "3.3.13"
const char* versionString();

} // namespace kvel
