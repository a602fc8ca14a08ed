// libFuzzer target: the trvaxx tool's command line, including the CAN option group (user entries).
// The input is split at NUL and line-feed bytes into arguments; whatever they hold, parsing ends in
// options that keep their ranges, a help request or an error message.

#include "tools/trvaxx/toolcommand.h"

#include "fuzz/common/fuzzarguments.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QStringList arguments = fuzzArguments(data, size);

    ToolOptions options;
    QString error;
    if (!parseToolOptions(arguments, options, error)) {
        if (error.isEmpty())
            __builtin_trap(); // a refusal always says why
        return 0;
    }
    if (options.action == ToolOptions::Action::Run && (options.seconds < 0 || !(options.speed > 0)))
        __builtin_trap();
    // The CAN group on its own, with the arguments after the first as its options.
    const std::vector<const OptionGroup*> groups = {&ToolOptionGroups::can()};
    ToolOptions can;
    if (parseCommandLine(QStringLiteral("can"), arguments.mid(1), groups, {}, can, error) &&
        can.can.resolve(error)) {
        if (!CanOptions::isValidInterface(can.can.interface) || can.can.node < 0 || can.can.node > 255)
            __builtin_trap();
    }
    return 0;
}
