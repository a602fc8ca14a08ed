#include "simulator/can/isotpserver.h"

#include <algorithm>

namespace trvsim {

namespace {
// Waits of the transport: a tester's next consecutive frame (N_Cr) and its flow control (N_Bs).
constexpr auto kConsecutiveTimeout = std::chrono::milliseconds(1000);
constexpr auto kFlowControlTimeout = std::chrono::milliseconds(1000);

// Separation time byte of a flow control: 0..127 ms, 0xF1..0xF9 hundreds of microseconds,
// reserved values count as the longest time.
SimClock::duration separationTime(uint8_t st) {
    if (st <= 0x7F)
        return std::chrono::milliseconds(st);
    if (st >= 0xF1 && st <= 0xF9)
        return std::chrono::microseconds(100 * (st - 0xF0));
    return std::chrono::milliseconds(127);
}
} // namespace

void IsoTpServer::setNode(uint8_t node) {
    m_node = node;
    m_requestId = isotp::requestId(node);
    m_responseId = isotp::responseId(node);
}

void IsoTpServer::reset() {
    m_rx = Reception();
    m_tx = Transmission();
    m_queue.clear();
}

void IsoTpServer::sendFrame(const uint8_t* bytes, std::size_t n) {
    if (!m_port)
        return;
    SimCanFrame frame;
    frame.id = m_responseId;
    frame.extended = true;
    frame.length = 8;
    frame.data.fill(isotp::kPadding);
    std::copy_n(bytes, std::min<std::size_t>(n, 8), frame.data.begin());
    m_port->send(frame);
}

void IsoTpServer::sendFlowControl() {
    const uint8_t fc[3] = {0x30, m_blockSize, m_stMinMs};
    sendFrame(fc, 3);
}

void IsoTpServer::receive(const SimCanFrame& frame, SimClock::time_point at) {
    if (!frame.extended || frame.length == 0)
        return;
    const bool functional = frame.id == isotp::kFunctionalId;
    if (!functional && frame.id != m_requestId)
        return;
    const uint8_t* d = frame.data.data();
    const uint8_t type = d[0] >> 4;
    if (functional) { // only single frames are defined for functional addressing
        const std::size_t n = d[0] & 0x0F;
        if (type == 0 && n >= 1 && n < frame.length && m_onRequest)
            m_onRequest(std::vector<uint8_t>(d + 1, d + 1 + n), true);
        return;
    }
    switch (type) {
    case 0: { // single frame; one arriving during a reception replaces it
        const std::size_t n = d[0] & 0x0F;
        if (n == 0 || n >= frame.length)
            return;
        m_rx.active = false;
        if (m_onRequest)
            m_onRequest(std::vector<uint8_t>(d + 1, d + 1 + n), false);
        return;
    }
    case 1: { // first frame
        if (frame.length < 8)
            return;
        const std::size_t total = (std::size_t(d[0] & 0x0F) << 8) | d[1];
        if (total < 8) // fits a single frame: not a valid first frame
            return;
        m_rx.active = true;
        m_rx.expected = total;
        m_rx.data.assign(d + 2, d + 8);
        m_rx.data.reserve(total);
        m_rx.sequence = 1;
        m_rx.blockCount = 0;
        m_rx.deadline = at + kConsecutiveTimeout;
        sendFlowControl();
        return;
    }
    case 2: { // consecutive frame
        if (!m_rx.active)
            return;
        if ((d[0] & 0x0F) != m_rx.sequence) { // lost or repeated frame: the message is broken
            m_rx.active = false;
            return;
        }
        const std::size_t take =
            std::min<std::size_t>(m_rx.expected - m_rx.data.size(), std::size_t(frame.length) - 1);
        m_rx.data.insert(m_rx.data.end(), d + 1, d + 1 + take);
        m_rx.sequence = (m_rx.sequence + 1) & 0x0F;
        m_rx.deadline = at + kConsecutiveTimeout;
        if (m_rx.data.size() >= m_rx.expected) {
            m_rx.active = false;
            if (m_onRequest)
                m_onRequest(m_rx.data, false);
            return;
        }
        if (m_blockSize != 0 && ++m_rx.blockCount == m_blockSize) {
            m_rx.blockCount = 0;
            sendFlowControl();
        }
        return;
    }
    case 3:
        onFlowControl(frame, at);
        return;
    default:
        return;
    }
}

void IsoTpServer::onFlowControl(const SimCanFrame& frame, SimClock::time_point at) {
    if (!m_tx.active || !m_tx.waitingForFlowControl || frame.length < 3)
        return;
    switch (frame.data[0] & 0x0F) {
    case 0: // continue to send
        m_tx.waitingForFlowControl = false;
        m_tx.blockSize = frame.data[1];
        m_tx.sentInBlock = 0;
        m_tx.separation = separationTime(frame.data[2]);
        // The separation time holds across the flow control too.
        m_tx.next = m_tx.offset > 6 ? std::max(at, m_tx.lastSent + m_tx.separation) : at;
        return;
    case 1: // wait: a new flow control follows
        m_tx.deadline = at + kFlowControlTimeout;
        return;
    default: // overflow or invalid: the answer is given up
        m_tx.active = false;
        return;
    }
}

void IsoTpServer::send(std::vector<uint8_t> payload, SimClock::time_point now) {
    if (payload.empty() || payload.size() > isotp::kMaxMessage)
        return;
    m_queue.push_back(std::move(payload));
    if (!m_tx.active)
        startNextAnswer(now);
}

void IsoTpServer::startNextAnswer(SimClock::time_point now) {
    while (!m_tx.active && !m_queue.empty()) {
        std::vector<uint8_t> payload = std::move(m_queue.front());
        m_queue.pop_front();
        uint8_t frame[8];
        if (payload.size() <= 7) {
            frame[0] = static_cast<uint8_t>(payload.size());
            std::copy(payload.begin(), payload.end(), frame + 1);
            sendFrame(frame, payload.size() + 1);
            continue;
        }
        frame[0] = static_cast<uint8_t>(0x10 | (payload.size() >> 8));
        frame[1] = static_cast<uint8_t>(payload.size() & 0xFF);
        std::copy_n(payload.begin(), 6, frame + 2);
        sendFrame(frame, 8);
        m_tx = Transmission();
        m_tx.active = true;
        m_tx.waitingForFlowControl = true;
        m_tx.data = std::move(payload);
        m_tx.offset = 6;
        m_tx.sequence = 1;
        m_tx.deadline = now + kFlowControlTimeout;
    }
}

void IsoTpServer::sendConsecutive(SimClock::time_point now) {
    while (m_tx.active && !m_tx.waitingForFlowControl && now >= m_tx.next) {
        uint8_t frame[8];
        frame[0] = static_cast<uint8_t>(0x20 | m_tx.sequence);
        const std::size_t n = std::min<std::size_t>(7, m_tx.data.size() - m_tx.offset);
        std::copy_n(m_tx.data.begin() + static_cast<std::ptrdiff_t>(m_tx.offset), n, frame + 1);
        sendFrame(frame, n + 1);
        m_tx.lastSent = now;
        m_tx.offset += n;
        m_tx.sequence = (m_tx.sequence + 1) & 0x0F;
        if (m_tx.offset >= m_tx.data.size()) {
            m_tx.active = false;
            startNextAnswer(now);
            return;
        }
        if (m_tx.blockSize != 0 && ++m_tx.sentInBlock == m_tx.blockSize) {
            m_tx.waitingForFlowControl = true;
            m_tx.deadline = now + kFlowControlTimeout;
            return;
        }
        m_tx.next = now + m_tx.separation;
        if (m_tx.separation >= std::chrono::milliseconds(1))
            return; // the next frame waits for a later tick
    }
}

void IsoTpServer::tick(SimClock::time_point now) {
    if (m_rx.active && now >= m_rx.deadline)
        m_rx.active = false;
    if (m_tx.active && m_tx.waitingForFlowControl && now >= m_tx.deadline) {
        m_tx.active = false; // the tester never asked for the rest
        startNextAnswer(now);
    }
    sendConsecutive(now);
}

} // namespace trvsim
