#pragma once
// ReadParam: reads one parameter block of the sensor as raw bytes over ReadMemoryByAddress.
// KP_CPAR: its 64-byte header at 0x8000 gives start and end of the body, then header and body are
// read together. DSP_CPAR: a size word at 0xC1A00400 (least significant byte first), then the body
// from 0xC1A00404. Long blocks are read in requests of at most 4094 bytes.
// Runs on the caller's thread (the diagnostic client's).

#include <QByteArray>

#include <cstdint>

class DiagPC;

class ReadParam {
public:
    static constexpr uint32_t kKpAddress = 0x8000;
    static constexpr uint32_t kDspSizeAddress = 0xC1A00400;
    static constexpr uint32_t kDspAddress = 0xC1A00404;
    static constexpr int kHeaderSize = 64;
    // Largest data of one ReadMemoryByAddress answer.
    static constexpr int kMaxRead = 4094;
    // A KP body above this (plus its 4-byte tail) is refused as DIAG_DATA_ERR.
    static constexpr int kMaxKpBody = 4089;
    // A DSP size word above this is refused before anything is read: it bounds the cost of a
    // corrupt size word.
    static constexpr uint32_t kMaxDspSize = 64 * 1024;

    explicit ReadParam(DiagPC* diag) : diag(diag) {}

    // Reads the block named "KP_CPAR" or "DSP_CPAR" (only the first letter counts) into `block`.
    // Returns a DiagResult; DIAG_DATA_ERR for a size out of range or an unknown name.
    int read(const QByteArray& blockName, QByteArray& block);

private:
    int readKp(QByteArray& block);
    int readDsp(QByteArray& block);
    // `size` bytes from `address` in requests of at most kMaxRead bytes.
    int readRange(uint32_t address, uint32_t size, QByteArray& out);

    DiagPC* const diag;
};
