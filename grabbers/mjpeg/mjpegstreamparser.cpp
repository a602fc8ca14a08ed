#include "grabbers/mjpeg/mjpegstreamparser.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace {

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// The value of header `name` (lower case) in a header block, trimmed; empty when absent.
std::string headerValue(const std::string& header, const std::string& name) {
    std::size_t start = 0;
    while (start < header.size()) {
        std::size_t end = header.find("\r\n", start);
        if (end == std::string::npos)
            end = header.size();
        const std::string line = header.substr(start, end - start);
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos && lower(line.substr(0, colon)) == name) {
            std::size_t from = colon + 1;
            while (from < line.size() && (line[from] == ' ' || line[from] == '\t'))
                ++from;
            std::size_t to = line.size();
            while (to > from && (line[to - 1] == ' ' || line[to - 1] == '\t'))
                --to;
            return line.substr(from, to - from);
        }
        start = end + 2;
    }
    return {};
}

} // namespace

MjpegStreamParser::MjpegStreamParser(std::size_t maxPictureBytes) : maxPicture(maxPictureBytes) {}

bool MjpegStreamParser::fail(std::string text) {
    error = std::move(text);
    state = State::Failed;
    buffer.clear();
    return false;
}

bool MjpegStreamParser::takeHeaderBlock(std::string& header) {
    const std::size_t end = buffer.find("\r\n\r\n", scanFrom);
    if (end == std::string::npos) {
        scanFrom = buffer.size() < 3 ? 0 : buffer.size() - 3;
        return false;
    }
    header = buffer.substr(0, end + 2);
    buffer.erase(0, end + 4);
    scanFrom = 0;
    return true;
}

bool MjpegStreamParser::takeHttpHeader(const std::string& header) {
    // "HTTP/1.x 200 ..." on the first line.
    if (header.compare(0, 5, "HTTP/") != 0)
        return fail("not an HTTP answer");
    const std::size_t space = header.find(' ');
    if (space == std::string::npos || header.compare(space + 1, 3, "200") != 0)
        return fail("HTTP answer " + header.substr(0, std::min<std::size_t>(header.find("\r\n"), 80)));
    const std::string type = headerValue(header, "content-type");
    if (lower(type).rfind("multipart/x-mixed-replace", 0) != 0)
        return fail("not a multipart stream (content type \"" + type.substr(0, 80) + "\")");
    const std::size_t at = lower(type).find("boundary=");
    if (at == std::string::npos)
        return fail("multipart stream without boundary");
    std::string value = type.substr(at + 9);
    value = value.substr(0, value.find(';'));
    if (!value.empty() && value.front() == '"')
        value = value.substr(1, value.find('"', 1) == std::string::npos ? std::string::npos
                                                                        : value.find('"', 1) - 1);
    if (value.rfind("--", 0) == 0) // some servers repeat the dashes in the parameter
        value.erase(0, 2);
    if (value.empty() || value.size() > 70)
        return fail("unusable multipart boundary");
    partBoundary = "--" + value;
    state = State::PartStart;
    return true;
}

bool MjpegStreamParser::takePartHeader(const std::string& header) {
    partHeader = header;
    contentLength = 0;
    const std::string length = headerValue(header, "content-length");
    if (!length.empty()) {
        char* end = nullptr;
        const unsigned long long value = std::strtoull(length.c_str(), &end, 10);
        if (end == length.c_str() || *end != '\0' || value == 0)
            return fail("bad part length \"" + length.substr(0, 20) + "\"");
        if (value > maxPicture)
            return fail("picture of " + length + " bytes exceeds the limit of " + std::to_string(maxPicture));
        contentLength = std::size_t(value);
    }
    state = State::Body;
    return true;
}

bool MjpegStreamParser::feed(const char* data, std::size_t size, std::vector<std::string>& pictures) {
    if (state == State::Failed)
        return false;
    buffer.append(data, size);
    while (true) {
        switch (state) {
        case State::HttpHeader:
        case State::PartHeader: {
            // A header block is at most kMaxHeaderBytes long, however the stream is cut.
            std::string header;
            if (!takeHeaderBlock(header)) {
                if (buffer.size() > kMaxHeaderBytes + 1)
                    return fail("header longer than " + std::to_string(kMaxHeaderBytes) + " bytes");
                return true;
            }
            if (header.size() > kMaxHeaderBytes)
                return fail("header longer than " + std::to_string(kMaxHeaderBytes) + " bytes");
            if (!(state == State::HttpHeader ? takeHttpHeader(header) : takePartHeader(header)))
                return false;
            break;
        }
        case State::PartStart: {
            // Anything before the boundary line (the CRLF that ends the previous part) is skipped,
            // up to kMaxHeaderBytes; the boundary line itself is at most kMaxLineBytes long.
            const std::size_t at = buffer.find(partBoundary);
            if (at == std::string::npos) {
                if (buffer.size() + 1 > kMaxHeaderBytes + partBoundary.size())
                    return fail("no part boundary within " + std::to_string(kMaxHeaderBytes) + " bytes");
                return true;
            }
            if (at > kMaxHeaderBytes)
                return fail("no part boundary within " + std::to_string(kMaxHeaderBytes) + " bytes");
            const std::size_t lineEnd = buffer.find("\r\n", at);
            const std::size_t lineLimit = at + partBoundary.size() + kMaxLineBytes;
            if (lineEnd == std::string::npos ? buffer.size() > lineLimit + 1 : lineEnd > lineLimit)
                return fail("part boundary line too long");
            if (buffer.compare(at + partBoundary.size(), 2, "--") == 0)
                return fail("stream ended by the server");
            if (lineEnd == std::string::npos)
                return true;
            buffer.erase(0, lineEnd + 2);
            scanFrom = 0;
            state = State::PartHeader;
            break;
        }
        case State::Body: {
            std::size_t pictureSize = contentLength;
            if (contentLength == 0) {
                // Without a length the picture ends where the next boundary line begins.
                const std::size_t next = buffer.find("\r\n" + partBoundary, scanFrom);
                const std::size_t delimiter = partBoundary.size() + 2;
                if (next == std::string::npos ? buffer.size() + 1 > maxPicture + delimiter
                                              : next > maxPicture)
                    return fail("picture exceeds the limit of " + std::to_string(maxPicture) + " bytes");
                if (next == std::string::npos) {
                    scanFrom =
                        buffer.size() > partBoundary.size() + 2 ? buffer.size() - partBoundary.size() - 2 : 0;
                    return true;
                }
                pictureSize = next;
            } else if (buffer.size() < contentLength) {
                return true;
            }
            pictures.emplace_back(buffer, 0, pictureSize);
            buffer.erase(0, pictureSize);
            scanFrom = 0;
            state = State::PartStart;
            break;
        }
        case State::Failed:
            return false;
        }
    }
}
