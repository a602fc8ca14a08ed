#pragma once

#include "udp-transport/cycleassembler.h"
#include "udp-transport/loggingbase.h"
#include "udp-transport/udpsocket.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

// The receive thread: owns the UDP socket while it runs, keeps datagrams of the chosen sender,
// feeds them to the CycleAssembler and lets it hand out cycles.
class EthReceiver {
public:
    static constexpr std::size_t kReceiveRecords = 13107;
    // Longest socket wait: stop() returns within about this plus the work of one datagram.
    static constexpr int kWaitMilliseconds = 100;
    static constexpr std::size_t kMaxDatagramSize = 2048;
    // The counters reach the output at least this often, also while no cycle completes.
    static constexpr int kStatisticsIntervalMilliseconds = 500;
    // How long start() waits for the socket to be bound (or to fail).
    static constexpr int kStartTimeoutMilliseconds = 2000;

    EthReceiver(CycleAssembler& assembler, LoggingBase& logger);
    // Stops the thread.
    ~EthReceiver();
    EthReceiver(const EthReceiver&) = delete;
    EthReceiver& operator=(const EthReceiver&) = delete;

    // Port the socket binds to at the next start(); 0 lets the system choose. Returns 0.
    int setPort(std::uint16_t port);
    // Dotted IPv4 address of the only sender whose datagrams are used; "0.0.0.0" accepts every
    // sender. Returns 0, or -1 with a log line and the filter unchanged.
    int setSender(const std::string& text);
    // Target of the wake-up datagram at socket creation (default: every interface).
    void setWakeUp(UdpSocket::WakeUp wakeUp) { m_wakeUp = wakeUp; }

    // Starts the receive thread and waits until its socket is bound or has failed. Returns 0, or
    // -1 after logging "Start of thread failed." or the socket error (a port in use, for example).
    int start();
    // Asks the thread to end and waits until it has (at most about kWaitMilliseconds). Called on the
    // receive thread itself (from an output), it only asks.
    void stop();

    bool isRunning() const { return m_running.load(); }
    std::thread::id threadId() const { return m_threadId.load(); }
    // Port the running thread's socket is bound to; 0 while no socket exists.
    std::uint16_t boundPort() const { return m_boundPort.load(); }
    std::uint16_t port() const { return m_port; }
    // Sender filter a.b.c.d as (a << 24 | b << 16 | c << 8 | d); 0 accepts every sender.
    std::uint32_t senderFilter() const { return m_sender.load(); }

private:
    void run();
    void receiveLoop(UdpSocket& socket);
    void signalStart();

    CycleAssembler& m_assembler;
    LoggingBase& m_logger;
    std::thread m_thread;
    std::atomic<std::thread::id> m_threadId{};
    std::uint16_t m_port = 0;
    std::atomic<std::uint32_t> m_sender{0};
    UdpSocket::WakeUp m_wakeUp = UdpSocket::WakeUp::AllInterfaces;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_stopRequest{false};
    std::atomic<std::uint16_t> m_boundPort{0};
    // Signals start() that the socket is bound or the thread has ended.
    std::mutex m_startMutex;
    std::condition_variable m_startChanged;
};
