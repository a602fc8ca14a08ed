#pragma once

#include "kvel/kvel_chunk.h"
#include "udp-transport/dataoutputbase.h"

#include <QByteArray>

#include <mutex>
#include <vector>

class CaptureControler;
class PackageProcessor_TRVAXX;

// Turns the cycles of the reassembler into interpreter input: every even data channel N with its
// description channel N + 1 becomes one KvelChunk pointing into the cycle's buffers (nothing is
// copied). Complete cycles are recorded while the recorder records; every DSP cycle is handed to
// the package processor, which decides what it interprets. Runs on the receive thread.
class DataOutput_TRVAXX : public DataOutputBase {
public:
    // Both may be null (no recording, or no interpretation).
    DataOutput_TRVAXX(CaptureControler* recorder, PackageProcessor_TRVAXX* processor);

    void output(int device, const CycleEntry& cycle, bool partial) override;
    int statistics(const StreamStatistics& counters) override;

    // The counters as of the last complete cycle; safe to call from any thread.
    StreamStatistics lastStatistics() const;

    // Pairs data and description channels of a cycle (first partner wins; buffers without a
    // partner and odd buffers give nothing).
    static void buildChunks(const CycleEntry& cycle, std::vector<KvelChunk>& chunks);
    // The chunk stream of a chunk list, or an empty array when it cannot be serialised.
    static QByteArray serializeChunks(const std::vector<KvelChunk>& chunks);

private:
    CaptureControler* recorder;
    PackageProcessor_TRVAXX* processor;
    // Reused for every cycle so the receive thread does not allocate per cycle.
    std::vector<KvelChunk> chunks;
    mutable std::mutex statisticsMutex;
    StreamStatistics statisticsSnapshot;
};
