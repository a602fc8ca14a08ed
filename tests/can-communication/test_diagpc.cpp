// The diagnostic client, flashing and parameter block reads against a scripted sensor on a
// virtual clock, so that time-outs and pacing are checked without waiting.
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

#include <functional>

namespace {

constexpr uint8_t kNode = 0x2A;

struct Bench : DiagBench {
    Bench() : DiagBench(kNode) {}
    // Every sent frame as hex text ("0211010000000000"), in order.
    std::vector<std::string> sentHex() const {
        std::vector<std::string> out;
        for (const SentFrame& f : device.sentFrames())
            out.push_back(
                QByteArray(reinterpret_cast<const char*>(f.data.data()), 8).toHex().toUpper().toStdString());
        return out;
    }
    void answerWith(const QByteArray& answer) {
        device.onRequest = [answer](ScriptedCanDevice& d, uint32_t, const QByteArray&) { d.reply(answer); };
    }
};

// One service call, the frames it sends, the answer it gets and the data it returns.
struct ServiceCase {
    const char* name;
    std::function<int(DiagPC&, QByteArray&)> call;
    std::vector<const char*> frames; // as sent, in order
    const char* answer;              // payload of the sensor's answer; null: none
    int result;
    bool functional = false;
    const char* data = ""; // what the call hands back after the answer's header
};
#define CALL(expr) [&](DiagPC& d, [[maybe_unused]] QByteArray& data) { return expr; }

TEST(DiagPC, EveryServiceSendsItsExactBytes) {
    const uint8_t five[] = {1, 2, 3, 4, 5};
    const uint8_t two[] = {0xAA, 0xBB};
    const uint8_t eleven[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    // clang-format off
    const std::vector<ServiceCase> cases = {
        {"ECUReset", CALL(d.ecuReset(1)), {"02 11 01 00 00 00 00 00"}, "51 01", 0},
        {"Session", CALL(d.diagnosticSessionControl(2)), {"02 10 02 00 00 00 00 00"}, "50 02 00 32 01 F4", 0},
        {"Key", CALL(d.securityAccessKey(0x12, 0xA1B2C3D4)), {"06 27 12 A1 B2 C3 D4 00"}, "67 12", 0},
        {"Key refused", CALL(d.securityAccessKey(0x12, 1)), {"06 27 12 00 00 00 01 00"}, "7F 27 35", 2},
        {"ControlDTCSetting", CALL(d.controlDtcSettingOff()), {"02 85 82 FF FF FF FF FF"}, nullptr, 0, true},
        {"CommunicationControl silent", CALL(d.communicationControlAll()), {"03 28 81 55 55 55 55 55"},
         nullptr, 0, true},
        {"CommunicationControl answered", CALL(d.communicationControlAll()), {"03 28 81 55 55 55 55 55"},
         "68 01", 2, true},
        {"Preconditions", CALL(d.routineCheckPreconditions()), {"04 31 01 02 03 00 00 00"}, "71 01 02 03", 0},
        {"Erase", CALL(d.routineErase(5)), {"06 31 01 FF 00 01 05 00"}, "71 01 FF 00 00", 0},
        {"Erase failed", CALL(d.routineErase(5)), {"06 31 01 FF 00 01 05 00"}, "71 01 FF 00 01", 12},
        {"CheckMemory", CALL(d.routineCheckMemory(0xDEADBEEF)),
         {"10 08 31 01 02 02 DE AD", "21 BE EF 55 55 55 55 55"}, "71 01 02 02 00", 0},
        {"RequestDownload", CALL(d.requestDownload(0x12345, 7, 0)),
         {"10 0B 34 00 44 00 00 00", "21 07 00 01 23 45 55 55"}, "74 20 0F FF", 0},
        {"TransferData short", CALL(d.transferData(1, five, 5)), {"07 36 01 01 02 03 04 05"}, "76 01", 0},
        {"TransferExit", CALL(d.requestTransferExit()), {"01 37 00 00 00 00 00 00"}, "77", 0},
        {"ClearDTC", CALL(d.clearDiagnosticInformation()), {"04 14 FF FF FF 00 00 00"}, "54", 0},
        {"WriteDataByIdentifier", CALL(d.writeDataByIdentifier(0x0102, two, 2)),
         {"05 2E 01 02 AA BB 00 00"}, "6E 01 02", 0},
        // 13 bytes fill two frames exactly; the 14th needs a third.
        {"WriteDataByIdentifier 13", CALL(d.writeDataByIdentifier(0x0102, eleven, 10)),
         {"10 0D 2E 01 02 01 02 03", "21 04 05 06 07 08 09 0A"}, "6E 01 02", 0},
        {"WriteDataByIdentifier 14", CALL(d.writeDataByIdentifier(0x0102, eleven, 11)),
         {"10 0E 2E 01 02 01 02 03", "21 04 05 06 07 08 09 0A", "22 0B 55 55 55 55 55 55"}, "6E 01 02", 0},
        {"ReadDataByIdentifier", CALL(d.readDataByIdentifier(0xF187, data)), {"03 22 F1 87 00 00 00 00"},
         "62 F1 87 41 42", 0, false, "41 42"},
        // A 20-byte answer in three frames: one flow control, then its consecutive frames.
        {"ReadDataByIdentifier long", CALL(d.readDataByIdentifier(0xF18C, data)),
         {"03 22 F1 8C 00 00 00 00", "30 00 00 00 00 00 00 00"},
         "62 F1 8C 30 31 32 33 34 35 36 37 38 39 41 42 43 44 45 46 47", 0, false,
         "30 31 32 33 34 35 36 37 38 39 41 42 43 44 45 46 47"},
        {"ReadDTCInformation", CALL(d.readDtcInformation(0xFF, data)), {"03 19 02 FF 00 00 00 00"},
         "59 02 FF 90 01 17 09", 0, false, "90 01 17 09"},
        {"ReadMemoryByAddress", CALL(d.readMemoryByAddress(0x00012345, 4, data)),
         {"10 08 23 24 00 01 23 45", "21 00 04 00 00 00 00 00"}, "63 01 02 03 04", 0, false, "01 02 03 04"},
    };
    // clang-format on
    for (const ServiceCase& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b;
        if (c.answer)
            b.answerWith(hex(c.answer));
        QByteArray data;
        EXPECT_EQ(c.call(b.diag, data), c.result);
        EXPECT_EQ(data, hex(c.data));
        std::vector<std::string> expected;
        for (const char* f : c.frames)
            expected.push_back(hex(f).toHex().toUpper().toStdString());
        EXPECT_EQ(b.sentHex(), expected);
        EXPECT_EQ(b.device.sentFrames().front().id, c.functional ? 0x18DB02F1u : 0x18DA2AF1u);
    }
}
#undef CALL

// Long TransferData requests under the sensor's flow controls. Its flow controls arrive
// `flowDelayMs` after it asks for a pause, so a sender that does not wait for them sends too early;
// 2000 ms is later than the 1500 ms the sender waits.
TEST(DiagPC, FlowControlPacesLongRequests) {
    struct Case {
        int size; // data bytes after the service and its counter
        uint8_t blockSize, separationTime;
        qint64 flowDelayMs;
        int result;
        size_t frames;
        int pauses;    // gaps of 20 ms and more: one per flow control
        qint64 minGap; // between consecutive frames
    };
    const Case cases[] = {{38, 0, 0, 20, DIAG_OK, 6, 1, 0},
                          {38, 2, 0, 20, DIAG_OK, 6, 3, 0},
                          {20, 0, 5, 0, DIAG_OK, 4, 0, 6},
                          {20, 0, 0, 2000, DIAG_TX_ERROR_TP, 1, 0, 0},
                          {4094, 0, 0, 0, DIAG_BUFFER_TOO_LARGE, 0, 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        Bench b;
        b.device.flowBlockSize = c.blockSize;
        b.device.flowSeparationTime = c.separationTime;
        b.device.flowDelayMs = c.flowDelayMs;
        b.answerWith(hex("76 01"));
        const QByteArray data = pattern(c.size);
        EXPECT_EQ(b.diag.transferData(1, reinterpret_cast<const uint8_t*>(data.constData()), c.size),
                  c.result);
        const auto sent = b.device.sentFrames();
        ASSERT_EQ(sent.size(), c.frames);
        int pauses = 0;
        for (size_t i = 1; i < sent.size(); ++i) {
            EXPECT_EQ(sent[i].data[0], 0x20 + i);
            pauses += sent[i].at - sent[i - 1].at >= 20 ? 1 : 0;
            if (i >= 2) {
                EXPECT_GE(sent[i].at - sent[i - 1].at, c.minGap) << i;
            }
        }
        EXPECT_EQ(pauses, c.pauses);
    }
}

TEST(DiagPC, ResponsePendingExtendsTheWait) {
    for (bool pending : {true, false}) {
        Bench b;
        b.device.onRequest = [pending](ScriptedCanDevice& d, uint32_t, const QByteArray&) {
            if (pending)
                d.reply(hex("7F 10 78"));
            d.reply(hex("50 03 00 32 01 F4"), 4000);
        };
        EXPECT_EQ(b.diag.diagnosticSessionControl(3), pending ? DIAG_OK : DIAG_TIMEOUT);
    }
}

TEST(DiagPC, WrongAnswersGiveTheirResult) {
    const uint32_t res = 0x18DAF12A;
    struct Case {
        const char* name;
        std::vector<const char*> frames; // on the response identifier after the request
        int receive;                     // receiveAnswer's result
    };
    const std::vector<Case> cases = {
        {"silence", {}, DIAG_TIMEOUT},
        {"negative", {"03 7F 22 31 00 00 00 00"}, DIAG_WRONG_RES},
        {"wrong sequence", {"10 14 62 F1 8C 30 31 32", "22 33 34 35 36 37 38 39"}, DIAG_WRONG_RES},
        {"more than 4095 bytes", {"10 00 00 00 10 00 62 F1"}, DIAG_WRONG_RES},
        {"first frame too short", {"10 05 62 F1 8C 00 00 00"}, DIAG_WRONG_RES},
        {"single frame length 9", {"09 62 F1 8C 00 00 00 00"}, DIAG_WRONG_RES},
        {"stray consecutive frames only",
         {"21 00 00 00 00 00 00 00", "22 00 00 00 00 00 00 00"},
         DIAG_TIMEOUT},
        {"answer to another service", {"02 51 01 00 00 00 00 00"}, DIAG_TIMEOUT},
        {"foreign negative", {"03 7F 10 31 00 00 00 00"}, DIAG_TIMEOUT},
        {"cut short", {"10 14 62 F1 8C 30 31 32", "21 33 34 35 36 37 38 39"}, DIAG_TIMEOUT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b;
        b.device.onRequest = [&c, res](ScriptedCanDevice& d, uint32_t, const QByteArray&) {
            for (const char* f : c.frames)
                d.push(res, hex(f));
        };
        QByteArray answer;
        EXPECT_EQ(b.diag.receiveAnswer(hex("22 F1 8C"), answer), c.receive);
        EXPECT_TRUE(answer.isEmpty());
    }
}

TEST(DiagPC, ForeignFramesAndLateAnswersAreNotTakenForTheAnswer) {
    Bench b;
    // A late positive answer to an earlier session request waits in the queue before the request.
    b.device.reply(hex("50 03 00 32 01 F4"));
    EXPECT_EQ(b.diag.diagnosticSessionControl(3), DIAG_TIMEOUT);
    // Frames of other nodes around the answer are skipped.
    b.device.onRequest = [](ScriptedCanDevice& d, uint32_t, const QByteArray&) {
        d.push(0x18DAF12B, hex("06 50 03 00 32 01 F4 00"));
        d.push(0x123, hex("01 02"));
        d.reply(hex("50 03 00 32 01 F4"));
    };
    EXPECT_EQ(b.diag.diagnosticSessionControl(3), DIAG_OK);
}

TEST(DiagPC, FloodOfForeignFramesEndsWithTheTimeout) {
    Bench b;
    for (int i = 0; i < 20000; ++i)
        b.device.push(0x18FF0000u + uint32_t(i % 7), hex("01 02 03 04 05 06 07 08"), i / 8);
    QByteArray data;
    EXPECT_EQ(b.diag.readDataByIdentifier(0xF187, data), DIAG_RX_ERROR_TP);
}

TEST(ReadDataWithDiagnosis, IdentityWithShortVersionsAnswer) {
    Bench b;
    b.device.serveIdentifiers({
        {0xFD03, hex("01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F")}, // 15 bytes: five versions
        {0xFD15, hex("03 04 01")},
        {0xFD18, QByteArray("OD ")},
        {0xF187, QByteArray("TRVADN1\0\0", 9)},
        {0xF18C, QByteArray(" 000123456789 ")},
        {0xF193, hex("0B 03")},
        {0xF1A0, QByteArray("IL-42")},
        {0xF1A2, hex("07")},
        {0xF1A3, QByteArray("IS-7")},
    });
    ReadDataWithDiagnosis reader(&b.diag);
    SensorIdentity identity;
    EXPECT_EQ(reader.readIdentity(identity), 0);
    EXPECT_EQ(identity.versions, QStringList({"1.2.3", "4.5.6", "7.8.9", "10.11.12", "13.14.15"}));
    EXPECT_EQ(QStringList({identity.globalSoftwareVersion, identity.variant, identity.articleNumber,
                           identity.serialNumber, identity.mainboardVersion, identity.frontendVersion,
                           identity.illuHardwareVersion, identity.illuSerialNumber}),
              QStringList({"3.4.1", "OD", "TRVADN1", "000123456789", "0x0B", "0x3", "0x7", "IS-7"}));
    EXPECT_EQ(identity.illuHardwareVersionNumber, 7);
}

TEST(ReadDataWithDiagnosis, StateValues) {
    struct Case {
        const char* answer0702;
        float second, third, fourth;
    };
    const Case cases[] = {{"41 20 00 00 41 A0 00 00", 10.0f, 0.0f, 20.0f},
                          {"41 20 00 00 41 A0 00 00 42 48 00 00", 10.0f, 20.0f, 50.0f}};
    for (const Case& c : cases) {
        Bench b;
        b.device.serveIdentifiers(
            {{0x0701, hex("3F C0 00 00")}, {0x0702, hex(c.answer0702)}, {0x0703, hex("05")}});
        ReadDataWithDiagnosis reader(&b.diag);
        SensorStateData state;
        EXPECT_EQ(reader.readState(state), 0);
        // Exact: every value is a short binary fraction.
        EXPECT_EQ(std::vector<float>({state.first, state.second, state.third, state.fourth, state.last}),
                  std::vector<float>({1.5f, c.second, c.third, c.fourth, 1.5f}));
        EXPECT_EQ(state.fifth, 5);
    }
}

// The sensor's side of programming, scripted: every service answers positively unless told.
struct Programming {
    int f186Silent = 0; // active-session reads left unanswered first
    uint8_t session = 1;
    bool zeroSeed = false;
    int eraseFailures = 0; // erase requests answered negatively first
    uint8_t crcStatus = 0;
};

struct FlashBench : DiagBench {
    std::vector<std::pair<int, int>> progress;
    std::vector<int> sleeps;
    FirmwareUpdate update{diag, hooks()};

    explicit FlashBench(Programming p = {}) : DiagBench(239) {
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
    // The requests as short tokens: a read's identifier ("F186"), "S3" (session), "R0203" (routine),
    // "K11" (security), "FP" (fingerprint), "D30" (download of an id), "T" (a run of TransferData).
    std::string trace() const { return tokens().join(' ').toStdString(); }
    QStringList tokens() const {
        struct Token {
            const char* prefix;
            int at, digits; // taken from the request's hex text
        };
        static const QHash<uint8_t, Token> named = {
            {0x22, {"", 2, 4}},      {0x10, {"S", 3, 1}},   {0x31, {"R", 4, 4}},  {0x27, {"K", 2, 2}},
            {0x34, {"D", 12, 2}},    {0x36, {"T", 0, 0}},   {0x2E, {"FP", 0, 0}}, {0x37, {"X", 0, 0}},
            {0x11, {"RESET", 0, 0}}, {0x85, {"DTC", 0, 0}}, {0x28, {"CC", 0, 0}}};
        QStringList out;
        for (const QByteArray& r : device.requests()) {
            const auto it = named.find(uint8_t(r[0]));
            if (it == named.end())
                continue;
            const QString token =
                QLatin1String(it->prefix) + QString::fromLatin1(r.toHex().toUpper()).mid(it->at, it->digits);
            if (token != QLatin1String("T") || out.isEmpty() || out.last() != token)
                out << token;
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

QString writeFile(const QTemporaryDir& dir, const QByteArray& bytes, const QString& name = "c.fcr") {
    const QString path = dir.filePath(name);
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
        FlashBench bench(c.sensor);
        bench.update.setDriver(FlashBlock::fromData("FLASH_DRV", 0x30, pattern(100)));
        bench.update.setApplication(FlashBlock::fromData("DSP_CPAR", 0x63, pattern(5000)));
        EXPECT_EQ(bench.update.programBlock(), c.result);
        EXPECT_EQ(bench.trace(), c.trace.join(' ').toStdString());
    }
}

TEST(Flash, DownloadPiecesAndCounters) {
    FlashBench bench;
    ASSERT_EQ(bench.update.download(FlashBlock::fromData("DSP", 0x60, pattern(10000)), 0x60), 0);
    EXPECT_EQ(bench.pieces(), (std::vector<std::pair<int, int>>{{1, 4093}, {2, 4093}, {3, 1814}}));
    EXPECT_EQ(bench.device.requests().front(), hex("34 00 44 00 00 00 60 00 00 27 10"));
    EXPECT_EQ(
        bench.device.requests().back(), hex("31 01 02 02") + [] {
            const uint32_t crc = flashCrc32(pattern(10000).constData(), 10000);
            return QByteArray::fromHex(QByteArray::number(crc, 16).rightJustified(8, '0'));
        }());

    // The counter wraps: the 256th piece carries 0, the 257th 1.
    FlashBench wrap;
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
    FlashBench bench;
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
        QByteArray bytes;
        SensorIdentity sensor;
        int code;
        const char* line; // logged once
    } cases[] = {
        {patched(0, "vlr TRX ", true), sensor(), 130014, "Flash container header identification not OK"},
        {patched(8, QByteArray("\x02\0\0\0", 4), true), sensor(), 130014,
         "Flash container version is not version 1"},
        {patched(300, "x", false), sensor(), 130014, "CRC of flash container header doesn't match"},
        {good, sensor("TRVADN-0002"), 130013, "Camera article number not supported"},
        {good, sensor("TRVAFN-0001", 1), 130012, "Mainboard version not supported"},
        {good, sensor("TRVAFN-0001", 3, -1), 130012, "Frontend version not supported"},
        {good, sensor("TRVAFN-0001", 3, 4, 2), 130012, "Illu hw version not supported"},
        {good.left(751), sensor(), 130011, "Can't read header of flash container"},
        {good.left(good.size() - 1), sensor(), 130011, "announces"},
        {good.left(752 + 20), sensor(), 130011, "cannot hold"},
        {patched(752 + 28, QByteArray("\xFF\xFF\xFF\x7F", 4), false), sensor(), 130011, "announces"},
        {patched(752 + 24, QByteArray("\x41\0\0\0", 4), false), sensor(), 130011, "would send"},
        {patched(740, QByteArray("\0\0\0\x10", 4), true), sensor(), 130011, "cannot hold"},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        FlashBench bench;
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
        FlashBench bench(p);
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
    const QString appl = writeFile(dir, pattern(4100), "appl.bin"),
                  drv = writeFile(dir, pattern(77), "drv.bin");
    FlashBench bench;
    EXPECT_EQ(bench.update.parameterDownload("KP_CPAR", appl, drv), 0);
    EXPECT_EQ(bench.trace(), "F186 S3 R0203 DTC CC S2 K11 K12 FP D30 T X R0202 RFF00 D81 T X R0202");
    EXPECT_EQ(bench.pieces(), (std::vector<std::pair<int, int>>{{1, 77}, {1, 4093}, {2, 7}}));

    // The embedded flash driver is the parameter write's, end to end.
    FlashBench unknown;
    EXPECT_EQ(unknown.update.parameterDownload("NOPE", appl, drv), 130011);
    EXPECT_EQ(unknown.update.parameterDownload("DSP_CPAR", dir.filePath("missing"), drv), 130011);
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

TEST(ParamTransfer, BlockFileHeaderAndCrcPatch) {
    QTemporaryDir dir;
    const QByteArray body = pattern(1536);
    const QDateTime at(QDate(2026, 3, 3), QTime(14, 5, 9, 870));
    const QByteArray header = ParamFile::header("DSP_", "DSP_CPAR", body.size(), at);
    ASSERT_EQ(header.size(), 64);
    EXPECT_EQ(header.left(9), QByteArray("DSP_\0\0\0\x40\0", 9));
    EXPECT_EQ(header.mid(9, 23), QByteArray("DSP_CPAR03.03.2026\0    ", 23));
    EXPECT_EQ(header.mid(40, 16), QByteArray("14:05:09.870000\0", 16));

    const QString in = writeFile(dir, header + body, "in.bin"), out = dir.filePath("out.bin");
    ASSERT_TRUE(patch_crc_param(in, out));
    QFile patched(out);
    ASSERT_TRUE(patched.open(QIODevice::ReadOnly));
    const QByteArray image = patched.readAll();
    ASSERT_EQ(image.size(), 1600);
    EXPECT_EQ(image.mid(64), body);
    // The sensor takes it: its lengths, and both CRCs against zlib's.
    EXPECT_EQ(trvsim::checkBlockImage(std::vector<uint8_t>(image.begin(), image.end()), body.size()), "");

    // Inputs it refuses: missing, shorter than a header.
    EXPECT_FALSE(patch_crc_param(writeFile(dir, header.left(63), "short.bin"), out));
    EXPECT_FALSE(patch_crc_param(dir.filePath("missing.bin"), out));
}

} // namespace
