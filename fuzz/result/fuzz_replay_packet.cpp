// One recorded packet through the path the replay takes: the chunk-stream parse, then the
// package processor's interpretation of the cycle into the result cache.
#include "kvel/kvel_parse.h"
#include "result/packageprocessor_trvaxx.h"
#include "result/resultcache_trvaxx.h"

#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <vector>

namespace {
void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool init = [] {
        qInstallMessageHandler(quiet); // every rejected description logs a line
        return true;
    }();
    (void)init;

    std::vector<KvelChunk> chunks;
    if (kvel::parseChunkStream(data, size, chunks) != 0) {
        if (!chunks.empty())
            __builtin_trap(); // a failed parse returns an empty list
        return 0;
    }
    // Every chunk lies inside the packet.
    const char* begin = reinterpret_cast<const char*>(data);
    const char* end = begin + size;
    for (const KvelChunk& c : chunks) {
        if (c.descriptionLength < 1 || c.dataLength < 1 || c.description < begin ||
            c.description + c.descriptionLength > end || c.data < begin || c.data + c.dataLength > end)
            __builtin_trap();
    }
    if (chunks.empty())
        return 0;
    ResultCache_TRVAXX cache;
    PackageProcessor_TRVAXX processor(&cache);
    try {
        processor.processCycle(chunks);
    } catch (const std::exception&) {
        // The replay view drops such a packet and goes on; no crash is all that counts here.
    }
    return 0;
}
