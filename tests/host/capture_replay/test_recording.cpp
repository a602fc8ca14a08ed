// Recording files: round trip through CaptureControler and RecordingReader, crash-cut and
// corrupted files, foreign files, and writePacket racing with start/stop.
#include "capture_replay/capturecontroler.h"
#include "capture_replay/recordingformat.h"
#include "tests/host/capture_replay/recordings.h"

#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace {

QByteArray packetBytes(int index, int size) {
    QByteArray p(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        p[i] = char((index * 31 + i * 7) & 0xFF);
    return p;
}

class RecordingTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    // A recording of `count` packets of growing sizes (the first one empty) made by the controller,
    // with the offsets where its records end (the first: where the header ends).
    struct Made {
        QByteArray file;
        std::vector<QByteArray> packets;
        std::vector<int> ends;
        std::size_t completeAt(int offset) const {
            return std::size_t(
                std::count_if(ends.begin() + 1, ends.end(), [&](int e) { return e <= offset; }));
        }
    };
    Made makeRecording(int count) {
        Made m;
        CaptureControler capture;
        capture.setWritingContext(QStringLiteral("vlr_trv_DSP"), 0x10000, 4223);
        EXPECT_TRUE(capture.startRecording(path("r.rec")));
        int records = 0;
        for (int i = 0; i < count; ++i) {
            m.packets.push_back(packetBytes(i, i * 13));
            capture.writePacket(m.packets.back());
            records += int(RecordingFormat::kPacketHeaderSize) + m.packets.back().size();
        }
        capture.stopRecoding();
        m.file = readAll(path("r.rec"));
        m.ends.push_back(int(m.file.size()) - records);
        for (const QByteArray& p : m.packets)
            m.ends.push_back(m.ends.back() + int(RecordingFormat::kPacketHeaderSize) + p.size());
        EXPECT_EQ(m.ends.back(), m.file.size());
        return m;
    }
};

TEST_F(RecordingTest, RoundTripKeepsContextPacketsAndOrder) {
    CaptureControler capture;
    capture.setWritingContext(QStringLiteral("vlr_trv_DSP"), 0x10000, 4223);
    QSignalSpy started(&capture, &CaptureControler::recordingStarted);
    QSignalSpy stopped(&capture, &CaptureControler::recordingStopped);
    capture.writePacket("ignored while idle");

    const QDateTime before = QDateTime::currentDateTimeUtc().addMSecs(-1);
    ASSERT_TRUE(capture.startRecording(path("a.rec"))) << capture.errorString().toStdString();
    // A new context applies to the next recording only.
    capture.setWritingContext(QString::fromUtf8("zweite \xc3\xa4"), 3, 4);
    std::vector<QByteArray> packets;
    for (int i = 0; i < 20; ++i) {
        packets.push_back(packetBytes(i, i == 0 ? 0 : 1000 + i));
        capture.writePacket(packets.back());
    }
    EXPECT_EQ(capture.recordedPackets(), 20);
    capture.stopRecoding();
    capture.writePacket("ignored after stop");
    EXPECT_FALSE(capture.isRecording());
    EXPECT_EQ(started.count(), 1);
    ASSERT_EQ(stopped.count(), 1);
    EXPECT_EQ(stopped.at(0).at(1).toLongLong(), 20);

    RecordingReader reader;
    ASSERT_TRUE(reader.open(path("a.rec"))) << reader.errorString().toStdString();
    EXPECT_EQ(reader.info().writingContext, QStringLiteral("vlr_trv_DSP"));
    EXPECT_EQ(reader.info().frameType, 0x10000u);
    EXPECT_EQ(reader.info().frameSubtype, 4223u);
    EXPECT_GE(reader.info().startTime, before);
    EXPECT_LE(reader.info().startTime, QDateTime::currentDateTimeUtc());

    RecordedPacket p; // time stamps: test_recording_writer
    for (const QByteArray& expected : packets) {
        ASSERT_EQ(reader.readPacket(p), RecordingReader::Status::Packet);
        EXPECT_EQ(p.data, expected);
    }
    EXPECT_EQ(reader.readPacket(p), RecordingReader::Status::End);
    EXPECT_TRUE(reader.errorString().isEmpty());

    ASSERT_TRUE(capture.startRecording(path("b.rec")));
    capture.stopRecoding();
    RecordingReader next;
    ASSERT_TRUE(next.open(path("b.rec")));
    EXPECT_EQ(next.info().writingContext, QString::fromUtf8("zweite \xc3\xa4"));
    EXPECT_EQ(next.info().frameType, 3u);
    EXPECT_EQ(next.info().frameSubtype, 4u);
}

TEST_F(RecordingTest, StartFailsClearlyWhenBusyOrUnwritable) {
    CaptureControler capture;
    QSignalSpy failed(&capture, &CaptureControler::recordingFailed);
    EXPECT_FALSE(capture.startRecording(path("missing-dir/x.rec")));
    EXPECT_FALSE(capture.isRecording());
    EXPECT_TRUE(capture.errorString().contains(QStringLiteral("missing-dir")));
    ASSERT_TRUE(capture.startRecording(path("a.rec")));
    EXPECT_FALSE(capture.startRecording(path("b.rec")));
    EXPECT_TRUE(capture.isRecording()); // the running recording goes on
    EXPECT_EQ(failed.count(), 2);
    capture.writePacket("x");
    capture.stopRecoding();
    EXPECT_EQ(readRecording(readAll(path("a.rec"))).packets.size(), 1u);
}

// A file cut anywhere, or with any bit flipped, delivers every packet before the cut or the damage
// unchanged and then stops; a damaged header is not opened.
TEST_F(RecordingTest, CutOrFlippedFileReadsUpToItsLastIntactPacket) {
    const Made m = makeRecording(6);
    for (int pos = 0; pos <= m.file.size(); ++pos) {
        for (int flip : {-1, 0, 7}) { // -1: cut at pos, else flip that bit of the byte at pos
            if (flip >= 0 && pos == m.file.size())
                continue;
            QByteArray bytes = flip < 0 ? m.file.left(pos) : m.file;
            if (flip >= 0)
                bytes[pos] = char(bytes[pos] ^ (1 << flip));
            SCOPED_TRACE(testing::Message() << "at " << pos << " flip " << flip);
            const ReadResult r = readRecording(bytes);
            if (pos < m.ends[0]) {
                EXPECT_FALSE(r.opened);
                EXPECT_FALSE(r.error.isEmpty());
                continue;
            }
            ASSERT_TRUE(r.opened);
            const std::size_t intact = m.completeAt(pos);
            ASSERT_EQ(r.packets.size(), intact);
            for (std::size_t i = 0; i < intact; ++i)
                EXPECT_EQ(r.packets[i].data, m.packets[i]);
            const bool atBoundary = flip < 0 && m.ends[intact] == pos;
            EXPECT_EQ(r.last, atBoundary ? RecordingReader::Status::End : RecordingReader::Status::Damaged);
            if (flip < 0 && !atBoundary) {
                EXPECT_TRUE(r.error.contains(QStringLiteral("cut off"))) << r.error.toStdString();
            }
        }
    }
}

TEST_F(RecordingTest, ForeignAndFutureFilesAreRefusedWithAReason) {
    const QByteArray good = makeRecording(1).file;
    QByteArray future = good;
    future[8] = 2;
    QByteArray longContext = good;
    longContext[28] = char(0xFF);
    longContext[29] = char(0xFF);
    const std::pair<QByteArray, const char*> cases[] = {
        {QByteArray(), "not a recording"},
        {QByteArray("hello, this is a text file\n"), "not a recording"},
        {QByteArray(200, '\0'), "not a recording"},
        {future, "version 2"},
        {longContext, "damaged header"}};
    for (const auto& [bytes, reason] : cases) {
        const ReadResult r = readRecording(bytes);
        EXPECT_FALSE(r.opened);
        EXPECT_TRUE(r.error.contains(QLatin1String(reason))) << r.error.toStdString();
    }
    RecordingReader reader;
    EXPECT_FALSE(reader.open(path("does-not-exist.rec")));
    EXPECT_TRUE(reader.errorString().contains(QStringLiteral("does-not-exist.rec")));
}

// writePacket comes from the receive thread while the GUI thread starts and stops recordings:
// every file must be complete and readable, packets never land outside a recording.
TEST_F(RecordingTest, ConcurrentWritePacketWhileStartingAndStopping) {
    CaptureControler capture;
    capture.setWritingContext(QStringLiteral("race"), 7, 8);
    std::atomic<bool> done{false};
    std::atomic<int> calls{0};
    std::thread writer([&] {
        const QByteArray p = packetBytes(1, 300);
        while (!done.load()) {
            capture.writePacket(p);
            ++calls;
        }
    });
    qint64 counted = 0;
    const int rounds = 30;
    for (int i = 0; i < rounds; ++i) {
        ASSERT_TRUE(capture.startRecording(dir.filePath(QStringLiteral("race%1.rec").arg(i))));
        const int until = calls.load() + 20;
        while (calls.load() < until)
            std::this_thread::yield();
        capture.stopRecoding();
        counted += capture.recordedPackets();
    }
    done = true;
    writer.join();

    qint64 read = 0;
    for (int i = 0; i < rounds; ++i) {
        const ReadResult r = readRecording(readAll(dir.filePath(QStringLiteral("race%1.rec").arg(i))));
        ASSERT_TRUE(r.opened);
        EXPECT_EQ(r.last, RecordingReader::Status::End) << r.error.toStdString();
        EXPECT_GT(r.packets.size(), 0u);
        read += qint64(r.packets.size());
    }
    EXPECT_EQ(read, counted);
}

TEST(RecordingWriterTest, RefusesPacketsTheFormatCannotHold) {
    QTemporaryDir dir;
    RecordingWriter writer;
    EXPECT_FALSE(writer.writePacket(0, "x", 1)); // not open
    ASSERT_TRUE(writer.open(dir.filePath(QStringLiteral("w.rec")), QString(), 0, 0, 0));
    EXPECT_FALSE(writer.writePacket(0, "x", std::size_t(RecordingFormat::kMaxPacketSize) + 1));
    EXPECT_TRUE(writer.writePacket(5, "x", 1));
    EXPECT_FALSE(
        writer.open(dir.filePath(QStringLiteral("w2.rec")), QString(1025, QLatin1Char('c')), 0, 0, 0));
}

} // namespace
