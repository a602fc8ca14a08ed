#include "tests/support/loopbacksocket.h"
#include "tests/support/messagecapture.h"
#include "tests/support/resultstreambuilder.h"

#include "result/capturecontroler_trvaxx.h"
#include "result/dataoutput_trvaxx.h"
#include "result/firmwareclassification_trvaxx.h"
#include "result/packageprocessor_trvaxx.h"
#include "result/resultcache_trvaxx.h"
#include "result/resultloader_trvaxx.h"

#include "kvel/kvel_parse.h"
#include "udp-transport/streamencoder.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cerrno>

namespace {

ChannelBuffer buffer(uint32_t id, const std::vector<uint8_t>& bytes) {
    ChannelBuffer b;
    b.channelId = id;
    b.complete = true;
    b.data = std::make_shared<std::vector<uint8_t>>(bytes);
    b.totalSize = uint32_t(bytes.size());
    return b;
}

} // namespace

TEST(DataOutput, PairsEvenDataWithTheFollowingDescriptionChannel) {
    CycleEntry cycle;
    cycle.channels.push_back(buffer(9, {9, 9})); // description before its data: still paired
    cycle.channels.push_back(buffer(8, {8, 8, 8}));
    cycle.channels.push_back(buffer(14, {14}));    // no 15: nothing
    cycle.channels.push_back(buffer(257, {1, 2})); // odd without data: nothing
    cycle.channels.push_back(buffer(256, {2, 5, 6}));
    cycle.channels.push_back(buffer(9, {7})); // a second 9: the first wins
    std::vector<KvelChunk> chunks;
    DataOutput_TRVAXX::buildChunks(cycle, chunks);
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0].channel, 8);
    EXPECT_EQ(chunks[0].dataLength, 3u);
    EXPECT_EQ(chunks[0].descriptionLength, 2u);
    EXPECT_EQ(chunks[0].data, reinterpret_cast<const char*>(cycle.channels[1].bytes())); // no copy
    EXPECT_EQ(chunks[1].channel, 256);
    EXPECT_EQ(chunks[1].descriptionLength, 2u);
}

TEST(DataOutput, RecordsCompleteCyclesAndInterpretsOnlyEarlyDspHandOuts) {
    resulttest::CycleBuilder builder(resulttest::Variant::DI, {});
    builder.fillImage(12);
    CycleEntry cycle;
    for (const resulttest::Channel* c : {&builder.algo, &builder.identity}) {
        cycle.channels.push_back(buffer(uint32_t(c->number), c->data));
        cycle.channels.push_back(buffer(uint32_t(c->number + 1), c->description));
    }
    QTemporaryDir dir;
    ResultCache_TRVAXX cache;
    PackageProcessor_TRVAXX processor(&cache);
    CaptureControler_TRVAXX recorder;
    DataOutput_TRVAXX output(&recorder, &processor);

    output.output(1, cycle, false); // complete, not recording: nothing
    EXPECT_FALSE(cache.getResult());
    ASSERT_TRUE(recorder.startRecording(dir.filePath("a.rec")));
    output.output(2, cycle, true); // KP: ignored
    EXPECT_FALSE(cache.getResult());
    output.output(1, cycle, true); // early hand-out: interpreted, not recorded
    ASSERT_TRUE(cache.getResult());
    EXPECT_EQ(cache.getResult()->frameCounter(), 12u);
    EXPECT_EQ(recorder.recordedPackets(), 0);
    output.output(1, cycle, false); // complete: recorded
    EXPECT_EQ(recorder.recordedPackets(), 1);
    recorder.stopRecoding();
}

TEST(ResultLoaderLogging, ThresholdAndMissingPacketsFilter) {
    MessageCapture capture;
    ResultLoaderLogging_TRVAXX logger;
    logger.log(5, "debug %d", 1);
    EXPECT_TRUE(capture.all().isEmpty());
    logger.log(1, "Packet with invalid SubDevice %d found (1=DSP, 2=KP)", 7);
    ASSERT_EQ(capture.all().size(), 1);
    EXPECT_TRUE(capture.all()[0].startsWith("Wek[1]Packet with invalid SubDevice 7 found"));
    EXPECT_TRUE(capture.all()[0].contains("\n   Loc: ["));
    for (int i = 0; i < 6; ++i)
        logger.log(1, "Missing packets. ");
    EXPECT_EQ(capture.count("Missing packets. "), 2);
    EXPECT_EQ(capture.count(QString::fromLatin1(ResultLoaderLogging_TRVAXX::MISSING_PACKETS_FILTER_TEXT)), 1);
    EXPECT_EQ(capture.all().size(), 4);
    EXPECT_EQ(logger.getMissingPacketsCount(), 6);
    // A long message is not cut.
    const std::string longText(2000, 'x');
    logger.log(1, "%s", longText.c_str());
    EXPECT_TRUE(capture.all().last().contains(QString::fromStdString(longText)));
    logger.setThreshold(8);
    logger.log(8, "trace");
    EXPECT_TRUE(capture.all().last().startsWith("Wek[8]trace"));
}

class ResultLoaderStart : public ::testing::Test {
protected:
    void SetUp() override { loader.setWakeUp(UdpSocket::WakeUp::None); }
    MessageCapture capture;
    ResultCache_TRVAXX cache;
    PackageProcessor_TRVAXX processor{&cache};
    ResultLoader_TRVAXX loader{nullptr, &processor};
};

TEST_F(ResultLoaderStart, UnusableAddressOrPortLeavesTheLoaderStopped) {
    EXPECT_NE(loader.start(0, "300.1.1.1"), 0);
    EXPECT_FALSE(loader.isRunning());
    EXPECT_EQ(capture.count("FWUpdater_TRVAxx: Unable to start ethReceiver!"), 1);
    const LoopbackSocket holder("0.0.0.0");
    EXPECT_NE(loader.start(holder.port(), "0.0.0.0"), 0);
    EXPECT_FALSE(loader.isRunning());
    EXPECT_EQ(capture.count("FWUpdater_TRVAxx: Unable to start ethReceiver!"), 2);
    // The receive thread ended with its reason, the address in use.
    const QStringList bind = capture.all().filter(QStringLiteral("Socket bind error:"));
    ASSERT_EQ(bind.size(), 1);
    EXPECT_TRUE(bind[0].contains(QString::number(EADDRINUSE))) << bind[0].toStdString();
    EXPECT_EQ(capture.count("Thread will stop now"), 1);
    EXPECT_EQ(loader.start(0, "127.0.0.1"), 0);
    EXPECT_TRUE(loader.isRunning());
    loader.stop();
    EXPECT_FALSE(loader.isRunning());
    EXPECT_FALSE(loader.hasIpAddressConflict());
}

// A restart moves a running loader to the new port and sender; the counters, published on a timer,
// show which datagrams it took.
TEST_F(ResultLoaderStart, StartOnARunningLoaderTakesTheNewPortAndSender) {
    const LoopbackSocket first("127.0.0.1"), second("127.0.0.2");
    ASSERT_EQ(loader.start(0, "127.0.0.1"), 0);
    const quint16 oldPort = loader.boundPort();
    ASSERT_NE(oldPort, 0);
    const quint16 newPort = LoopbackSocket("0.0.0.0").port(); // free once the probe is closed
    ASSERT_EQ(loader.start(newPort, "127.0.0.2"), 0);
    EXPECT_TRUE(loader.isRunning());
    EXPECT_EQ(loader.boundPort(), newPort);

    // One datagram of a cycle that never ends, from each sender; only the chosen one counts.
    udpframing::StreamEncoder dsp(udpframing::kSubDeviceDsp), other(udpframing::kSubDeviceDsp);
    second.send(newPort,
                dsp.encodeCycle(1, {udpframing::makeChannel(8, udpframing::Bytes(4000, 2))}).front());
    const auto fromFirst = other.encodeCycle(1, {udpframing::makeChannel(8, udpframing::Bytes(100, 1))});
    first.send(newPort, fromFirst.front());
    first.send(oldPort, fromFirst.front());
    EXPECT_TRUE(waitUntil([&] { return loader.getStatistics().dspPackets == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(600)); // one more publication: still one
    EXPECT_EQ(loader.getStatistics().dspPackets, 1u);
    loader.stop();
}

TEST(FirmwareClassification, VariantVersionAndModelGiveTheCode) {
    // The codes of each variant are met through the package processor; here the gaps and bounds.
    using namespace FirmwareClassification_TRVAXX;
    EXPECT_EQ(classify("3.1.0", "LG", "TRVAFN"), 8);
    EXPECT_EQ(classify("3.5.0", "OD", "TRVAFN"), 8);
    EXPECT_EQ(classify("3.1.9", "DI", "TRVAFN"), 1);
    EXPECT_EQ(classify("3.3.0", "di", "TRVADN"), 8); // case-sensitive
    EXPECT_EQ(classify("", "", ""), 8);
    EXPECT_EQ(classifyWithAge("2.0.9", "LG", "TRVAFN"), 9);
    EXPECT_EQ(classifyWithAge("2.1.9", "OD", "TRVAFN"), 9);
    EXPECT_EQ(classifyWithAge("3.9.0", "OD", "TRVAFN"), 8);
    EXPECT_EQ(classifyWithAge("garbage", "DI", "TRVAFN"), 8);
    EXPECT_TRUE(isVersionAtLeast("2.10.0", 2, 2, 0));
    EXPECT_FALSE(isVersionAtLeast("2.1", 2, 1, 0));
    EXPECT_FALSE(isVersionAtLeast("2.1.x", 2, 1, 0));
}
