#pragma once
// Splits an MJPEG-over-HTTP stream (what network cameras serve: an HTTP answer with the type
// multipart/x-mixed-replace, one JPEG picture per part) into its pictures. Fed with whatever the
// socket delivers, in any split; holds at most one header and one picture, both bounded, so a
// hostile or broken server costs a fixed amount of memory. Qt-free; one thread at a time.

#include <cstddef>
#include <string>
#include <vector>

class MjpegStreamParser {
public:
    static constexpr std::size_t kDefaultMaxPictureBytes = 8u << 20;
    static constexpr std::size_t kMaxHeaderBytes = 16384;
    static constexpr std::size_t kMaxLineBytes = 256; // behind the boundary on its line

    explicit MjpegStreamParser(std::size_t maxPictureBytes = kDefaultMaxPictureBytes);

    // Appends complete pictures (JPEG bytes) to `pictures`. False once the stream is unusable
    // (not an HTTP 200 multipart answer, a header or picture beyond its bound); errorText() then
    // says why and every further call returns false.
    bool feed(const char* data, std::size_t size, std::vector<std::string>& pictures);

    const std::string& errorText() const { return error; }
    const std::string& boundary() const { return partBoundary; }
    // Headers of the part whose picture was delivered last ("Name: value" lines, names as sent).
    const std::string& lastPartHeader() const { return partHeader; }

private:
    enum class State { HttpHeader, PartStart, PartHeader, Body, Failed };

    bool fail(std::string text);
    bool takeHttpHeader(const std::string& header);
    bool takePartHeader(const std::string& header);
    // Extracts text up to and including "\r\n\r\n" from the buffer; false when not complete yet.
    bool takeHeaderBlock(std::string& header);

    std::size_t maxPicture;
    State state = State::HttpHeader;
    std::string buffer;       // bytes not consumed yet
    std::size_t scanFrom = 0; // where the search for the next delimiter resumes
    std::string partBoundary; // "--" + the boundary parameter
    std::string partHeader;
    std::size_t contentLength = 0; // of the current part; 0 = unknown, find the next boundary
    std::string error;
};
