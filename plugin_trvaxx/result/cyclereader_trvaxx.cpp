#include "result/cyclereader_trvaxx.h"

#include <stdexcept>
#include <string>

void CycleReader_TRVAXX::begin(const std::vector<KvelChunk>& chunks) {
    current = &chunks;
    const int channels[3] = {ResultChannel_TRVAXX::AlgoOutput, ResultChannel_TRVAXX::DspParameters,
                             ResultChannel_TRVAXX::Identification};
    for (size_t i = 0; i < channelSlots.size(); ++i) {
        Slot& slot = channelSlots[i];
        slot.channel = channels[i];
        slot.chunk = nullptr;
        slot.rootResolved = false;
        for (const KvelChunk& c : chunks) {
            if (c.channel == slot.channel) {
                slot.chunk = &c;
                break;
            }
        }
    }
}

void CycleReader_TRVAXX::ensure(const std::vector<KvelChunk>& chunks) {
    if (current != &chunks)
        begin(chunks);
}

CycleReader_TRVAXX::Slot* CycleReader_TRVAXX::slotFor(int channel) {
    for (Slot& slot : channelSlots) {
        if (slot.channel == channel)
            return &slot;
    }
    return nullptr;
}

bool CycleReader_TRVAXX::has(int channel) const {
    return chunk(channel) != nullptr;
}

const KvelChunk* CycleReader_TRVAXX::chunk(int channel) const {
    for (const Slot& slot : channelSlots) {
        if (slot.channel == channel)
            return slot.chunk;
    }
    return nullptr;
}

const kvel::ITypePtr& CycleReader_TRVAXX::root(int channel) {
    Slot* slot = slotFor(channel);
    if (slot == nullptr || slot->chunk == nullptr)
        throw std::runtime_error("Unable to find requested channel " + std::to_string(channel) +
                                 " in KvelChunk vector");
    if (!slot->rootResolved) {
        slot->root = kvel::cachedParse(*slot->chunk);
        slot->rootResolved = true;
        // Accessors belong to one description; another description starts a new set.
        if (slot->root.get() != slot->memoRoot) {
            slot->accessors.clear();
            slot->tables.clear();
            slot->memoRoot = slot->root.get();
        }
    }
    return slot->root;
}

CycleReader_TRVAXX::Slot& CycleReader_TRVAXX::resolved(int channel) {
    Slot* slot = slotFor(channel);
    if (slot == nullptr || !slot->rootResolved) {
        root(channel);
        slot = slotFor(channel);
    }
    return *slot;
}

std::vector<CycleReader_TRVAXX::Entry>& CycleReader_TRVAXX::table(int channel, const void* key) {
    return resolved(channel).tables[key]; // a new description drops the old entries
}

CycleReader_TRVAXX::Bound CycleReader_TRVAXX::bind(int channel) {
    Slot& slot = resolved(channel);
    Bound bound;
    bound.description = &slot.root;
    bound.data = slot.chunk;
    return bound;
}
