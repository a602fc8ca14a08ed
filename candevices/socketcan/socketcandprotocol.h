#pragma once
// The socketcand ASCII protocol as the client speaks it: a parser for what servers send and the
// text of the elements the client writes. Qt-free, so a fuzzer feeds the parser arbitrary bytes.

#include "can-communication/canframe.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

// One element received from a server.
struct SocketcandElement {
    enum class Kind {
        Hi,         // greeting
        Ok,         // a command was accepted
        Error,      // a command was refused; text holds the reason
        Echo,       // answer to a keep-alive
        Frame,      // a bus frame in raw mode
        ErrorFrame, // a bus error frame (identifier with the error flag): carries nothing for us
        Other       // a well-formed element of a kind the client does not use; text holds it
    };
    Kind kind = Kind::Other;
    std::string_view text; // valid only during the callback
    CanFrame frame;
};

// Splits a byte stream into elements. Lenient: elements may arrive split across reads or several
// in one read, whitespace between and inside elements may be any run of blanks, tabs and line
// ends, hex digits in either case, frame data as one run of hex pairs or as separate bytes.
// Malformed input (text outside an element, an element over the length bound, a frame element
// that does not parse) stops the parser; the owner closes the connection.
class SocketcandParser {
public:
    using Sink = std::function<void(const SocketcandElement&)>;
    static constexpr std::size_t kMaxElementLength = 1024;

    // Feeds bytes; calls sink for every complete element. Returns false once the stream is
    // malformed (then and on every later call); error() says why.
    bool feed(const char* data, std::size_t size, const Sink& sink);
    // True while an element has started but not ended: a stream that closes now was truncated.
    bool insideElement() const { return m_inside; }
    const std::string& error() const { return m_error; }
    void reset();

private:
    bool finishElement(const Sink& sink);
    bool fail(std::string reason);

    std::string m_element; // characters after '<' of the element being read
    bool m_inside = false;
    std::string m_error;
};

// Parses the inside of one element ("frame 123 1.000000 1122"); false when malformed.
bool parseSocketcandElement(std::string_view inside, SocketcandElement& out, std::string& error);

// Texts the client writes.
std::string socketcandOpen(std::string_view bus);
std::string socketcandBitTiming(std::string_view bus, uint32_t bitRate);
// "< send ID LEN B0 ... >" (8 hex digits for identifiers above 0x7FF, 3 otherwise) written into
// out without allocating; returns its length. The longest element has 43 characters.
constexpr std::size_t kSocketcandSendCapacity = 48;
std::size_t socketcandSend(const CanFrame& frame, char (&out)[kSocketcandSendCapacity]);
inline const char* socketcandRawMode() {
    return "< rawmode >";
}
inline const char* socketcandEcho() {
    return "< echo >";
}
