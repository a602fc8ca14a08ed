#include "simulator/can/canbeacon.h"

#include "simulator/simcommandline.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace trvsim {

CanBeacon::~CanBeacon() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool CanBeacon::open(const std::string& target, uint16_t listenPort, std::string& why) {
    std::string address;
    uint16_t port = 42000;
    bool hasPort = false;
    if (!parseEndpoint(target, address, port, hasPort, why))
        return false;
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(m_fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    if (::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        why = std::strerror(errno);
        return false;
    }
    // The address announced is the one the beacon leaves from: reachable from where it arrives.
    sockaddr_in local{};
    socklen_t len = sizeof local;
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&local), &len);
    char ip[INET_ADDRSTRLEN] = "0.0.0.0";
    ::inet_ntop(AF_INET, &local.sin_addr, ip, sizeof ip);
    char host[256] = "trvaxx-sim";
    ::gethostname(host, sizeof host - 1);
    m_text = std::string("<CANBeacon name=\"") + host +
             "\" type=\"SocketCAN\" description=\"trvaxx-sim virtual sensor\"><URL>can://" + ip + ":" +
             std::to_string(listenPort) + "</URL><Bus name=\"can0\"/></CANBeacon>";
    return true;
}

void CanBeacon::tick(SimClock::time_point now) {
    if (m_fd < 0 || now < m_next)
        return;
    m_next = now + std::chrono::seconds(3);
    // A connected UDP socket reports an earlier "port unreachable" on the next send, which then
    // sends nothing: once more, so that a listener that came up since still gets this beacon.
    if (::send(m_fd, m_text.data(), m_text.size(), 0) < 0 && errno == ECONNREFUSED)
        (void)!::send(m_fd, m_text.data(), m_text.size(), 0);
}

} // namespace trvsim
