#pragma once

#include <QtGlobal>

#include <array>
#include <cstddef>

// Layout constants of the host's recording file (RECORDING_FORMAT.md describes the format).
// All numbers in the file are little-endian.
namespace RecordingFormat {

// "ORLREC\r\n": the line ends catch files mangled by a text-mode copy.
constexpr std::array<char, 8> kMagic{'O', 'R', 'L', 'R', 'E', 'C', '\r', '\n'};
constexpr quint16 kVersion = 1;

// Fixed part of the file header: magic, version, header size, frame type, frame subtype,
// start time, context length. The context name and a CRC-32 follow.
constexpr std::size_t kFixedHeaderSize = 8 + 2 + 2 + 4 + 4 + 8 + 2;
constexpr std::size_t kHeaderCrcSize = 4;
constexpr int kMaxContextLength = 1024;

// Every packet record starts with this marker ("PKT1" in the file), then the time stamp in
// microseconds since the start of the recording (u64), the payload length (u32) and the CRC-32
// of time stamp, length and payload (u32).
constexpr quint32 kPacketMarker = 0x31544B50u;
constexpr std::size_t kPacketHeaderSize = 4 + 8 + 4 + 4;

// Larger payloads are refused by the writer and taken as damage by the reader, so a corrupt
// length never makes the reader allocate gigabytes.
constexpr quint32 kMaxPacketSize = 64u * 1024u * 1024u;

} // namespace RecordingFormat
