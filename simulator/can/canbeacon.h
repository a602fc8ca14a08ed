#pragma once
// The socketcand discovery beacon: one UDP datagram every 3 s announcing the server's address
// and its bus, to the broadcast address as daemons do, or to any address for tests.

#include "simulator/can/simcanbus.h"

#include <string>

namespace trvsim {

class CanBeacon {
public:
    ~CanBeacon();
    // "ADDR[:PORT]" (port 42000 unless given); listenPort is the socketcand port announced.
    bool open(const std::string& target, uint16_t listenPort, std::string& why);
    // Sends when 3 s have passed since the last datagram (the first at once).
    void tick(SimClock::time_point now);
    const std::string& text() const { return m_text; }

private:
    int m_fd = -1;
    std::string m_text;
    SimClock::time_point m_next{};
};

} // namespace trvsim
