#pragma once
// Helpers of the socket tests: a plain UDP socket bound to a loopback address (sends datagrams to
// a port on 127.0.0.1, receives with a short time-out, holds a port so that others cannot bind
// it), and a bounded wait.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

class LoopbackSocket {
public:
    explicit LoopbackSocket(const char* address = "127.0.0.1", std::uint16_t port = 0, int timeoutMs = 100) {
        m_fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local = socketAddress(address, port);
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
            throw std::runtime_error(std::string("cannot bind a test socket on ") + address);
        socklen_t length = sizeof local;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&local), &length);
        m_port = ntohs(local.sin_port);
        timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        const int big = 4 << 20;
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    }
    ~LoopbackSocket() { ::close(m_fd); }
    LoopbackSocket(const LoopbackSocket&) = delete;
    LoopbackSocket& operator=(const LoopbackSocket&) = delete;

    std::uint16_t port() const { return m_port; }

    // Whether the whole datagram went out.
    bool send(std::uint16_t port, const void* bytes, std::size_t length,
              const char* address = "127.0.0.1") const {
        const sockaddr_in target = socketAddress(address, port);
        return ::sendto(m_fd, bytes, length, 0, reinterpret_cast<const sockaddr*>(&target), sizeof target) ==
               static_cast<ssize_t>(length);
    }
    template <class Container> bool send(std::uint16_t port, const Container& datagram) const {
        return send(port, datagram.data(), datagram.size());
    }

    // One datagram and its sender's address, or false after the time-out.
    bool receive(std::vector<std::uint8_t>& bytes, std::string* from = nullptr) const {
        bytes.resize(65536);
        sockaddr_in a{};
        socklen_t len = sizeof a;
        const ssize_t n =
            ::recvfrom(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), &len);
        if (n < 0)
            return false;
        bytes.resize(static_cast<std::size_t>(n));
        if (from) {
            char text[INET_ADDRSTRLEN];
            ::inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
            *from = text;
        }
        return true;
    }

private:
    static sockaddr_in socketAddress(const char* address, std::uint16_t port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        ::inet_pton(AF_INET, address, &a.sin_addr);
        return a;
    }

    int m_fd = -1;
    std::uint16_t m_port = 0;
};

// Polls condition until it holds (true) or the limit passes (false).
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
