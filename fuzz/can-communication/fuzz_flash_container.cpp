// Feeds arbitrary bytes to the flash container reader as a whole container (header, header
// checks, block headers) and as a single flash block (the flash driver's form). Every block found
// must lie within the input and serialize back to the bytes it was read from.
#include "can-communication/flashcontainer.h"

#include <cstdint>
#include <cstdlib>

namespace {
void checkBlock(const QByteArray& input, const FlashBlock& block, qsizetype end) {
    if (block.offset + block.uncompressedSize != end || end > input.size())
        std::abort();
    flashCrc32(block.data(), block.flashSize); // reads every byte that would be sent
    QString error;
    const QByteArray again = block.serialize(error);
    // Names and sizes the builder refuses are fine to read; what it writes must match the input.
    if (!again.isEmpty() && block.name.size() < FlashBlock::kNameSize - 1 &&
        again.mid(FlashBlock::kHeaderSize) != input.mid(block.offset, block.uncompressedSize))
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QString error;

    FlashBlock driver;
    const qsizetype end = FlashBlock::parse(input, 0, driver, error);
    if (end >= 0)
        checkBlock(input, driver, end);

    FlashContainer container;
    if (container.parseHeader(input) != 0)
        return 0;
    container.checkHeader(QStringLiteral("TRVAFN-R2A1"), 3, 2, 2);
    container.checkHeader(QStringLiteral("M0"), 0, 0, 0);
    if (container.parseBlocks(error) != 0)
        return 0;
    // Blocks follow each other without gaps from the end of the header.
    qsizetype at = FlashContainer::kHeaderSize;
    for (const FlashBlock& block : container.blocks()) {
        if (block.offset != at + FlashBlock::kHeaderSize)
            std::abort();
        at = block.offset + block.uncompressedSize;
        checkBlock(input, block, at);
    }
    return 0;
}
