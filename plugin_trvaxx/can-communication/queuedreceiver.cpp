#include "can-communication/canreceiver.h"

QueuedReceiver::QueuedReceiver(std::size_t capacity) : capacity(capacity > 0 ? capacity : 1) {}

void QueuedReceiver::receiveFrame(const CanFrame& frame) {
    QMutexLocker lock(&mutex);
    if (frames.size() >= capacity) {
        frames.pop_front();
        ++dropped;
    }
    frames.push_back(frame);
}

bool QueuedReceiver::takeFrame(CanFrame& frame) {
    QMutexLocker lock(&mutex);
    if (frames.empty())
        return false;
    frame = frames.front();
    frames.pop_front();
    return true;
}

void QueuedReceiver::clear() {
    QMutexLocker lock(&mutex);
    frames.clear();
}

std::size_t QueuedReceiver::size() const {
    QMutexLocker lock(&mutex);
    return frames.size();
}

uint64_t QueuedReceiver::droppedFrames() const {
    QMutexLocker lock(&mutex);
    return dropped;
}
