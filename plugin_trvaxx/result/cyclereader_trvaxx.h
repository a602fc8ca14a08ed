#pragma once

#include "kvel/kvel_chunk.h"
#include "kvel/kvel_interpret.h"

#include <array>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

// Channels of a result cycle that the extraction reads; a cycle that contains NotInterpreted is
// recorded but not interpreted.
namespace ResultChannel_TRVAXX {
enum : int { NotInterpreted = 2, AlgoOutput = 8, DspParameters = 14, Identification = 256 };
}

// Typed reads of one cycle's channels with the accessors kept per description: a path is resolved
// once per description (by the interpreter's accessor cache) and then served from here without
// hashing the path again. Paths must be strings of static storage: their addresses are the keys.
class CycleReader_TRVAXX {
public:
    // The channels of the next cycle. The chunks must outlive the reads.
    void begin(const std::vector<KvelChunk>& chunks);
    // begin() unless these chunks are the current ones (for steps called on their own).
    void ensure(const std::vector<KvelChunk>& chunks);
    bool has(int channel) const;
    // Reads count elements of path from channel; throws what the interpreter throws.
    template <class T> void read(const std::string& path, T* dest, uint32_t count, int channel);
    template <class T> void read(const std::string& path, T& dest, int channel) {
        read(path, &dest, 1, channel);
    }
    // A resolved path: the native type it was resolved for and its accessor.
    typedef std::pair<int, kvel::AccessorPtr> Entry;
    // Entries for a fixed list of paths (key: the list's address), kept while the channel's
    // description stays the same; sized by the caller. Saves one look-up per read in long lists.
    std::vector<Entry>& table(int channel, const void* key);
    // Reads through an entry of such a table.
    template <class T> void read(Entry& entry, const std::string& path, T* dest, uint32_t count, int channel);
    template <class T> void read(Entry& entry, const std::string& path, T& dest, int channel) {
        read(entry, path, &dest, 1, channel);
    }
    // One channel's description and data, looked up once for a run of table reads.
    class Bound {
    public:
        template <class T> void read(Entry& entry, const std::string& path, T* dest, uint32_t count) const {
            if (!entry.second || entry.first != kvel::NativeTypeCode<T>::value) {
                entry.second = kvel::getAccessor<T>(*description, path);
                entry.first = kvel::NativeTypeCode<T>::value;
            }
            kvel::read(entry.second, dest, count, data->data, data->dataLength);
        }
        template <class T> void read(Entry& entry, const std::string& path, T& dest) const {
            read(entry, path, &dest, 1);
        }

    private:
        friend class CycleReader_TRVAXX;
        const kvel::ITypePtr* description = nullptr;
        const KvelChunk* data = nullptr;
    };
    // Throws like root().
    Bound bind(int channel);
    // The parsed description of a channel (throws for a missing channel or a bad description).
    const kvel::ITypePtr& root(int channel);
    // The chunk of a channel, or null.
    const KvelChunk* chunk(int channel) const;

private:
    struct Slot {
        int channel = 0;
        const KvelChunk* chunk = nullptr;
        kvel::ITypePtr root;
        bool rootResolved = false;
        const kvel::IType* memoRoot = nullptr;
        std::unordered_map<const void*, Entry> accessors;
        std::unordered_map<const void*, std::vector<Entry>> tables;
    };
    Slot* slotFor(int channel);
    // The slot of a channel with its description parsed (throws like root()).
    Slot& resolved(int channel);
    std::array<Slot, 3> channelSlots{};
    const std::vector<KvelChunk>* current = nullptr;
};

template <class T>
void CycleReader_TRVAXX::read(const std::string& path, T* dest, uint32_t count, int channel) {
    Slot& slot = resolved(channel);
    read(slot.accessors[&path], path, dest, count, channel);
}

template <class T>
void CycleReader_TRVAXX::read(Entry& entry, const std::string& path, T* dest, uint32_t count, int channel) {
    bind(channel).read(entry, path, dest, count);
}
