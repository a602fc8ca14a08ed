#pragma once
// The sensor's UDP socket: bound to its own address, sends a cycle's datagrams in one system call
// batch, and drains whatever arrives (the search announcement of a configuration tool), which a
// sensor ignores.

#include "simulator/datagrambatch.h"

#include <cstdint>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <vector>

namespace trvsim {

class UdpSender {
public:
    UdpSender() = default;
    ~UdpSender();
    UdpSender(const UdpSender&) = delete;
    UdpSender& operator=(const UdpSender&) = delete;

    // Opens and binds the socket; false with errorText() on failure.
    bool open(const std::string& sourceAddress, uint16_t sourcePort);
    bool setDestination(const std::string& address, uint16_t port);
    void close();
    bool isOpen() const { return m_fd >= 0; }

    struct Result {
        uint64_t datagrams = 0;
        uint64_t bytes = 0;
        uint64_t errors = 0;
        int lastErrno = 0;
    };
    // Sends the batch's send list in order.
    Result send(const DatagramBatch& batch);

    // Reads and discards pending datagrams; returns how many were the "OrlanGUI" announcement.
    int drainIncoming(int* otherDatagrams = nullptr);

    const std::string& errorText() const { return m_error; }
    std::string localAddress() const;
    uint16_t localPort() const;

private:
    int m_fd = -1;
    sockaddr_in m_dest{};
    std::string m_error;
    std::vector<mmsghdr> m_messages;
    std::vector<iovec> m_iov;
};

} // namespace trvsim
