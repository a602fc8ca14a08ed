#include "simulator/udpsender.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace trvsim {

namespace {
constexpr int kBatchLimit = 64; // datagrams per sendmmsg call
}

UdpSender::~UdpSender() {
    close();
}

void UdpSender::close() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool UdpSender::open(const std::string& sourceAddress, uint16_t sourcePort) {
    close();
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(sourcePort);
    if (inet_pton(AF_INET, sourceAddress.c_str(), &local.sin_addr) != 1) {
        m_error = "source address '" + sourceAddress + "' is not an IPv4 address";
        return false;
    }
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_fd < 0) {
        m_error = std::string("cannot create a UDP socket: ") + std::strerror(errno);
        return false;
    }
    const int one = 1;
    ::setsockopt(m_fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const int sendBuffer = 1 << 20;
    ::setsockopt(m_fd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
    if (::bind(m_fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        m_error = "cannot bind to " + sourceAddress + ":" + std::to_string(sourcePort) + ": " +
                  std::strerror(errno);
        close();
        return false;
    }
    m_messages.resize(kBatchLimit);
    m_iov.resize(kBatchLimit);
    return true;
}

bool UdpSender::setDestination(const std::string& address, uint16_t port) {
    sockaddr_in dest{};
    dest.sin_family = AF_INET;
    dest.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &dest.sin_addr) != 1) {
        m_error = "destination address '" + address + "' is not an IPv4 address";
        return false;
    }
    m_dest = dest;
    return true;
}

UdpSender::Result UdpSender::send(const DatagramBatch& batch) {
    Result r;
    const auto& sends = batch.sends();
    std::size_t next = 0;
    while (next < sends.size()) {
        const std::size_t n = std::min<std::size_t>(kBatchLimit, sends.size() - next);
        for (std::size_t i = 0; i < n; ++i) {
            const auto& s = sends[next + i];
            m_iov[i].iov_base = const_cast<uint8_t*>(batch.slot(s.slot));
            m_iov[i].iov_len = s.length;
            msghdr& h = m_messages[i].msg_hdr;
            h = msghdr{};
            h.msg_name = &m_dest;
            h.msg_namelen = sizeof m_dest;
            h.msg_iov = &m_iov[i];
            h.msg_iovlen = 1;
        }
        const int sent = ::sendmmsg(m_fd, m_messages.data(), static_cast<unsigned>(n), 0);
        if (sent <= 0) {
            // The whole remainder of this call is lost (buffer full, no route, ...); a sensor
            // does not retry.
            r.lastErrno = errno;
            r.errors += n;
            next += n;
            continue;
        }
        for (int i = 0; i < sent; ++i) {
            r.bytes += m_messages[i].msg_len;
        }
        r.datagrams += static_cast<uint64_t>(sent);
        next += static_cast<std::size_t>(sent);
    }
    return r;
}

int UdpSender::drainIncoming(int* otherDatagrams) {
    int announcements = 0, others = 0;
    uint8_t buffer[2048];
    for (int i = 0; i < 256; ++i) {
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0)
            break;
        if (n == 8 && std::memcmp(buffer, "OrlanGUI", 8) == 0)
            ++announcements;
        else
            ++others;
    }
    if (otherDatagrams)
        *otherDatagrams = others;
    return announcements;
}

std::string UdpSender::localAddress() const {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (m_fd < 0 || ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return {};
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
    return text;
}

uint16_t UdpSender::localPort() const {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (m_fd < 0 || ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return 0;
    return ntohs(a.sin_port);
}

} // namespace trvsim
