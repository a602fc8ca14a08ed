// Arbitrary text as the sender address of the receive thread (a user entry).

#include "udp-transport/ethreceiver.h"

#include <string>

namespace {

class SilentLogger : public LoggingBase {
public:
    void log(int, const char*, ...) override {}
};

class NoOutput : public DataOutputBase {
public:
    void output(int, const CycleEntry&, bool) override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SilentLogger logger;
    NoOutput output;
    CycleAssembler assembler(output, logger);
    EthReceiver receiver(assembler, logger);
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::uint32_t before = receiver.senderFilter();
    if (receiver.setSender(text) != 0 && receiver.senderFilter() != before)
        __builtin_trap(); // a refused text must leave the filter alone
    return 0;
}
