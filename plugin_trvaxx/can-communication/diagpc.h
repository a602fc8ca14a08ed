#pragma once
// DiagPC: the tester side of the sensor's diagnostic protocol (request/response services on the
// segmented CAN transport with 29-bit normal fixed addressing). It builds requests, segments long
// ones, waits for answers, reassembles long answers and maps every outcome to a DiagResult.
// Used from one thread at a time; it holds no lock. Its device is normally a queue of the
// MultiReceiveCanProxy, so it sees every bus frame and filters by identifier itself.

#include "can-communication/canbusdevice.h"

#include <QByteArray>
#include <QtGlobal>

#include <cstdint>

enum DiagResult : int {
    DIAG_OK = 0,
    DIAG_TIMEOUT = 1,
    DIAG_WRONG_RES = 2,
    DIAG_TRANSMIT_ERROR = 3,
    DIAG_TX_ERROR_TP = 4,
    DIAG_RX_ERROR_TP = 5,
    DIAG_FC_TIMEOUT = 6,
    DIAG_DATA_ERR = 12,
    DIAG_BUFFER_TOO_LARGE = 100,
};
// The log name of a result code ("DIAG_TIMEOUT", ..., "unknown error").
const char* diagResultName(int code);

// Result of waiting for one frame of an identifier.
enum TransportWait : int { TP_FRAME_MATCH = 205, TP_FRAME_MISMATCH = 206, TP_FRAME_TIMEOUT = 207 };

// Waits of the protocol in milliseconds. They follow the bus, so they are never scaled.
struct DiagnosticTimeouts {
    static constexpr int positiveResponse = 1650;
    static constexpr int responsePending = 5150;
    static constexpr int securityAccess = 1500;
    static constexpr int flowControl = 1500;
    static constexpr int multiFrameAnswer = 5000;
    static constexpr int controlDtcSettingListen = 1255;
    static constexpr int communicationControlListen = 1555;
    static constexpr int readMemoryConsecutiveDelay = 30;
    static constexpr int connectionChangeToRead = 10;
    static constexpr int emptyQueuePoll = 1;
    // A sensor may keep answering "response pending"; past this total the tester gives up, so a
    // sensor stuck in that state cannot hold the caller forever.
    static constexpr int responsePendingLimit = 300000;
};

// The time base of the diagnostic waits. The system clock serves the product; tests and fuzzers
// install one that advances only when waited on, so time-outs cost no real time.
class DiagClock {
public:
    virtual ~DiagClock() = default;
    // Monotonic milliseconds.
    virtual qint64 nowMs() const;
    // Gives the processor away (an empty queue is polled again after this).
    virtual void sleepMs(int ms);
    // Keeps a pace exactly: spins instead of sleeping, which may oversleep by a scheduler tick.
    virtual void busyWaitMs(int ms);
    static DiagClock& system();
};

class DiagPC {
public:
    static constexpr uint32_t kTesterAddress = 0xF1;
    static constexpr uint32_t kFunctionalRequestId = 0x18DB02F1;
    // Largest payload of one transfer: 12-bit length of the first frame.
    static constexpr int kMaxPayload = 4095;
    static constexpr int kMaxTransferData = kMaxPayload - 2;
    static constexpr int kMaxAnswerData = 4093;

    DiagPC(CANBusDevice* device, uint8_t nodeAddress);

    // Configuration step run before every service sequence: identifiers from the node address and
    // the transport values.
    void configure();
    uint32_t requestId() const { return reqId; }
    uint32_t responseId() const { return resId; }
    uint32_t functionalId() const { return funcId; }
    uint8_t nodeAddress() const { return node; }

    // Services; each returns a DiagResult.
    int ecuReset(uint8_t type);
    int diagnosticSessionControl(uint8_t session);
    int securityAccessSeed(uint8_t level, uint32_t& seed);
    int securityAccessKey(uint8_t level, uint32_t key);
    // Seed with level 0x11, key with level 0x12. A zero seed means unlocked already: no key is
    // sent and `alreadyUnlocked` is set.
    int securityAccessProgramming(bool& alreadyUnlocked);
    int controlDtcSettingOff();
    int communicationControlAll();
    int routineCheckPreconditions();
    int routineErase(uint8_t blockId);
    int routineCheckMemory(uint32_t crc);
    int requestDownload(uint32_t size, uint8_t blockId, uint8_t format);
    int transferData(uint8_t sequence, const uint8_t* data, int length);
    int requestTransferExit();
    int clearDiagnosticInformation();
    // Any failure gives DIAG_RX_ERROR_TP; `transport` (may be null) gets the reason
    // (DIAG_TIMEOUT when nothing came).
    int readDataByIdentifier(uint16_t identifier, QByteArray& data, int* transport = nullptr);
    int readDtcInformation(uint8_t statusMask, QByteArray& records);
    int readMemoryByAddress(uint32_t address, uint16_t size, QByteArray& data);
    int writeDataByIdentifier(uint16_t identifier, const uint8_t* data, int length);

    // Transport operations.
    int sendFlowControl(uint8_t blockSize, uint8_t separationTime);
    // Sends a payload of at least 6 bytes as first and consecutive frames, honouring the flow
    // control of the sensor; 0, 3 (flow control missing or wrong) or 4 (send failed).
    int sendMultiFrame(const uint8_t* payload, int length);
    // Sends `request` (a single frame, or first and one consecutive frame for up to 13 bytes) and
    // collects the whole answer payload, starting with the positive response byte.
    int receiveAnswer(const QByteArray& request, QByteArray& answer);
    // Waits for a frame of `identifier`; compares its first `count` bytes with `expected`. The 8
    // bytes are copied to `frame` (may be null). TransportWait.
    int waitFrame(uint32_t identifier, const uint8_t* expected, int count, int timeoutMs, uint8_t* frame);

    void setClock(DiagClock* value) { clock = value ? value : &DiagClock::system(); }
    DiagClock& timeBase() const { return *clock; }

    // Drops every frame that waits in the device's queue (late answers to earlier requests).
    void discardPending();

private:
    int sendFrame(uint32_t identifier, const uint8_t (&frame)[8]);
    int sendSingleFrame(const uint8_t* payload, int length, uint8_t padding = 0x00);
    // Single frame up to 7 bytes, else segmented; send failures give 3 and 4 respectively.
    int sendRequest(const uint8_t* payload, int length);
    // sendRequest, then waitPositiveResponse.
    int serviceRequest(const uint8_t* request, int length, const uint8_t* expected, int count, int timeoutMs,
                       uint8_t* frame = nullptr);
    static int routineStatus(int result, const uint8_t (&frame)[8]);
    int waitPositiveResponse(const uint8_t* expected, int count, int timeoutMs, uint8_t* frame = nullptr);
    void keepSeparationTime() const;

    CANBusDevice* const device;
    DiagClock* clock = &DiagClock::system();
    const uint8_t node;
    uint32_t reqId = 0;
    uint32_t resId = 0;
    uint32_t funcId = kFunctionalRequestId;
    bool useReceivedSeparationTime = true;
    uint8_t ownSeparationTime = 0;
    uint8_t ownBlockSize = 0;
    uint8_t separationTimeMs = 0; // from the last flow control
};
