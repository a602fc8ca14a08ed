#pragma once

#include "result/capturecontroler_trvaxx.h"
#include "result/packageprocessor_trvaxx.h"
#include "result/resultcache_trvaxx.h"

#include <QString>

#include <memory>

class ResultLoader_TRVAXX;

// The result chain of one sensor, assembled in one place: the result cache, the package processor
// that fills it, the recorder, and (for a live stream) the result loader that receives datagrams
// and hands complete cycles to the recorder and early cycles to the processor. A recorded packet
// (the chunk stream of one cycle) enters through processPacket() and takes the same road from the
// processor on. The live session, the replay session, the replay view and the sensor connection
// each own one chain instead of wiring the parts themselves.
//
// Lives on its owner's thread; the loader's receive thread or a replay delivery thread feeds the
// processor (one feeding thread at a time). Destroyed in order: loader (its thread stops), recorder,
// processor, cache.
class ResultChain_TRVAXX {
public:
    ResultChain_TRVAXX();
    ~ResultChain_TRVAXX();

    ResultChain_TRVAXX(const ResultChain_TRVAXX&) = delete;
    ResultChain_TRVAXX& operator=(const ResultChain_TRVAXX&) = delete;

    ResultCache_TRVAXX& cache() { return m_cache; }
    PackageProcessor_TRVAXX& processor() { return m_processor; }
    CaptureControler_TRVAXX& recorder() { return m_recorder; }
    // The live receive chain, made on first use (a replay never needs one).
    ResultLoader_TRVAXX& loader();

    enum class PacketResult {
        Processed, // interpreted, the record is in the cache
        Empty,     // a valid chunk stream without chunks
        Rejected,  // not a chunk stream
        Failed,    // interpretation threw; `error` says why
    };
    // Parses one recorded packet (the chunks point into `data`) and interprets it like a live cycle.
    // Called on the feeding thread; never throws.
    PacketResult processPacket(const char* data, unsigned int length, QString* error = nullptr);

private:
    ResultCache_TRVAXX m_cache;
    PackageProcessor_TRVAXX m_processor{&m_cache};
    CaptureControler_TRVAXX m_recorder;
    std::unique_ptr<ResultLoader_TRVAXX> m_loader;
};
