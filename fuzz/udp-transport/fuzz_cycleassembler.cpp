// Arbitrary datagram sequences into the reassembler and its hand-out loop. The output reads
// every byte it is given, so a buffer shorter than it claims shows up under ASan.

#include "fuzz/udp-transport/datagramsplit.h"
#include "udp-transport/cycleassembler.h"

#include <cstdarg>
#include <cstdio>

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

class ReadingOutput : public DataOutputBase {
public:
    void output(int device, const CycleEntry& cycle, bool) override {
        if (device != 1 && device != 2)
            __builtin_trap();
        for (const ChannelBuffer& buffer : cycle.channels) {
            if (buffer.size() != buffer.totalSize ||
                buffer.partsReceived.size() != static_cast<std::size_t>(buffer.numberOfParts))
                __builtin_trap();
            for (std::size_t i = 0; i < buffer.size(); ++i)
                sum += buffer.bytes()[i];
        }
    }
    unsigned sum = 0;
};

} // namespace

// The reassembler's copy diagnostics go to standard output; thousands of them per second only
// slow the fuzzer down (libFuzzer itself reports on standard error).
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    [[maybe_unused]] std::FILE* sink = std::freopen("/dev/null", "w", stdout);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FormattingLogger logger;
    ReadingOutput output;
    // A small budget for stored cycles keeps each run fast; the bound itself is what is exercised.
    CycleAssembler assembler(output, logger, 1u << 20);
    fuzzsplit::forEachDatagram(data, size, [&](const std::uint8_t* datagram, std::size_t length) {
        assembler.processPacket(datagram, length);
        assembler.deliverCycles();
        for (int device = 1; device <= 2; ++device)
            if (assembler.state(device).cycles.size() > CycleAssembler::kMaxStoredCycles)
                __builtin_trap();
    });
    return 0;
}
