// Arbitrary bytes from a network camera into the MJPEG stream parser, once whole and once cut into
// pieces whose size the first byte chooses: both readings must give the same pictures and the same
// verdict, and no picture may pass the parser's bound.

#include "grabbers/mjpeg/mjpegstreamparser.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kLimit = 4096;

struct Reading {
    std::vector<std::string> pictures;
    bool ok = true;
};

Reading read(const char* data, std::size_t size, std::size_t piece) {
    MjpegStreamParser parser(kLimit);
    Reading reading;
    for (std::size_t at = 0; at < size && reading.ok; at += piece)
        reading.ok = parser.feed(data + at, std::min(piece, size - at), reading.pictures);
    for (const std::string& picture : reading.pictures)
        if (picture.size() > kLimit)
            __builtin_trap();
    return reading;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::size_t piece = 1 + data[0] % 17;
    const char* text = reinterpret_cast<const char*>(data + 1);
    const Reading whole = read(text, size - 1, size);
    const Reading cut = read(text, size - 1, piece);
    if (whole.ok != cut.ok || whole.pictures != cut.pictures)
        __builtin_trap();
    return 0;
}
