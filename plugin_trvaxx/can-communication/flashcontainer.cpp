#include "can-communication/flashcontainer.h"

#include "can-communication/canlogging.h"
#include "common/logentry.h"

#include <QFile>
#include <QtEndian>

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace {

// Header offsets.
constexpr int kVersionAt = 8;
constexpr int kMainboardAt = 148, kFrontendAt = 280, kIlluminationAt = 412;
constexpr int kArticlesAt = 544, kBlockCountAt = 740, kCrcAt = 744;
// Block header offsets.
constexpr int kIdAt = 17, kCompressAt = 18, kBlockCrcAt = 20, kFlashSizeAt = 24, kSizeAt = 28;

struct NamedId {
    const char* name;
    uint8_t id;
};
constexpr NamedId kBlockIds[] = {
    {"CPLD", 0x40},    {"DK", 0x50},       {"DK_MPAR", 0x53},  {"DK_OPAR", 0x51},  {"DK_PPAR", 0x52},
    {"DSP", 0x60},     {"DSP_IPAR", 0x64}, {"DSP_CPAR", 0x63}, {"DSP_MPAR", 0x62}, {"DSP_OPAR", 0x61},
    {"KP_CPAR", 0x81}, {"KP", 0x80},       {"KP_OPAR", 0x82},  {"KP_PPAR", 0x83},
};

uint32_t u32At(const QByteArray& b, qsizetype at) {
    return qFromLittleEndian<uint32_t>(b.constData() + at);
}

void putU32(QByteArray& b, qsizetype at, uint32_t v) {
    qToLittleEndian(v, b.data() + at);
}

// Text up to the first zero byte within `size` bytes.
QString zeroTerminated(const QByteArray& b, qsizetype at, qsizetype size) {
    const char* p = b.constData() + at;
    return QString::fromLatin1(p, static_cast<qsizetype>(qstrnlen(p, static_cast<size_t>(size))));
}

// A list of version bytes: a count (at most 128, else the count is taken as 128) and the bytes.
QByteArray versionList(const QByteArray& b, qsizetype at) {
    const uint32_t n = std::min<uint32_t>(u32At(b, at), FlashContainer::kMaxVersions);
    return b.mid(at + 4, n);
}

bool putVersionList(QByteArray& b, qsizetype at, const QByteArray& versions, const char* what,
                    QString& error) {
    if (versions.size() > FlashContainer::kMaxVersions) {
        error = QStringLiteral("more than %1 %2 versions").arg(FlashContainer::kMaxVersions).arg(what);
        return false;
    }
    putU32(b, at, static_cast<uint32_t>(versions.size()));
    std::memcpy(b.data() + at + 4, versions.constData(), static_cast<size_t>(versions.size()));
    return true;
}

void logCritical(const char* line) {
    qCCritical(lcCan).noquote() << QString::fromLatin1(line) + LOG_LOC;
}

} // namespace

uint32_t flashCrc32(const char* data, qsizetype size) {
    uLong crc = crc32(0L, Z_NULL, 0);
    // zlib takes at most 4 GiB at a time.
    while (size > 0) {
        const uInt part = static_cast<uInt>(std::min<qsizetype>(size, 1 << 30));
        crc = crc32(crc, reinterpret_cast<const Bytef*>(data), part);
        data += part;
        size -= part;
    }
    return static_cast<uint32_t>(crc);
}

int FlashBlock::idOf(const QString& name) {
    for (const NamedId& entry : kBlockIds)
        if (name == QLatin1String(entry.name))
            return entry.id;
    return -1;
}

qsizetype FlashBlock::parse(const QByteArray& bytes, qsizetype at, FlashBlock& block, QString& error) {
    if (at < 0 || bytes.size() - at < kHeaderSize) {
        error = QStringLiteral("block header at byte %1 is cut short").arg(at);
        return -1;
    }
    block = FlashBlock();
    block.name = zeroTerminated(bytes, at, kNameSize);
    block.id = static_cast<uint8_t>(bytes[at + kIdAt]);
    block.compressMode = static_cast<uint8_t>(bytes[at + kCompressAt]);
    block.crc32 = u32At(bytes, at + kBlockCrcAt);
    block.flashSize = u32At(bytes, at + kFlashSizeAt);
    block.uncompressedSize = u32At(bytes, at + kSizeAt);
    block.buffer = bytes;
    block.offset = at + kHeaderSize;
    const qsizetype left = bytes.size() - block.offset;
    if (static_cast<qint64>(block.uncompressedSize) > left) {
        error = QStringLiteral("block \"%1\" announces %2 bytes, the file holds %3 more")
                    .arg(block.name)
                    .arg(block.uncompressedSize)
                    .arg(left);
        return -1;
    }
    if (block.flashSize > block.uncompressedSize) {
        error = QStringLiteral("block \"%1\" would send %2 bytes of its %3")
                    .arg(block.name)
                    .arg(block.flashSize)
                    .arg(block.uncompressedSize);
        return -1;
    }
    return block.offset + block.uncompressedSize;
}

FlashBlock FlashBlock::fromData(const QString& name, uint8_t id, const QByteArray& data) {
    FlashBlock block;
    block.name = name;
    block.id = id;
    block.crc32 = flashCrc32(data.constData(), data.size());
    block.flashSize = block.uncompressedSize = static_cast<uint32_t>(data.size());
    block.buffer = data;
    return block;
}

QByteArray FlashBlock::serialize(QString& error) const {
    const QByteArray latin = name.toLatin1();
    if (latin.size() >= kNameSize) {
        error = QStringLiteral("block name \"%1\" is longer than %2 characters").arg(name).arg(kNameSize - 1);
        return {};
    }
    if (uncompressedSize > kMaxSize || flashSize > uncompressedSize ||
        buffer.size() - offset < static_cast<qint64>(uncompressedSize)) {
        error = QStringLiteral("block \"%1\" has %2 bytes, at most %3 fit")
                    .arg(name)
                    .arg(uncompressedSize)
                    .arg(kMaxSize);
        return {};
    }
    QByteArray out(kHeaderSize, '\0');
    std::memcpy(out.data(), latin.constData(), static_cast<size_t>(latin.size()));
    out[kIdAt] = static_cast<char>(id);
    out[kCompressAt] = static_cast<char>(compressMode);
    putU32(out, kBlockCrcAt, crc32);
    putU32(out, kFlashSizeAt, flashSize);
    putU32(out, kSizeAt, uncompressedSize);
    out.append(data(), uncompressedSize);
    return out;
}

int FlashContainer::readFile(const QString& path, QByteArray& bytes, QString& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("could not open %1: %2").arg(path, file.errorString());
        return FLASH_FILE_ERROR;
    }
    const qint64 size = file.size();
    if (size > kMaxFileSize) {
        error = QStringLiteral("%1 has %2 bytes, more than a container may have").arg(path).arg(size);
        return FLASH_FILE_ERROR;
    }
    bytes = file.read(kMaxFileSize + 1);
    if (bytes.size() != size || file.error() != QFileDevice::NoError) {
        error = QStringLiteral("could not read %1: %2").arg(path, file.errorString());
        return FLASH_FILE_ERROR;
    }
    return 0;
}

int FlashContainer::parseHeader(const QByteArray& file) {
    *this = FlashContainer();
    if (file.size() < kHeaderSize)
        return FLASH_FILE_ERROR;
    bytes = file;
    identification = std::memcmp(file.constData(), kIdentification, 8) == 0;
    containerVersion = u32At(file, kVersionAt);
    mainboard = versionList(file, kMainboardAt);
    frontend = versionList(file, kFrontendAt);
    illumination = versionList(file, kIlluminationAt);
    const uint32_t articleCount = std::min<uint32_t>(u32At(file, kArticlesAt), kMaxArticles);
    for (uint32_t i = 0; i < articleCount; ++i)
        articles << zeroTerminated(file, kArticlesAt + 4 + i * kArticleSize, kArticleSize);
    count = u32At(file, kBlockCountAt);
    headerCrc = u32At(file, kCrcAt);
    actualCrc = flashCrc32(file.constData(), kCrcAt);
    return 0;
}

int FlashContainer::checkHeader(const QString& articleNumber, int mainboardVersion, int frontendVersion,
                                int illuminationVersion) const {
    if (!identification) {
        logCritical("Flash container header identification not OK");
        return FLASH_HEADER_INVALID;
    }
    if (containerVersion != kVersion) {
        logCritical("Flash container version is not version 1");
        return FLASH_HEADER_INVALID;
    }
    if (headerCrc != actualCrc) {
        logCritical("CRC of flash container header doesn't match");
        return FLASH_HEADER_INVALID;
    }
    // Article numbers beginning with "M" fit every container.
    if (!articleNumber.startsWith(QLatin1Char('M')) && !articles.contains(articleNumber)) {
        logCritical("Camera article number not supported");
        return FLASH_ARTICLE_UNSUPPORTED;
    }
    auto holds = [](const QByteArray& list, int version) {
        return version >= 0 && version <= 255 && list.contains(static_cast<char>(version));
    };
    const struct {
        const QByteArray& list;
        int version;
        const char* line;
    } checks[] = {{mainboard, mainboardVersion, "Mainboard version not supported"},
                  {frontend, frontendVersion, "Frontend version not supported"},
                  {illumination, illuminationVersion, "Illu hw version not supported"}};
    for (const auto& check : checks) {
        if (!holds(check.list, check.version)) {
            logCritical(check.line);
            return FLASH_HARDWARE_UNSUPPORTED;
        }
    }
    return 0;
}

int FlashContainer::parseBlocks(QString& error) {
    blockList.clear();
    // Every block takes at least its header: a count beyond that is refused before any work.
    if (count > static_cast<uint64_t>(bytes.size() - kHeaderSize) / FlashBlock::kHeaderSize) {
        error = QStringLiteral("%1 blocks announced, the file cannot hold them").arg(count);
        return FLASH_FILE_ERROR;
    }
    qsizetype at = kHeaderSize;
    for (uint32_t i = 0; i < count; ++i) {
        FlashBlock block;
        at = FlashBlock::parse(bytes, at, block, error);
        if (at < 0) {
            blockList.clear();
            return FLASH_FILE_ERROR;
        }
        blockList.append(block);
    }
    return 0;
}

QByteArray FlashContainer::build(const Target& target, const QList<FlashBlock>& blocks, QString& error) {
    QByteArray out(kHeaderSize, '\0');
    std::memcpy(out.data(), kIdentification, 8);
    putU32(out, kVersionAt, kVersion);
    if (!putVersionList(out, kMainboardAt, target.mainboard, "mainboard", error) ||
        !putVersionList(out, kFrontendAt, target.frontend, "frontend", error) ||
        !putVersionList(out, kIlluminationAt, target.illumination, "illumination", error))
        return {};
    if (target.articleNumbers.size() > kMaxArticles) {
        error = QStringLiteral("more than %1 article numbers").arg(kMaxArticles);
        return {};
    }
    putU32(out, kArticlesAt, static_cast<uint32_t>(target.articleNumbers.size()));
    for (int i = 0; i < target.articleNumbers.size(); ++i) {
        const QByteArray article = target.articleNumbers[i].toLatin1();
        if (article.size() >= kArticleSize) {
            error = QStringLiteral("article number \"%1\" is longer than %2 characters")
                        .arg(target.articleNumbers[i])
                        .arg(kArticleSize - 1);
            return {};
        }
        std::memcpy(out.data() + kArticlesAt + 4 + i * kArticleSize, article.constData(),
                    static_cast<size_t>(article.size()));
    }
    putU32(out, kBlockCountAt, static_cast<uint32_t>(blocks.size()));
    putU32(out, kCrcAt, flashCrc32(out.constData(), kCrcAt));
    for (const FlashBlock& block : blocks) {
        const QByteArray serialized = block.serialize(error);
        if (serialized.isEmpty())
            return {};
        if (out.size() + serialized.size() > kMaxFileSize) {
            error = QStringLiteral("the container would exceed %1 bytes").arg(kMaxFileSize);
            return {};
        }
        out += serialized;
    }
    return out;
}
