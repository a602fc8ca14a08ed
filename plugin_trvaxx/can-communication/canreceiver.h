#pragma once
// Receivers of the frames that MultiReceiveCanProxy reads from the bus. receiveFrame runs on the
// proxy's reading thread for every frame, in bus order; each receiver filters for itself.

#include "can-communication/canframe.h"

#include <QMutex>

#include <cstdint>
#include <deque>

class CANReceiver {
public:
    virtual ~CANReceiver() = default;
    virtual void receiveFrame(const CanFrame& frame) = 0;
};

// A bounded FIFO of received frames for a reader on another thread. When it is full the oldest
// frame is dropped and counted, so a reader that stops reading never makes the bus thread grow
// memory without limit.
class QueuedReceiver : public CANReceiver {
public:
    static constexpr std::size_t kDefaultCapacity = 8192;

    explicit QueuedReceiver(std::size_t capacity = kDefaultCapacity);

    void receiveFrame(const CanFrame& frame) override;
    // Removes the oldest frame; false when the queue is empty.
    bool takeFrame(CanFrame& frame);
    // Drops every queued frame (a new request must not see answers to an older one).
    void clear();
    std::size_t size() const;
    // Frames dropped because the queue was full, since construction.
    uint64_t droppedFrames() const;

private:
    mutable QMutex mutex;
    std::deque<CanFrame> frames;
    const std::size_t capacity;
    uint64_t dropped = 0;
};
