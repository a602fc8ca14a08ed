// Fuzzes the description source reader and the layout: any text yields descriptions or a
// SourceError, never a crash, a hang or a read outside the text. Includes resolve to nothing.
// Every layout it accepts must also pass the kvel writer, so a writer refusal is let through as a
// crash: it would be a layout fault.
#include "tools/kvelc/kvelc_emit.h"
#include "tools/kvelc/kvelc_layout.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        kvelc::DescriptionSet set([](const std::string&) { return std::optional<std::string>(); });
        set.addText("fuzz.kvs", text);
        const std::vector<std::string> names = set.outputNames();
        if (!names.empty()) {
            kvelc::compile(set.build(names.front()));
        }
    } catch (const kvelc::SourceError&) {
    }
    return 0;
}
