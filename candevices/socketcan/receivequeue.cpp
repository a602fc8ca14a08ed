#include "candevices/socketcan/receivequeue.h"

void ReceiveQueue::push(const CanFrame& frame) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_frames.size() == m_capacity) {
            m_frames.pop_front();
            ++m_dropped;
        }
        m_frames.push_back(frame);
    }
    m_ready.notify_one();
}

void ReceiveQueue::setConnected(bool connected) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_connected = connected;
    }
    m_ready.notify_all();
}

bool ReceiveQueue::connected() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_connected;
}

bool ReceiveQueue::takeOne(CanFrame& frame) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_frames.empty())
        return false;
    frame = m_frames.front();
    m_frames.pop_front();
    return true;
}

std::size_t ReceiveQueue::takeBlock(std::chrono::milliseconds timeout, CanFrame* frames,
                                    std::size_t capacity) {
    std::unique_lock<std::mutex> lock(m_mutex);
    const bool wasConnected = m_connected;
    m_ready.wait_for(lock, timeout, [&] { return !m_frames.empty() || m_connected != wasConnected; });
    std::size_t n = 0;
    for (; n < capacity && !m_frames.empty(); ++n) {
        frames[n] = m_frames.front();
        m_frames.pop_front();
    }
    return n;
}

void ReceiveQueue::clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_frames.clear();
}

uint64_t ReceiveQueue::dropped() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_dropped;
}
