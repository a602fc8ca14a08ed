#pragma once
// The text of the socketcand protocol: splitting a TCP stream into `< ... >` elements, reading
// the elements a client or a server sends, and writing frames. Shared by the bus's server and its
// own client (joining a bus served elsewhere). Everything here is pure and untrusted-input safe.

#include "simulator/can/simcanbus.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace trvsim {

// Longest element accepted; a `send` with 8 bytes written generously is below 64 characters.
constexpr std::size_t kMaxSocketcandElement = 256;

// Collects stream bytes and hands out complete elements, keeping a partial one across reads.
class SocketcandSplitter {
public:
    enum class Result { Element, NeedMore, Malformed };
    void append(const char* data, std::size_t size) { m_buffer.append(data, size); }
    // Element: `element` holds the words between the brackets. Malformed: `why` says what; the
    // stream cannot be resynchronised and the peer should be dropped.
    Result next(std::vector<std::string_view>& words, std::string& why);
    std::size_t buffered() const { return m_buffer.size() - m_consumed; }

private:
    std::string m_buffer;
    std::size_t m_consumed = 0;
};

// One element as a client sends it to a server.
struct ClientCommand {
    enum Kind { Open, BitTiming, RawMode, Send, Echo, Unknown };
    Kind kind = Unknown;
    std::string bus;      // Open, BitTiming
    uint32_t bitRate = 0; // BitTiming
    SimCanFrame frame;    // Send
};
// False with why when a known command is malformed (the peer is then dropped).
bool parseClientCommand(const std::vector<std::string_view>& words, ClientCommand& command, std::string& why);

// One element as a server sends it to a client.
struct ServerMessage {
    enum Kind { Hi, Ok, Error, Frame, Echo, Unknown };
    Kind kind = Unknown;
    SimCanFrame frame; // Frame
    std::string text;  // Error
};
bool parseServerMessage(const std::vector<std::string_view>& words, ServerMessage& message, std::string& why);

// `< frame ID SECS.USECS DATA >` and `< send ID LEN B0 ... >`.
std::string formatFrameElement(const SimCanFrame& frame, int64_t microsecondsSinceEpoch);
std::string formatSendElement(const SimCanFrame& frame);

} // namespace trvsim
