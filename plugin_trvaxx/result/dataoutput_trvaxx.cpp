#include "result/dataoutput_trvaxx.h"

#include "result/packageprocessor_trvaxx.h"

#include "capture_replay/capturecontroler.h"
#include "kvel/kvel_parse.h"
#include "udp-transport/udpframing.h"

DataOutput_TRVAXX::DataOutput_TRVAXX(CaptureControler* captureControler,
                                     PackageProcessor_TRVAXX* packageProcessor)
    : recorder(captureControler), processor(packageProcessor) {}

void DataOutput_TRVAXX::buildChunks(const CycleEntry& cycle, std::vector<KvelChunk>& chunks) {
    chunks.clear();
    for (const ChannelBuffer& data : cycle.channels) {
        if (data.channelId % 2 != 0)
            continue;
        for (const ChannelBuffer& description : cycle.channels) {
            if (description.channelId != data.channelId + 1)
                continue;
            // A channel longer than the chunk's length field would be cut; such a cycle cannot come
            // from the reassembler (it allocates at most 4 GiB), so only guard against it.
            if (description.size() > UINT32_MAX || data.size() > UINT32_MAX)
                break;
            chunks.emplace_back(reinterpret_cast<const char*>(description.bytes()),
                                uint32_t(description.size()), reinterpret_cast<const char*>(data.bytes()),
                                uint32_t(data.size()), int32_t(data.channelId));
            break;
        }
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
