// libFuzzer target: trvaxx-sim's command line. The input is split at NUL and line-feed bytes into
// arguments; whatever they hold, parsing ends in a configuration, help or an error message.

#include "simulator/simcommandline.h"

#include "fuzz/common/fuzzarguments.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QStringList arguments = fuzzArguments(data, size, {"trvaxx-sim"});

    const trvsim::CommandLine cl = trvsim::parseCommandLine(arguments);
    if (cl.outcome == trvsim::CommandLine::Error && cl.message.empty())
        __builtin_trap(); // a refusal always says why

    std::string address, why;
    uint16_t port = 0;
    bool hasPort = false;
    double share = 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    trvsim::parseEndpoint(text, address, port, hasPort, why);
    if (trvsim::parseShare(text, share, why) && !(share >= 0.0 && share <= 1.0))
        __builtin_trap();
    return 0;
}
