#pragma once
// Test support: a CANBusDevice that records what it is sent, reassembles segmented requests and
// answers them through `onRequest`; its answers become readable after a delay of virtual time.

#include "can-communication/canbusdevice.h"
#include "can-communication/diagpc.h"

#include <QByteArray>
#include <QHash>

#include <array>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

// Time moves only when the diagnostic client waits.
class VirtualClock : public DiagClock {
public:
    qint64 nowMs() const override { return now; }
    void sleepMs(int ms) override { now += std::max(ms, 1); }
    void busyWaitMs(int ms) override { now += ms; }
    qint64 now = 0;
};

struct SentFrame {
    uint32_t id = 0;
    std::array<uint8_t, 8> data{};
    qint64 at = 0; // virtual time of sending
};

class ScriptedCanDevice : public CANBusDevice {
public:
    explicit ScriptedCanDevice(uint8_t node = 239, VirtualClock* clock = nullptr, int type = 3);

    uint32_t requestId() const { return 0x18DA00F1u | (uint32_t(node) << 8); }
    uint32_t responseId() const { return 0x18DAF100u | node; }

    // Makes a frame readable `delayMs` of virtual time from now.
    void push(uint32_t id, const QByteArray& bytes, qint64 delayMs = 0);
    // Sends `payload` on the response identifier: a single frame, or first and consecutive frames.
    void reply(const QByteArray& payload, qint64 delayMs = 0);
    // Answers session requests positively and identifier reads from `dids` (unknown: negative).
    void serveIdentifiers(const QHash<uint16_t, QByteArray>& dids);

    std::vector<SentFrame> sentFrames() const;
    std::vector<QByteArray> requests() const;

    // Called with each complete request (payload without transport header) and its identifier.
    std::function<void(ScriptedCanDevice&, uint32_t id, const QByteArray& request)> onRequest;
    // Whether the device sends flow controls itself (a fuzzer scripts them instead).
    bool autoFlowControl = true;
    // Flow control sent after a first frame and after every `flowBlockSize` consecutive frames.
    uint8_t flowBlockSize = 0;
    uint8_t flowSeparationTime = 0;
    qint64 flowDelayMs = 0;
    uint16_t initStatus = 0;
    int inits = 0;
    int closes = 0;
    uint32_t bitRate = 0;

    void CAN_SetConfig(const CanDeviceConfig& config) override;
    uint16_t CAN_InitDriver() override;
    uint16_t CAN_CloseDriver() override;
    uint16_t CAN_SendData(uint32_t identifier, const uint8_t* data, uint32_t length) override;
    uint16_t CAN_ReadData(uint32_t* identifier, uint8_t* data, uint8_t* length) override;
    uint16_t CAN_ReadDataBlock(uint32_t timeoutMs, CanFrame* frames, uint32_t* count) override;
    int32_t CAN_GetDeviceType() override { return type; }
    void CAN_SetInterface(const char*) override {}

private:
    struct Pending {
        CanFrame frame;
        qint64 at;
    };
    qint64 now() const { return clock ? clock->nowMs() : 0; }
    void pushLocked(uint32_t id, const QByteArray& bytes, qint64 delayMs);
    void receiveLocked(uint32_t id, const uint8_t* data);
    void flowControlLocked();

    const uint8_t node;
    VirtualClock* const clock;
    const int type;
    mutable std::mutex mutex;
    std::condition_variable readable;
    std::deque<Pending> queue;
    std::vector<SentFrame> sent;
    std::vector<QByteArray> complete;
    QByteArray segment; // request being reassembled
    int segmentLength = 0;
    int sinceFlowControl = 0;
};

// A diagnostic client and the scripted sensor it talks to, both on one virtual clock.
struct DiagBench {
    explicit DiagBench(uint8_t node) : device(node, &clock), diag(&device, node) { diag.setClock(&clock); }
    VirtualClock clock;
    ScriptedCanDevice device;
    DiagPC diag;
};

QByteArray hex(const char* text); // "02 10 03" -> bytes
// Bytes without a short period, so that a lost, doubled or shifted piece of a transfer shows.
QByteArray pattern(int size);
