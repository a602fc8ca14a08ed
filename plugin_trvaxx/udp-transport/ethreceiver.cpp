#include "udp-transport/ethreceiver.h"

#include "udp-transport/porttap.h"

#include <arpa/inet.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <system_error>

namespace {

enum class SenderParse { Ok, Unreadable, OutOfRange };

// Reads "a.b.c.d" the way scanf("%d.%d.%d.%d") does (blanks before a number, an optional sign,
// anything after the fourth number ignored) but without its undefined behaviour on overflow.
SenderParse parseSender(const std::string& text, std::uint32_t& address) {
    const char* p = text.c_str();
    std::uint32_t packed = 0;
    bool inRange = true;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (*p != '.')
                return SenderParse::Unreadable;
            ++p;
        }
        while (std::isspace(static_cast<unsigned char>(*p)))
            ++p;
        const char* digits = (*p == '+' || *p == '-') ? p + 1 : p;
        if (!std::isdigit(static_cast<unsigned char>(*digits)))
            return SenderParse::Unreadable;
        char* end = nullptr;
        errno = 0;
        const long value = std::strtol(p, &end, 10);
        if (errno == ERANGE || value < 0 || value > 255)
            inRange = false;
        packed = (packed << 8) | static_cast<std::uint32_t>(value & 0xFF);
        p = end;
    }
    if (!inRange)
        return SenderParse::OutOfRange;
    address = packed;
    return SenderParse::Ok;
}

} // namespace

EthReceiver::EthReceiver(CycleAssembler& assembler, LoggingBase& logger)
    : m_assembler(assembler), m_logger(logger) {}

EthReceiver::~EthReceiver() {
    stop();
}

int EthReceiver::setPort(std::uint16_t port) {
    m_port = port;
    return 0;
}

int EthReceiver::setSender(const std::string& text) {
    std::uint32_t address = 0;
    switch (parseSender(text, address)) {
    case SenderParse::Unreadable:
        m_logger.log(LoggingBase::Error, "Can't parse IP address '%s'", text.c_str());
        return -1;
    case SenderParse::OutOfRange:
        m_logger.log(LoggingBase::Error, "Invalid values in IP address");
        return -1;
    case SenderParse::Ok:
        break;
    }
    m_sender.store(address);
    return 0;
}

int EthReceiver::start() {
    if (m_thread.joinable()) {
        if (m_running.load())
            return 0;
        m_thread.join(); // it ended by itself after a socket error
    }
    m_stopRequest.store(false);
    m_running.store(true);
    try {
        m_thread = std::thread(&EthReceiver::run, this);
    } catch (const std::system_error&) {
        m_running.store(false);
        m_logger.log(LoggingBase::Error, "Start of thread failed.");
        return -1;
    }
    m_threadId.store(m_thread.get_id());
    std::unique_lock<std::mutex> lock(m_startMutex);
    m_startChanged.wait_for(lock, std::chrono::milliseconds(kStartTimeoutMilliseconds),
                            [this] { return m_boundPort.load() != 0 || !m_running.load(); });
    lock.unlock();
    if (!m_running.load()) { // the socket could not be opened or bound; the thread logged why
        m_thread.join();
        return -1;
    }
    return 0;
}

void EthReceiver::signalStart() {
    std::lock_guard<std::mutex> lock(m_startMutex);
    m_startChanged.notify_all();
}

void EthReceiver::stop() {
    if (std::this_thread::get_id() == m_threadId.load()) {
        // Called from an output or a logger on the receive thread: it ends after this datagram
        // and is joined by the next start() or stop() from outside.
        m_stopRequest.store(true);
        return;
    }
    if (!m_thread.joinable())
        return;
    m_stopRequest.store(true);
    m_thread.join(); // the thread notices the request within one wait time-out
    m_running.store(false);
    m_stopRequest.store(false);
}

void EthReceiver::run() {
    m_threadId.store(std::this_thread::get_id());
    m_logger.log(LoggingBase::Error, "Thread was started");
    m_running.store(true);
    m_logger.log(LoggingBase::Debug, "Connect\n");
    try {
        UdpSocket socket(m_port, kReceiveRecords, m_logger, m_wakeUp);
        const PortTap::Holder tapHolder(socket.localPort());
        m_boundPort.store(socket.localPort());
        signalStart();
        receiveLoop(socket);
    } catch (const std::exception& error) {
        // Socket creation and waiting failures end the thread; the owner sees isRunning() false.
        m_logger.log(LoggingBase::Error, "Receive thread stopped by a socket error: %s", error.what());
    }
    m_boundPort.store(0);
    m_logger.log(LoggingBase::Error, "Thread will stop now");
    m_stopRequest.store(false);
    m_running.store(false);
    signalStart();
}

void EthReceiver::receiveLoop(UdpSocket& socket) {
    using Clock = std::chrono::steady_clock;
    const auto interval = std::chrono::milliseconds(kStatisticsIntervalMilliseconds);
    auto nextStatistics = Clock::now() + interval;
    while (!m_stopRequest.load()) {
        const ReceiveRecord* record = socket.wait(kWaitMilliseconds);
        if (Clock::now() >= nextStatistics) {
            m_assembler.publishStatistics();
            nextStatistics = Clock::now() + interval;
        }
        if (record == nullptr)
            continue;
        const std::uint32_t sender = ntohl(record->sender.sin_addr.s_addr);
        m_logger.log(LoggingBase::Trace, "Paket von %d.%d.%d.%d\n", static_cast<int>(sender >> 24),
                     static_cast<int>((sender >> 16) & 0xFF), static_cast<int>((sender >> 8) & 0xFF),
                     static_cast<int>(sender & 0xFF));
        m_logger.log(LoggingBase::Trace, "UDP Packet received -> %d bytes", static_cast<int>(record->bytes));

        if (record->bytes == 0 || record->bytes > kMaxDatagramSize) {
            m_logger.log(LoggingBase::Error, "Internal error: UDP buffer larger than expected (%d bytes)",
                         static_cast<int>(record->bytes));
        } else {
            PortTap::publish(socket.localPort(), record->data.data(), record->bytes, record->sender);
            // The record is not refilled before the next wait(), so the datagram is processed in
            // place instead of being copied to a buffer of the thread first.
            const std::uint32_t filter = m_sender.load();
            if (filter == 0 || filter == sender) {
                try {
                    m_assembler.processPacket(record->data.data(), record->bytes);
                    m_assembler.deliverCycles();
                } catch (const std::exception& error) {
                    m_logger.log(LoggingBase::Error, "Internal error while processing a packet: %s",
                                 error.what());
                }
            }
        }
        try {
            socket.release();
        } catch (const std::exception& error) {
            m_logger.log(LoggingBase::Error, "Internal Error: Cannot release packet: %s", error.what());
        }
    }
}
