#include "can-communication/multireceivecanproxy.h"

#include "can-communication/canlogging.h"
#include "can-communication/cantrace.h"
#include "common/commonutilities.h"
#include "common/logentry.h"

#include <cstring>

Q_LOGGING_CATEGORY(lcCan, "trvaxx.can")

namespace {
// Frames taken from the device per read; a full second at 1 Mbit/s is about 8000 frames, so one
// 100 ms block rarely fills it.
constexpr uint32_t kReadBlockFrames = 256;
constexpr uint32_t kReadTimeoutMs = 100;
} // namespace

ReceiverThread::ReceiverThread(CANBusDevice* device, QObject* parent) : QThread(parent), device(device) {}

void ReceiverThread::registerReceiver(CANReceiver* receiver) {
    QMutexLocker lock(&mutex);
    receivers.insert(receiver);
}

void ReceiverThread::unregisterReceiver(CANReceiver* receiver) {
    QMutexLocker lock(&mutex);
    receivers.remove(receiver);
}

void ReceiverThread::run() {
    CanFrame block[kReadBlockFrames];
    while (running) {
        uint32_t count = kReadBlockFrames;
        if (device->CAN_ReadDataBlock(kReadTimeoutMs, block, &count) != 0) {
            QThread::msleep(1);
            continue;
        }
        // A device must not report more than it was given room for; never trust it to.
        count = std::min(count, kReadBlockFrames);
        if (count == 0)
            continue;
        frames += count;
        QMutexLocker lock(&mutex);
        for (CANReceiver* receiver : std::as_const(receivers))
            for (uint32_t i = 0; i < count; ++i)
                receiver->receiveFrame(block[i]);
    }
}

MultiReceiveCanProxy::MultiReceiveCanProxy(CANBusDevice* device, QObject* parent)
    : QObject(parent), device(device), thread(new ReceiverThread(device, this)) {
    thread->registerReceiver(&ownQueue);
    thread->start(QThread::TimeCriticalPriority);
    thread->setPriority(QThread::HighestPriority);
    CommonUtilities::sleepQtFriendly(10);
}

MultiReceiveCanProxy::~MultiReceiveCanProxy() {
    thread->stop();
    if (!thread->wait(500)) {
        qCCritical(lcCan).noquote() << QStringLiteral("Failed to stop MultiReceiveCanProxy thread") + LOG_LOC;
        thread->terminate();
        thread->wait(100);
    }
}

void MultiReceiveCanProxy::setSendTrace(CanTrace* trace) {
    sendTrace = trace;
}

void MultiReceiveCanProxy::CAN_SetConfig(const CanDeviceConfig& config) {
    device->CAN_SetConfig(config);
}

uint16_t MultiReceiveCanProxy::CAN_InitDriver() {
    qCDebug(lcCan) << "CAN_InitDriver shouldn't be called on MultiReceiveCanProxy";
    return 1;
}

uint16_t MultiReceiveCanProxy::CAN_CloseDriver() {
    qCDebug(lcCan) << "CAN_CloseDriver shouldn't be called on MultiReceiveCanProxy";
    return 1;
}

uint16_t MultiReceiveCanProxy::CAN_SendData(uint32_t identifier, const uint8_t* data, uint32_t length) {
    // Traced before it is handed over: the answer may come back on the reading thread before the
    // send returns, and the trace must show the request first. A send that fails is traced too.
    if (CanTrace* trace = sendTrace.load())
        trace->writeFrame(identifier, data, length);
    return device->CAN_SendData(identifier, data, length);
}

uint16_t readQueuedFrame(QueuedReceiver& queue, uint32_t* identifier, uint8_t* data, uint8_t* length) {
    CanFrame frame;
    if (!queue.takeFrame(frame))
        return 255;
    *identifier = frame.identifier;
    std::memcpy(data, frame.data, sizeof frame.data);
    *length = frame.length;
    return 0;
}

uint16_t MultiReceiveCanProxy::CAN_ReadData(uint32_t* identifier, uint8_t* data, uint8_t* length) {
    return readQueuedFrame(ownQueue, identifier, data, length);
}

uint16_t MultiReceiveCanProxy::CAN_ReadDataBlock(uint32_t, CanFrame*, uint32_t* count) {
    if (count)
        *count = 0;
    return 0;
}

int32_t MultiReceiveCanProxy::CAN_GetDeviceType() {
    return device->CAN_GetDeviceType();
}

void MultiReceiveCanProxy::CAN_SetInterface(const char* url) {
    device->CAN_SetInterface(url);
}

ProxyPort::ProxyPort(MultiReceiveCanProxy* proxy) : proxy(proxy) {
    proxy->registerReceiver(&ownQueue);
}

ProxyPort::~ProxyPort() {
    proxy->unregisterReceiver(&ownQueue);
}

uint16_t ProxyPort::CAN_SendData(uint32_t identifier, const uint8_t* data, uint32_t length) {
    return proxy->CAN_SendData(identifier, data, length);
}

uint16_t ProxyPort::CAN_ReadData(uint32_t* identifier, uint8_t* data, uint8_t* length) {
    return readQueuedFrame(ownQueue, identifier, data, length);
}

uint16_t ProxyPort::CAN_ReadDataBlock(uint32_t, CanFrame*, uint32_t* count) {
    if (count)
        *count = 0;
    return 0;
}
