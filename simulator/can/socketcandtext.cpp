#include "simulator/can/socketcandtext.h"

#include <charconv>
#include <cstdio>

namespace trvsim {

namespace {

bool parseHex(std::string_view text, std::size_t maxDigits, uint32_t& value) {
    if (text.empty() || text.size() > maxDigits)
        return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    return ec == std::errc() && end == text.data() + text.size();
}

// Identifiers: exactly 8 digits or a value above 0x7FF mean 29 bits (clients in the field drop
// leading zeros), anything else 11 bits.
bool parseIdentifier(std::string_view text, SimCanFrame& frame) {
    uint32_t id = 0;
    if (!parseHex(text, 8, id) || id > 0x1FFFFFFFu)
        return false;
    frame.id = id;
    frame.extended = text.size() == 8 || id > 0x7FF;
    return true;
}

bool parseDecimal(std::string_view text, uint32_t& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

} // namespace

SocketcandSplitter::Result SocketcandSplitter::next(std::vector<std::string_view>& words, std::string& why) {
    words.clear();
    // Whitespace between elements is tolerated; anything else must open an element.
    while (m_consumed < m_buffer.size() &&
           (m_buffer[m_consumed] == ' ' || m_buffer[m_consumed] == '\n' || m_buffer[m_consumed] == '\r'))
        ++m_consumed;
    if (m_consumed == m_buffer.size()) {
        m_buffer.clear();
        m_consumed = 0;
        return Result::NeedMore;
    }
    if (m_buffer[m_consumed] != '<') {
        why = "text outside an element";
        return Result::Malformed;
    }
    const std::size_t close = m_buffer.find('>', m_consumed);
    if (close == std::string::npos) {
        if (buffered() > kMaxSocketcandElement) {
            why = "element longer than " + std::to_string(kMaxSocketcandElement) + " characters";
            return Result::Malformed;
        }
        // Keep the partial element at the front so that the buffer does not grow without bound.
        m_buffer.erase(0, m_consumed);
        m_consumed = 0;
        return Result::NeedMore;
    }
    if (close - m_consumed > kMaxSocketcandElement) {
        why = "element longer than " + std::to_string(kMaxSocketcandElement) + " characters";
        return Result::Malformed;
    }
    std::string_view inner(m_buffer.data() + m_consumed + 1, close - m_consumed - 1);
    m_consumed = close + 1;
    std::size_t pos = 0;
    while (pos < inner.size()) {
        if (inner[pos] == ' ') {
            ++pos;
            continue;
        }
        const unsigned char c = static_cast<unsigned char>(inner[pos]);
        if (c < 0x21 || c > 0x7E || c == '<') {
            why = "unexpected character in an element";
            return Result::Malformed;
        }
        const std::size_t end = std::min(inner.find(' ', pos), inner.size());
        words.push_back(inner.substr(pos, end - pos));
        pos = end;
    }
    if (words.empty()) {
        why = "empty element";
        return Result::Malformed;
    }
    return Result::Element;
}

bool parseClientCommand(const std::vector<std::string_view>& w, ClientCommand& command, std::string& why) {
    command = ClientCommand{};
    const std::string_view word = w.empty() ? std::string_view() : w[0];
    if (word == "open") {
        if (w.size() != 2 || w[1].size() > 16) {
            why = "open takes one bus name of at most 16 characters";
            return false;
        }
        command.kind = ClientCommand::Open;
        command.bus = std::string(w[1]);
    } else if (word == "rawmode" || word == "echo") {
        command.kind = word == "echo" ? ClientCommand::Echo : ClientCommand::RawMode;
    } else if (word == "send") {
        SimCanFrame& f = command.frame;
        uint32_t length = 0;
        if (w.size() < 3 || !parseIdentifier(w[1], f) || !parseHex(w[2], 2, length) || length > 8 ||
            w.size() != 3 + length) {
            why = "send takes an identifier, a length 0 to 8 and that many bytes";
            return false;
        }
        f.length = static_cast<uint8_t>(length);
        for (uint32_t i = 0; i < length; ++i) {
            uint32_t byte = 0;
            if (!parseHex(w[3 + i], 2, byte)) {
                why = "send: '" + std::string(w[3 + i]) + "' is not a byte in hex";
                return false;
            }
            f.data[i] = static_cast<uint8_t>(byte);
        }
        command.kind = ClientCommand::Send;
    } else if (w.size() >= 3 && w[1] == "B") {
        if (w[0].size() > 16 || !parseDecimal(w[2], command.bitRate)) {
            why = "bit timing takes a bus name and a bit rate in decimal";
            return false;
        }
        command.kind = ClientCommand::BitTiming;
        command.bus = std::string(w[0]);
    }
    return true;
}

bool parseServerMessage(const std::vector<std::string_view>& w, ServerMessage& message, std::string& why) {
    message = ServerMessage{};
    const std::string_view word = w.empty() ? std::string_view() : w[0];
    if (word == "hi" || word == "ok" || word == "echo") {
        message.kind = word == "hi"   ? ServerMessage::Hi
                       : word == "ok" ? ServerMessage::Ok
                                      : ServerMessage::Echo;
    } else if (word == "error") {
        message.kind = ServerMessage::Error;
        for (std::size_t i = 1; i < w.size(); ++i)
            message.text += (i > 1 ? " " : "") + std::string(w[i]);
    } else if (word == "frame") {
        SimCanFrame& f = message.frame;
        const std::string_view data = w.size() == 4 ? w[3] : std::string_view();
        if ((w.size() != 3 && w.size() != 4) || !parseIdentifier(w[1], f) || data.size() % 2 != 0 ||
            data.size() > 16) {
            why = "frame takes an identifier, a time stamp and at most 8 bytes";
            return false;
        }
        f.length = static_cast<uint8_t>(data.size() / 2);
        for (std::size_t i = 0; i < f.length; ++i) {
            uint32_t byte = 0;
            if (!parseHex(data.substr(2 * i, 2), 2, byte)) {
                why = "frame data is not hex";
                return false;
            }
            f.data[i] = static_cast<uint8_t>(byte);
        }
        message.kind = ServerMessage::Frame;
    }
    return true;
}

std::string formatFrameElement(const SimCanFrame& frame, int64_t us) {
    char text[96];
    int n = std::snprintf(
        text, sizeof text, frame.extended ? "< frame %08X %lld.%06lld " : "< frame %03X %lld.%06lld ",
        frame.id, static_cast<long long>(us / 1000000), static_cast<long long>(us % 1000000));
    for (int i = 0; i < frame.length && i < 8; ++i)
        n += std::snprintf(text + n, sizeof text - n, "%02X", frame.data[i]);
    std::snprintf(text + n, sizeof text - n, " >");
    return text;
}

std::string formatSendElement(const SimCanFrame& frame) {
    char text[96];
    int n = std::snprintf(text, sizeof text, frame.extended ? "< send %08X %d" : "< send %03X %d", frame.id,
                          frame.length);
    for (int i = 0; i < frame.length && i < 8; ++i)
        n += std::snprintf(text + n, sizeof text - n, " %02X", frame.data[i]);
    std::snprintf(text + n, sizeof text - n, " >");
    return text;
}

} // namespace trvsim
