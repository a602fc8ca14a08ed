#pragma once
// Test side of the stream: the real CycleAssembler with an output that keeps copies of the cycles
// it hands out, and helpers that read them through the real interpreter.

#include "tests/support/recorders.h"

#include "kvel/kvel_interpret.h"
#include "udp-transport/cycleassembler.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

struct CapturedCycle {
    int device = 0;
    bool partial = false;
    uint32_t cycleId = 0;
    std::map<uint32_t, std::vector<uint8_t>> channels; // complete channels only

    // Data channel N paired with its description N + 1, as the plug-in pairs them.
    std::vector<KvelChunk> chunks() const {
        std::vector<KvelChunk> out;
        for (const auto& [number, data] : channels) {
            if (number % 2 != 0)
                continue;
            const auto description = channels.find(number + 1);
            if (description == channels.end())
                continue;
            out.emplace_back(reinterpret_cast<const char*>(description->second.data()),
                             static_cast<uint32_t>(description->second.size()),
                             reinterpret_cast<const char*>(data.data()), static_cast<uint32_t>(data.size()),
                             static_cast<int32_t>(number));
        }
        return out;
    }
    bool has(uint32_t channel) const { return channels.count(channel) != 0; }
};

class StreamCapture : public DataOutputBase {
public:
    void output(int device, const CycleEntry& cycle, bool partial) override {
        CapturedCycle c;
        c.device = device;
        c.partial = partial;
        c.cycleId = cycle.cycleId;
        for (const ChannelBuffer& b : cycle.channels) {
            if (b.complete && b.data && !c.channels.count(b.channelId))
                c.channels[b.channelId].assign(b.bytes(), b.bytes() + b.size());
        }
        std::lock_guard<std::mutex> lock(mutex);
        cycles.push_back(std::move(c));
    }

    // What the reassembly logged as errors (levels 0 and 1).
    std::vector<std::string> errors() const {
        std::vector<std::string> out;
        for (const RecordingLogger::Line& line : logger.lines())
            if (line.level <= 1)
                out.push_back(line.text);
        return out;
    }

    void feed(const uint8_t* bytes, std::size_t length) {
        assembler.processPacket(bytes, length);
        assembler.deliverCycles();
    }

    // Hand-outs of a device, partial (interpreted by the plug-in) or complete (recorded).
    std::vector<CapturedCycle> handOuts(int device, bool partial) const {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<CapturedCycle> out;
        for (const auto& c : cycles)
            if (c.device == device && c.partial == partial)
                out.push_back(c);
        return out;
    }

    RecordingLogger logger;
    CycleAssembler assembler{*this, logger};
    mutable std::mutex mutex;
    std::vector<CapturedCycle> cycles;
};

template <class T>
std::vector<T> readArray(const CapturedCycle& cycle, const std::string& path, uint32_t count, int channel) {
    std::vector<T> v(count);
    kvel::read<T>(path, v.data(), count, cycle.chunks(), channel);
    return v;
}
template <class T> T readValue(const CapturedCycle& cycle, const std::string& path, int channel) {
    T v{};
    kvel::read<T>(path, v, cycle.chunks(), channel);
    return v;
}
