// The result loader reports a port it cannot bind, takes a new port and sender on a restart, and
// keeps its counters current while no cycle completes.

#include "tests/support/messagecapture.h"

#include "result/packageprocessor_trvaxx.h"
#include "result/resultcache_trvaxx.h"
#include "result/resultloader_trvaxx.h"

#include "udp-transport/streamencoder.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

using namespace std::chrono_literals;

namespace {

// A UDP socket bound to address:port (0: any port), without address reuse.
class BoundSocket {
public:
    explicit BoundSocket(const char* address, quint16 port = 0) {
        m_fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        inet_pton(AF_INET, address, &local.sin_addr);
        m_bound = m_fd >= 0 && bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
        socklen_t length = sizeof local;
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&local), &length);
        m_port = ntohs(local.sin_port);
    }
    ~BoundSocket() { close(m_fd); }
    bool bound() const { return m_bound; }
    quint16 port() const { return m_port; }
    void send(quint16 port, const udpframing::Bytes& datagram) const {
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port = htons(port);
        target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sendto(m_fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&target),
               sizeof target);
    }

private:
    int m_fd = -1;
    bool m_bound = false;
    quint16 m_port = 0;
};

bool waitFor(const std::function<bool()>& condition) {
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

class ResultLoaderStart : public ::testing::Test {
protected:
    void SetUp() override { loader.setWakeUp(UdpSocket::WakeUp::None); }
    MessageCapture capture;
    ResultCache_TRVAXX cache;
    PackageProcessor_TRVAXX processor{&cache};
    ResultLoader_TRVAXX loader{nullptr, &processor};
};

} // namespace

TEST_F(ResultLoaderStart, APortInUseFailsTheStart) {
    const BoundSocket holder("0.0.0.0");
    ASSERT_TRUE(holder.bound());
    EXPECT_NE(loader.start(holder.port(), "0.0.0.0"), 0);
    EXPECT_FALSE(loader.isRunning());
    EXPECT_EQ(capture.count("FWUpdater_TRVAxx: Unable to start ethReceiver!"), 1);
    EXPECT_EQ(capture.count("Socket bind error:"), 1);
}

// Restarting a running loader moves it to the new port and sender; the counters, published on a
// timer, show which datagrams it took although no cycle ever completes.
TEST_F(ResultLoaderStart, StartOnARunningLoaderTakesTheNewPortAndSender) {
    const BoundSocket first("127.0.0.1"), second("127.0.0.2");
    ASSERT_TRUE(first.bound() && second.bound());
    ASSERT_EQ(loader.start(0, "127.0.0.1"), 0);
    const quint16 oldPort = loader.boundPort();
    ASSERT_NE(oldPort, 0);

    quint16 newPort = 0;
    {
        const BoundSocket probe("0.0.0.0"); // a port that is free once the probe is closed
        newPort = probe.port();
    }
    ASSERT_EQ(loader.start(newPort, "127.0.0.2"), 0);
    EXPECT_TRUE(loader.isRunning());
    EXPECT_EQ(loader.boundPort(), newPort);

    udpframing::StreamEncoder dsp(udpframing::kSubDeviceDsp), other(udpframing::kSubDeviceDsp);
    // One datagram of a cycle that never ends, from each sender; only the chosen one counts.
    const auto fromSecond = dsp.encodeCycle(1, {udpframing::makeChannel(8, udpframing::Bytes(4000, 2))});
    const auto fromFirst = other.encodeCycle(1, {udpframing::makeChannel(8, udpframing::Bytes(100, 1))});
    second.send(newPort, fromSecond.front());
    first.send(newPort, fromFirst.front());
    first.send(oldPort, fromFirst.front());
    EXPECT_TRUE(waitFor([&] { return loader.getStatistics().dspPackets == 1; }));
    std::this_thread::sleep_for(600ms); // one more publication: still only that one
    EXPECT_EQ(loader.getStatistics().dspPackets, 1u);
    loader.stop();
}
