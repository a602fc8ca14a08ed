#include "can-communication/diagpc.h"

#include "can-communication/canlogging.h"
#include "common/logentry.h"
#include "seedkey/seedkey.h"

#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <cstring>

namespace {

constexpr uint8_t kNegativeResponse = 0x7F;
constexpr uint8_t kResponsePending = 0x78;
constexpr uint8_t kFlowControl = 0x30;
constexpr uint8_t kMultiFramePadding = 0x55;

// At most this many frames are dropped by one discardPending, so a flooded bus cannot hold it.
constexpr int kDiscardLimit = 100000;

void putBigEndian32(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value >> 24);
    at[1] = static_cast<uint8_t>(value >> 16);
    at[2] = static_cast<uint8_t>(value >> 8);
    at[3] = static_cast<uint8_t>(value);
}

// Separation times 0..127 are milliseconds; 0xF1..0xF9 are 100..900 µs (below the 1 ms that is
// always added); reserved values count as the longest, 127 ms.
uint8_t separationTimeToMs(uint8_t value) {
    if (value <= 0x7F)
        return value;
    if (value >= 0xF1 && value <= 0xF9)
        return 0;
    return 0x7F;
}

// Reads one frame; bytes beyond the reported length read as zero.
bool readFrame(CANBusDevice* device, uint32_t& identifier, uint8_t (&data)[8]) {
    uint8_t length = 0;
    if (device->CAN_ReadData(&identifier, data, &length) != 0)
        return false;
    if (length < 8)
        std::memset(data + length, 0, 8 - length);
    return true;
}

class Stopwatch {
public:
    explicit Stopwatch(const DiagClock& clock) : clock(clock), start(clock.nowMs()) {}
    qint64 elapsed() const { return clock.nowMs() - start; }

private:
    const DiagClock& clock;
    const qint64 start;
};

} // namespace

qint64 DiagClock::nowMs() const {
    static QElapsedTimer monotonic = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    return monotonic.elapsed();
}

void DiagClock::sleepMs(int ms) {
    QThread::msleep(static_cast<unsigned long>(std::max(0, ms)));
}

void DiagClock::busyWaitMs(int ms) {
    const qint64 end = nowMs() + ms;
    while (nowMs() < end) {
    }
}

DiagClock& DiagClock::system() {
    static DiagClock clock;
    return clock;
}

const char* diagResultName(int code) {
    switch (code) {
    case DIAG_TIMEOUT:
        return "DIAG_TIMEOUT";
    case DIAG_WRONG_RES:
        return "DIAG_WRONG_RES";
    case DIAG_TRANSMIT_ERROR:
        return "DIAG_TRANSMIT_ERROR";
    case DIAG_TX_ERROR_TP:
        return "DIAG_TX_ERROR_TP";
    case DIAG_RX_ERROR_TP:
        return "DIAG_RX_ERROR_TP";
    case DIAG_FC_TIMEOUT:
        return "DIAG_FC_TIMEOUT";
    case DIAG_DATA_ERR:
        return "DIAG_DATA_ERR";
    default:
        return "unknown error";
    }
}

DiagPC::DiagPC(CANBusDevice* device, uint8_t nodeAddress) : device(device), node(nodeAddress) {
    configure();
}

void DiagPC::configure() {
    reqId = 0x18DA0000u | (uint32_t(node) << 8) | kTesterAddress;
    resId = 0x18DA0000u | (kTesterAddress << 8) | node;
    funcId = kFunctionalRequestId;
    useReceivedSeparationTime = true;
    ownSeparationTime = 0;
    ownBlockSize = 0;
}

void DiagPC::discardPending() {
    uint32_t identifier;
    uint8_t data[8];
    for (int i = 0; i < kDiscardLimit && readFrame(device, identifier, data); ++i) {
    }
}

int DiagPC::sendFrame(uint32_t identifier, const uint8_t (&frame)[8]) {
    return device->CAN_SendData(identifier, frame, 8);
}

int DiagPC::sendSingleFrame(const uint8_t* payload, int length, uint8_t padding) {
    uint8_t frame[8];
    std::memset(frame, padding, sizeof frame);
    frame[0] = static_cast<uint8_t>(length);
    std::memcpy(frame + 1, payload, static_cast<size_t>(length));
    return sendFrame(reqId, frame);
}

int DiagPC::sendFlowControl(uint8_t blockSize, uint8_t separationTime) {
    const uint8_t frame[8] = {kFlowControl, blockSize, separationTime, 0, 0, 0, 0, 0};
    return sendFrame(reqId, frame);
}

int DiagPC::waitFrame(uint32_t identifier, const uint8_t* expected, int count, int timeoutMs, uint8_t* out) {
    const Stopwatch timer(*clock);
    uint32_t id = 0;
    uint8_t data[8];
    for (;;) {
        if (!readFrame(device, id, data)) {
            if (timer.elapsed() >= timeoutMs)
                return TP_FRAME_TIMEOUT;
            clock->sleepMs(DiagnosticTimeouts::emptyQueuePoll);
            continue;
        }
        if (id == identifier)
            break;
        if (timer.elapsed() >= timeoutMs)
            return TP_FRAME_TIMEOUT;
    }
    if (out)
        std::memcpy(out, data, 8);
    count = std::clamp(count, 0, 8);
    if (count == 0 || !expected)
        return TP_FRAME_MATCH; // any frame of the identifier will do
    return std::memcmp(data, expected, static_cast<size_t>(count)) == 0 ? TP_FRAME_MATCH : TP_FRAME_MISMATCH;
}

int DiagPC::waitPositiveResponse(const uint8_t* expected, int count, int timeoutMs, uint8_t* out) {
    const uint8_t sid = static_cast<uint8_t>(expected[1] - 0x40);
    const Stopwatch timer(*clock);
    qint64 deadline = timeoutMs;
    uint8_t frame[8];
    for (;;) {
        const int wait = waitFrame(resId, expected, count,
                                   static_cast<int>(std::max<qint64>(0, deadline - timer.elapsed())), frame);
        if (wait == TP_FRAME_MATCH) {
            if (out)
                std::memcpy(out, frame, 8);
            return DIAG_OK;
        }
        if (wait == TP_FRAME_TIMEOUT) {
            qCDebug(lcCan).noquote() << QStringLiteral("No diagnosis answer - Timeout %1 ms").arg(timeoutMs);
            return DIAG_TIMEOUT;
        }
        const bool pending = frame[0] == 0x03 && frame[1] == kNegativeResponse && frame[2] == sid &&
                             frame[3] == kResponsePending;
        if (pending && timer.elapsed() < DiagnosticTimeouts::responsePendingLimit) {
            timeoutMs = DiagnosticTimeouts::responsePending;
            deadline = timer.elapsed() + timeoutMs;
            continue;
        }
        // A flow control on the response identifier belongs to the transport, not the answer; it
        // does not move the deadline, so a stream of them cannot hold the wait open.
        if (frame[0] == kFlowControl)
            continue;
        qCDebug(lcCan).noquote() << QString::asprintf(
            "Y - nicht erwartete Diagnoseantwort - Antwort 0x%.2X 0x%.2X 0x%.2X 0x%.2X - numbytes: %d",
            frame[0], frame[1], frame[2], frame[3], expected[0]);
        return DIAG_WRONG_RES;
    }
}

void DiagPC::keepSeparationTime() const {
    if (separationTimeMs == 0 || !useReceivedSeparationTime)
        return;
    // Busy-wait: a sleep may oversleep by a scheduler tick and stretch the transfer.
    clock->busyWaitMs(separationTimeMs + 1);
}

int DiagPC::sendMultiFrame(const uint8_t* payload, int length) {
    if (length < 6 || length > kMaxPayload)
        return DIAG_TX_ERROR_TP;
    uint8_t frame[8];
    frame[0] = static_cast<uint8_t>(0x10 | (length >> 8));
    frame[1] = static_cast<uint8_t>(length & 0xFF);
    std::memcpy(frame + 2, payload, 6);
    if (sendFrame(reqId, frame) != 0)
        return DIAG_TX_ERROR_TP;

    uint8_t blockSize = 0;
    auto awaitFlowControl = [&]() {
        const uint8_t continueToSend = kFlowControl;
        uint8_t fc[8];
        if (waitFrame(resId, &continueToSend, 1, DiagnosticTimeouts::flowControl, fc) != TP_FRAME_MATCH) {
            clock->sleepMs(1);
            return false;
        }
        blockSize = fc[1];
        separationTimeMs = separationTimeToMs(fc[2]);
        return true;
    };
    if (!awaitFlowControl())
        return DIAG_TRANSMIT_ERROR;

    const int consecutiveFrames = length / 7;
    int offset = 6;
    int sinceFlowControl = 0;
    for (int k = 1; k <= consecutiveFrames; ++k) {
        frame[0] = static_cast<uint8_t>(0x20 + (k % 16));
        const int chunk = std::min(7, length - offset);
        std::memcpy(frame + 1, payload + offset, static_cast<size_t>(chunk));
        std::memset(frame + 1 + chunk, kMultiFramePadding, static_cast<size_t>(7 - chunk));
        offset += chunk;
        if (sendFrame(reqId, frame) != 0)
            return DIAG_TX_ERROR_TP;
        if (k == consecutiveFrames)
            break;
        keepSeparationTime();
        // Block size 0: the sensor takes the rest without further flow control.
        if (blockSize != 0 && ++sinceFlowControl == blockSize) {
            sinceFlowControl = 0;
            if (!awaitFlowControl())
                return DIAG_TRANSMIT_ERROR;
        }
    }
    return DIAG_OK;
}

int DiagPC::sendRequest(const uint8_t* payload, int length) {
    discardPending();
    if (length <= 7)
        return sendSingleFrame(payload, length) == 0 ? DIAG_OK : DIAG_TRANSMIT_ERROR;
    return sendMultiFrame(payload, length) == DIAG_OK ? DIAG_OK : DIAG_TX_ERROR_TP;
}

int DiagPC::receiveAnswer(const QByteArray& request, QByteArray& answer) {
    answer.clear();
    const int requestLength = static_cast<int>(request.size());
    if (requestLength < 1 || requestLength > 13)
        return DIAG_TRANSMIT_ERROR;
    const auto* req = reinterpret_cast<const uint8_t*>(request.constData());
    const uint8_t sid = req[0];
    const uint8_t positive = static_cast<uint8_t>(sid + 0x40);
    discardPending();
    bool sent;
    if (requestLength <= 7) {
        sent = sendSingleFrame(req, requestLength) == 0;
    } else {
        // The sensor takes this short request without a flow control; the pause gives it time to
        // prepare for the consecutive frame.
        uint8_t first[8] = {static_cast<uint8_t>(0x10), static_cast<uint8_t>(requestLength)};
        std::memcpy(first + 2, req, 6);
        sent = sendFrame(reqId, first) == 0;
        if (sent) {
            clock->sleepMs(DiagnosticTimeouts::readMemoryConsecutiveDelay);
            uint8_t second[8] = {0x21};
            std::memcpy(second + 1, req + 6, static_cast<size_t>(requestLength - 6));
            sendFrame(reqId, second);
        }
    }
    if (!sent) {
        qCDebug(lcCan) << "DIAG_TRANSMIT_ERROR: CAN_SendData war nicht erfolgreich, get_tp_data_thread ";
        return DIAG_TRANSMIT_ERROR;
    }

    const Stopwatch timer(*clock);
    qint64 deadline = DiagnosticTimeouts::multiFrameAnswer;
    int expectedLength = 0; // of a multi-frame answer in progress, 0 when none
    uint8_t sequence = 1;
    uint32_t id = 0;
    uint8_t f[8];
    while (timer.elapsed() < deadline) {
        if (!readFrame(device, id, f)) {
            clock->sleepMs(DiagnosticTimeouts::emptyQueuePoll);
            continue;
        }
        if (id != resId)
            continue;
        switch (f[0] >> 4) {
        case 0: { // single frame
            const int length = f[0] & 0x0F;
            if (length == 3 && f[1] == kNegativeResponse) {
                if (f[2] != sid)
                    break; // belongs to another tester's request
                if (f[3] == kResponsePending) {
                    if (timer.elapsed() < DiagnosticTimeouts::responsePendingLimit)
                        deadline = std::max(deadline, timer.elapsed() + DiagnosticTimeouts::responsePending);
                    break;
                }
                qCDebug(lcCan) << "return TP_WRONG_RES";
                return DIAG_WRONG_RES;
            }
            if (f[1] != positive)
                break;
            if (length < 1 || length > 7) {
                qCDebug(lcCan) << "return TP_WRONG_RES: single frame length" << length;
                return DIAG_WRONG_RES;
            }
            answer = QByteArray(reinterpret_cast<const char*>(f + 1), length);
            return DIAG_OK;
        }
        case 1: { // first frame
            const int length = ((f[0] & 0x0F) << 8) | f[1];
            if (length == 0) { // the escape form of answers beyond the 12-bit length
                qCDebug(lcCan) << "return TP_WRONG_RES: answer announces more than 4095 bytes";
                return DIAG_WRONG_RES;
            }
            if (f[2] != positive)
                break;
            if (length < 8) {
                qCDebug(lcCan) << "return TP_WRONG_RES: first frame of" << length << "bytes";
                return DIAG_WRONG_RES;
            }
            sendFlowControl(ownBlockSize, ownSeparationTime);
            answer = QByteArray(reinterpret_cast<const char*>(f + 2), 6);
            answer.reserve(length + 7);
            expectedLength = length;
            sequence = 1;
            if (sid == 0x23)
                deadline = timer.elapsed() + DiagnosticTimeouts::multiFrameAnswer;
            break;
        }
        case 2: { // consecutive frame
            if (expectedLength == 0)
                break; // no answer of ours in progress
            if ((f[0] & 0x0F) != (sequence & 0x0F)) {
                qCDebug(lcCan) << "TP_WRONG_RES: falscher consecutive frame vom TP";
                answer.clear();
                return DIAG_WRONG_RES;
            }
            ++sequence;
            const int chunk = std::min<int>(7, expectedLength - static_cast<int>(answer.size()));
            answer.append(reinterpret_cast<const char*>(f + 1), chunk);
            if (answer.size() >= expectedLength)
                return DIAG_OK;
            break;
        }
        default: // flow control and reserved types are not part of an answer
            break;
        }
    }
    qCDebug(lcCan).noquote()
        << QStringLiteral("No diagnosis answer - Timeout %1 ms").arg(DiagnosticTimeouts::multiFrameAnswer);
    answer.clear();
    return DIAG_TIMEOUT;
}

int DiagPC::serviceRequest(const uint8_t* request, int length, const uint8_t* expected, int count,
                           int timeoutMs, uint8_t* frame) {
    if (const int sent = sendRequest(request, length))
        return sent;
    return waitPositiveResponse(expected, count, timeoutMs, frame);
}

int DiagPC::ecuReset(uint8_t type) {
    const uint8_t request[] = {0x11, type};
    const uint8_t expected[] = {0x02, 0x51};
    return serviceRequest(request, sizeof request, expected, 2, DiagnosticTimeouts::positiveResponse);
}

int DiagPC::diagnosticSessionControl(uint8_t session) {
    const uint8_t request[] = {0x10, session};
    const uint8_t expected[] = {0x06, 0x50};
    return serviceRequest(request, sizeof request, expected, 2, DiagnosticTimeouts::positiveResponse);
}

int DiagPC::securityAccessSeed(uint8_t level, uint32_t& seed) {
    const uint8_t request[] = {0x27, level};
    const uint8_t expected[] = {0x06, 0x67, level};
    uint8_t frame[8];
    const int result =
        serviceRequest(request, sizeof request, expected, 3, DiagnosticTimeouts::securityAccess, frame);
    if (result == DIAG_OK)
        seed = (uint32_t(frame[3]) << 24) | (uint32_t(frame[4]) << 16) | (uint32_t(frame[5]) << 8) | frame[6];
    return result;
}

int DiagPC::securityAccessKey(uint8_t level, uint32_t key) {
    uint8_t request[6] = {0x27, level};
    putBigEndian32(request + 2, key);
    const uint8_t expected[] = {0x02, 0x67, level};
    return serviceRequest(request, sizeof request, expected, 3, DiagnosticTimeouts::securityAccess);
}

int DiagPC::securityAccessProgramming(bool& alreadyUnlocked) {
    alreadyUnlocked = false;
    uint32_t seed = 0;
    if (const int result = securityAccessSeed(0x11, seed)) {
        qCDebug(lcCan) << "Request seed error :" << result;
        return result;
    }
    if (seed == 0) {
        alreadyUnlocked = true;
        return DIAG_OK;
    }
    return securityAccessKey(0x12, trvaxx::securityKeyFromSeed(seed));
}

int DiagPC::controlDtcSettingOff() {
    discardPending();
    const uint8_t frame[8] = {0x02, 0x85, 0x82, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    if (sendFrame(funcId, frame) != 0)
        return DIAG_TRANSMIT_ERROR;
    waitFrame(resId, nullptr, 0, DiagnosticTimeouts::controlDtcSettingListen, nullptr);
    return DIAG_OK;
}

int DiagPC::communicationControlAll() {
    discardPending();
    const uint8_t frame[8] = {0x03, 0x28, 0x81, 0x55, 0x55, 0x55, 0x55, 0x55};
    if (sendFrame(funcId, frame) != 0)
        return DIAG_TRANSMIT_ERROR;
    // Silence is the answer: the sensor stops talking.
    return waitFrame(resId, nullptr, 0, DiagnosticTimeouts::communicationControlListen, nullptr) ==
                   TP_FRAME_TIMEOUT
               ? DIAG_OK
               : DIAG_WRONG_RES;
}

int DiagPC::routineCheckPreconditions() {
    const uint8_t request[] = {0x31, 0x01, 0x02, 0x03};
    const uint8_t expected[] = {0x04, 0x71};
    return serviceRequest(request, sizeof request, expected, 2, DiagnosticTimeouts::positiveResponse);
}

int DiagPC::routineStatus(int result, const uint8_t (&frame)[8]) {
    // Byte 5 of the positive answer is the routine's own status: not 0 means it failed.
    return result == DIAG_OK && frame[5] != 0 ? DIAG_DATA_ERR : result;
}

int DiagPC::routineErase(uint8_t blockId) {
    const uint8_t request[] = {0x31, 0x01, 0xFF, 0x00, 0x01, blockId};
    const uint8_t expected[] = {0x05, 0x71};
    uint8_t frame[8];
    const int result =
        serviceRequest(request, sizeof request, expected, 2, DiagnosticTimeouts::positiveResponse, frame);
    return routineStatus(result, frame);
}

int DiagPC::routineCheckMemory(uint32_t crc) {
    uint8_t request[8] = {0x31, 0x01, 0x02, 0x02};
    putBigEndian32(request + 4, crc);
    const uint8_t expected[] = {0x05, 0x71};
    uint8_t frame[8];
    const int result =
        serviceRequest(request, sizeof request, expected, 2, DiagnosticTimeouts::positiveResponse, frame);
    return routineStatus(result, frame);
}

int DiagPC::requestDownload(uint32_t size, uint8_t blockId, uint8_t format) {
    uint8_t request[11] = {0x34, format, 0x44, 0x00, 0x00, 0x00, blockId};
    putBigEndian32(request + 7, size);
    const uint8_t expected[] = {0x04, 0x74};
    return serviceRequest(request, sizeof request, expected, 2, DiagnosticTimeouts::positiveResponse);
}

int DiagPC::transferData(uint8_t sequence, const uint8_t* data, int length) {
    if (length < 0 || length > kMaxTransferData) {
        qCCritical(lcCan).noquote() << QStringLiteral("Transfer-buffer too large!") + LOG_LOC;
        return DIAG_BUFFER_TOO_LARGE;
    }
    uint8_t request[kMaxPayload];
    request[0] = 0x36;
    request[1] = sequence;
    if (length > 0)
        std::memcpy(request + 2, data, static_cast<size_t>(length));
    // Below 6 data bytes the request fits a single frame.
    const uint8_t expected[] = {0x02, 0x76};
    return serviceRequest(request, length + 2, expected, 2, DiagnosticTimeouts::positiveResponse);
}

int DiagPC::requestTransferExit() {
    const uint8_t request[] = {0x37};
    const uint8_t expected[] = {0x01, 0x77};
    return serviceRequest(request, sizeof request, expected, 2, DiagnosticTimeouts::positiveResponse);
}

int DiagPC::clearDiagnosticInformation() {
    const uint8_t request[] = {0x14, 0xFF, 0xFF, 0xFF};
    sendRequest(request, sizeof request); // a lost request shows as a missing answer
    const uint8_t expected[] = {0x01, 0x54};
    return waitPositiveResponse(expected, 2, DiagnosticTimeouts::positiveResponse);
}

int DiagPC::readDataByIdentifier(uint16_t identifier, QByteArray& data, int* transport) {
    data.clear();
    const char request[] = {0x22, static_cast<char>(identifier >> 8), static_cast<char>(identifier & 0xFF)};
    QByteArray answer;
    const int received = receiveAnswer(QByteArray(request, sizeof request), answer);
    if (transport)
        *transport = received;
    if (received != DIAG_OK)
        return DIAG_RX_ERROR_TP;
    // An answer for another identifier is not the one asked for.
    if (answer.size() < 3 || answer.mid(1, 2) != QByteArray(request + 1, 2))
        return DIAG_RX_ERROR_TP;
    data = answer.mid(3, kMaxAnswerData);
    return DIAG_OK;
}

int DiagPC::readDtcInformation(uint8_t statusMask, QByteArray& records) {
    records.clear();
    const char request[] = {0x19, 0x02, static_cast<char>(statusMask)};
    QByteArray answer;
    if (receiveAnswer(QByteArray(request, sizeof request), answer) != DIAG_OK)
        return DIAG_RX_ERROR_TP;
    if (answer.size() < 3 || answer.at(1) != 0x02)
        return DIAG_RX_ERROR_TP;
    records = answer.mid(3, kMaxAnswerData);
    return DIAG_OK;
}

int DiagPC::readMemoryByAddress(uint32_t address, uint16_t size, QByteArray& data) {
    data.clear();
    uint8_t request[8] = {0x23, 0x24};
    putBigEndian32(request + 2, address);
    request[6] = static_cast<uint8_t>(size >> 8);
    request[7] = static_cast<uint8_t>(size & 0xFF);
    QByteArray answer;
    if (receiveAnswer(QByteArray(reinterpret_cast<const char*>(request), sizeof request), answer) != DIAG_OK)
        return DIAG_RX_ERROR_TP;
    // Fewer bytes than asked for would hand the caller data that never came.
    if (answer.size() < 1 + qsizetype(size))
        return DIAG_RX_ERROR_TP;
    data = answer.mid(1, size);
    return DIAG_OK;
}

int DiagPC::writeDataByIdentifier(uint16_t identifier, const uint8_t* data, int length) {
    if (length < 0 || length > kMaxPayload - 3)
        return DIAG_BUFFER_TOO_LARGE;
    uint8_t request[kMaxPayload];
    request[0] = 0x2E;
    request[1] = static_cast<uint8_t>(identifier >> 8);
    request[2] = static_cast<uint8_t>(identifier & 0xFF);
    if (length > 0)
        std::memcpy(request + 3, data, static_cast<size_t>(length));
    const uint8_t expected[] = {0x03, 0x6E};
    return serviceRequest(request, length + 3, expected, 2, DiagnosticTimeouts::positiveResponse);
}
