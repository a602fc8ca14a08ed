// Flashing against a scripted sensor (virtual time): the container checks and what they keep off
// the bus, the branches of the programming sequence, the TransferData pieces and their counters,
// the fingerprint, and the block loop with its one retry. Then parameter blocks: their reads
// (sizes, pieces, refusals), and the block file header and its CRC patch against a CRC computed
// bit by bit.
#include "can-communication/ReadData_with_diagnosis.h"
#include "can-communication/ReadParam.h"
#include "can-communication/diagpc.h"
#include "can-communication/firmwareupdate.h"
#include "can-communication/patch_crc_param.h"
#include "simulator/can/parameterblocks.h"
#include "tests/can-communication/scriptedcandevice.h"
#include "tests/support/messagecapture.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <cstring>

namespace {

constexpr uint8_t kNode = 239;

// The sensor's side of programming, scripted: every service answers positively unless told.
struct Programming {
    int f186Silent = 0; // active-session reads left unanswered first
    uint8_t session = 1;
    bool zeroSeed = false;
    int eraseFailures = 0; // erase requests answered negatively first
    uint8_t crcStatus = 0;
};

struct Bench : DiagBench {
    std::vector<std::pair<int, int>> progress;
    std::vector<int> sleeps;
    FirmwareUpdate update{diag, hooks()};

    explicit Bench(Programming p = {}) : DiagBench(kNode) {
        // The device copies its handler per request: the state lives outside it.
        auto state = std::make_shared<Programming>(p);
        device.onRequest = [state](ScriptedCanDevice& d, uint32_t id, const QByteArray& r) {
            Programming& p = *state;
            if (id != d.requestId())
                return; // functional requests get no answer
            const auto sid = uint8_t(r[0]);
            const QByteArray positive(1, char(sid + 0x40));
            switch (sid) {
            case 0x22:
                if (p.f186Silent-- <= 0)
                    d.reply(positive + r.mid(1, 2) + char(p.session));
                return;
            case 0x10:
                return d.reply(positive + r.mid(1, 1) + hex("00 32 01 F4"));
            case 0x27:
                return d.reply(positive + r.mid(1, 1) +
                               (r[1] == 0x11 ? hex(p.zeroSeed ? "00000000" : "12345678") : ""));
            case 0x31:
                if (r[2] == char(0xFF) && p.eraseFailures-- > 0)
                    return d.reply(hex("7F 31 22"));
                if (r[2] == 0x02 && r[3] == 0x03)
                    return d.reply(positive + r.mid(1, 3));
                return d.reply(positive + r.mid(1, 3) + char(r[3] == 0x02 ? p.crcStatus : 0));
            case 0x34:
                return d.reply(hex("74 20 0F FF"));
            case 0x36:
                return d.reply(positive + r.mid(1, 1));
            default:
                return d.reply(positive + r.mid(1, 2));
            }
        };
    }
    FirmwareUpdate::Hooks hooks() {
        FirmwareUpdate::Hooks h;
        h.progress = [this](int total, int written) { progress.emplace_back(total, written); };
        h.sleep = [this](int ms) { sleeps.push_back(ms); };
        h.now = [] { return QDateTime(QDate(2026, 3, 3), QTime(14, 5)); };
        return h;
    }
    // The requests as short tokens: "F186", "S3" (session), "R0203" (routine), "K11" (security),
    // "FP" (fingerprint), "D30" (download of an id), "T" (TransferData), "X", "RESET".
    std::string trace() const { return tokens().join(' ').toStdString(); }
    QStringList tokens() const {
        static const QHash<uint8_t, QString> named = {
            {0x2E, "FP"}, {0x37, "X"}, {0x11, "RESET"}, {0x85, "DTC"}, {0x28, "CC"}};
        QStringList out;
        for (const QByteArray& r : device.requests()) {
            const auto sid = uint8_t(r[0]);
            const QString hexText = QString::fromLatin1(r.toHex().toUpper());
            if (sid == 0x22)
                out << hexText.mid(2, 4);
            else if (sid == 0x10)
                out << QStringLiteral("S%1").arg(int(r[1]));
            else if (sid == 0x31)
                out << QStringLiteral("R") + hexText.mid(4, 4);
            else if (sid == 0x27)
                out << QStringLiteral("K") + hexText.mid(2, 2);
            else if (sid == 0x34)
                out << QStringLiteral("D") + hexText.mid(12, 2);
            else if (sid == 0x36 && (out.isEmpty() || out.last() != QLatin1String("T")))
                out << QStringLiteral("T");
            else if (named.contains(sid))
                out << named.value(sid);
        }
        return out;
    }
    // TransferData requests: (counter, data bytes).
    std::vector<std::pair<int, int>> pieces() const {
        std::vector<std::pair<int, int>> out;
        for (const QByteArray& r : device.requests())
            if (uint8_t(r[0]) == 0x36)
                out.emplace_back(uint8_t(r[1]), int(r.size() - 2));
        return out;
    }
};

FlashContainer::Target fitting() {
    return {{QStringLiteral("TRVAFN-0001")}, QByteArray("\x02\x03", 2), QByteArray(1, 4), QByteArray(1, 1)};
}

SensorIdentity sensor(const char* article = "TRVAFN-0001", int mainboard = 3, int frontend = 4,
                      int illu = 1) {
    SensorIdentity id;
    id.articleNumber = QString::fromLatin1(article);
    id.mainboardVersionNumber = mainboard;
    id.frontendVersionNumber = frontend;
    id.illuHardwareVersionNumber = illu;
    return id;
}

QByteArray container(const QList<FlashBlock>& blocks, const FlashContainer::Target& target = fitting()) {
    QString error;
    const QByteArray bytes = FlashContainer::build(target, blocks, error);
    EXPECT_FALSE(bytes.isEmpty()) << error.toStdString();
    return bytes;
}

QString writeFile(const QTemporaryDir& dir, const QByteArray& bytes) {
    const QString path = dir.filePath(QStringLiteral("c.fcr"));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    return path;
}

const QStringList kFullSequence = {"F186", "S3", "R0203", "DTC",   "CC",    "S2",  "K11", "K12", "FP",
                                   "D30",  "T",  "X",     "R0202", "RFF00", "D63", "T",   "X",   "R0202"};

TEST(Flash, ProgrammingSequenceBranches) {
    const struct {
        const char* name;
        Programming sensor;
        int result;
        QStringList trace;
    } cases[] = {
        {"extended then programming session, driver first", {}, 0, kFullSequence},
        {"session read retried on time-outs", {3}, 0, QStringList{"F186", "F186", "F186"} + kFullSequence},
        {"already programming: no session change, no driver",
         {0, 2},
         0,
         {"F186", "K11", "K12", "FP", "RFF00", "D63", "T", "X", "R0202"}},
        {"zero seed: no key, no driver",
         {0, 1, true},
         0,
         {"F186", "S3", "R0203", "DTC", "CC", "S2", "K11", "FP", "RFF00", "D63", "T", "X", "R0202"}},
        {"twenty silent session reads: no boot loader", {20}, FLASH_NO_BOOTLOADER, QStringList(20, "F186")},
        {"erase refused", {0, 2, false, 1}, DIAG_WRONG_RES, {"F186", "K11", "K12", "FP", "RFF00"}},
        {"CRC mismatch reported",
         {0, 2, false, 0, 1},
         DIAG_DATA_ERR,
         {"F186", "K11", "K12", "FP", "RFF00", "D63", "T", "X", "R0202"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench(c.sensor);
        bench.update.setDriver(FlashBlock::fromData("FLASH_DRV", 0x30, pattern(100)));
        bench.update.setApplication(FlashBlock::fromData("DSP_CPAR", 0x63, pattern(5000)));
        EXPECT_EQ(bench.update.programBlock(), c.result);
        EXPECT_EQ(bench.trace(), c.trace.join(' ').toStdString());
    }
}

TEST(Flash, DownloadPiecesAndCounters) {
    Bench bench;
    ASSERT_EQ(bench.update.download(FlashBlock::fromData("DSP", 0x60, pattern(10000)), 0x60), 0);
    EXPECT_EQ(bench.pieces(), (std::vector<std::pair<int, int>>{{1, 4093}, {2, 4093}, {3, 1814}}));
    EXPECT_EQ(bench.device.requests().front(), hex("34 00 44 00 00 00 60 00 00 27 10"));
    EXPECT_EQ(
        bench.device.requests().back(), hex("31 01 02 02") + [] {
            const uint32_t crc = flashCrc32(pattern(10000).constData(), 10000);
            return QByteArray::fromHex(QByteArray::number(crc, 16).rightJustified(8, '0'));
        }());

    // The counter wraps: the 256th piece carries 0, the 257th 1.
    Bench wrap;
    ASSERT_EQ(wrap.update.download(FlashBlock::fromData("DSP", 0x60, pattern(256 * 4093 + 10)), 0x60), 0);
    const auto pieces = wrap.pieces();
    ASSERT_EQ(pieces.size(), 257u);
    EXPECT_EQ(pieces[254], std::make_pair(255, 4093));
    EXPECT_EQ(pieces[255], std::make_pair(0, 4093));
    EXPECT_EQ(pieces[256], std::make_pair(1, 10));
}

TEST(Flash, FingerprintFromTheLocalTime) {
    const struct {
        QDateTime when;
        const char* bytes;
    } cases[] = {
        {QDateTime(QDate(2026, 3, 3), QTime(14, 5)), "26 03 03 26 05 77 02 05 20"},
        {QDateTime(QDate(1999, 12, 31), QTime(12, 59)), "99 12 31 26 05 77 12 59 19"},
        {QDateTime(QDate(2100, 1, 9), QTime(0, 0)), "00 01 09 26 05 77 00 00 21"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FirmwareUpdate::fingerprint(c.when).toHex(' '), hex(c.bytes).toHex(' '));
    Bench bench;
    bench.update.setApplication(FlashBlock::fromData("KP", 0x80, pattern(10)));
    ASSERT_EQ(bench.update.programBlock(), 0);
    const auto requests = bench.device.requests();
    EXPECT_NE(std::find(requests.begin(), requests.end(), hex("2E F1 5A 26 03 03 26 05 77 02 05 20")),
              requests.end());
}

TEST(Flash, HeaderChecksRefuseBeforeAnythingIsSent) {
    const QByteArray good = container({FlashBlock::fromData("DSP", 0x60, pattern(64))});
    auto patched = [&](int at, const QByteArray& bytes, bool fixCrc) {
        QByteArray b = good;
        b.replace(at, bytes.size(), bytes);
        if (fixCrc) {
            const uint32_t crc = flashCrc32(b.constData(), 744);
            b.replace(744, 4, QByteArray(reinterpret_cast<const char*>(&crc), 4));
        }
        return b;
    };
    const struct {
        const char* name;
        QByteArray bytes;
        SensorIdentity sensor;
        int code;
        const char* line;
    } cases[] = {
        {"identification", patched(0, "vlr TRX ", true), sensor(), 130014,
         "Flash container header identification not OK"},
        {"version", patched(8, QByteArray("\x02\0\0\0", 4), true), sensor(), 130014,
         "Flash container version is not version 1"},
        {"header CRC", patched(300, "x", false), sensor(), 130014,
         "CRC of flash container header doesn't match"},
        {"article", good, sensor("TRVADN-0002"), 130013, "Camera article number not supported"},
        {"mainboard", good, sensor("TRVAFN-0001", 1), 130012, "Mainboard version not supported"},
        {"frontend", good, sensor("TRVAFN-0001", 3, -1), 130012, "Frontend version not supported"},
        {"illumination", good, sensor("TRVAFN-0001", 3, 4, 2), 130012, "Illu hw version not supported"},
        {"short header", good.left(751), sensor(), 130011, "Can't read header of flash container"},
        {"truncated block", good.left(good.size() - 1), sensor(), 130011, "announces"},
        {"block header cut", good.left(752 + 20), sensor(), 130011, "cannot hold"},
        {"size beyond the file", patched(752 + 28, QByteArray("\xFF\xFF\xFF\x7F", 4), false), sensor(),
         130011, "announces"},
        {"flash size beyond the data", patched(752 + 24, QByteArray("\x41\0\0\0", 4), false), sensor(),
         130011, "would send"},
        {"block count beyond the file", patched(740, QByteArray("\0\0\0\x10", 4), true), sensor(), 130011,
         "cannot hold"},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench;
        MessageCapture log;
        EXPECT_EQ(bench.update.firmwareupdate(writeFile(dir, c.bytes), true, c.sensor), c.code);
        EXPECT_EQ(log.count(QLatin1String(c.line)), 1);
        EXPECT_TRUE(bench.device.sentFrames().empty());
    }
    // Article numbers beginning with "M" fit every container, even one without articles.
    FlashContainer header;
    FlashContainer::Target any = fitting();
    any.articleNumbers.clear();
    ASSERT_EQ(header.parseHeader(container({}, any)), 0);
    EXPECT_EQ(header.checkHeader("M123", 3, 4, 1), 0);
    EXPECT_EQ(header.checkHeader("T123", 3, 4, 1), 130013);
}

TEST(Flash, BlockLoopRetriesOnceThenResets) {
    const QList<FlashBlock> blocks = {FlashBlock::fromData("DSP", 0x60, pattern(300)),
                                      FlashBlock::fromData("KP", 0x80, pattern(200))};
    const struct {
        int eraseFailures;
        int result;
        std::vector<int> sleeps;
        std::vector<std::pair<int, int>> progress;
        int downloads; // RequestDownload of application blocks
    } cases[] = {
        {0, 0, {10000}, {{2, 1}, {2, 2}, {100, 100}}, 2},
        {1, 0, {15000, 10000}, {{2, 1}, {2, 2}, {100, 100}}, 2},
        {2, DIAG_WRONG_RES, {15000, 10000}, {{2, 1}, {100, 100}}, 0},
    };
    QTemporaryDir dir;
    const QString path = writeFile(dir, container(blocks));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.eraseFailures);
        Programming p;
        p.eraseFailures = c.eraseFailures;
        Bench bench(p);
        EXPECT_EQ(bench.update.firmwareupdate(path, true, sensor()), c.result);
        EXPECT_EQ(bench.sleeps, c.sleeps);
        EXPECT_EQ(bench.progress, c.progress);
        const QStringList trace = bench.tokens();
        EXPECT_EQ(trace.count("D60") + trace.count("D80"), c.downloads);
        EXPECT_EQ(trace.last(), "RESET");
    }
}

TEST(Flash, ParameterDownloadSendsTheFilesAsTheyAre) {
    QTemporaryDir dir;
    const QByteArray appl = pattern(4100), drv = pattern(77);
    for (const auto& [name, bytes] : {std::pair{"appl.bin", appl}, std::pair{"drv.bin", drv}}) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    Bench bench;
    EXPECT_EQ(bench.update.parameterDownload("KP_CPAR", dir.filePath("appl.bin"), dir.filePath("drv.bin")),
              0);
    EXPECT_EQ(bench.trace(), "F186 S3 R0203 DTC CC S2 K11 K12 FP D30 T X R0202 RFF00 D81 T X R0202");
    EXPECT_EQ(bench.pieces(), (std::vector<std::pair<int, int>>{{1, 77}, {1, 4093}, {2, 7}}));

    // The embedded flash driver is the parameter write's, end to end.
    Bench unknown;
    EXPECT_EQ(unknown.update.parameterDownload("NOPE", dir.filePath("appl.bin"), dir.filePath("drv.bin")),
              130011);
    EXPECT_EQ(unknown.update.parameterDownload("DSP_CPAR", dir.filePath("missing"), dir.filePath("drv.bin")),
              130011);
    EXPECT_TRUE(unknown.device.sentFrames().empty());
}

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

} // namespace
