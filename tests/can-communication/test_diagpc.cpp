// The diagnostic client against a scripted sensor: exact request frames of every service, the
// segmentation and flow control of long requests, reassembly of long answers and the result of
// every kind of wrong, late or missing answer.
#include "can-communication/ReadData_with_diagnosis.h"
#include "can-communication/diagpc.h"
#include "seedkey/seedkey.h"
#include "tests/can-communication/scriptedcandevice.h"

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
    // Answers every complete request with `answer` once.
    void answerWith(const QByteArray& answer, qint64 delay = 0) {
        device.onRequest = [answer, delay](ScriptedCanDevice& d, uint32_t, const QByteArray&) {
            d.reply(answer, delay);
        };
    }
};

std::string h(const char* text) {
    return hex(text).toHex().toUpper().toStdString();
}

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
            expected.push_back(h(f));
        EXPECT_EQ(b.sentHex(), expected);
        const auto sent = b.device.sentFrames();
        ASSERT_FALSE(sent.empty());
        EXPECT_EQ(sent.front().id, c.functional ? b.diag.functionalId() : b.diag.requestId());
        EXPECT_EQ(b.diag.requestId(), 0x18DA2AF1u);
        EXPECT_EQ(b.diag.functionalId(), 0x18DB02F1u);
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
        SCOPED_TRACE(testing::Message() << c.size << " block size " << int(c.blockSize) << " separation "
                                        << int(c.separationTime) << " delay " << c.flowDelayMs);
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
    struct Case {
        bool pending;
        int result;
    };
    for (const Case& c : {Case{true, DIAG_OK}, Case{false, DIAG_TIMEOUT}}) {
        Bench b;
        b.device.onRequest = [&c](ScriptedCanDevice& d, uint32_t, const QByteArray&) {
            if (c.pending)
                d.reply(hex("7F 10 78"));
            d.reply(hex("50 03 00 32 01 F4"), 4000);
        };
        EXPECT_EQ(b.diag.diagnosticSessionControl(3), c.result);
    }
}

TEST(DiagPC, ReassemblesLongAnswers) {
    Bench b;
    QByteArray data;
    const QByteArray value = QByteArray("0123456789ABCDEFG"); // 20-byte answer with the header
    b.answerWith(hex("62 F1 8C") + value);
    ASSERT_EQ(b.diag.readDataByIdentifier(0xF18C, data), 0);
    EXPECT_EQ(data, value);
    const auto sent = b.device.sentFrames();
    ASSERT_EQ(sent.size(), 2u); // request and one flow control
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(sent[1].data.data()), 8),
              hex("30 00 00 00 00 00 00 00"));

    QByteArray memory;
    const QByteArray big = pattern(4094);
    b.answerWith(char(0x63) + big);
    ASSERT_EQ(b.diag.readMemoryByAddress(0x1000, 4094, memory), 0);
    EXPECT_EQ(memory, big);
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

// The key of a non-zero seed; a zero seed unlocks without one (the flash sequence's test).
TEST(DiagPC, SecurityAccessForProgrammingSendsTheKeyOfTheSeed) {
    Bench b;
    b.device.onRequest = [](ScriptedCanDevice& d, uint32_t, const QByteArray& request) {
        d.reply(uint8_t(request[1]) == 0x11 ? hex("67 11 12 34 56 78") : hex("67 12"));
    };
    bool unlocked = true;
    EXPECT_EQ(b.diag.securityAccessProgramming(unlocked), DIAG_OK);
    EXPECT_FALSE(unlocked);
    const auto sent = b.device.sentFrames();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(b.sentHex()[0], h("02 27 11 00 00 00 00 00"));
    const auto& k = sent[1].data;
    EXPECT_EQ((uint32_t(k[3]) << 24) | (uint32_t(k[4]) << 16) | (uint32_t(k[5]) << 8) | k[6],
              trvaxx::securityKeyFromSeed(0x12345678));
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
    EXPECT_EQ(identity.globalSoftwareVersion, "3.4.1");
    EXPECT_EQ(identity.variant, "OD");
    EXPECT_EQ(identity.articleNumber, "TRVADN1");
    EXPECT_EQ(identity.serialNumber, "000123456789");
    EXPECT_EQ(identity.mainboardVersion, "0x0B");
    EXPECT_EQ(identity.frontendVersion, "0x3");
    EXPECT_EQ(identity.illuHardwareVersion, "0x7");
    EXPECT_EQ(identity.illuHardwareVersionNumber, 7);
    EXPECT_EQ(identity.illuSerialNumber, "IS-7");
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
        EXPECT_FLOAT_EQ(state.first, 1.5f);
        EXPECT_FLOAT_EQ(state.second, c.second);
        EXPECT_FLOAT_EQ(state.third, c.third);
        EXPECT_FLOAT_EQ(state.fourth, c.fourth);
        EXPECT_EQ(state.fifth, 5);
        EXPECT_FLOAT_EQ(state.last, 1.5f);
    }
}

TEST(ReadDataWithDiagnosis, FailedSessionStopsTheRead) {
    Bench b;
    ReadDataWithDiagnosis reader(&b.diag);
    QString article;
    EXPECT_EQ(reader.readArticleNumber(article), 1);
    EXPECT_EQ(b.device.requests().size(), 1u); // only the session request
}

} // namespace
