#pragma once
// The flash container ("*.fcr"): a 752-byte header naming the hardware and articles it fits,
// followed by flash blocks, each a 36-byte block header and its data (little-endian numbers).
// A container is read once into memory and checked completely before anything is sent; its
// blocks point into that one copy. The builder makes containers and single blocks (the tool, the
// flash drivers, the tests).

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>

// Result codes of flashing besides the DiagResult codes.
enum FlashResult : int {
    FLASH_NO_DEVICE = 130004,
    FLASH_FILE_ERROR = 130011,           // a file cannot be opened or read, or is malformed
    FLASH_HARDWARE_UNSUPPORTED = 130012, // mainboard, frontend or illumination version
    FLASH_ARTICLE_UNSUPPORTED = 130013,
    FLASH_HEADER_INVALID = 130014, // identification, version or header CRC
    FLASH_NO_BOOTLOADER = 130017,  // the active-session read (0xF186) timed out every time
};

// CRC-32 (zlib) of the container header, the blocks and the parameter files.
uint32_t flashCrc32(const char* data, qsizetype size);

// One flash block. Its data stay in the buffer they were read into (shared, not copied).
struct FlashBlock {
    static constexpr int kHeaderSize = 36;
    static constexpr int kNameSize = 17;
    // Largest data of one block the sensor's memory takes.
    static constexpr uint32_t kMaxSize = 0x700000;

    QString name;
    uint8_t id = 0;
    uint8_t compressMode = 0;      // sent as the data format of RequestDownload
    uint32_t crc32 = 0;            // of the programmed data, checked by the sensor
    uint32_t flashSize = 0;        // bytes sent with TransferData
    uint32_t uncompressedSize = 0; // bytes following the header; the memory size announced
    QByteArray buffer;             // the whole file the block was read from
    qsizetype offset = 0;          // of the data in `buffer`

    const char* data() const { return buffer.constData() + offset; }
    // The data exceed the sensor's memory: the block is skipped.
    bool tooLarge() const { return uncompressedSize > kMaxSize; }

    // Reads the block at `at` of `bytes`: 36 header bytes and uncompressedSize data bytes, all
    // within `bytes`, and a flash size not beyond the data. Returns the offset after the block,
    // or -1 with `error`.
    static qsizetype parse(const QByteArray& bytes, qsizetype at, FlashBlock& block, QString& error);
    // A block whose data are `data` (uncompressed, flash size = data size, CRC of the data).
    static FlashBlock fromData(const QString& name, uint8_t id, const QByteArray& data);
    // Header and data as they lie in a container; empty with `error` when a field does not fit.
    QByteArray serialize(QString& error) const;

    // The block id of a block name ("DSP_CPAR" -> 0x63), -1 for an unknown name.
    static int idOf(const QString& name);
};

class FlashContainer {
public:
    static constexpr int kHeaderSize = 752;
    static constexpr char kIdentification[] = "vlr TRV ";
    static constexpr uint32_t kVersion = 1;
    static constexpr int kMaxVersions = 128;
    static constexpr int kMaxArticles = 16;
    static constexpr int kArticleSize = 12;
    // Largest container read: bounded before a byte of it is allocated.
    static constexpr qint64 kMaxFileSize = 256ll * 1024 * 1024;

    // Reads a whole file (at most kMaxFileSize bytes). 0, or FLASH_FILE_ERROR with `error`.
    static int readFile(const QString& path, QByteArray& bytes, QString& error);

    // Takes the header of `bytes`; FLASH_FILE_ERROR when it is short.
    int parseHeader(const QByteArray& bytes);
    // Identification, version and CRC, then (for article numbers not beginning with "M") the
    // article list, then the three hardware version lists; logs the failing check. 0 or a code.
    int checkHeader(const QString& articleNumber, int mainboard, int frontend, int illumination) const;
    // Reads the block headers and checks their sizes against the file, before anything is sent.
    // 0, or FLASH_FILE_ERROR with `error`.
    int parseBlocks(QString& error);

    bool identificationOk() const { return identification; }
    uint32_t version() const { return containerVersion; }
    uint32_t storedCrc() const { return headerCrc; }
    uint32_t computedCrc() const { return actualCrc; }
    uint32_t blockCount() const { return count; }
    const QByteArray& mainboardVersions() const { return mainboard; }
    const QByteArray& frontendVersions() const { return frontend; }
    const QByteArray& illuminationVersions() const { return illumination; }
    const QStringList& articleNumbers() const { return articles; }
    const QList<FlashBlock>& blocks() const { return blockList; }

    // What a new container fits.
    struct Target {
        QStringList articleNumbers;                   // at most 16, each at most 11 characters
        QByteArray mainboard, frontend, illumination; // at most 128 versions each
    };
    // Header and blocks of a new container; empty with `error` when something does not fit.
    static QByteArray build(const Target& target, const QList<FlashBlock>& blocks, QString& error);

private:
    QByteArray bytes;
    bool identification = false;
    uint32_t containerVersion = 0;
    uint32_t headerCrc = 0;
    uint32_t actualCrc = 0;
    uint32_t count = 0;
    QByteArray mainboard, frontend, illumination;
    QStringList articles;
    QList<FlashBlock> blockList;
};
