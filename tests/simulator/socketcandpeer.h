#pragma once
// Test helpers for the CAN bus: a blocking socketcand client over real TCP and a node that
// answers, records and sends on request.

#include "simulator/can/simcanbus.h"
#include "simulator/can/socketcandtext.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace cantest {

using namespace std::chrono_literals;

struct ReceivedFrame {
    trvsim::SimCanFrame frame;
    int64_t microseconds = 0; // the server's time stamp
};

class Peer {
public:
    explicit Peer(uint16_t port) {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        const int one = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    ~Peer() { ::close(m_fd); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    void write(const std::string& text) { (void)!::send(m_fd, text.data(), text.size(), MSG_NOSIGNAL); }
    // The next element's words joined by spaces; "" on time-out, "closed" when the server closed.
    std::string next(std::chrono::milliseconds timeout = 2000ms) {
        std::vector<std::string_view> words;
        std::string why;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (true) {
            const auto r = m_splitter.next(words, why);
            if (r == trvsim::SocketcandSplitter::Result::Element) {
                std::string text;
                for (auto w : words)
                    text += (text.empty() ? "" : " ") + std::string(w);
                return text;
            }
            if (r == trvsim::SocketcandSplitter::Result::Malformed)
                return "malformed: " + why;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return "";
            const std::string raw = readRaw(left);
            if (raw == "closed")
                return raw;
            m_splitter.append(raw.data(), raw.size());
        }
    }
    // One read as it arrives (what a client reading "< ok >" in one call sees).
    std::string readRaw(std::chrono::milliseconds timeout) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout.count())) != 1)
            return "";
        char buffer[8192];
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        return n <= 0 ? "closed" : std::string(buffer, static_cast<std::size_t>(n));
    }
    // Greeting, open and raw mode; bitTiming before open when not empty.
    bool join(const std::string& bitTiming = {}) {
        if (next() != "hi")
            return false;
        if (!bitTiming.empty()) {
            write(bitTiming);
            if (next() != "ok")
                return false;
        }
        write("< open can0 >");
        if (next() != "ok")
            return false;
        write("< rawmode >");
        return next() == "ok";
    }
    void send(const trvsim::SimCanFrame& f) { write(trvsim::formatSendElement(f)); }
    // Frames until none arrives for quiet.
    std::vector<ReceivedFrame> frames(std::chrono::milliseconds quiet = 300ms, std::size_t atMost = 100000) {
        std::vector<ReceivedFrame> out;
        while (out.size() < atMost) {
            const std::string e = next(quiet);
            if (e.rfind("frame ", 0) != 0)
                break;
            std::vector<std::string_view> words;
            std::string text = "< " + e + " >", why;
            trvsim::SocketcandSplitter s;
            s.append(text.data(), text.size());
            s.next(words, why);
            trvsim::ServerMessage m;
            trvsim::parseServerMessage(words, m, why);
            const std::string stamp(words[2]);
            const auto dot = stamp.find('.');
            out.push_back(
                {m.frame, std::stoll(stamp.substr(0, dot)) * 1000000 + std::stoll(stamp.substr(dot + 1))});
        }
        return out;
    }

    // Every frame that arrives within this time (a bus with steady traffic is never quiet).
    std::vector<ReceivedFrame> framesFor(std::chrono::milliseconds window) {
        std::vector<ReceivedFrame> out;
        const auto end = std::chrono::steady_clock::now() + window;
        while (std::chrono::steady_clock::now() < end)
            for (const ReceivedFrame& f : frames(50ms, 1))
                out.push_back(f);
        return out;
    }

    bool connected = false;

private:
    int m_fd = -1;
    trvsim::SocketcandSplitter m_splitter;
};

inline trvsim::SimCanFrame frame(uint32_t id, std::vector<uint8_t> bytes, bool extended = true) {
    trvsim::SimCanFrame f;
    f.id = id;
    f.extended = extended;
    f.length = static_cast<uint8_t>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), f.data.begin());
    return f;
}

// Answers a frame sent to its address (id 0x18DA<addr>xx) with id 0x18DAxx<addr> and the same
// data; a frame with id 0x100 + address makes it send `burst` frames at once, counting in byte 0.
class TestNode : public trvsim::CanNode {
public:
    explicit TestNode(uint8_t address, uint32_t bitRate = 250000, bool extendedBurst = true,
                      uint8_t burstLength = 8)
        : m_address(address), m_rate(bitRate), m_extendedBurst(extendedBurst), m_burstLength(burstLength) {}
    void attach(trvsim::CanBusPort* port) override { m_port = port; }
    void receive(const trvsim::SimCanFrame& f, trvsim::SimClock::time_point) override {
        {
            std::lock_guard lock(m_mutex);
            m_received.push_back(f);
        }
        if (f.extended && (f.id & 0xFFFF00u) == (0xDA0000u | uint32_t{m_address} << 8)) {
            trvsim::SimCanFrame answer = f;
            answer.id = 0x18DA0000u | (f.id & 0xFF) << 8 | m_address;
            m_port->send(answer);
        } else if (f.id == 0x100u + m_address) {
            for (int i = 0; i < burst; ++i) {
                trvsim::SimCanFrame b;
                b.id = m_extendedBurst ? 0x18FF0000u | m_address : 0x180u + m_address;
                b.extended = m_extendedBurst;
                b.length = m_burstLength;
                b.data[0] = static_cast<uint8_t>(i);
                m_port->send(b);
            }
        }
    }
    void tick(trvsim::SimClock::time_point) override {
        if (streaming) {
            trvsim::SimCanFrame s;
            s.id = 0x18FEF000u | m_address;
            s.extended = true;
            s.length = 4;
            const uint32_t n = m_sequence++;
            std::memcpy(s.data.data(), &n, 4);
            m_port->send(s);
        }
    }
    uint32_t bitRate() const override { return m_rate; }
    std::vector<trvsim::SimCanFrame> received() const {
        std::lock_guard lock(m_mutex);
        return m_received;
    }

    std::atomic<int> burst{20};
    std::atomic<bool> streaming{false}; // one frame per tick, counting up

private:
    trvsim::CanBusPort* m_port = nullptr;
    uint8_t m_address;
    uint32_t m_rate;
    bool m_extendedBurst;
    uint8_t m_burstLength;
    uint32_t m_sequence = 0;
    mutable std::mutex m_mutex;
    std::vector<trvsim::SimCanFrame> m_received;
};

} // namespace cantest
