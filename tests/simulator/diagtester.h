#pragma once
// Tester side for node-level tests of the diagnostic node: a fake bus port that records the
// node's frames, a fake clock ticked millisecond by millisecond, and a small ISO-TP client that
// segments requests and reassembles answers with a chosen flow control.

#include "simulator/can/diagnode.h"
#include "simulator/can/isotpserver.h"

#include "seedkey/seedkey.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace trvsim::test {

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

    void sendFrame(const Bytes& bytes, bool functional = false) {
        SimCanFrame f;
        f.id = functional ? isotp::kFunctionalId : isotp::requestId(node);
        f.extended = true;
        f.length = 8;
        f.data.fill(0x55);
        std::copy(bytes.begin(), bytes.end(), f.data.begin());
        m_node.receive(f, now);
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
            Bytes sf{uint8_t(payload.size())};
            sf.insert(sf.end(), payload.begin(), payload.end());
            sendFrame(sf, functional);
            return true;
        }
        Bytes ff{uint8_t(0x10 | (payload.size() >> 8)), uint8_t(payload.size())};
        ff.insert(ff.end(), payload.begin(), payload.begin() + 6);
        sendFrame(ff);
        std::size_t offset = 6;
        uint8_t sequence = 1;
        while (offset < payload.size()) {
            const auto fc = nextFrame(100);
            if (!fc || fc->data[0] != 0x30)
                return false;
            flowControls.push_back({fc->data[1], fc->data[2]});
            for (uint32_t k = 0; offset < payload.size() && (fc->data[1] == 0 || k < fc->data[1]); ++k) {
                tick(fc->data[2]);
                Bytes cf{uint8_t(0x20 | sequence)};
                sequence = (sequence + 1) & 0x0F;
                const std::size_t n = std::min<std::size_t>(7, payload.size() - offset);
                cf.insert(cf.end(), payload.begin() + long(offset), payload.begin() + long(offset + n));
                offset += n;
                sendFrame(cf);
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

    std::optional<Bytes> exchange(const Bytes& request, bool functional = false) {
        if (!send(request, functional))
            return std::nullopt;
        return answer();
    }

    // The answer, or no bytes when none came.
    Bytes ask(const Bytes& request) {
        auto a = exchange(request);
        return a ? *a : Bytes{};
    }
    // Extended session, programming session, then security access with the shared key routine.
    void unlock() {
        ASSERT_EQ(ask({0x10, 0x03})[0], 0x50);
        ASSERT_EQ(ask({0x10, 0x02})[0], 0x50);
        const Bytes seed = ask({0x27, 0x11});
        ASSERT_EQ(seed.size(), 6u);
        if (const uint32_t s = big32(&seed[2]); s != 0) {
            ASSERT_EQ(ask(cat({0x27, 0x12}, big(trvaxx::securityKeyFromSeed(s)))), (Bytes{0x67, 0x12}));
        }
    }

    std::vector<std::pair<uint8_t, uint8_t>> flowControls; // the node's, as received

private:
    CanNode& m_node;
};

} // namespace trvsim::test
