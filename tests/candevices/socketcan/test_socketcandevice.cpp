// The plug-in over Qt's virtualcan bus and as a socketcand client against a scripted server.
#include "candevices/socketcan/socketcandevice.h"
#include "candevices/socketcan/socketcandprotocol.h"
#include "tests/candevices/socketcan/candevicetest.h"
#include "tests/support/messagecapture.h"

#include <QCanBus>
#include <QCoreApplication>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QThread>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <string>

using namespace std::chrono;
using namespace std::chrono_literals;

namespace {

TEST(SocketCanDevice, NotOpenedSendsNothingAndReadsWaitTheirTimeOut) {
    SocketCanDevice device;
    EXPECT_EQ(send(device, makeFrame(0x123, 0)), CanDeviceStatus::NotOpen);
    CanFrame frame;
    uint32_t count = 1;
    const auto start = steady_clock::now();
    EXPECT_NE(device.CAN_ReadDataBlock(50, &frame, &count), CanDeviceStatus::Ok);
    EXPECT_GE(steady_clock::now() - start, 50ms);
    EXPECT_EQ(count, 0u);
}

class VirtualCanBus : public ::testing::Test {
protected:
    void SetUp() override {
        for (auto* device : {&a, &b}) {
            device->CAN_SetInterface("qtcanbus://virtualcan/can0");
            ASSERT_EQ(device->CAN_InitDriver(), CanDeviceStatus::Ok);
        }
        // The bus server relays to b only once it has taken b's connection, which it has when a
        // frame from b came through; a frame sent before that is lost, so b asks again.
        bool through = false;
        for (int attempt = 0; attempt < 20 && !through; ++attempt) {
            ASSERT_EQ(send(b, makeFrame(0x7E0, 0)), CanDeviceStatus::Ok);
            through = receive(a, 1, std::chrono::milliseconds(500)).size() == 1;
        }
        ASSERT_TRUE(through);
    }
    SocketCanDevice a, b;
};

TEST_F(VirtualCanBus, CarriesStandardAndExtendedFramesBothWays) {
    const std::vector<CanFrame> frames = {makeFrame(0x60A, 1), makeFrame(0x7FF, 2, 3), makeFrame(0x800, 3),
                                          makeFrame(0x18DAEFF1, 4), makeFrame(0x1FFFFFFF, 5, 0)};
    for (auto [from, to] : {std::pair{&a, &b}, std::pair{&b, &a}}) {
        for (const CanFrame& frame : frames)
            ASSERT_EQ(send(*from, frame), CanDeviceStatus::Ok);
        const std::vector<CanFrame> received = receive(*to, frames.size());
        ASSERT_EQ(received.size(), frames.size());
        for (std::size_t i = 0; i < frames.size(); ++i)
            EXPECT_TRUE(sameFrame(received[i], frames[i])) << i;
    }
    // A block read takes no more than its capacity and leaves the rest for the next read.
    send(a, frames[0]);
    send(a, frames[1]);
    std::this_thread::sleep_for(300ms); // both arrive and stay queued
    CanFrame one;
    uint32_t count = 1;
    ASSERT_EQ(b.CAN_ReadDataBlock(2000, &one, &count), CanDeviceStatus::Ok);
    EXPECT_EQ(count, 1u);
    uint32_t id = 0;
    uint8_t data[8], length = 0;
    EXPECT_EQ(b.CAN_ReadData(&id, data, &length), CanDeviceStatus::Ok);
    EXPECT_EQ(id, 0x7FFu);
    EXPECT_NE(b.CAN_ReadData(&id, data, &length), CanDeviceStatus::Ok);
    // Quiet bus: success with no frame, after the time-out.
    const auto start = steady_clock::now();
    count = 1;
    EXPECT_EQ(b.CAN_ReadDataBlock(100, &one, &count), CanDeviceStatus::Ok);
    EXPECT_EQ(count, 0u);
    EXPECT_GE(steady_clock::now() - start, 100ms);
}

TEST_F(VirtualCanBus, BurstFromSeveralThreadsArrivesWhole) {
    // 585 frames: a 4 KB download block at block size 0, split over three senders.
    constexpr int kThreads = 3, kPerThread = 195;
    EXPECT_EQ(sendFromThreads(a, kThreads, kPerThread, [](int t) { return 0x18DA0000u + t; }), 0);
    const std::vector<CanFrame> received = receive(b, kThreads * kPerThread, 10s);
    ASSERT_EQ(received.size(), std::size_t(kThreads * kPerThread));
    int next[kThreads] = {};
    for (const CanFrame& frame : received) {
        const int t = static_cast<int>(frame.identifier - 0x18DA0000u);
        ASSERT_TRUE(t >= 0 && t < kThreads);
        EXPECT_TRUE(sameFrame(frame, makeFrame(frame.identifier, static_cast<uint8_t>(next[t]++))));
    }
}

// A socketcand server driven step by step by the test, on plain blocking sockets. A small receive
// buffer makes a server that stops reading fill up quickly.
struct ScriptedServer {
    explicit ScriptedServer(int receiveBuffer = 0) {
        if (receiveBuffer > 0)
            ::setsockopt(listening, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ::bind(listening, reinterpret_cast<sockaddr*>(&address), size);
        ::listen(listening, 8);
        ::getsockname(listening, reinterpret_cast<sockaddr*>(&address), &size);
        port = ntohs(address.sin_port);
    }
    ~ScriptedServer() {
        closeClient();
        ::close(listening);
    }
    std::string url() const { return "socketcand://127.0.0.1:" + std::to_string(port) + "/can0"; }

    bool accept(milliseconds timeout = 5s) {
        pollfd p{listening, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout.count())) != 1)
            return false;
        closeClient();
        client = ::accept(listening, nullptr, nullptr);
        received.clear();
        return client >= 0;
    }
    void write(const std::string& text) {
        ASSERT_EQ(::send(client, text.data(), text.size(), MSG_NOSIGNAL), ssize_t(text.size()));
    }
    // Waits until text arrived (everything before and including it is consumed).
    bool expect(const std::string& text, milliseconds timeout = 5s) {
        const auto end = steady_clock::now() + timeout;
        std::size_t at;
        while ((at = received.find(text)) == std::string::npos)
            if (!readSome(end))
                return false;
        received.erase(0, at + text.size());
        return true;
    }
    bool readSome(steady_clock::time_point end) {
        const auto left = duration_cast<milliseconds>(end - steady_clock::now()).count();
        pollfd p{client, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) != 1)
            return false;
        char buffer[4096];
        const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        eof = n <= 0;
        if (n > 0)
            received.append(buffer, static_cast<std::size_t>(n));
        return n > 0;
    }
    void closeClient() {
        if (client >= 0)
            ::close(client);
        client = -1;
    }
    // The opening exchange as a socketcand server runs it.
    void handshake() {
        ASSERT_TRUE(accept());
        write("< hi >");
        ASSERT_TRUE(expect("< can0 B 250000 0 0 0 0 0 0 0 >"));
        ASSERT_TRUE(expect("< open can0 >"));
        write("< ok >");
        ASSERT_TRUE(expect("< rawmode >"));
        write("< ok >");
    }

    int listening = ::socket(AF_INET, SOCK_STREAM, 0), client = -1;
    quint16 port = 0;
    std::string received;
    bool eof = false;
};

// Opens the device against the server, which runs the handshake.
void connect(SocketCanDevice& device, ScriptedServer& server) {
    device.CAN_SetInterface(server.url().c_str());
    auto opened = std::async(std::launch::async, [&] { return device.CAN_InitDriver(); });
    server.handshake();
    ASSERT_EQ(opened.get(), CanDeviceStatus::Ok);
}

class SocketcandClient : public ::testing::Test {
protected:
    void SetUp() override { connect(device, server); }
    MessageCapture log;
    ScriptedServer server;
    SocketCanDevice device;
};

TEST_F(SocketcandClient, MalformedElementClosesWithOneLogLine) {
    server.write("< frame 123 1.0 00 >< frame XYZ 1.0 00 >");
    const auto end = steady_clock::now() + 5s;
    while (server.readSome(end)) {
    }
    EXPECT_TRUE(server.eof) << "closed by the client";
    ASSERT_EQ(receive(device, 1).size(), 1u); // the frame before the fault still counts
    EXPECT_EQ(log.count("malformed socketcand stream"), 1);
    EXPECT_EQ(send(device, makeFrame(0x123, 0)), CanDeviceStatus::ConnectionLost);
}

TEST_F(SocketcandClient, LostConnectionIsReportedAndRetriedOnceASecond) {
    server.closeClient();
    CanFrame frame;
    uint32_t count = 1;
    const auto start = steady_clock::now();
    uint16_t status = CanDeviceStatus::Ok;
    while (status == CanDeviceStatus::Ok && steady_clock::now() - start < 5s) {
        count = 1;
        status = device.CAN_ReadDataBlock(100, &frame, &count);
    }
    EXPECT_EQ(status, CanDeviceStatus::ConnectionLost);
    EXPECT_EQ(send(device, makeFrame(0x123, 0)), CanDeviceStatus::ConnectionLost);
    // Attempts that fail (the server hangs up at once) come at least a second apart.
    std::vector<steady_clock::time_point> attempts;
    while (attempts.size() < 3 && server.accept(3s)) {
        attempts.push_back(steady_clock::now());
        server.closeClient();
    }
    ASSERT_EQ(attempts.size(), 3u);
    for (std::size_t i = 1; i < attempts.size(); ++i)
        EXPECT_GE(attempts[i] - attempts[i - 1], 900ms);
    EXPECT_EQ(log.count("CAN connection lost"), 1);
    // A server that answers again restores the connection.
    server.handshake();
    const auto end = steady_clock::now() + 3s;
    while (send(device, makeFrame(0x123, 0)) != CanDeviceStatus::Ok && steady_clock::now() < end)
        std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(server.expect("< send 123 8 00 01 02 03 04 05 06 07 >"));
}

TEST_F(SocketcandClient, SendsFromSeveralThreadsArriveWholeAndIdleKeepsAlive) {
    constexpr int kThreads = 4, kPerThread = 150;
    EXPECT_EQ(sendFromThreads(device, kThreads, kPerThread, [](int t) { return 0x700u + t; }), 0);
    // Every element whole and each thread's frames in their order.
    int next[kThreads] = {};
    int whole = 0;
    const auto end = steady_clock::now() + 5s;
    while (whole < kThreads * kPerThread && server.readSome(end)) {
        std::string& text = server.received;
        for (std::size_t close; (close = text.find('>')) != std::string::npos; ++whole) {
            const std::string one = text.substr(0, close + 1);
            text.erase(0, close + 1);
            const int t = one.size() > 9 ? one[9] - '0' : -1; // "< send 70t 8 ..."
            ASSERT_TRUE(t >= 0 && t < kThreads) << one;
            char expected[kSocketcandSendCapacity];
            const CanFrame frame = makeFrame(0x700u + t, static_cast<uint8_t>(next[t]++));
            EXPECT_EQ(one, std::string(expected, socketcandSend(frame, expected)));
        }
    }
    EXPECT_EQ(whole, kThreads * kPerThread);
    // A quiet connection is kept alive.
    EXPECT_TRUE(server.expect("< echo >", 3s));
}

TEST(SocketcandStalled, SendWaitsForAServerThatStopsReadingThenGivesUp) {
    ScriptedServer server(4096);
    SocketCanDevice device;
    connect(device, server);
    // The server reads nothing more: once the socket buffers are full a send waits, then fails.
    uint16_t status = CanDeviceStatus::Ok;
    steady_clock::duration lastCall{};
    int sent = 0;
    for (; sent < 100000 && status == CanDeviceStatus::Ok; ++sent) {
        const auto start = steady_clock::now();
        status = send(device, makeFrame(0x18DAEFF1, static_cast<uint8_t>(sent)));
        lastCall = steady_clock::now() - start;
    }
    EXPECT_EQ(status, CanDeviceStatus::SendFailed) << sent;
    EXPECT_GE(lastCall, 100ms);
    // Reading again makes room; the connection is still usable.
    const auto end = steady_clock::now() + 10s;
    while (steady_clock::now() < end && server.readSome(steady_clock::now() + 50ms)) {
        if (server.received.size() > 1 << 20)
            server.received.clear();
    }
    EXPECT_EQ(send(device, makeFrame(0x123, 0)), CanDeviceStatus::Ok);
    EXPECT_TRUE(server.expect("< send 123 8 00 01 02 03 04 05 06 07 >"));
}

TEST(SocketCanDevice, MissingInterfacesAndRefusedConnectionsGiveStatusTwo) {
    QLoggingCategory::setFilterRules(QStringLiteral("qt.*=false")); // only the plug-in's lines count
    MessageCapture log;
    const struct {
        const char* url;
        const char* hint;
    } cases[] = {
        {"can7", "no such network interface"},
        {"lo", "Cannot open CAN interface qtcanbus://socketcan/lo"}, // exists, but is no CAN interface
        {"qtcanbus://nosuchbackend/can0", "Qt CAN back-ends here"},
        {"socketcand://", "not understood"},
        {"socketcand://127.0.0.1:1/can0", "Cannot open socketcand bus"}, // nobody listens there
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        SocketCanDevice device;
        device.CAN_SetInterface(c.url);
        const int linesBefore = log.count("");
        EXPECT_EQ(device.CAN_InitDriver(), CanDeviceStatus::Unreachable);
        EXPECT_EQ(log.count(c.hint), 1);
        EXPECT_EQ(log.count(""), linesBefore + 1); // one line per failure
    }
    QLoggingCategory::setFilterRules(QString());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    // Qt's virtualcan bus is served by the thread of the first device that opens it in a process,
    // and only while that thread runs. A device held open for the whole run serves it here, as a
    // second program would.
    std::unique_ptr<QThread> busHost(QThread::create([] {
        std::unique_ptr<QCanBusDevice> device(
            QCanBus::instance()->createDevice(QStringLiteral("virtualcan"), QStringLiteral("can0")));
        if (device && device->connectDevice())
            QEventLoop().exec();
    }));
    busHost->start();
    const int result = RUN_ALL_TESTS();
    busHost->quit();
    busHost->wait();
    return result;
}
