#pragma once
// The virtual sensor's CAN bus as its nodes see it. The bus (a socketcand server, or a
// participant of a bus served elsewhere) carries frames between its TCP clients and the nodes of
// the sensors it hosts; a node (the diagnostic server, the function-result sender) only sees
// frames and time, never sockets.

#include <array>
#include <chrono>
#include <cstdint>

namespace trvsim {

using SimClock = std::chrono::steady_clock;

struct SimCanFrame {
    uint32_t id = 0;       // identifier without flag bits
    bool extended = false; // 29-bit identifier
    uint8_t length = 0;    // 0..8
    std::array<uint8_t, 8> data{};
};

// What a node may do to the bus. send() only queues: the bus paces frames at its bit rate and
// delivers them to every other participant, in order.
class CanBusPort {
public:
    virtual ~CanBusPort() = default;
    virtual void send(const SimCanFrame& frame) = 0;
};

// One participant hosted by the bus. Every call into a node comes from the bus's own thread, one
// at a time, so a node needs no lock for its own state.
class CanNode {
public:
    virtual ~CanNode() = default;
    // Called once before any other call; the port outlives the node's attachment.
    virtual void attach(CanBusPort* port) = 0;
    // A frame another participant sent, at the time it finished on the bus.
    virtual void receive(const SimCanFrame& frame, SimClock::time_point at) = 0;
    // Called at least once a millisecond: time-outs, paced multi-frame answers, restarts.
    virtual void tick(SimClock::time_point now) = 0;
    // The node's bit rate in bit/s (its CAN bit-rate parameter). The bus runs at the rate of its
    // first node; a client at another rate is isolated, as on a real bus.
    virtual uint32_t bitRate() const = 0;
    // False while the node is restarting or powered off: it neither sends nor receives.
    virtual bool online() const { return true; }
};

} // namespace trvsim
