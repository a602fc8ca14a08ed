// Arbitrary datagram sequences into the reassembler, its hand-out loop and the plug-in's data
// output (channel pairing into chunks). The output reads every byte it is given, so a buffer
// shorter than it claims shows up under ASan. The reassembler keeps its real storage bound and
// inputs may hold tens of thousands of datagrams, so work that grows faster than the input
// shows up as a time-out.

#include "fuzz/udp-transport/datagramsplit.h"
#include "result/dataoutput_trvaxx.h"
#include "udp-transport/cycleassembler.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {

class FormattingLogger : public LoggingBase {
public:
    void log(int, const char* format, ...) override {
        char text[512];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
    }
};

class ReadingOutput : public DataOutput_TRVAXX {
public:
    ReadingOutput() : DataOutput_TRVAXX(nullptr, nullptr) {}
    void output(int device, const CycleEntry& cycle, bool partial) override {
        if (device != 1 && device != 2)
            __builtin_trap();
        for (const ChannelBuffer& buffer : cycle.channels) {
            const std::size_t flags = buffer.numberOfParts == 1 ? 0 : std::size_t(buffer.numberOfParts);
            if (buffer.size() != buffer.totalSize || buffer.partsReceived.size() != flags)
                __builtin_trap();
            for (std::size_t i = 0; i < buffer.size(); ++i)
                sum += buffer.bytes()[i];
        }
        if (cycle.channels.size() > CycleAssembler::kMaxChannelsPerCycle)
            __builtin_trap();
        DataOutput_TRVAXX::output(device, cycle, partial);
        buildChunks(cycle, chunks);
        for (const KvelChunk& chunk : chunks) {
            if (chunk.channel % 2 != 0)
                __builtin_trap();
            for (std::uint32_t i = 0; i < chunk.dataLength; ++i)
                sum += static_cast<unsigned char>(chunk.data[i]);
            for (std::uint32_t i = 0; i < chunk.descriptionLength; ++i)
                sum += static_cast<unsigned char>(chunk.description[i]);
        }
    }
    unsigned sum = 0;
    std::vector<KvelChunk> chunks;
};

} // namespace

// The reassembler's copy diagnostics go to standard output; thousands of them per second only
// slow the fuzzer down (libFuzzer itself reports on standard error). Inputs up to 1 MiB (some
// 30000 datagrams, half a cycle's worth of numbered datagrams) and a time-out of 10 s are the
// defaults; flags on the command line come later and win.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    [[maybe_unused]] std::FILE* sink = std::freopen("/dev/null", "w", stdout);
    static std::vector<char*> arguments;
    static char maxLen[] = "-max_len=1048576", timeout[] = "-timeout=10";
    arguments.assign(*argv, *argv + *argc);
    arguments.insert(arguments.begin() + 1, {maxLen, timeout});
    arguments.push_back(nullptr);
    *argc = static_cast<int>(arguments.size()) - 1;
    *argv = arguments.data();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FormattingLogger logger;
    ReadingOutput output;
    CycleAssembler assembler(output, logger);
    fuzzsplit::forEachDatagram(data, size, [&](const std::uint8_t* datagram, std::size_t length) {
        assembler.processPacket(datagram, length);
        assembler.deliverCycles();
        for (int device = 1; device <= 2; ++device)
            if (assembler.state(device).cycles.size() > CycleAssembler::kMaxStoredCycles)
                __builtin_trap();
    });
    return 0;
}
