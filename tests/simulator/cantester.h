#pragma once
// Tester side of the virtual sensor's CAN bus: a blocking socketcand client (Peer), a node that
// answers and records (TestNode), and without sockets a diagnostic tester on a fake clock (DiagTester).

#include "simulator/can/diagnode.h"
#include "simulator/can/isotpserver.h"
#include "simulator/can/simcanbus.h"
#include "simulator/can/socketcandtext.h"
#include "simulator/parameters.h"
#include "simulator/virtualsensor.h"

#include "seedkey/seedkey.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace trvsim::test {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

inline uint32_t big32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline Bytes big(uint32_t v) {
    return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}
inline Bytes cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
inline Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

struct ReceivedFrame {
    SimCanFrame frame;
    int64_t microseconds; // the server's time stamp
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

    void write(const std::string& text) { (void)!::send(m_fd, text.data(), text.size(), MSG_NOSIGNAL); }
    // The next element's words joined by spaces; "" on time-out, "closed" when the server closed.
    std::string next(std::chrono::milliseconds timeout = 2000ms) {
        std::vector<std::string_view> words;
        std::string why;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (true) {
            const auto r = m_splitter.next(words, why);
            if (r == SocketcandSplitter::Result::Element) {
                m_words.assign(words.begin(), words.end());
                std::string text;
                for (auto w : words)
                    text += (text.empty() ? "" : " ") + std::string(w);
                return text;
            }
            if (r == SocketcandSplitter::Result::Malformed)
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
        bool ok = next() == "hi";
        for (const std::string& element :
             {bitTiming, std::string("< open can0 >"), std::string("< rawmode >")})
            if (ok && !element.empty()) {
                write(element);
                ok = next() == "ok";
            }
        return ok;
    }
    void send(const SimCanFrame& f) { write(formatSendElement(f)); }
    // Frames until none arrives for quiet.
    std::vector<ReceivedFrame> frames(std::chrono::milliseconds quiet = 300ms, std::size_t atMost = 100000) {
        std::vector<ReceivedFrame> out;
        while (out.size() < atMost && next(quiet).rfind("frame ", 0) == 0) {
            ServerMessage m;
            std::string why;
            parseServerMessage(std::vector<std::string_view>(m_words.begin(), m_words.end()), m, why);
            const std::string& stamp = m_words[2];
            const auto dot = stamp.find('.');
            out.push_back(
                {m.frame, std::stoll(stamp.substr(0, dot)) * 1000000 + std::stoll(stamp.substr(dot + 1))});
        }
        return out;
    }

    bool connected = false;

private:
    int m_fd = -1;
    SocketcandSplitter m_splitter;
    std::vector<std::string> m_words; // of the last element
};

inline SimCanFrame frame(uint32_t id, std::vector<uint8_t> bytes, bool extended = true) {
    SimCanFrame f;
    f.id = id;
    f.extended = extended;
    f.length = static_cast<uint8_t>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), f.data.begin());
    return f;
}

// Answers a frame sent to its address (id 0x18DA<addr>xx) with id 0x18DAxx<addr> and the same
// data; a frame with id 0x100 + address makes it send 20 frames at once, counting in byte 0.
class TestNode : public CanNode {
public:
    explicit TestNode(uint8_t address, uint32_t bitRate = 250000, bool extendedBurst = true,
                      uint8_t burstLength = 8)
        : m_address(address), m_rate(bitRate), m_extendedBurst(extendedBurst), m_burstLength(burstLength) {}
    void attach(CanBusPort* port) override { m_port = port; }
    void receive(const SimCanFrame& f, SimClock::time_point) override {
        {
            std::lock_guard lock(m_mutex);
            m_received.push_back(f);
        }
        if (f.extended && (f.id & 0xFFFF00u) == (0xDA0000u | uint32_t{m_address} << 8)) {
            SimCanFrame answer = f;
            answer.id = 0x18DA0000u | (f.id & 0xFF) << 8 | m_address;
            m_port->send(answer);
        } else if (f.id == 0x100u + m_address) {
            for (int i = 0; i < 20; ++i) {
                SimCanFrame b = frame(m_extendedBurst ? 0x18FF0000u | m_address : 0x180u + m_address,
                                      Bytes(m_burstLength), m_extendedBurst);
                b.data[0] = uint8_t(i);
                m_port->send(b);
            }
        }
    }
    void tick(SimClock::time_point) override {
        if (streaming) {
            const uint32_t n = m_sequence++;
            m_port->send(frame(0x18FEF000u | m_address,
                               {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)}));
        }
    }
    uint32_t bitRate() const override { return m_rate; }
    std::vector<SimCanFrame> received() const {
        std::lock_guard lock(m_mutex);
        return m_received;
    }

    std::atomic<bool> streaming{false}; // one frame per tick, counting up

private:
    CanBusPort* m_port = nullptr;
    uint8_t m_address;
    uint32_t m_rate;
    bool m_extendedBurst;
    uint8_t m_burstLength;
    uint32_t m_sequence = 0;
    mutable std::mutex m_mutex;
    std::vector<SimCanFrame> m_received;
};

struct RecordingPort : CanBusPort {
    struct Sent {
        SimCanFrame frame;
        SimClock::time_point at;
    };
    std::vector<Sent> frames;
    SimClock::time_point now{};
    void send(const SimCanFrame& frame) override { frames.push_back({frame, now}); }
};

class DiagTester {
public:
    explicit DiagTester(CanNode& node) : m_node(node) { node.attach(&port); }

    RecordingPort port;
    SimClock::time_point now = SimClock::time_point{} + std::chrono::hours(1);
    uint8_t node = 239;
    uint8_t fcBlockSize = 0, fcStMin = 0; // the tester's flow control for long answers
    std::size_t read = 0;                 // frames of port.frames already taken

    void tick(int ms = 1) {
        for (int i = 0; i < ms; ++i) {
            now += std::chrono::milliseconds(1);
            port.now = now;
            m_node.tick(now);
        }
    }

    void sendFrame(Bytes bytes, bool functional = false) {
        bytes.resize(8, 0x55);
        m_node.receive(frame(functional ? isotp::kFunctionalId : isotp::requestId(node), bytes), now);
    }

    // Next frame from the node within ms, or nothing.
    std::optional<SimCanFrame> nextFrame(int ms = 2000) {
        for (int waited = 0;; ++waited) {
            while (read < port.frames.size()) {
                const SimCanFrame& f = port.frames[read++].frame;
                if (f.extended && f.id == isotp::responseId(node))
                    return f;
            }
            if (waited >= ms)
                return std::nullopt;
            tick();
        }
    }

    // Sends a request, segmented with the node's flow control. False when the node did not
    // allow a multi-frame request to go on.
    bool send(const Bytes& payload, bool functional = false) {
        if (payload.size() <= 7) {
            sendFrame(cat({uint8_t(payload.size())}, payload), functional);
            return true;
        }
        sendFrame(cat({uint8_t(0x10 | (payload.size() >> 8)), uint8_t(payload.size())},
                      Bytes(payload.begin(), payload.begin() + 6)));
        std::size_t offset = 6;
        uint8_t sequence = 1;
        while (offset < payload.size()) {
            const auto fc = nextFrame(100);
            if (!fc || fc->data[0] != 0x30)
                return false;
            flowControls.push_back({fc->data[1], fc->data[2]});
            for (uint32_t k = 0; offset < payload.size() && (fc->data[1] == 0 || k < fc->data[1]); ++k) {
                tick(fc->data[2]);
                const std::size_t n = std::min<std::size_t>(7, payload.size() - offset);
                sendFrame(cat({uint8_t(0x20 | sequence)},
                              Bytes(payload.begin() + long(offset), payload.begin() + long(offset + n))));
                sequence = (sequence + 1) & 0x0F;
                offset += n;
            }
        }
        return true;
    }

    // The next answer (reassembled), skipping "response pending" answers unless asked not to.
    std::optional<Bytes> answer(int ms = 2000, bool skipPending = true) {
        while (true) {
            const auto f = nextFrame(ms);
            if (!f)
                return std::nullopt;
            const uint8_t type = f->data[0] >> 4;
            if (type == 0) {
                Bytes out(f->data.begin() + 1, f->data.begin() + 1 + (f->data[0] & 0x0F));
                if (skipPending && out.size() == 3 && out[0] == 0x7F && out[2] == 0x78)
                    continue;
                return out;
            }
            if (type != 1)
                continue;
            const std::size_t total = std::size_t(f->data[0] & 0x0F) << 8 | f->data[1];
            Bytes out(f->data.begin() + 2, f->data.end());
            uint8_t sequence = 1;
            uint32_t inBlock = 0;
            sendFrame({0x30, fcBlockSize, fcStMin});
            while (out.size() < total) {
                const auto cf = nextFrame(ms);
                if (!cf || cf->data[0] != (0x20 | sequence))
                    return std::nullopt;
                sequence = (sequence + 1) & 0x0F;
                out.insert(out.end(), cf->data.begin() + 1, cf->data.end());
                if (fcBlockSize && ++inBlock == fcBlockSize && out.size() < total) {
                    inBlock = 0;
                    sendFrame({0x30, fcBlockSize, fcStMin});
                }
            }
            out.resize(total);
            return out;
        }
    }

    // The answer, or no bytes when none came or a long request was not let go on.
    Bytes ask(const Bytes& request) {
        const auto a = send(request) ? answer() : std::nullopt;
        return a ? *a : Bytes{};
    }
    // Extended session, programming session, then security access with the shared key routine.
    void unlock() {
        hasDriver = false; // a new programming session
        ASSERT_EQ(ask({0x10, 0x03})[0], 0x50);
        ASSERT_EQ(ask({0x10, 0x02})[0], 0x50);
        const Bytes seed = ask({0x27, 0x11});
        ASSERT_EQ(seed.size(), 6u);
        if (const uint32_t s = big32(&seed[2]); s != 0) {
            ASSERT_EQ(ask(cat({0x27, 0x12}, big(trvaxx::securityKeyFromSeed(s)))), (Bytes{0x67, 0x12}));
        }
    }

    // The steps of programming one block after unlocking (the flash driver once per session);
    // returns the answer of the step that failed or of the CRC check. stopAfter ends it early.
    enum Step { Driver, Erase, Request, Transfer, Exit, All };
    Bytes download(uint8_t id, const Bytes& data, Step stopAfter = All, uint32_t crcOffset = 0) {
        Bytes a;
        auto step = [&](const Bytes& request) {
            a = ask(request);
            return !a.empty() && a[0] != 0x7F;
        };
        if (!hasDriver) {
            const Bytes driver = text("flash driver");
            if (!step({0x34, 0x00, 0x44, 0, 0, 0, 0x30, 0, 0, 0, uint8_t(driver.size())}) ||
                !step(cat({0x36, 0x01}, driver)) || !step({0x37}) ||
                !step(cat({0x31, 0x01, 0x02, 0x02}, big(crc32Of(driver.data(), driver.size())))))
                return a;
            hasDriver = true;
        }
        if (stopAfter == Driver || !step({0x31, 0x01, 0xFF, 0x00, 0x01, id}) || stopAfter == Erase)
            return a;
        if (!step(cat({0x34, 0x00, 0x44, 0, 0, 0, id}, big(uint32_t(data.size())))) || stopAfter == Request)
            return a;
        uint8_t sequence = 1;
        for (std::size_t offset = 0; offset < data.size(); offset += 4093, ++sequence) {
            const std::size_t n = std::min<std::size_t>(4093, data.size() - offset);
            if (!step(cat({0x36, sequence},
                          Bytes(data.begin() + long(offset), data.begin() + long(offset + n)))) ||
                stopAfter == Transfer)
                return a;
        }
        if (!step({0x37}) || stopAfter == Exit)
            return a;
        step(cat({0x31, 0x01, 0x02, 0x02}, big(crc32Of(data.data(), data.size()) + crcOffset)));
        return a;
    }
    bool hasDriver = false;

    std::vector<std::pair<uint8_t, uint8_t>> flowControls; // the node's, as received

private:
    CanNode& m_node;
};

const Bytes kPassed{0x71, 0x01, 0x02, 0x02, 0x00}; // the CRC check's routine status: passed

// The sensor's factory KP block with one member changed, as the block image a tester writes
// (header CRCs patched).
inline Bytes blockImageWith(const VirtualSensor& sensor, const std::string& member, double value) {
    ParameterState state;
    EXPECT_TRUE(state.load(sensor.config().identity, factoryParameters(sensor.config())));
    DescribedBlock block = state.kpBlock();
    ParameterValues v{{member, {value}}};
    block.fill(v);
    return makeBlockImage("KP__", "KP_CPAR", block.data());
}

} // namespace trvsim::test
