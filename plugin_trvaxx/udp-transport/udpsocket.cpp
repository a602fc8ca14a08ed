#include "udp-transport/udpsocket.h"

#include "udp-transport/win32error.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <iostream>
#include <stdexcept>

namespace {

void setOption(int fd, int option, int value) {
    if (setsockopt(fd, SOL_SOCKET, option, &value, sizeof value) != 0) {
        const int error = errno;
        close(fd);
        throw Win32error("Socket option setting error", error);
    }
}

int socketReceiveBuffer(int fd) {
    int value = 0;
    socklen_t size = sizeof value;
    getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &value, &size);
    return value;
}

} // namespace

UdpSocket::UdpSocket(std::uint16_t localPort, std::size_t recordCount, LoggingBase& logger, WakeUp wakeUp)
    : m_logger(logger), m_records(std::max<std::size_t>(recordCount, 1)) {
    m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (m_fd < 0)
        throw Win32error("Socket open error:", errno);

    setOption(m_fd, SO_RCVBUF, kReceiveBufferSize);
    // The kernel reports twice the requested size (bookkeeping included). When net.core.rmem_max
    // caps it, a privileged process may still force it.
    if (socketReceiveBuffer(m_fd) < 2 * kReceiveBufferSize) {
        const int value = kReceiveBufferSize;
        setsockopt(m_fd, SOL_SOCKET, SO_RCVBUFFORCE, &value, sizeof value);
    }
    m_receiveBufferSize = socketReceiveBuffer(m_fd);
    if (m_receiveBufferSize < 2 * kReceiveBufferSize)
        m_logger.log(LoggingBase::Error,
                     "Socket receive buffer is %d bytes instead of %d (limited by net.core.rmem_max)",
                     m_receiveBufferSize / 2, kReceiveBufferSize);
    setOption(m_fd, SO_REUSEADDR, 1);
    setOption(m_fd, SO_BROADCAST, 1);

    m_logger.log(LoggingBase::Error, "local_port: %d", static_cast<int>(localPort));

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(localPort);
    if (bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        close(m_fd);
        throw Win32error("Socket bind error:", error);
    }
    socklen_t length = sizeof address;
    getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
    m_localPort = ntohs(address.sin_port);

    sendWakeUp(wakeUp, m_localPort);

    m_inFlight.reserve(m_records.size());
    for (std::size_t i = m_records.size(); i-- > 0;)
        m_inFlight.push_back(i);
    m_lowestInFlight = m_inFlight.size();
    updateFillLevel();
}

UdpSocket::~UdpSocket() {
    close(m_fd);
}

void UdpSocket::sendWakeUp(WakeUp wakeUp, std::uint16_t port) {
    if (wakeUp == WakeUp::None)
        return;
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0)
        return;
    const std::uint8_t zero = 0;
    for (const ifaddrs* i = interfaces; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_netmask == nullptr || i->ifa_addr->sa_family != AF_INET)
            continue;
        if (wakeUp == WakeUp::LoopbackOnly && !(i->ifa_flags & IFF_LOOPBACK))
            continue;
        const auto* address = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
        const auto* mask = reinterpret_cast<const sockaddr_in*>(i->ifa_netmask);
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port = htons(port);
        target.sin_addr.s_addr = address->sin_addr.s_addr | ~mask->sin_addr.s_addr;
        // Best effort: an interface that refuses the datagram is no reason to fail.
        sendto(m_fd, &zero, 1, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&target), sizeof target);
    }
    freeifaddrs(interfaces);
}

bool UdpSocket::drain() {
    bool received = false;
    mmsghdr messages[kBatchSize];
    iovec buffers[kBatchSize];
    while (!m_inFlight.empty()) {
        const std::size_t count = std::min(kBatchSize, m_inFlight.size());
        const std::size_t base = m_inFlight.size() - count;
        for (std::size_t k = 0; k < count; ++k) {
            ReceiveRecord& record = m_records[m_inFlight[base + k]];
            buffers[k] = {record.data.data(), record.data.size()};
            messages[k] = {};
            messages[k].msg_hdr.msg_name = &record.sender;
            messages[k].msg_hdr.msg_namelen = sizeof record.sender;
            messages[k].msg_hdr.msg_iov = &buffers[k];
            messages[k].msg_hdr.msg_iovlen = 1;
        }
        const int got = recvmmsg(m_fd, messages, static_cast<unsigned>(count), MSG_DONTWAIT, nullptr);
        if (got < 0) {
            const int error = errno;
            if (error == EINTR)
                continue;
            if (error == ECONNREFUSED) {
                m_logger.log(LoggingBase::Error, "Host port unreachable");
                continue;
            }
            if (error != EAGAIN && error != EWOULDBLOCK)
                std::cerr << "UdpSocket callback received error code " << error << std::endl;
            break;
        }
        // The batch was taken from the end of the free list; what was not filled goes back.
        std::size_t stillFree = base;
        for (std::size_t k = 0; k < count; ++k) {
            const std::size_t index = m_inFlight[base + k];
            const bool filled = k < static_cast<std::size_t>(got);
            if (filled && (messages[k].msg_hdr.msg_flags & MSG_TRUNC)) {
                // Larger than a record: discarded, the record stays free.
                std::cerr << "UdpSocket callback received error code " << EMSGSIZE << std::endl;
            } else if (filled) {
                ReceiveRecord& record = m_records[index];
                record.bytes = messages[k].msg_len;
                record.senderLength = messages[k].msg_hdr.msg_namelen;
                m_ready.push_back(index);
                received = true;
                continue;
            }
            m_inFlight[stillFree++] = index;
        }
        m_inFlight.resize(stillFree);
        updateFillLevel();
        if (static_cast<std::size_t>(got) < count)
            break; // the socket is empty
    }
    return received;
}

const ReceiveRecord* UdpSocket::wait(int milliseconds) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    drain();
    while (m_ready.empty()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return nullptr;
        pollfd request{m_fd, POLLIN, 0};
        const int result = poll(&request, 1, static_cast<int>(left));
        if (result < 0) {
            if (errno == EINTR)
                continue;
            throw Win32error("Error while waiting for IO completion routines:", errno);
        }
        if (result == 0)
            return nullptr;
        if (request.revents & POLLERR) {
            int error = 0;
            socklen_t size = sizeof error;
            getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &size);
            if (error == ECONNREFUSED)
                m_logger.log(LoggingBase::Error, "Host port unreachable");
        }
        drain();
    }
    return &m_records[m_ready.front()];
}

void UdpSocket::release() {
    if (m_ready.empty())
        throw std::logic_error("no received record to release");
    m_inFlight.push_back(m_ready.front());
    m_ready.pop_front();
    updateFillLevel();
}

void UdpSocket::updateFillLevel() {
    const std::size_t inFlight = m_inFlight.size();
    m_fillLevel = 100.0f * static_cast<float>(inFlight) / static_cast<float>(inFlight + m_ready.size());
    m_lowestInFlight = std::min(m_lowestInFlight, inFlight);
}
