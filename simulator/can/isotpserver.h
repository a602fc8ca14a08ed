#pragma once
// The sensor's end of the diagnostic transport (ISO 15765-2, 29-bit normal fixed addressing):
// reassembles requests from single, first and consecutive frames with its own flow control, and
// segments answers, paced by the tester's flow control. Knows frames and time, not services.

#include "simulator/can/simcanbus.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

namespace trvsim {

namespace isotp {
constexpr uint32_t kTesterAddress = 0xF1;
constexpr uint32_t kFunctionalId = 0x18DB02F1;
constexpr uint32_t requestId(uint8_t node) {
    return 0x18DA00F1u | (uint32_t(node) << 8);
}
constexpr uint32_t responseId(uint8_t node) {
    return 0x18DAF100u | node;
}
constexpr std::size_t kMaxMessage = 4095; // 12-bit length of a first frame
constexpr uint8_t kPadding = 0x55;
} // namespace isotp

class IsoTpServer {
public:
    // A complete request: payload and whether it came on the functional identifier.
    using RequestHandler = std::function<void(const std::vector<uint8_t>& payload, bool functional)>;

    IsoTpServer(uint8_t blockSize, uint8_t stMinMs) : m_blockSize(blockSize), m_stMinMs(stMinMs) {}

    void setPort(CanBusPort* port) { m_port = port; }
    void setNode(uint8_t node);
    uint8_t node() const { return m_node; }
    void setRequestHandler(RequestHandler handler) { m_onRequest = std::move(handler); }

    void receive(const SimCanFrame& frame, SimClock::time_point at);
    void tick(SimClock::time_point now);

    // Queues an answer (at most kMaxMessage bytes); answers leave one after the other.
    void send(std::vector<uint8_t> payload, SimClock::time_point now);
    bool idle() const { return !m_tx.active && m_queue.empty(); }
    // Drops everything in progress (restart).
    void reset();

private:
    void sendFrame(const uint8_t* bytes, std::size_t n);
    void sendFlowControl();
    void startNextAnswer(SimClock::time_point now);
    void sendConsecutive(SimClock::time_point now);
    void onFlowControl(const SimCanFrame& frame, SimClock::time_point at);

    CanBusPort* m_port = nullptr;
    RequestHandler m_onRequest;
    uint8_t m_node = 0;
    uint32_t m_requestId = 0, m_responseId = 0;
    const uint8_t m_blockSize, m_stMinMs;

    struct Reception {
        bool active = false;
        std::vector<uint8_t> data;
        std::size_t expected = 0;
        uint8_t sequence = 0;
        uint32_t blockCount = 0;
        SimClock::time_point deadline;
    } m_rx;

    struct Transmission {
        bool active = false;
        bool waitingForFlowControl = false;
        std::vector<uint8_t> data;
        std::size_t offset = 0;
        uint8_t sequence = 0;
        uint8_t blockSize = 0; // from the tester's flow control
        uint32_t sentInBlock = 0;
        SimClock::duration separation{};
        SimClock::time_point next, deadline, lastSent;
    } m_tx;
    std::deque<std::vector<uint8_t>> m_queue;
};

} // namespace trvsim
