#include "tests/can-communication/scriptedcandevice.h"

#include <cstring>

QByteArray hex(const char* text) {
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

QByteArray pattern(int size) {
    QByteArray out(size, '\0');
    for (int i = 0; i < size; ++i)
        out[i] = char(i * 7 + i / 251);
    return out;
}

ScriptedCanDevice::ScriptedCanDevice(uint8_t node, VirtualClock* clock, int type)
    : node(node), clock(clock), type(type) {}

void ScriptedCanDevice::pushLocked(uint32_t id, const QByteArray& bytes, qint64 delayMs) {
    Pending p{CanFrame{}, now() + delayMs};
    p.frame.identifier = id;
    p.frame.length = static_cast<uint8_t>(std::min<qsizetype>(bytes.size(), 8));
    std::memcpy(p.frame.data, bytes.constData(), p.frame.length);
    queue.push_back(p);
    readable.notify_all();
}

void ScriptedCanDevice::push(uint32_t id, const QByteArray& bytes, qint64 delayMs) {
    std::lock_guard lock(mutex);
    pushLocked(id, bytes, delayMs);
}

void ScriptedCanDevice::reply(const QByteArray& payload, qint64 delayMs) {
    std::lock_guard lock(mutex);
    const int length = static_cast<int>(payload.size());
    if (length <= 7) {
        pushLocked(responseId(), (char(length) + payload).leftJustified(8, '\0'), delayMs);
        return;
    }
    pushLocked(responseId(),
               QByteArray(1, char(0x10 | (length >> 8))) + char(length & 0xFF) + payload.left(6), delayMs);
    int sequence = 1;
    for (int at = 6; at < length; at += 7, ++sequence)
        pushLocked(responseId(),
                   (char(0x20 | (sequence & 0x0F)) + payload.mid(at, 7)).leftJustified(8, char(0x55)),
                   delayMs);
}

void ScriptedCanDevice::serveIdentifiers(const QHash<uint16_t, QByteArray>& dids) {
    onRequest = [dids](ScriptedCanDevice& device, uint32_t, const QByteArray& request) {
        const auto sid = static_cast<uint8_t>(request.at(0));
        if (sid == 0x10) {
            device.reply(hex("50 03 00 32 01 F4"));
        } else if (sid == 0x22 && request.size() >= 3) {
            const uint16_t did = uint16_t((uint8_t(request[1]) << 8) | uint8_t(request[2]));
            if (dids.contains(did))
                device.reply(char(0x62) + request.mid(1, 2) + dids.value(did));
            else
                device.reply(hex("7F 22 31"));
        }
    };
}

std::vector<SentFrame> ScriptedCanDevice::sentFrames() const {
    std::lock_guard lock(mutex);
    return sent;
}

std::vector<QByteArray> ScriptedCanDevice::requests() const {
    std::lock_guard lock(mutex);
    return complete;
}

void ScriptedCanDevice::CAN_SetConfig(const CanDeviceConfig& config) {
    bitRate = config.bitRate;
}

uint16_t ScriptedCanDevice::CAN_InitDriver() {
    ++inits;
    return initStatus;
}

uint16_t ScriptedCanDevice::CAN_CloseDriver() {
    ++closes;
    return 0;
}

void ScriptedCanDevice::flowControlLocked() {
    pushLocked(responseId(), QByteArray(1, char(0x30)) + char(flowBlockSize) + char(flowSeparationTime),
               flowDelayMs);
}

void ScriptedCanDevice::receiveLocked(uint32_t id, const uint8_t* d) {
    QByteArray request;
    switch (d[0] >> 4) {
    case 0:
        request = QByteArray(reinterpret_cast<const char*>(d + 1), std::min(d[0] & 0x0F, 7));
        break;
    case 1:
        segmentLength = ((d[0] & 0x0F) << 8) | d[1];
        segment = QByteArray(reinterpret_cast<const char*>(d + 2), 6);
        sinceFlowControl = 0;
        if (autoFlowControl)
            flowControlLocked();
        return;
    case 2:
        if (segmentLength == 0)
            return;
        segment.append(reinterpret_cast<const char*>(d + 1), 7);
        if (segment.size() < segmentLength) {
            if (autoFlowControl && flowBlockSize != 0 && ++sinceFlowControl == flowBlockSize) {
                sinceFlowControl = 0;
                flowControlLocked();
            }
            return;
        }
        request = segment.left(segmentLength);
        segmentLength = 0;
        break;
    default:
        return;
    }
    complete.push_back(request);
    if (onRequest) {
        auto handler = onRequest;
        mutex.unlock();
        handler(*this, id, request);
        mutex.lock();
    }
}

uint16_t ScriptedCanDevice::CAN_SendData(uint32_t identifier, const uint8_t* data, uint32_t length) {
    std::unique_lock lock(mutex);
    SentFrame frame{identifier, {}, now()};
    std::memcpy(frame.data.data(), data, std::min<uint32_t>(length, 8));
    sent.push_back(frame);
    if (identifier == requestId() || identifier == DiagPC::kFunctionalRequestId)
        receiveLocked(identifier, frame.data.data());
    return 0;
}

uint16_t ScriptedCanDevice::CAN_ReadData(uint32_t* identifier, uint8_t* data, uint8_t* length) {
    std::lock_guard lock(mutex);
    if (queue.empty() || queue.front().at > now())
        return 1;
    const CanFrame& f = queue.front().frame;
    *identifier = f.identifier;
    std::memcpy(data, f.data, 8);
    *length = f.length;
    queue.pop_front();
    return 0;
}

uint16_t ScriptedCanDevice::CAN_ReadDataBlock(uint32_t timeoutMs, CanFrame* frames, uint32_t* count) {
    std::unique_lock lock(mutex);
    readable.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !queue.empty(); });
    uint32_t n = 0;
    while (n < *count && !queue.empty()) {
        frames[n++] = queue.front().frame;
        queue.pop_front();
    }
    *count = n;
    return 0;
}
