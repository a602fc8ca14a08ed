#pragma once

#include "udp-transport/loggingbase.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

// One received datagram.
struct ReceiveRecord {
    static constexpr std::size_t kCapacity = 1600;

    std::array<std::uint8_t, kCapacity> data;
    sockaddr_in sender{};
    socklen_t senderLength = sizeof(sockaddr_in);
    std::uint32_t bytes = 0;
};

// The receive thread's UDP socket: bound to every interface on one port, with a pool of receive
// records that is filled in batches whenever the thread waits, so that bursts move out of the
// kernel buffer quickly. Records cycle between "in flight" (free, posted for receiving) and
// "ready" (holding a datagram). Used by one thread only.
class UdpSocket {
public:
    static constexpr int kReceiveBufferSize = 0x160000; // 1,441,792 bytes
    static constexpr std::size_t kBatchSize = 64;       // records per recvmmsg call

    // Where the one-byte wake-up datagram goes after binding: the directed broadcast address of
    // every IPv4 interface, of the loopback interfaces only (tests), or nowhere.
    enum class WakeUp { AllInterfaces, LoopbackOnly, None };

    // Throws Win32error when the socket cannot be opened, configured or bound.
    UdpSocket(std::uint16_t localPort, std::size_t recordCount, LoggingBase& logger,
              WakeUp wakeUp = WakeUp::AllInterfaces);
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // The oldest received datagram, or nullptr after `milliseconds` without one. The record stays
    // owned by the socket until release(). Throws Win32error when waiting fails.
    const ReceiveRecord* wait(int milliseconds);
    // Puts the oldest ready record back into the pool. Throws std::logic_error without one.
    void release();
    // A ready record exists for release().
    bool available() const { return !m_ready.empty(); }

    // Share of the pool that is free for receiving, in percent, and the fewest free records seen.
    float fillLevel() const { return m_fillLevel; }
    std::size_t lowestInFlight() const { return m_lowestInFlight; }
    // The bound port (the system's choice when constructed with port 0).
    std::uint16_t localPort() const { return m_localPort; }
    int receiveBufferSize() const { return m_receiveBufferSize; }

private:
    void sendWakeUp(WakeUp wakeUp, std::uint16_t port);
    // Moves every waiting datagram the free records can hold into the ready list; false when the
    // socket had nothing.
    bool drain();
    void updateFillLevel();

    LoggingBase& m_logger;
    int m_fd = -1;
    std::vector<ReceiveRecord> m_records;
    std::vector<std::size_t> m_inFlight; // free record indices
    std::deque<std::size_t> m_ready;     // filled record indices, oldest first
    float m_fillLevel = 100.0f;
    std::size_t m_lowestInFlight = 0;
    std::uint16_t m_localPort = 0;
    int m_receiveBufferSize = 0;
};
