// Parameter blocks without a bus: the block reads against a scripted sensor memory (sizes, pieces,
// refusals), the block file header and its CRC patch against a CRC computed bit by bit, and the
// variant's choice of members.
#include "can-communication/ReadParam.h"
#include "can-communication/paramtable.h"
#include "can-communication/patch_crc_param.h"
#include "simulator/can/parameterblocks.h"
#include "tests/can-communication/scriptedcandevice.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

namespace {

// A sensor memory read by ReadMemoryByAddress; every read's size is recorded.
struct ScriptedMemory : DiagBench {
    QMap<uint32_t, QByteArray> regions; // start address -> bytes
    std::vector<int> reads;
    ScriptedMemory() : DiagBench(239) {
        device.onRequest = [this](ScriptedCanDevice& d, uint32_t, const QByteArray& r) {
            if (r.startsWith(char(0x10))) {
                d.reply(hex("50 03 00 32 01 F4"));
                return;
            }
            const uint32_t address = qFromBigEndian<quint32>(r.constData() + 2);
            const int size = qFromBigEndian<quint16>(r.constData() + 6);
            reads.push_back(size);
            for (auto it = regions.begin(); it != regions.end(); ++it)
                if (address >= it.key() && address + size <= it.key() + it->size()) {
                    d.reply(char(0x63) + it->mid(address - it.key(), size));
                    return;
                }
            d.reply(hex("7F 23 31"));
        };
    }
};

QByteArray kpImage(uint32_t start, uint32_t end, int bodyBytes) {
    QByteArray image = QByteArray(64, '\0') + pattern(bodyBytes);
    qToBigEndian<quint32>(start, image.data() + 32);
    qToBigEndian<quint32>(end, image.data() + 36);
    return image;
}

QByteArray dspRegion(uint32_t sizeWord, int bodyBytes) {
    QByteArray region(4, '\0');
    qToLittleEndian<quint32>(sizeWord, region.data());
    return region + pattern(bodyBytes);
}

TEST(ParamTransfer, BlockReadsTakeTheSizesTheSensorGives) {
    struct Case {
        const char* name;
        const char* block;
        QByteArray memory;
        int result;
        std::vector<int> reads;
        int blockSize;
    };
    const Case cases[] = {
        {"KP body of 40", "KP_CPAR", kpImage(64, 104, 40), DIAG_OK, {64, 104}, 104},
        {"KP body of 4136 refused", "KP_CPAR", kpImage(64, 4200, 100), DIAG_DATA_ERR, {64}, 0},
        {"KP end before start", "KP_CPAR", kpImage(104, 64, 40), DIAG_DATA_ERR, {64}, 0},
        {"DSP of 9000 in 3 pieces", "DSP_CPAR", dspRegion(9000, 9000), DIAG_OK, {4, 4094, 4094, 812}, 9000},
        {"DSP size beyond any block", "DSP_CPAR", dspRegion(0xFFFFFFF0u, 16), DIAG_DATA_ERR, {4}, 0},
        {"DSP short of its size", "DSP_CPAR", dspRegion(5000, 4000), DIAG_RX_ERROR_TP, {4, 4094}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedMemory m;
        const bool kp = c.block[0] == 'K';
        m.regions[kp ? ReadParam::kKpAddress : ReadParam::kDspSizeAddress] = c.memory;
        QByteArray block;
        EXPECT_EQ(ReadParam(&m.diag).read(c.block, block), c.result);
        EXPECT_EQ(m.reads, c.reads);
        ASSERT_EQ(block.size(), c.blockSize);
        if (c.blockSize > 0) {
            EXPECT_EQ(block, c.memory.mid(kp ? 0 : 4, c.blockSize));
        }
    }
}

// CRC-32 of IEEE 802.3, bit by bit.
uint32_t bitwiseCrc(const QByteArray& data) {
    uint32_t crc = 0xFFFFFFFFu;
    for (char byte : data) {
        crc ^= uint8_t(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

TEST(ParamTransfer, BlockFileHeaderAndCrcPatch) {
    QTemporaryDir dir;
    const QByteArray body = pattern(1536);
    const QDateTime at(QDate(2026, 3, 3), QTime(14, 5, 9, 870));
    const QByteArray header = ParamFile::header("DSP_", "DSP_CPAR", body.size(), at);
    ASSERT_EQ(header.size(), 64);
    EXPECT_EQ(header.left(9), QByteArray("DSP_\0\0\0\x40\0", 9));
    EXPECT_EQ(header.mid(9, 23), QByteArray("DSP_CPAR03.03.2026\0    ", 23));
    EXPECT_EQ(qFromBigEndian<quint32>(header.constData() + 32), 64u);
    EXPECT_EQ(qFromBigEndian<quint32>(header.constData() + 36), 1600u);
    EXPECT_EQ(header.mid(40, 16), QByteArray("14:05:09.870000\0", 16));

    const QString in = dir.filePath("in.bin"), out = dir.filePath("out.bin");
    QFile file(in);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(header + body);
    file.close();
    ASSERT_TRUE(patch_crc_param(in, out));
    QFile patched(out);
    ASSERT_TRUE(patched.open(QIODevice::ReadOnly));
    const QByteArray image = patched.readAll();
    ASSERT_EQ(image.size(), 1600);
    EXPECT_EQ(image.mid(64), body);
    EXPECT_EQ(qFromBigEndian<quint32>(image.constData() + 56), bitwiseCrc(body));
    EXPECT_EQ(qFromBigEndian<quint32>(image.constData() + 60), bitwiseCrc(image.left(60)));
    // The sensor takes it.
    EXPECT_EQ(trvsim::checkBlockImage(std::vector<uint8_t>(image.begin(), image.end()), body.size()), "");

    // Inputs it refuses: missing, shorter than a header.
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(header.left(63));
    file.close();
    EXPECT_FALSE(patch_crc_param(in, out));
    EXPECT_FALSE(patch_crc_param(dir.filePath("missing.bin"), out));
}

TEST(ParamTransfer, VariantChoosesTheMember) {
    const char* const cases[][3] = {
        {"40", "OD ", "DSP_CPARType.ObjectListCust_spatialFilterXMin"},
        {"46", "LG", "DSP_CPARType.LineGuidanceCust_autocalibrationMode"},
        {"46", "DI", ""}, // basic functions have no automatic calibration
        {"40", "XX", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParamTable::memberPath(atoi(c[0]), c[1]), QByteArray(c[2])) << c[0] << " " << c[1];
    EXPECT_EQ(QString::number(ParamTable::shortestDouble(0.047f)), "0.047");
}

} // namespace
