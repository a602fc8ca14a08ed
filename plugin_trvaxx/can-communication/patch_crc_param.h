#pragma once
// Parameter block files: the 64-byte header written in front of a block, and the patching of its
// two CRC-32 values (IEEE 802.3, through zlib), big-endian at offset 56 (over the body) and 60
// (over header bytes 0..59, the body CRC included).

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>

namespace ParamFile {
constexpr int kHeaderSize = 64;
constexpr int kBodyCrcOffset = 56;
constexpr int kHeaderCrcOffset = 60;
// Files above this are refused.
constexpr qint64 kMaxFileSize = 0x2000000;

// The header for a body of `bodySize` bytes: tag, lengths, "<name><dd.MM.yyyy>" and the time of
// `at`; both CRCs 0 until patched.
QByteArray header(const char (&tag)[5], const char* name, qsizetype bodySize, const QDateTime& at);
} // namespace ParamFile

// Reads `input` (header and body), patches both CRC-32 values and writes the result to `output`.
// False (logged) when a file cannot be read or written or the input is shorter than its header or
// too large.
bool patch_crc_param(const QString& input, const QString& output);
