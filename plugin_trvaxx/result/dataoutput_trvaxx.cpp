#include "result/dataoutput_trvaxx.h"

#include "result/packageprocessor_trvaxx.h"

#include "capture_replay/capturecontroler.h"
#include "kvel/kvel_parse.h"
#include "udp-transport/udpframing.h"

#include <algorithm>
#include <utility>

DataOutput_TRVAXX::DataOutput_TRVAXX(CaptureControler* captureControler,
                                     PackageProcessor_TRVAXX* packageProcessor)
    : recorder(captureControler), processor(packageProcessor) {}

void DataOutput_TRVAXX::buildChunks(const CycleEntry& cycle, std::vector<KvelChunk>& chunks) {
    chunks.clear();
    // (channel id, position) of the odd channels, sorted: the first partner of data channel N is
    // the lowest position with id N + 1. A lookup keeps hostile cycles with many channels from
    // costing quadratic time; reused per thread so that a cycle allocates nothing.
    thread_local std::vector<std::pair<uint32_t, size_t>> descriptions;
    descriptions.clear();
    for (size_t i = 0; i < cycle.channels.size(); ++i)
        if (cycle.channels[i].channelId % 2 != 0)
            descriptions.emplace_back(cycle.channels[i].channelId, i);
    std::sort(descriptions.begin(), descriptions.end());
    for (const ChannelBuffer& data : cycle.channels) {
        if (data.channelId % 2 != 0)
            continue;
        const auto partner = std::lower_bound(descriptions.begin(), descriptions.end(),
                                              std::make_pair(data.channelId + 1, size_t(0)));
        if (partner == descriptions.end() || partner->first != data.channelId + 1)
            continue;
        const ChannelBuffer& description = cycle.channels[partner->second];
        // A channel longer than the chunk's length field would be cut; such a cycle cannot come
        // from the reassembler (it allocates at most 4 GiB), so only guard against it.
        if (description.size() > UINT32_MAX || data.size() > UINT32_MAX)
            continue;
        chunks.emplace_back(reinterpret_cast<const char*>(description.bytes()), uint32_t(description.size()),
                            reinterpret_cast<const char*>(data.bytes()), uint32_t(data.size()),
                            int32_t(data.channelId));
    }
}

QByteArray DataOutput_TRVAXX::serializeChunks(const std::vector<KvelChunk>& chunks) {
    const size_t size = kvel::chunkStreamSize(chunks);
    if (size > size_t(std::numeric_limits<int>::max()))
        return QByteArray();
    QByteArray packet(qsizetype(size), Qt::Uninitialized);
    if (kvel::writeChunkStream(chunks, packet.data(), size) != 0)
        return QByteArray();
    return packet;
}

void DataOutput_TRVAXX::output(int device, const CycleEntry& cycle, bool partial) {
    if (device != udpframing::kSubDeviceDsp)
        return;
    buildChunks(cycle, chunks);
    if (!partial && recorder && recorder->isRecording()) {
        const QByteArray packet = serializeChunks(chunks);
        if (!packet.isEmpty())
            recorder->writePacket(packet);
    }
    if (processor)
        processor->onCycle(chunks, !partial);
}

int DataOutput_TRVAXX::statistics(const StreamStatistics& counters) {
    std::lock_guard<std::mutex> lock(statisticsMutex);
    statisticsSnapshot = counters;
    return 0;
}

StreamStatistics DataOutput_TRVAXX::lastStatistics() const {
    std::lock_guard<std::mutex> lock(statisticsMutex);
    return statisticsSnapshot;
}
