#include "result/resultchain_trvaxx.h"

#include "result/resultloader_trvaxx.h"

#include "kvel/kvel_parse.h"

#include <exception>
#include <vector>

ResultChain_TRVAXX::ResultChain_TRVAXX() = default;

ResultChain_TRVAXX::~ResultChain_TRVAXX() {
    if (m_loader)
        m_loader->stop();
    m_loader.reset();
}

ResultLoader_TRVAXX& ResultChain_TRVAXX::loader() {
    if (!m_loader)
        m_loader = std::make_unique<ResultLoader_TRVAXX>(&m_recorder, &m_processor);
    return *m_loader;
}

ResultChain_TRVAXX::PacketResult ResultChain_TRVAXX::processPacket(const char* data, unsigned int length,
                                                                   QString* error) {
    try {
        std::vector<KvelChunk> chunks;
        if (data == nullptr || kvel::parseChunkStream(data, length, chunks) != 0)
            return PacketResult::Rejected;
        if (chunks.empty())
            return PacketResult::Empty;
        m_processor.processCycle(chunks);
        return PacketResult::Processed;
    } catch (const std::exception& e) {
        if (error)
            *error = QString::fromLocal8Bit(e.what());
        return PacketResult::Failed;
    }
}
