// Chunk streams (recorded packets): the buffer parse, its re-serialization and the file read-ahead.

#include "kvel/kvel_parse.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<KvelChunk> chunks;
    const int parsed = kvel::parseChunkStream(data, size, chunks);
    if (parsed != 0 && !chunks.empty())
        std::abort();

    // A stream that parses is written back to the same bytes (up to its own length).
    if (parsed == 0) {
        const size_t length = kvel::chunkStreamSize(chunks);
        if (length > size)
            std::abort();
        std::vector<uint8_t> rewritten(length);
        if (kvel::writeChunkStream(chunks, rewritten.data(), rewritten.size()) != 0 ||
            std::memcmp(rewritten.data(), data, length) != 0)
            std::abort();
    }

    // The read-ahead agrees with the buffer parse on every stream the latter accepts.
    std::FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!file)
        return 0;
    try {
        const int64_t ahead = kvel::readAheadChunkStream(file);
        if (parsed == 0 && ahead != int64_t(kvel::chunkStreamSize(chunks)))
            std::abort();
        if (std::ftell(file) != 0)
            std::abort();
    } catch (const KvlEOFException&) {
        if (parsed == 0)
            std::abort();
    }
    std::fclose(file);
    return 0;
}
