// Writes the two flash driver images the firmware download loads into the sensor's memory:
//   flash_drv.fcr  one flash block (36-byte block header and data, id 0x30), for firmware updates
//   FlsDrvInt.bin  the raw driver data, for parameter writes
// The images are ours: a text line naming them followed by a fixed pseudo-random body, so their
// sizes and CRCs are stable from build to build.
//   trvaxx_make_flash_drivers OUT_DIR

#include "can-communication/flashcontainer.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>

#include <cstdio>

// The container code logs through the CAN category, which lives in the CAN library.
Q_LOGGING_CATEGORY(lcCan, "trvaxx.can")

namespace {

QByteArray driverImage(const char* title, int size) {
    QByteArray image = QByteArray(title) + "\n";
    uint32_t state = 0x1F2E3D4Cu;
    while (image.size() < size) {
        state = state * 1103515245u + 12345u;
        image.append(static_cast<char>(state >> 24));
    }
    return image;
}

bool write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size())
        return true;
    std::fprintf(stderr, "trvaxx_make_flash_drivers: cannot write %s\n", qPrintable(path));
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: trvaxx_make_flash_drivers OUT_DIR\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QString error;
    const FlashBlock block =
        FlashBlock::fromData(QStringLiteral("FLASH_DRV"), 0x30,
                             driverImage("TRVAXX flash driver for firmware blocks (RAM image)", 3072));
    const QByteArray fcr = block.serialize(error);
    if (fcr.isEmpty()) {
        std::fprintf(stderr, "trvaxx_make_flash_drivers: %s\n", qPrintable(error));
        return 1;
    }
    const QByteArray raw = driverImage("TRVAXX flash driver for parameter blocks (RAM image)", 1536);
    return write(out.filePath(QStringLiteral("flash_drv.fcr")), fcr) &&
                   write(out.filePath(QStringLiteral("FlsDrvInt.bin")), raw)
               ? 0
               : 1;
}
