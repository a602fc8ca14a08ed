// ReplayPlayer; the replay window's buttons drive it in tests/host/app.
#include "capture_replay/replayplayer.h"
#include "tests/host/capture_replay/recordings.h"

#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Delivered {
    std::mutex mutex;
    std::vector<QByteArray> packets;
    std::vector<quint64> timestamps;
    void add(const char* d, unsigned n, quint64 ts) {
        std::lock_guard<std::mutex> lock(mutex);
        packets.emplace_back(d, int(n));
        timestamps.push_back(ts);
    }
    std::size_t size() {
        std::lock_guard<std::mutex> lock(mutex);
        return packets.size();
    }
};

// A player of a recording of packets "p0", "p1", ... that delivers into `got`.
class ReplayPlayerTest : public ::testing::Test {
protected:
    bool open(const std::vector<quint64>& timestampsUs) {
        const bool opened =
            player.open(writeRecording(dir.filePath(QStringLiteral("play.rec")), timestampsUs));
        player.setHandler([this](const char* d, unsigned n, quint64 t) { got.add(d, n, t); });
        return opened;
    }
    void playToEnd() {
        player.setSpeed(0);
        ASSERT_TRUE(player.start());
        ASSERT_TRUE(player.waitForFinished(10000));
        player.stop();
    }

    QTemporaryDir dir;
    Delivered got;
    ReplayPlayer player; // after got: stops delivering before got goes
};

TEST_F(ReplayPlayerTest, FastPlaybackDeliversEveryPacketInOrder) {
    const std::vector<quint64> ts = evenly(50, 1'000'000); // 50 s of recording
    ASSERT_TRUE(open(ts));
    QSignalSpy finished(&player, &ReplayPlayer::finished);
    playToEnd();
    ASSERT_EQ(got.size(), 50u);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(got.packets[std::size_t(i)], "p" + QByteArray::number(i));
        EXPECT_EQ(got.timestamps[std::size_t(i)], ts[std::size_t(i)]);
    }
    ASSERT_EQ(finished.count(), 1);
    EXPECT_EQ(finished.at(0).at(0).toLongLong(), 50);
    EXPECT_FALSE(finished.at(0).at(1).toBool());
    EXPECT_EQ(player.packetsDelivered(), 50);

    playToEnd(); // a second start plays the recording again
    EXPECT_EQ(got.size(), 100u);
}

TEST_F(ReplayPlayerTest, StopEndsPlaybackAndNothingArrivesAfterIt) {
    ASSERT_TRUE(open(evenly(100, 50'000))); // 5 s
    ASSERT_TRUE(player.start());
    EXPECT_FALSE(player.start()); // already playing
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    player.stop();
    const std::size_t atStop = got.size();
    EXPECT_GE(atStop, 1u);
    EXPECT_LT(atStop, 100u);
    EXPECT_FALSE(player.isPlaying());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(got.size(), atStop);
}

TEST_F(ReplayPlayerTest, ThrowingHandlerDoesNotEndPlayback) {
    ASSERT_TRUE(open({0, 1, 2}));
    int calls = 0;
    player.setHandler([&](const char*, unsigned, quint64) {
        if (++calls == 2)
            throw std::runtime_error("bad packet");
    });
    playToEnd();
    EXPECT_EQ(calls, 3);
}

// Waits (up to 5 s) until the player's current packet is `index`.
bool reaches(const ReplayPlayer& player, qint64 index) {
    const auto until = Clock::now() + std::chrono::seconds(5);
    while (player.currentPacket() != index && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return player.currentPacket() == index;
}

TEST_F(ReplayPlayerTest, StepSeekPauseAndSpeedMoveTheFrameCounter) {
    ASSERT_TRUE(open(evenly(60, 40'000))); // 25 Hz
    EXPECT_EQ(player.packetCount(), 60);
    EXPECT_EQ(player.durationUs(), 59u * 40'000);

    ASSERT_TRUE(player.start(true));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(player.currentPacket(), -1) << "started paused";
    player.step();
    ASSERT_TRUE(reaches(player, 0));
    player.step();
    ASSERT_TRUE(reaches(player, 1));
    player.seek(30);
    ASSERT_TRUE(reaches(player, 30)) << "a paused seek shows its packet";
    player.seek(1000);
    ASSERT_TRUE(reaches(player, 59)) << "clamped to the last packet";
    player.seek(10);
    ASSERT_TRUE(reaches(player, 10));
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(player.currentPacket(), 10) << "nothing more while paused";

    // Twice the recorded pace: the recording time never runs ahead of twice the wall time (the pace
    // check for every speed: they share the code).
    player.setSpeed(2.0);
    const auto resumed = Clock::now();
    const quint64 from = player.positionUs();
    player.setPaused(false);
    ASSERT_TRUE(reaches(player, 40));
    const double wallUs =
        double(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - resumed).count());
    EXPECT_LE(double(player.positionUs() - from), 2 * wallUs + 40'000);
    player.stop(); // joined: the delivery thread has ended
    const std::vector<QByteArray> order(got.packets.begin(), got.packets.begin() + 6);
    EXPECT_EQ(order, (std::vector<QByteArray>{"p0", "p1", "p30", "p59", "p10", "p11"}));
}

} // namespace
