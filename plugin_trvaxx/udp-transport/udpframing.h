#pragma once
// Wire layout of the sensor's result stream: the 32-byte datagram header, the 28-byte channel
// header with its end delimiter, and the channel checksum (LRC). Header-only and free of any
// receiver state, so that a sender can build datagrams with the same definitions.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace udpframing {

constexpr std::size_t kDatagramHeaderSize = 32;
constexpr std::size_t kChannelHeaderSize = 28;
constexpr std::size_t kEndDelimiterSize = 4;
// Channel header plus end delimiter: what a channel carries besides its body.
constexpr std::size_t kChannelFramingSize = kChannelHeaderSize + kEndDelimiterSize;

constexpr std::uint32_t kStartDelimiter = 0xAA55AA55u;
constexpr std::uint32_t kEndDelimiter = 0x55AA55AAu;
constexpr std::uint32_t kLrcSeed = 0xAAAAAAAAu;

constexpr std::uint16_t kSubDeviceDsp = 1;
constexpr std::uint16_t kSubDeviceKp = 2;

// Byte offsets of the datagram header fields.
namespace dgram {
constexpr std::size_t kVersion = 0;           // u16
constexpr std::size_t kSubDevice = 2;         // u16
constexpr std::size_t kPacketCounter = 4;     // u32
constexpr std::size_t kCycleCounter = 8;      // u32
constexpr std::size_t kPacketsInCycle = 12;   // u16
constexpr std::size_t kIndexInCycle = 14;     // u16
constexpr std::size_t kPacketsInChannel = 16; // u16
constexpr std::size_t kIndexInChannel = 18;   // u16
constexpr std::size_t kChannelId = 20;        // u32
constexpr std::size_t kTotalLength = 24;      // u32
constexpr std::size_t kPayloadLength = 28;    // u32
} // namespace dgram

// Byte offsets of the channel header fields, relative to the start of the channel.
namespace chan {
constexpr std::size_t kStartDelimiter = 0; // u32
constexpr std::size_t kLrc = 4;            // u32
constexpr std::size_t kRollingCounter = 8; // u32
constexpr std::size_t kCurrentPart = 12;   // u16
constexpr std::size_t kNumberOfParts = 14; // u16
constexpr std::size_t kOffset = 16;        // u32
constexpr std::size_t kPartSize = 20;      // u32
constexpr std::size_t kTotalSize = 24;     // u32
} // namespace chan

inline std::uint16_t readU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t readU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void writeU16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void writeU32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

struct DatagramHeader {
    std::uint16_t version = 0;
    std::uint16_t subDevice = 0;
    std::uint32_t packetCounter = 0;
    std::uint32_t cycleCounter = 0;
    std::uint16_t packetsInCycle = 0;
    std::uint16_t indexInCycle = 0;
    std::uint16_t packetsInChannel = 0;
    std::uint16_t indexInChannel = 0;
    std::uint32_t channelId = 0;
    std::uint32_t totalLength = 0;
    std::uint32_t payloadLength = 0;

    // `p` must hold kDatagramHeaderSize bytes.
    static DatagramHeader read(const std::uint8_t* p) {
        DatagramHeader h;
        h.version = readU16(p + dgram::kVersion);
        h.subDevice = readU16(p + dgram::kSubDevice);
        h.packetCounter = readU32(p + dgram::kPacketCounter);
        h.cycleCounter = readU32(p + dgram::kCycleCounter);
        h.packetsInCycle = readU16(p + dgram::kPacketsInCycle);
        h.indexInCycle = readU16(p + dgram::kIndexInCycle);
        h.packetsInChannel = readU16(p + dgram::kPacketsInChannel);
        h.indexInChannel = readU16(p + dgram::kIndexInChannel);
        h.channelId = readU32(p + dgram::kChannelId);
        h.totalLength = readU32(p + dgram::kTotalLength);
        h.payloadLength = readU32(p + dgram::kPayloadLength);
        return h;
    }
    void write(std::uint8_t* p) const {
        writeU16(p + dgram::kVersion, version);
        writeU16(p + dgram::kSubDevice, subDevice);
        writeU32(p + dgram::kPacketCounter, packetCounter);
        writeU32(p + dgram::kCycleCounter, cycleCounter);
        writeU16(p + dgram::kPacketsInCycle, packetsInCycle);
        writeU16(p + dgram::kIndexInCycle, indexInCycle);
        writeU16(p + dgram::kPacketsInChannel, packetsInChannel);
        writeU16(p + dgram::kIndexInChannel, indexInChannel);
        writeU32(p + dgram::kChannelId, channelId);
        writeU32(p + dgram::kTotalLength, totalLength);
        writeU32(p + dgram::kPayloadLength, payloadLength);
    }
};

struct ChannelHeader {
    std::uint32_t startDelimiter = kStartDelimiter;
    std::uint32_t lrc = 0;
    std::uint32_t rollingCounter = 0;
    std::uint16_t currentPart = 0;
    std::uint16_t numberOfParts = 1;
    std::uint32_t offset = 0;
    std::uint32_t partSize = 0;
    std::uint32_t totalSize = 0;

    // Reads the header from the first `available` bytes of `p`; bytes beyond them read as zero,
    // so a short datagram never leads to a read past its end.
    static ChannelHeader read(const std::uint8_t* p, std::size_t available) {
        std::uint8_t b[kChannelHeaderSize] = {};
        std::memcpy(b, p, available < kChannelHeaderSize ? available : kChannelHeaderSize);
        ChannelHeader h;
        h.startDelimiter = readU32(b + chan::kStartDelimiter);
        h.lrc = readU32(b + chan::kLrc);
        h.rollingCounter = readU32(b + chan::kRollingCounter);
        h.currentPart = readU16(b + chan::kCurrentPart);
        h.numberOfParts = readU16(b + chan::kNumberOfParts);
        h.offset = readU32(b + chan::kOffset);
        h.partSize = readU32(b + chan::kPartSize);
        h.totalSize = readU32(b + chan::kTotalSize);
        return h;
    }
    void write(std::uint8_t* p) const {
        writeU32(p + chan::kStartDelimiter, startDelimiter);
        writeU32(p + chan::kLrc, lrc);
        writeU32(p + chan::kRollingCounter, rollingCounter);
        writeU16(p + chan::kCurrentPart, currentPart);
        writeU16(p + chan::kNumberOfParts, numberOfParts);
        writeU32(p + chan::kOffset, offset);
        writeU32(p + chan::kPartSize, partSize);
        writeU32(p + chan::kTotalSize, totalSize);
    }
};

// Channel checksum over `n` body bytes. Returns -1 (and leaves `result` alone) for a missing
// buffer or n <= 0, else 0 with the checksum as a little-endian u32 in `result`.
// The sum is a rotate-and-xor of 32-bit words: the first four words, then only every fourth
// word while more than 16 bytes remain, then every word, then the 1 to 3 trailing bytes.
inline int computeLrc(const std::uint8_t* b, long long n, std::uint32_t& result) {
    if (b == nullptr || n <= 0)
        return -1;
    auto rotr8 = [](std::uint32_t v, unsigned times) {
        const unsigned bits = 8 * (times % 4);
        return bits == 0 ? v : (v >> bits) | (v << (32 - bits));
    };
    std::uint32_t s = kLrcSeed;
    auto step = [&](long long i) { s = rotr8(s, 1) ^ readU32(b + i); };
    long long i = 0;
    for (; i <= 12 && i + 3 < n; i += 4)
        step(i);
    // The long middle stretch without the serial dependency: four rotations make a full turn, so
    // word j of N ends up rotated N - 1 - j times and the words fall into four independent sums.
    std::uint32_t sums[4] = {};
    unsigned words = 0;
    for (; i + 48 + 3 < n - 16; i += 64, words += 4) {
        sums[0] ^= readU32(b + i);
        sums[1] ^= readU32(b + i + 16);
        sums[2] ^= readU32(b + i + 32);
        sums[3] ^= readU32(b + i + 48);
    }
    for (; i + 3 < n - 16; i += 16, ++words)
        sums[words % 4] ^= readU32(b + i);
    s = rotr8(s, words);
    for (unsigned r = 0; r < 4; ++r)
        s ^= rotr8(sums[r], words + 3 - r);
    for (; i + 3 < n; i += 4)
        step(i);
    if (i < n)
        s ^= b[i];
    if (i + 1 < n)
        s ^= static_cast<std::uint32_t>(b[i + 1]) << 8;
    if (i + 2 < n)
        s ^= static_cast<std::uint32_t>(b[i + 2]) << 16;
    result = s;
    return 0;
}

// A CAN gateway's discovery beacon (an XML element "<CANBeacon ...>") shares the result port with
// the sensor's datagrams; receivers set it aside by this test of its first bytes.
constexpr char kCanBeaconPrefix[] = "<CANBeacon";
inline bool isCanBeacon(const std::uint8_t* p, std::size_t length) {
    constexpr std::size_t n = sizeof kCanBeaconPrefix - 1;
    return p != nullptr && length >= n && std::memcmp(p, kCanBeaconPrefix, n) == 0;
}

} // namespace udpframing
