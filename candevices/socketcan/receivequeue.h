#pragma once
// The bounded queue between a transport's thread (producer) and the readers of the device.
// When full, the oldest frame is dropped and counted: a stalled reader must not hold the newest
// traffic back. It also carries whether the transport is connected, so that a waiting reader
// wakes on a loss instead of sleeping through it.

#include "can-communication/canframe.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

class ReceiveQueue {
public:
    explicit ReceiveQueue(std::size_t capacity = 4096) : m_capacity(capacity) {}

    void push(const CanFrame& frame);
    void setConnected(bool connected);
    bool connected() const;
    // Takes one frame without waiting.
    bool takeOne(CanFrame& frame);
    // Waits up to timeout for frames, then moves at most capacity of them into frames. Returns
    // the number moved; it returns early, with none, when the connection is lost.
    std::size_t takeBlock(std::chrono::milliseconds timeout, CanFrame* frames, std::size_t capacity);
    void clear();
    uint64_t dropped() const;

private:
    const std::size_t m_capacity;
    mutable std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<CanFrame> m_frames;
    uint64_t m_dropped = 0;
    bool m_connected = false;
};
