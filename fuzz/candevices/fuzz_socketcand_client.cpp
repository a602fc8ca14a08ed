// Arbitrary bytes from a socketcand server into the client's element parser, once whole and once
// cut into pieces at the positions the first byte chooses: both readings must agree, and every
// frame handed on must fit a CanFrame.

#include "candevices/socketcan/socketcandprotocol.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

struct Reading {
    std::vector<std::string> elements; // kind and frame, as text
    bool ok = true;
};

void record(Reading& reading, const SocketcandElement& element) {
    if (element.kind == SocketcandElement::Kind::Frame &&
        (element.frame.length > 8 || element.frame.identifier > 0x1FFFFFFF))
        __builtin_trap();
    std::string text = std::to_string(static_cast<int>(element.kind)) + ":" + std::string(element.text);
    if (element.kind == SocketcandElement::Kind::Frame) {
        char frame[kSocketcandSendCapacity];
        text.append(frame, socketcandSend(element.frame, frame));
    }
    reading.elements.push_back(std::move(text));
}

Reading read(const char* data, std::size_t size, std::size_t piece) {
    SocketcandParser parser;
    Reading reading;
    const auto sink = [&](const SocketcandElement& element) { record(reading, element); };
    for (std::size_t at = 0; at < size && reading.ok; at += piece)
        reading.ok = parser.feed(data + at, std::min(piece, size - at), sink);
    return reading;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size == 0)
        return 0;
    const std::size_t piece = 1 + bytes[0] % 16;
    const char* data = reinterpret_cast<const char*>(bytes + 1);
    const Reading whole = read(data, size - 1, size);
    const Reading pieces = read(data, size - 1, piece);
    if (whole.ok != pieces.ok || whole.elements != pieces.elements)
        __builtin_trap();
    return 0;
}
