// The recorder writes on a thread of its own: a slow disk drops packets instead of stalling the
// caller, a failed write ends the recording with a message, and time stamps are microseconds.

#include "capture_replay/capturecontroler.h"
#include "tests/host/capture_replay/recordings.h"

#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

using namespace std::chrono_literals;

namespace {

qint64 nowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A FIFO stands in for a disk: its writer blocks while nobody reads, and fails once the reader
// is gone.
class Fifo {
public:
    explicit Fifo(const QString& path) : m_path(path.toLocal8Bit()) {
        std::signal(SIGPIPE, SIG_IGN); // a write without reader fails with EPIPE instead
        if (mkfifo(m_path.constData(), 0600) == 0)
            m_reader = open(m_path.constData(), O_RDONLY | O_NONBLOCK);
    }
    ~Fifo() { closeReader(); }
    bool ready() const { return m_reader >= 0; }
    void closeReader() {
        if (m_reader >= 0)
            close(m_reader);
        m_reader = -1;
    }
    QByteArray drain() {
        fcntl(m_reader, F_SETFL, fcntl(m_reader, F_GETFL) & ~O_NONBLOCK);
        QByteArray all;
        char buffer[65536];
        ssize_t got;
        while ((got = read(m_reader, buffer, sizeof buffer)) > 0)
            all.append(buffer, qsizetype(got));
        return all;
    }

private:
    QByteArray m_path;
    int m_reader = -1;
};

} // namespace

TEST(RecordingWriterThread, ASlowDiskDropsAndCountsButNeverBlocks) {
    QTemporaryDir dir;
    Fifo fifo(dir.filePath(QStringLiteral("slow.rec")));
    ASSERT_TRUE(fifo.ready());
    CaptureControler capture;
    capture.setQueueLimit(1024 * 1024);
    ASSERT_TRUE(capture.startRecording(dir.filePath(QStringLiteral("slow.rec"))))
        << capture.errorString().toStdString();
    const QByteArray packet(256 * 1024, 'p');
    const int sent = 64;
    for (int i = 0; i < sent; ++i)
        capture.writePacket(packet); // the writer is stuck on the full pipe: these must return
    EXPECT_TRUE(capture.isRecording());
    EXPECT_GT(capture.droppedPackets(), 0);
    EXPECT_LE(capture.recordedPackets(), 5) << "about 1 MiB fits the queue";
    EXPECT_EQ(capture.recordedPackets() + capture.droppedPackets(), sent);
    const qint64 accepted = capture.recordedPackets();

    QByteArray file;
    std::thread reader([&] { file = fifo.drain(); });
    capture.stopRecoding();
    reader.join();
    EXPECT_EQ(capture.recordedPackets(), accepted) << "what was queued is written at the stop";
    const ReadResult r = readRecording(file);
    ASSERT_TRUE(r.opened) << r.error.toStdString();
    EXPECT_EQ(r.last, RecordingReader::Status::End);
    ASSERT_EQ(qint64(r.packets.size()), accepted);
    for (const RecordedPacket& p : r.packets)
        EXPECT_EQ(p.data, packet);
}

TEST(RecordingWriterThread, AFailedWriteEndsTheRecordingWithAMessage) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("gone.rec"));
    Fifo fifo(path);
    ASSERT_TRUE(fifo.ready());
    CaptureControler capture;
    // The message is written before the count that the test waits for, which publishes it.
    std::atomic<int> failures{0}, stops{0};
    QString message;
    QObject::connect(
        &capture, &CaptureControler::recordingFailed, &capture,
        [&](const QString& text) { message = text, ++failures; }, Qt::DirectConnection);
    QObject::connect(
        &capture, &CaptureControler::recordingStopped, &capture, [&] { ++stops; }, Qt::DirectConnection);
    ASSERT_TRUE(capture.startRecording(path));
    fifo.closeReader(); // the "disk" goes away
    capture.writePacket(QByteArray(100, 'x'));
    ASSERT_TRUE(QTest::qWaitFor([&] { return failures.load() == 1 && stops.load() == 1; }, 5000));
    EXPECT_FALSE(capture.isRecording());
    EXPECT_TRUE(message.startsWith(QStringLiteral("Recording stopped: cannot write to")))
        << message.toStdString();
    EXPECT_EQ(capture.errorString(), message);
    EXPECT_EQ(capture.droppedPackets(), 1);
    capture.writePacket("ignored");
    capture.stopRecoding(); // nothing left to stop: no second report
    EXPECT_EQ(failures.load(), 1);
    EXPECT_EQ(stops.load(), 1);
    ASSERT_TRUE(capture.startRecording(dir.filePath(QStringLiteral("next.rec")))); // after the failure
    capture.stopRecoding();
}

// Two packets written a measured interval apart read back that interval in microseconds.
TEST(RecordingTimestamps, AreMicrosecondsSinceTheStart) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("clock.rec"));
    CaptureControler capture;
    const qint64 beforeStart = nowUs();
    ASSERT_TRUE(capture.startRecording(path));
    const qint64 afterStart = nowUs();
    const qint64 t0 = nowUs();
    capture.writePacket("first");
    const qint64 t1 = nowUs();
    std::this_thread::sleep_for(250ms);
    const qint64 t2 = nowUs();
    capture.writePacket("second");
    const qint64 t3 = nowUs();
    capture.stopRecoding();

    const ReadResult r = readRecording(readAll(path));
    ASSERT_EQ(r.packets.size(), 2u);
    const RecordedPacket &first = r.packets[0], &second = r.packets[1];
    // Lower bounds allow 1 us: differences of whole microseconds may round apart.
    const qint64 interval = qint64(second.timestampUs) - qint64(first.timestampUs);
    EXPECT_GE(interval, t2 - t1 - 1);
    EXPECT_LE(interval, t3 - t0 + 1);
    EXPECT_GE(qint64(first.timestampUs), t0 - afterStart - 1);
    EXPECT_LE(qint64(first.timestampUs), t1 - beforeStart);
}
