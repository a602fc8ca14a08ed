#include "candevices/socketcan/socketcandprotocol.h"

#include <cstdio>

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Splits off the next blank-separated token; empty at the end.
std::string_view nextToken(std::string_view& rest) {
    std::size_t begin = 0;
    while (begin < rest.size() && isBlank(rest[begin]))
        ++begin;
    std::size_t end = begin;
    while (end < rest.size() && !isBlank(rest[end]))
        ++end;
    const std::string_view token = rest.substr(begin, end - begin);
    rest.remove_prefix(end);
    return token;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Hex number of 1..8 digits.
bool parseHex(std::string_view token, uint32_t& value) {
    if (token.empty() || token.size() > 8)
        return false;
    value = 0;
    for (char c : token) {
        const int digit = hexValue(c);
        if (digit < 0)
            return false;
        value = (value << 4) | static_cast<uint32_t>(digit);
    }
    return true;
}

// "SECS.USECS" or plain seconds; the value itself is not used.
bool isTimestamp(std::string_view token) {
    bool digits = false, dot = false;
    for (char c : token) {
        if (c >= '0' && c <= '9')
            digits = true;
        else if (c == '.' && !dot)
            dot = true;
        else
            return false;
    }
    return digits;
}

bool parseFrame(std::string_view rest, SocketcandElement& out, std::string& error) {
    const std::string_view idToken = nextToken(rest);
    uint32_t id = 0;
    if (!parseHex(idToken, id)) {
        error = "bad identifier";
        return false;
    }
    constexpr uint32_t kMaxExtendedId = 0x1FFFFFFF, kErrorFlag = 0x20000000;
    if (id > kMaxExtendedId) {
        if ((id & ~kMaxExtendedId) != kErrorFlag) {
            error = "identifier out of range";
            return false;
        }
        out.kind = SocketcandElement::Kind::ErrorFrame;
        return true;
    }
    if (!isTimestamp(nextToken(rest))) {
        error = "bad time stamp";
        return false;
    }
    out.kind = SocketcandElement::Kind::Frame;
    out.frame = CanFrame{};
    out.frame.identifier = id;
    // Data: one run of hex pairs, or bytes of one or two digits each.
    for (std::string_view token = nextToken(rest); !token.empty(); token = nextToken(rest)) {
        if (token.size() > 1 && token.size() % 2 != 0) {
            error = "odd run of data digits";
            return false;
        }
        const std::size_t step = token.size() == 1 ? 1 : 2;
        for (std::size_t i = 0; i < token.size(); i += step) {
            uint32_t byte = 0;
            if (!parseHex(token.substr(i, step), byte)) {
                error = "bad data byte";
                return false;
            }
            if (out.frame.length == sizeof out.frame.data) {
                error = "more than 8 data bytes";
                return false;
            }
            out.frame.data[out.frame.length++] = static_cast<uint8_t>(byte);
        }
    }
    return true;
}

} // namespace

bool parseSocketcandElement(std::string_view inside, SocketcandElement& out, std::string& error) {
    std::string_view rest = inside;
    const std::string_view word = nextToken(rest);
    out = SocketcandElement{};
    if (word.empty()) {
        error = "empty element";
        return false;
    }
    if (word == "frame")
        return parseFrame(rest, out, error);
    if (word == "hi")
        out.kind = SocketcandElement::Kind::Hi;
    else if (word == "ok")
        out.kind = SocketcandElement::Kind::Ok;
    else if (word == "echo")
        out.kind = SocketcandElement::Kind::Echo;
    else if (word == "error") {
        out.kind = SocketcandElement::Kind::Error;
        out.text = trimmed(rest);
    } else {
        out.kind = SocketcandElement::Kind::Other;
        out.text = trimmed(inside);
    }
    return true;
}

bool SocketcandParser::feed(const char* data, std::size_t size, const Sink& sink) {
    if (!m_error.empty())
        return false;
    for (std::size_t i = 0; i < size; ++i) {
        const char c = data[i];
        if (!m_inside) {
            if (c == '<')
                m_inside = true;
            else if (!isBlank(c))
                return fail("text outside an element");
            continue;
        }
        if (c == '>') {
            if (!finishElement(sink))
                return false;
        } else if (c == '<') {
            return fail("'<' inside an element");
        } else if (m_element.size() == kMaxElementLength) {
            return fail("element longer than " + std::to_string(kMaxElementLength) + " characters");
        } else {
            m_element.push_back(c);
        }
    }
    return true;
}

bool SocketcandParser::finishElement(const Sink& sink) {
    SocketcandElement element;
    std::string reason;
    if (!parseSocketcandElement(m_element, element, reason))
        return fail(reason + " in \"<" + m_element + ">\"");
    sink(element);
    m_element.clear();
    m_inside = false;
    return true;
}

bool SocketcandParser::fail(std::string reason) {
    m_error = std::move(reason);
    return false;
}

void SocketcandParser::reset() {
    m_element.clear();
    m_inside = false;
    m_error.clear();
}

std::string socketcandOpen(std::string_view bus) {
    return "< open " + std::string(bus) + " >";
}

std::string socketcandBitTiming(std::string_view bus, uint32_t bitRate) {
    // Only the bit rate is meaningful to the servers we meet; the timing fields stay 0.
    return "< " + std::string(bus) + " B " + std::to_string(bitRate) + " 0 0 0 0 0 0 0 >";
}

std::size_t socketcandSend(const CanFrame& frame, char (&out)[kSocketcandSendCapacity]) {
    const unsigned length = frame.length > 8 ? 8 : frame.length;
    int n = isExtendedCanId(frame.identifier)
                ? std::snprintf(out, sizeof out, "< send %08X %u", frame.identifier & 0x1FFFFFFFu, length)
                : std::snprintf(out, sizeof out, "< send %03X %u", frame.identifier, length);
    for (unsigned i = 0; i < length; ++i)
        n += std::snprintf(out + n, sizeof out - n, " %02X", frame.data[i]);
    n += std::snprintf(out + n, sizeof out - n, " >");
    return static_cast<std::size_t>(n);
}
