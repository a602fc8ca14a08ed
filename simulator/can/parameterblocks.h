#pragma once
// The sensor's parameter memory as the diagnostic server sees it: the KP block with its 64-byte
// header at 0x8000, the DSP block's size word (least significant byte first) at 0xC1A00400 and
// its body from 0xC1A00404. Also checks and builds the 64-byte block header with its two CRC-32
// values, the same header a tester puts in front of a block it downloads.

#include "simulator/parameters.h"

#include <cstdint>
#include <string>
#include <vector>

namespace trvsim {

namespace blockheader {
constexpr std::size_t kSize = 64;
constexpr std::size_t kBodyCrcOffset = 56;
constexpr std::size_t kHeaderCrcOffset = 60;
} // namespace blockheader

uint32_t crc32Of(const uint8_t* data, std::size_t size);

// A header for body: tag (4 characters), name text with a fixed date, start 64, total length,
// and both CRC-32 values.
std::vector<uint8_t> makeBlockImage(const std::string& tag, const std::string& name,
                                    const std::vector<uint8_t>& body);
// Checks a downloaded image (header and body): header length and body start 64, total length
// equal to the image size, body length bodySize, both CRC-32 values. Empty when good, else why.
std::string checkBlockImage(const std::vector<uint8_t>& image, std::size_t bodySize);

class ParameterBlocks {
public:
    static constexpr uint32_t kKpAddress = 0x8000;
    static constexpr uint32_t kDspSizeAddress = 0xC1A00400;
    static constexpr uint32_t kDspAddress = 0xC1A00404;

    // Lays the values out by the identity's parameter descriptions. False with errorText().
    bool load(const SensorIdentity& identity, const ParameterValues& values);
    const std::string& errorText() const { return m_state.errorText(); }

    // Copies size bytes from address; false when the range is not all inside one block.
    bool read(uint64_t address, std::size_t size, std::vector<uint8_t>& out) const;

    std::size_t dspBodySize() const { return m_dspBody.size(); }
    std::size_t kpBodySize() const { return m_kpImage.size() - blockheader::kSize; }
    const std::vector<uint8_t>& kpImage() const { return m_kpImage; }
    const std::vector<uint8_t>& dspBody() const { return m_dspBody; }

    // Takes a checked downloaded image (header + body) of the block.
    void replaceDsp(const std::vector<uint8_t>& image);
    void replaceKp(const std::vector<uint8_t>& image);

    // The values both blocks hold now, by member name (the blocks' own names left out), as the
    // Ethernet side takes them on a restart.
    ParameterValues values() const;

private:
    ParameterState m_state;         // the layouts
    std::vector<uint8_t> m_dspBody; // as stored, without header
    std::vector<uint8_t> m_kpImage; // header and body
};

} // namespace trvsim
