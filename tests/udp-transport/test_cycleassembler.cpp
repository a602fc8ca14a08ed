#include "tests/support/recorders.h"
#include "tests/udp-transport/datagrams.h"
#include "udp-transport/cycleassembler.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>

using namespace udpframing;

namespace {

// A channel framed from an explicit header, for parts and faults the encoder does not make.
FramedChannel rawChannel(std::uint32_t id, const Bytes& body, ChannelHeader header, bool withLrc = true,
                         std::uint32_t endDelimiter = kEndDelimiter) {
    return {id, frameChannel(body.data(), body.size(), header, withLrc, endDelimiter)};
}

ChannelHeader partHeader(std::uint16_t part, std::uint16_t parts, std::uint32_t offset, std::uint32_t size,
                         std::uint32_t total) {
    return {kStartDelimiter, 0, 0, part, parts, offset, size, total};
}

std::vector<std::uint32_t> ids(const std::vector<RecordingOutput::Handout>& handouts) {
    std::vector<std::uint32_t> result;
    for (const auto& h : handouts)
        result.push_back(h.cycleId);
    return result;
}

const RecordingOutput::Channel* findChannel(const RecordingOutput::Handout& handout, std::uint32_t id) {
    for (const auto& channel : handout.channels)
        if (channel.id == id)
            return &channel;
    return nullptr;
}

// Little-endian fields written from a flat list of {offset, value, width} triples.
void put(Bytes& bytes, std::initializer_list<std::uint64_t> fields) {
    for (auto f = fields.begin(); f + 2 < fields.end(); f += 3)
        for (std::uint64_t i = 0; i < f[2]; ++i)
            bytes[std::size_t(f[0] + i)] = std::uint8_t(f[1] >> (8 * i));
}

class CycleAssemblerTest : public ::testing::Test {
protected:
    explicit CycleAssemblerTest(std::uint64_t budget = CycleAssembler::kMaxStoredBytes)
        : assembler(output, logger, budget) {}
    // What the receive loop does with every datagram.
    void feed(const Bytes& datagram) {
        assembler.processPacket(datagram.data(), datagram.size());
        assembler.deliverCycles();
    }
    void feed(const std::vector<Bytes>& datagrams) {
        for (const Bytes& d : datagrams)
            feed(d);
    }
    void sendCycle(StreamEncoder& encoder, std::uint32_t cycle, const std::vector<FramedChannel>& channels) {
        feed(encoder.encodeCycle(cycle, channels));
    }
    // The first datagram of the next cycle, which triggers the hand-out of the previous one.
    void startCycle(StreamEncoder& encoder, std::uint32_t cycle) {
        feed(encoder.encodeCycle(cycle, {makeChannel(2, {1, 2, 3, 4})}).front());
    }
    std::vector<FramedChannel> typicalDspCycle(std::uint8_t seed) {
        return {makeChannel(8, pattern(30000, seed)), makeChannel(9, pattern(2100, seed)),
                makeChannel(14, pattern(900, seed)), makeChannel(15, pattern(400, seed))};
    }

    RecordingOutput output;
    RecordingLogger logger;
    CycleAssembler assembler;
    StreamEncoder dsp{kSubDeviceDsp};
    StreamEncoder kp{kSubDeviceKp};
};

// Datagrams refused one at a time, each edited from a good one: the one log line, whether it was
// counted before the refusal, and no trace in the continuity check (a refused channel's datagram
// has taken its place in the count).
TEST_F(CycleAssemblerTest, EachRefusedDatagramLogsOneLine) {
    const Bytes good = StreamEncoder(kSubDeviceDsp).encodeCycle(1, {makeChannel(8, pattern(8, 1))})[0];
    const auto edited = [&](std::initializer_list<std::pair<std::size_t, std::uint32_t>> fields, int width,
                            std::size_t size = 0) {
        Bytes d = good;
        for (const auto& [at, value] : fields)
            put(d, {at, value, std::uint64_t(width)});
        d.resize(size ? size : d.size());
        return d;
    };
    const struct {
        Bytes datagram;
        std::string line;
        int level;
        std::uint64_t counted;
        bool taken = false;
    } cases[] = {
        {Bytes(31, 0), "Packet is smaller (31 bytes) than the packet header (32 bytes)", 5, 0},
        {edited({{dgram::kSubDevice, 3}}, 2), "Packet with invalid SubDevice 3 found (1=DSP, 2=KP)", 1, 0},
        {edited({{dgram::kIndexInCycle, 1}}, 2), "IndexOfPacketInCycle (1) >= NumberOfPacketsInCycle (1)", 1,
         1},
        {edited({{dgram::kIndexInChannel, 7}}, 2),
         "IndexOfPacketInChannel (7) >= NumberOfPacketsInChannel (1)", 1, 1},
        // A length beyond what arrived is refused before anything is allocated.
        {edited({{dgram::kTotalLength, 1000000}}, 4),
         "ProcessChannel 8: total length 1000000 exceeds the 40 bytes received\n", 1, 1, true},
        // Exactly a header: its empty channel is refused without reading on.
        {edited({{dgram::kTotalLength, 0}, {dgram::kPayloadLength, 0}}, 4, kDatagramHeaderSize),
         "ProcessChannel 8: channel of 0 bytes is shorter than its framing (32 bytes)\n", 1, 1, true},
        // Channel headers that contradict themselves or their datagram.
        {edited(
             {{kDatagramHeaderSize + chan::kCurrentPart, 2}, {kDatagramHeaderSize + chan::kNumberOfParts, 2}},
             2),
         "ChannelHeader: CurrentPart (2) >= NumberofParts (2) | Channel: 008 Packet Cnt: 00000000", 1, 1,
         true},
        {edited({{kDatagramHeaderSize + chan::kTotalSize, 9}}, 4),
         "Payload length (9 byte) + header length (32 byte) must be the same as the total channel length (40 "
         "byte)",
         1, 1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        RecordingOutput output;
        RecordingLogger logger;
        CycleAssembler assembler(output, logger);
        assembler.processPacket(c.datagram.data(), c.datagram.size());
        const auto found = logger.matching(c.line, c.level);
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0].text, c.line);
        EXPECT_EQ(logger.count("", 1), c.level == 1 ? 1u : 0u) << "no other error line";
        EXPECT_EQ(assembler.counters().dspPackets, c.counted);
        const Bytes next = edited({{dgram::kPacketCounter, c.taken ? 1 : 0}}, 4);
        assembler.processPacket(next.data(), next.size());
        EXPECT_EQ(assembler.counters().missingPacketEvents, 0u);
        EXPECT_TRUE(output.handouts().empty());
    }
    assembler.processPacket(nullptr, 100);
    EXPECT_EQ(logger.count("Packet is smaller", 5), 1u);
}

TEST_F(CycleAssemblerTest, HandsOutEachCycleWhenTheNextBegins) {
    const auto cycle10 = typicalDspCycle(10);
    sendCycle(dsp, 10, cycle10);
    sendCycle(kp, 10, {makeChannel(256, pattern(700, 3)), makeChannel(257, pattern(1500, 4))});
    EXPECT_TRUE(output.handouts().empty()) << "the cycle being received is never handed out";

    // The next cycle's first stored channel (channel 8, its first 21 datagrams) releases cycle 10.
    const auto cycle11 = dsp.encodeCycle(11, typicalDspCycle(11));
    std::size_t releasedAt = 0;
    for (std::size_t i = 0; i < cycle11.size() && output.handouts().empty(); ++i) {
        feed(cycle11[i]);
        releasedAt = i;
    }
    EXPECT_EQ(releasedAt, DatagramHeader::read(cycle11[0].data()).packetsInChannel - 1u);
    const auto handouts = output.handouts();
    ASSERT_EQ(handouts.size(), 2u);
    EXPECT_TRUE(handouts[0].partial);
    EXPECT_FALSE(handouts[1].partial);
    for (const auto& h : handouts) {
        EXPECT_EQ(h.device, 1);
        EXPECT_EQ(h.cycleId, 10u);
        ASSERT_EQ(h.channels.size(), 4u);
        for (std::size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(h.channels[i].id, cycle10[i].channelId);
            EXPECT_TRUE(h.channels[i].complete);
            const Bytes& framed = cycle10[i].bytes;
            EXPECT_EQ(h.channels[i].bytes, Bytes(framed.begin() + 28, framed.end() - 4));
        }
    }
    EXPECT_EQ(output.statisticsCalls(), 1);
    EXPECT_EQ(assembler.state(1).cycles.size(), 1u) << "the delivered cycle is erased";

    for (std::size_t i = releasedAt + 1; i < cycle11.size(); ++i)
        feed(cycle11[i]);
    EXPECT_EQ(output.handouts().size(), 2u);
    startCycle(kp, 11);
    EXPECT_EQ(ids(output.handouts(2, false)), std::vector<std::uint32_t>{10});
    EXPECT_EQ(output.handouts(2, false)[0].channels.size(), 2u);
    startCycle(dsp, 12);
    EXPECT_EQ(ids(output.handouts(1, false)), (std::vector<std::uint32_t>{10, 11}));
    EXPECT_EQ(assembler.counters().missingPacketEvents, 0u);
    EXPECT_EQ(assembler.counters().kpPackets, 4u);
}

TEST_F(CycleAssemblerTest, CycleBeingReceivedStaysEvenWhenItIsTheOldest) {
    // Cycle 3 after cycle 10: the oldest entry while it is still being received.
    sendCycle(dsp, 10, {makeChannel(8, {1})});
    sendCycle(dsp, 3, {makeChannel(8, {2}), makeChannel(9, {3})});
    EXPECT_TRUE(output.handouts().empty());
    startCycle(dsp, 11);
    const auto complete = output.handouts(1, false);
    ASSERT_FALSE(complete.empty());
    EXPECT_EQ(complete[0].cycleId, 3u);
    EXPECT_EQ(complete[0].channels.size(), 2u);
}

TEST_F(CycleAssemblerTest, PacketCounterWrapIsContinuous) {
    dsp.setPacketCounter(0xFFFFFFF0u);
    for (std::uint32_t cycle = 1; cycle <= 3; ++cycle)
        sendCycle(dsp, cycle, typicalDspCycle(static_cast<std::uint8_t>(cycle)));
    EXPECT_LT(dsp.packetCounter(), 0x100u) << "the counter wrapped inside the stream";
    startCycle(dsp, 4);
    EXPECT_EQ(assembler.counters().missingPacketEvents, 0u);
    EXPECT_EQ(ids(output.handouts(1, false)), (std::vector<std::uint32_t>{1, 2, 3}));
}

TEST_F(CycleAssemblerTest, GapResetsTheDeviceAndDropsTheDatagram) {
    sendCycle(dsp, 1, typicalDspCycle(1));
    auto cycle2 = dsp.encodeCycle(2, typicalDspCycle(2));
    // Lose the second datagram of channel 9, after channel 8 of cycle 2 has released cycle 1.
    cycle2.erase(cycle2.begin() + DatagramHeader::read(cycle2[0].data()).packetsInChannel + 1);
    feed(cycle2);
    EXPECT_EQ(assembler.counters().missingPacketEvents, 1u);
    ASSERT_EQ(logger.count("Missing packets", 1), 1u);
    EXPECT_EQ(logger.matching("Missing packets")[0].text, "Missing packets. ");
    // After the gap nothing is collected until the next cycle starts.
    EXPECT_TRUE(assembler.state(1).cycles.empty());

    // KP is not affected by a DSP gap.
    sendCycle(kp, 1, {makeChannel(256, pattern(50, 1))});
    sendCycle(dsp, 3, typicalDspCycle(3));
    startCycle(dsp, 4);
    startCycle(kp, 2);
    EXPECT_EQ(ids(output.handouts(1, false)), (std::vector<std::uint32_t>{1, 3}));
    EXPECT_EQ(ids(output.handouts(2, false)), std::vector<std::uint32_t>{1});
    EXPECT_EQ(assembler.counters().missingPacketEvents, 1u);
}

TEST_F(CycleAssemblerTest, CollectsOnlyAfterACycleStart) {
    auto cycle5 = dsp.encodeCycle(5, typicalDspCycle(5));
    cycle5.erase(cycle5.begin()); // the stream is joined in the middle of cycle 5
    feed(cycle5);
    EXPECT_EQ(logger.count("ProcessChannel: packet list has no elements", 5), 4u);
    sendCycle(dsp, 6, typicalDspCycle(6));
    startCycle(dsp, 7);
    EXPECT_EQ(ids(output.handouts(1, true)), std::vector<std::uint32_t>{6});
    EXPECT_EQ(ids(output.handouts(1, false)), std::vector<std::uint32_t>{6});
}

TEST_F(CycleAssemblerTest, UnfinishedChannelAtAChannelChangeResets) {
    auto cycle1 = dsp.encodeCycle(1, typicalDspCycle(1));
    // The last datagram of channel 8 is lost, but the counter stays continuous.
    const std::size_t last = DatagramHeader::read(cycle1[0].data()).packetsInChannel - 1u;
    cycle1.erase(cycle1.begin() + static_cast<std::ptrdiff_t>(last));
    for (auto it = cycle1.begin() + static_cast<std::ptrdiff_t>(last); it != cycle1.end(); ++it)
        writeU32(it->data() + dgram::kPacketCounter, readU32(it->data() + dgram::kPacketCounter) - 1);
    dsp.setPacketCounter(dsp.packetCounter() - 1);
    feed(cycle1);
    const std::string expected = "Still " + std::to_string(last) +
                                 " packets in der packet list although a channel or cycle change occured.";
    EXPECT_EQ(logger.count(expected, 1), 1u);
    sendCycle(dsp, 2, typicalDspCycle(2));
    startCycle(dsp, 3);
    EXPECT_EQ(ids(output.handouts(1, false)), std::vector<std::uint32_t>{2});
    EXPECT_EQ(assembler.counters().missingPacketEvents, 0u);
}

TEST_F(CycleAssemblerTest, ChannelsSplitAcrossTinyDatagrams) {
    // Five payload bytes per datagram: header, body words and end delimiter straddle datagrams.
    StreamEncoder tiny(kSubDeviceDsp, kDatagramHeaderSize + 5);
    const Bytes single = pattern(37, 4);
    const Bytes joined = pattern(61, 8);
    const auto parts = makeParts(40, joined, 2);
    feed(tiny.encodeCycle(1, {makeChannel(8, single), parts[0]}));
    feed(tiny.encodeCycle(2, {makeChannel(8, single), parts[1]}));
    feed(tiny.encodeCycle(3, {makeChannel(8, single)}));
    const auto complete = output.handouts(1, false);
    ASSERT_EQ(ids(complete), (std::vector<std::uint32_t>{1, 2}));
    ASSERT_NE(findChannel(complete[0], 40), nullptr);
    EXPECT_EQ(findChannel(complete[0], 40)->bytes, joined);
    EXPECT_EQ(findChannel(complete[0], 8)->bytes, single);
    EXPECT_EQ(assembler.counters().lrcErrors + assembler.counters().endDelimiterErrors, 0u);
}

TEST_F(CycleAssemblerTest, AnnouncedChannelLengthIsNotTrusted) {
    const FramedChannel channel = makeChannel(8, pattern(8, 1));
    auto datagrams = dsp.encodeCycle(1, {channel});
    // Four stray bytes behind a 40-byte channel: the copy that would pass its end is skipped.
    Bytes first = datagrams[0];
    writeU16(first.data() + dgram::kPacketsInChannel, 2);
    writeU16(first.data() + dgram::kPacketsInCycle, 2);
    Bytes stray(first.begin(), first.begin() + kDatagramHeaderSize);
    stray.resize(kDatagramHeaderSize + 4, 0xEE);
    put(stray, {dgram::kPacketCounter, 1, 4, dgram::kIndexInCycle, 1, 2, dgram::kIndexInChannel, 1, 2});
    testing::internal::CaptureStdout();
    feed(first);
    feed(stray);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "memCopy error: offset=40 length=4 > memsize=40\n");
    dsp.setPacketCounter(2);
    startCycle(dsp, 2);
    ASSERT_EQ(output.handouts(1, false).size(), 1u);
    EXPECT_EQ(output.handouts(1, false)[0].channels.at(0).bytes, pattern(8, 1));
}

TEST_F(CycleAssemblerTest, DelimiterAndChecksumFaults) {
    const ChannelHeader single = partHeader(0, 1, 0, 64, 64); // no LRC (0)
    ChannelHeader badStart = single, wrongLrc = single;
    badStart.startDelimiter = 0x12345678;
    wrongLrc.lrc = 0xDEADBEEF;
    const Bytes body = pattern(64, 9);
    sendCycle(dsp, 3,
              {rawChannel(20, body, badStart), rawChannel(22, body, single, true, 0x11223344),
               rawChannel(24, body, single, false), rawChannel(26, body, wrongLrc, false)});
    startCycle(dsp, 4);

    const StreamStatistics& c = assembler.counters();
    EXPECT_EQ(c.startDelimiterErrors, 1u);
    EXPECT_EQ(c.endDelimiterErrors, 1u);
    EXPECT_EQ(c.lrcErrors, 1u) << "a transmitted LRC of 0 is never checked";
    for (const char* line :
         {"Packet        0 Cycle        3 Ch 20: StartDelimiter is 12345678 instead of 0xaa55aa55",
          "Cycle        3 Ch 22: EndDelimiter is 11223344 instead of 0x55aa55aa",
          "Packet        3 Cycle        3 Ch 26: LRC transmitted: deadbeef calculated on PC: 03d94f75"})
        EXPECT_EQ(logger.count(line, 1), 1u) << line;
    // A wrong start delimiter drops the channel; the others keep it with its body.
    const auto complete = output.handouts(1, false);
    ASSERT_EQ(ids(complete), (std::vector<std::uint32_t>{3}));
    EXPECT_EQ(findChannel(complete[0], 20), nullptr);
    for (std::uint32_t kept : {22u, 24u, 26u}) {
        ASSERT_NE(findChannel(complete[0], kept), nullptr) << kept;
        EXPECT_EQ(findChannel(complete[0], kept)->bytes, body) << kept;
    }
}

TEST_F(CycleAssemblerTest, MultiCycleChannelJoinsIntoTheCycleOfPartZero) {
    const Bytes big = pattern(5000, 77);
    const auto parts = makeParts(40, big, 3);
    for (std::uint32_t k = 0; k < 3; ++k) {
        std::vector<FramedChannel> channels = {makeChannel(8, pattern(3000, static_cast<std::uint8_t>(k))),
                                               parts[k]};
        if (k == 2) // after the completing part: cycle 11 must wait for the next cycle start
            channels.push_back(makeChannel(14, {1, 2, 3}));
        sendCycle(dsp, 10 + k, channels);
    }

    // Cycle 10 went out early at the start of 11, and complete when the last part came in 12.
    const auto partial = output.handouts(1, true);
    ASSERT_EQ(ids(partial), (std::vector<std::uint32_t>{10, 11}));
    ASSERT_NE(findChannel(partial[0], 40), nullptr);
    EXPECT_FALSE(findChannel(partial[0], 40)->complete);
    EXPECT_EQ(findChannel(partial[1], 40), nullptr) << "later parts belong to cycle 10";
    const auto complete = output.handouts(1, false);
    ASSERT_EQ(ids(complete), std::vector<std::uint32_t>{10});
    ASSERT_NE(findChannel(complete[0], 40), nullptr);
    EXPECT_TRUE(findChannel(complete[0], 40)->complete);
    EXPECT_EQ(findChannel(complete[0], 40)->bytes, big);

    startCycle(dsp, 13);
    EXPECT_EQ(ids(output.handouts(1, false)), (std::vector<std::uint32_t>{10, 11}));
    EXPECT_TRUE(logger.matching("", 1).empty()) << logger.matching("", 1).front().text;
}

TEST_F(CycleAssemblerTest, MultiCyclePartsMissingOrOutOfOrder) {
    const Bytes big = pattern(3000, 5);
    const auto parts = makeParts(60, big, 3);
    const auto other = makeParts(50, big, 3);
    // Part 1 whose cycle was never seen: dropped without a word.
    sendCycle(dsp, 20, {makeChannel(8, {1}), other[1]});
    EXPECT_TRUE(logger.matching("", 1).empty());
    // Part 1 of an unknown channel in a known cycle.
    sendCycle(dsp, 21, {makeChannel(8, {1}), parts[0]});
    sendCycle(dsp, 22, {makeChannel(8, {1}), other[1]});
    EXPECT_EQ(logger.matching("Channel 50 starts with multi cycle part 1 (Packet ", 1).size(), 1u);
    // Part 2 right after part 0: reported, never complete.
    sendCycle(dsp, 23, {makeChannel(8, {1}), parts[2]});
    EXPECT_EQ(logger.count("Multi cycle transmission on channel 60: Part 2 after part 0 ", 1), 1u);
    sendCycle(dsp, 24, {makeChannel(8, {1})});
    startCycle(dsp, 25);
    EXPECT_EQ(ids(output.handouts(1, true)), (std::vector<std::uint32_t>{20, 21, 22, 23, 24}));
    EXPECT_EQ(ids(output.handouts(1, false)), std::vector<std::uint32_t>{20}) << "cycle 21 stays incomplete";
}

TEST_F(CycleAssemblerTest, MultiCyclePartsThatBreakTheirBounds) {
    const Bytes body = pattern(100, 1);
    sendCycle(dsp, 30, {makeChannel(8, {1}), rawChannel(70, body, partHeader(0, 2, 0, 100, 200))});
    // A part beyond the two announced: dropped.
    sendCycle(dsp, 33, {makeChannel(8, {1}), rawChannel(70, body, partHeader(3, 4, 100, 100, 200))});
    EXPECT_EQ(logger.count("Channel 70: part 3 is beyond the 2 parts announced by its part 0", 1), 1u);
    // A part size larger than what the part carries: dropped.
    sendCycle(dsp, 31, {makeChannel(8, {1}), rawChannel(70, body, partHeader(1, 2, 100, 105, 200))});
    EXPECT_EQ(logger.count("Partsize 105 is too big", 1), 1u);
    // A part that would pass the end: not copied, but it counts.
    testing::internal::CaptureStdout();
    sendCycle(dsp, 31, {makeChannel(8, {1}), rawChannel(70, body, partHeader(1, 2, 150, 100, 200))});
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "memCopy error: offset=150 length=100 > memsize=200\n");
    startCycle(dsp, 34);
    const auto complete = output.handouts(1, false);
    ASSERT_FALSE(complete.empty());
    EXPECT_EQ(complete[0].cycleId, 30u);
    const auto* joined = findChannel(complete[0], 70);
    ASSERT_NE(joined, nullptr);
    EXPECT_TRUE(joined->complete);
    EXPECT_EQ(Bytes(joined->bytes.begin(), joined->bytes.begin() + 100), body);
    EXPECT_EQ(Bytes(joined->bytes.begin() + 100, joined->bytes.end()), Bytes(100, 0));

    // A part 0 announcing an absurd joined size allocates nothing.
    sendCycle(dsp, 40, {rawChannel(72, body, partHeader(0, 2, 0, 100, 0xFFFFFFF0u))});
    EXPECT_EQ(logger.count("Channel 72: multi cycle total size 4294967280 exceeds the limit", 1), 1u);
}

// A part of a channel the cycle already holds whole leaves that channel as it was.
TEST_F(CycleAssemblerTest, APartOfAChannelHeldWholeIsRefused) {
    sendCycle(
        dsp, 1,
        {makeChannel(74, pattern(50, 3)), rawChannel(74, pattern(100, 1), partHeader(0, 2, 0, 100, 200))});
    startCycle(dsp, 2);
    EXPECT_EQ(logger.count("Channel 74: part 0 of a channel already received in one part", 1), 1u);
    const auto complete = output.handouts(1, false);
    ASSERT_EQ(ids(complete), (std::vector<std::uint32_t>{1}));
    ASSERT_NE(findChannel(complete[0], 74), nullptr);
    EXPECT_EQ(findChannel(complete[0], 74)->bytes, pattern(50, 3));
}

TEST_F(CycleAssemblerTest, KeepsAtMostOneHundredCycles) {
    // Each cycle starts a two-part channel whose second part never comes: none is complete.
    for (std::uint32_t cycle = 0; cycle <= 100; ++cycle)
        sendCycle(dsp, cycle, {makeChannel(8, {1, 2}), makeParts(40, pattern(64, 1), 2)[0]});
    EXPECT_EQ(assembler.state(1).cycles.size(), 100u);
    EXPECT_EQ(assembler.state(1).cycles.begin()->first, 1u);
    const auto cleaned = logger.matching("cleanOutdatedCycles", 5);
    ASSERT_EQ(cleaned.size(), 1u);
    EXPECT_EQ(cleaned[0].text, "cleanOutdatedCycles: Device 1 Delete CycleID 0 Length of List: 101\n");
    // Each cycle went out early exactly once, in order, while it was not the newest.
    std::vector<std::uint32_t> firstHundred(100);
    std::iota(firstHundred.begin(), firstHundred.end(), 0u);
    EXPECT_EQ(ids(output.handouts(1, true)), firstHundred);
    EXPECT_TRUE(output.handouts(1, false).empty());
}

TEST_F(CycleAssemblerTest, EraseUsesLimitOneWhenPartialLagsBehindComplete) {
    for (std::uint32_t cycle = 0; cycle < 6; ++cycle)
        for (const Bytes& d : dsp.encodeCycle(cycle, {makeChannel(8, {1})}))
            assembler.processPacket(d.data(), d.size());
    ASSERT_EQ(assembler.state(1).cycles.size(), 6u);
    assembler.markPartialDelivered(1, 3);
    assembler.eraseDeliveredCycles(1);
    EXPECT_EQ(assembler.state(1).cycles.size(), 6u) << "nothing is erased before a complete hand-out";
    assembler.markCompleteDelivered(1, 4);
    assembler.eraseDeliveredCycles(1);
    EXPECT_EQ(assembler.state(1).cycles.begin()->first, 2u);
    assembler.markPartialDelivered(1, 4);
    assembler.eraseDeliveredCycles(1);
    EXPECT_EQ(assembler.state(1).cycles.begin()->first, 5u);
    // Devices other than 1 and 2 are ignored rather than indexing out of bounds.
    EXPECT_EQ(assembler.takePartialCycle(0), nullptr);
    EXPECT_EQ(assembler.takeCompleteCycle(3), nullptr);
    assembler.cleanOutdatedCycles(-1);
}

class CycleAssemblerBudget : public CycleAssemblerTest {
protected:
    CycleAssemblerBudget() : CycleAssemblerTest(2500) {}
};

TEST_F(CycleAssemblerBudget, StoredCyclesStayWithinTheirBudget) {
    feed(dsp.encodeCycle(1, {makeChannel(8, pattern(1000, 1)), makeChannel(9, pattern(1000, 2)),
                             makeChannel(14, pattern(500, 3))}));
    EXPECT_EQ(logger.count("Channel 14 of 500 bytes dropped: 2256 bytes of cycles are stored already", 1),
              1u);
    EXPECT_EQ(assembler.state(1).storedBytes, 2256u);
    // A part 0 that does not fit is refused as well, before its buffer is allocated.
    feed(dsp.encodeCycle(2, {makeChannel(15, pattern(100, 4)), makeParts(40, pattern(4000, 5), 2)[0]}));
    ASSERT_EQ(ids(output.handouts(1, false)), std::vector<std::uint32_t>{1});
    EXPECT_EQ(output.handouts(1, false)[0].channels.size(), 2u);
    EXPECT_EQ(logger.count("Channel 40 of 4000 bytes dropped", 1), 1u);
    EXPECT_EQ(assembler.state(1).storedBytes, 228u) << "cycle 1 was erased and its bytes released";
}

TEST_F(CycleAssemblerTest, ChannelsPerCycleAreBoundedAndCounted) {
    const std::uint32_t channels = 60000; // nearly as many datagrams as a cycle can number
    for (std::uint32_t cycle = 1; cycle <= 2; ++cycle)
        feed(floodCycle(dsp, cycle, channels));
    startCycle(dsp, 3);
    const auto complete = output.handouts(1, false);
    ASSERT_EQ(complete.size(), 2u);
    for (const auto& handout : complete) {
        ASSERT_EQ(handout.channels.size(), CycleAssembler::kMaxChannelsPerCycle);
        EXPECT_EQ(handout.channels.back().id, CycleAssembler::kMaxChannelsPerCycle - 1)
            << "the first ones are kept";
    }
    EXPECT_EQ(assembler.counters().channelsOverLimit, 2 * (channels - CycleAssembler::kMaxChannelsPerCycle));
    EXPECT_EQ(logger.matching("more than 256 channels", 1).size(), 2u) << "one line per cycle";
    EXPECT_EQ(assembler.counters().missingPacketEvents, 0u);
}

// Datagrams written from literal offsets, not with the encoder: channel 8 in two datagrams, channel
// 9 in one, a channel longer than what arrived, then the next cycle's start.
TEST_F(CycleAssemblerTest, HandWrittenDatagramsReassemble) {
    auto datagram = [](std::uint32_t pktCnt, std::uint16_t nPktCycle, std::uint16_t iPktCycle,
                       std::uint16_t nPktCh, std::uint16_t iPktCh, std::uint32_t chId, std::uint32_t totLen,
                       const Bytes& payload) {
        Bytes d(32 + payload.size());
        put(d, {0,  3,         2, 2,  1,         2, 4,  pktCnt,         4, 8,  41,     4,
                12, nPktCycle, 2, 14, iPktCycle, 2, 16, nPktCh,         2, 18, iPktCh, 2,
                20, chId,      4, 24, totLen,    4, 28, payload.size(), 4});
        std::copy(payload.begin(), payload.end(), d.begin() + 32);
        return d;
    };
    auto channel = [](const Bytes& body) {
        Bytes c(28 + body.size() + 4);
        put(c, {0, 0xAA55AA55u, 4, 4, 0, 4, 8, 17, 4}); // start delimiter, no LRC, rolling counter
        put(c, {12, 0, 2, 14, 1, 2, 16, 0, 4, 20, body.size(), 4, 24, body.size(), 4, c.size() - 4,
                0x55AA55AAu, 4});
        std::copy(body.begin(), body.end(), c.begin() + 28);
        return c;
    };
    const std::string dataText = "data-of-8", descriptionText = "kvd";
    const Bytes data(dataText.begin(), dataText.end()),
        description(descriptionText.begin(), descriptionText.end());
    const Bytes ch8 = channel(data), ch9 = channel(description), ch14 = channel({1, 2, 3});
    const Bytes first(ch8.begin(), ch8.begin() + 20), second(ch8.begin() + 20, ch8.end());

    feed(datagram(100, 4, 0, 2, 0, 8, std::uint32_t(ch8.size()), first));
    feed(datagram(101, 4, 1, 2, 1, 8, std::uint32_t(ch8.size()), second));
    feed(datagram(102, 4, 2, 1, 0, 9, std::uint32_t(ch9.size()), ch9));
    feed(datagram(103, 4, 3, 1, 0, 14, std::uint32_t(ch14.size()) + 10, ch14)); // truncated
    Bytes next = datagram(104, 1, 0, 1, 0, 2, std::uint32_t(ch14.size()), ch14);
    put(next, {8, 42, 4}); // cycle_cnt of the next cycle
    feed(next);

    const auto complete = output.handouts(1, false);
    ASSERT_EQ(complete.size(), 1u);
    EXPECT_EQ(complete[0].cycleId, 41u);
    std::vector<std::pair<std::uint32_t, Bytes>> got;
    for (const auto& c : complete[0].channels)
        got.emplace_back(c.id, c.bytes);
    EXPECT_EQ(got, (std::vector<std::pair<std::uint32_t, Bytes>>{{8, data}, {9, description}}));
    const StreamStatistics& counters = assembler.counters();
    EXPECT_EQ(counters.dspPackets, 5u);
    EXPECT_EQ(counters.truncatedChannels, 1u);
    EXPECT_EQ(counters.missingPacketEvents + counters.lrcErrors + counters.startDelimiterErrors +
                  counters.endDelimiterErrors,
              0u);
}

std::uint32_t lrcOf(const std::vector<std::uint8_t>& bytes) {
    std::uint32_t value = 0;
    EXPECT_EQ(computeLrc(bytes.data(), static_cast<long long>(bytes.size()), value), 0);
    return value;
}

TEST(Lrc, RejectsEmptyInputAndShortBodiesOnlyApplyTheTail) {
    std::uint32_t value = 0x12345678;
    const std::uint8_t byte = 1;
    EXPECT_EQ(computeLrc(nullptr, 4, value), -1);
    EXPECT_EQ(computeLrc(&byte, 0, value), -1);
    EXPECT_EQ(computeLrc(&byte, -3, value), -1);
    EXPECT_EQ(value, 0x12345678u) << "no value on failure";
    // Tails of two and three bytes only (one byte and one word are pinned below).
    EXPECT_EQ(lrcOf({0x11, 0x22}), 0xAAAA88BBu);
    EXPECT_EQ(lrcOf({0x11, 0x22, 0x33}), 0xAA9988BBu);
}

// Values worked out byte by byte from the definition (the first four words, then every fourth
// word until the last 16 bytes, then every word, then the odd bytes), for lengths that end in each
// of those stretches; bytes (37 i + 11) mod 256.
TEST(Lrc, PinnedValuesForEveryStretchOfTheBody) {
    const std::pair<std::size_t, std::uint32_t> cases[] = {
        {1, 0xAAAAAAA1u},   {4, 0xD0FF9AA1u},  {16, 0x3EB63EA6u}, {17, 0x3EB63EFDu}, {19, 0x3E13BEFDu},
        {20, 0x6C9B3665u},  {21, 0x6C9B368Au}, {35, 0x8ABF1A41u}, {36, 0x7F994B9Du}, {37, 0x7F994BA2u},
        {38, 0x7F992FA2u},  {39, 0x7F102FA2u}, {52, 0xF73AB9B0u}, {53, 0xF73AB93Fu}, {100, 0x8BCDFF49u},
        {131, 0xFF24FB0Eu}, {200, 0xBCA36695u}};
    for (const auto& [length, expected] : cases) {
        std::vector<std::uint8_t> body(length);
        for (std::size_t i = 0; i < length; ++i)
            body[i] = static_cast<std::uint8_t>(37 * i + 11);
        EXPECT_EQ(lrcOf(body), expected) << "length " << length;
    }
}

// The field layout is pinned by the hand-written datagrams of the assembler tests; here only a
// channel header cut short, whose missing bytes read as zero.
TEST(Headers, CutChannelHeaderReadsMissingBytesAsZero) {
    const ChannelHeader c{kStartDelimiter, 0, 0, 2, 5, 0x10000};
    std::uint8_t channel[kChannelHeaderSize] = {};
    c.write(channel);
    const ChannelHeader cut = ChannelHeader::read(channel, 14);
    EXPECT_EQ(cut.currentPart, 2);
    EXPECT_EQ(cut.numberOfParts, 0);
    EXPECT_EQ(cut.offset, 0u);
}

} // namespace
