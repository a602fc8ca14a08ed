#pragma once

// kvel description containers and chunk streams.
//
// A description container (magic 0xDA 0xDE, big-endian format version 0x0100, 0x0200 or 0x0300)
// wraps a record stream that describes one root type. parse() turns a container into a type tree,
// write() produces a version 0x0300 container (zlib level 9, padded to a multiple of 4 bytes).
// Both are reentrant. Enciphered containers (version 0x0200, or 0x0300 with a cipher method and a
// key number) are rejected: this build holds no cipher.
//
// A chunk stream serializes a list of KvelChunk (one recorded result cycle) in host byte order:
// count, then per chunk channel, description length D, data length N, 0x01234567, D bytes,
// 0x76543210, N bytes, 0x89ABCDEF.

#include "kvel/kvel_chunk.h"
#include "kvel/kvel_types.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <istream>
#include <string>
#include <vector>

namespace kvel {

// Text: "<source file> (line <n>): Error in parsing data definition" and, when the detail is not
// empty, ": <detail>".
class ParseError : public std::exception {
public:
    ParseError(const char* sourceFile, int line, std::string detail);
    const char* what() const noexcept override { return m_text.c_str(); }
    const std::string& detail() const { return m_detail; }

private:
    std::string m_detail;
    std::string m_text;
};

// What one description may cost, checked before and while parsing. Real descriptions are a few
// kilobytes with a few hundred type records nested a few levels deep; these are generous multiples,
// small enough that a hostile description is refused within milliseconds. The container and its
// record stream (after decompression) are each bounded by MAX_DESCRIPTION_BYTES.
constexpr uint32_t MAX_DESCRIPTION_BYTES = 1024 * 1024;
constexpr uint32_t MAX_DESCRIPTION_NODES = 16384;
constexpr int MAX_DESCRIPTION_DEPTH = 64;

// Parses a whole container. Returns the root type, or an empty pointer for an empty record stream.
// Throws ParseError; a failed parse leaves nothing behind.
ITypePtr parse(const void* container, size_t length);
inline ITypePtr parse(const std::vector<uint8_t>& container) {
    return parse(container.data(), container.size());
}

// Writes root into a version 0x0300 container (compressed, no cipher) and checks that the result
// parses. Throws ParseError ("type is NULL", "compress failed", or a parse error of the output).
std::vector<uint8_t> write(const ITypePtr& root);

// Chunk streams ---------------------------------------------------------------------------------

constexpr uint32_t CHUNK_DELIMITER_DESCRIPTION = 0x01234567;
constexpr uint32_t CHUNK_DELIMITER_DATA = 0x76543210;
constexpr uint32_t CHUNK_DELIMITER_END = 0x89ABCDEF;
constexpr int32_t CHUNK_STREAM_MAX_COUNT = 1024;

// Bytes of the chunk stream of chunks: 4 + per chunk 24 + D + N.
size_t chunkStreamSize(const std::vector<KvelChunk>& chunks);

// Serializes chunks into dest. Returns 0, or -1 (writing nothing) when length differs from
// chunkStreamSize(chunks).
int writeChunkStream(const std::vector<KvelChunk>& chunks, void* dest, size_t length);

// Parses one chunk stream held in buffer. The chunks point into buffer (nothing is copied).
// Returns 0 with the list, or -1 with an empty list for a malformed stream (count below 0 or above
// 1024, a length below 1, a wrong delimiter, anything running past the end).
int parseChunkStream(const void* buffer, size_t length, std::vector<KvelChunk>& chunks);

// Reads the headers of the chunk stream at the file's position, skipping the bodies, and returns
// its total byte length with the file moved back to where it started; -1 when a chunk has a
// description or data length below 1 (or the count is out of range). Throws KvlEOFException when
// the file ends early.
int64_t readAheadChunkStream(std::FILE* file);
int64_t readAheadChunkStream(std::istream& file);

} // namespace kvel

// Thrown when a read from a file returns fewer bytes than asked: "End of file reached".
class KvlEOFException : public std::exception {
public:
    const char* what() const noexcept override { return "End of file reached"; }
};
