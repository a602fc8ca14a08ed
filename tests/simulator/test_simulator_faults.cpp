// Each fault switch of the virtual sensor produces what the receiving side counts or drops.

#include "tests/support/streamcapture.h"

#include "simulator/cycleproducer.h"
#include "udp-transport/udpframing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using namespace trvsim;

namespace {

struct FaultRun {
    StreamStatistics counters;
    FaultCounts faults;
    std::vector<CapturedCycle> early; // partial hand-outs of the DSP
    std::vector<std::vector<uint8_t>> datagrams;
    std::size_t channelsFramed = 0;
    std::vector<std::string> log;
};

// Runs cycles of an OD sensor with the given faults straight into the real reassembly.
FaultRun runWith(const std::function<void(FaultConfig&)>& set, uint32_t cycles = 24) {
    SimConfig config;
    config.identity.variant = Variant::OD;
    config.seed = 99;
    set(config.faults);
    CycleProducer producer(config);
    std::string error;
    EXPECT_TRUE(producer.init(error)) << error;
    StreamCapture capture;
    DatagramBatch batch;
    FaultRun run;
    for (uint32_t f = 1; f <= cycles; ++f) {
        producer.produce(f, batch);
        for (const auto& s : batch.sends()) {
            const uint8_t* d = batch.slot(s.slot);
            run.datagrams.emplace_back(d, d + s.length);
            const auto h = udpframing::DatagramHeader::read(d);
            if (h.indexInChannel == 0 && s.length >= 32)
                ++run.channelsFramed;
            capture.feed(d, s.length);
        }
    }
    run.counters = capture.assembler.counters();
    run.faults = producer.faultCounts();
    run.early = capture.handOuts(1, true);
    run.log = capture.errors();
    return run;
}

bool anyLogContains(const FaultRun& run, const std::string& text) {
    return std::any_of(run.log.begin(), run.log.end(),
                       [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

} // namespace

TEST(SimulatorFaults, LostDuplicatedAndReorderedDatagramsBreakTheCounterSequence) {
    for (auto [share, value] : {std::pair{&FaultConfig::dropShare, 0.1},
                                {&FaultConfig::duplicateShare, 0.05},
                                {&FaultConfig::reorderShare, 0.05}}) {
        const FaultRun run = runWith([&](FaultConfig& f) { f.*share = value; });
        const uint64_t played = run.faults.dropped + run.faults.duplicated + run.faults.reordered;
        ASSERT_GT(played, 0u);
        // A fault breaks the datagram counter sequence (neighbouring ones may share a break; a
        // swapped pair breaks it twice).
        EXPECT_GT(run.counters.missingPacketEvents, played / 3);
        EXPECT_LE(run.counters.missingPacketEvents, 2 * played);
        EXPECT_TRUE(anyLogContains(run, "Missing packets"));
        // What was broken is dropped: fewer complete cycles reach the interpreter.
        EXPECT_LT(run.early.size(), 23u);
    }
}

TEST(SimulatorFaults, WrongChecksumsAreCountedAndTheChannelsStillUsed) {
    const FaultRun run = runWith([](FaultConfig& f) { f.badLrcShare = 1.0; }, 6);
    EXPECT_EQ(run.counters.lrcErrors, run.faults.badLrc);
    EXPECT_EQ(run.counters.lrcErrors, run.channelsFramed);
    EXPECT_EQ(run.counters.missingPacketEvents, 0u);
    ASSERT_EQ(run.early.size(), 5u);
    for (const auto& cycle : run.early)
        EXPECT_TRUE(cycle.has(8) && cycle.has(9) && cycle.has(256));
}

TEST(SimulatorFaults, WithoutChecksumNothingIsChecked) {
    const FaultRun run = runWith([](FaultConfig& f) { f.noLrc = true; }, 4);
    for (const auto& d : run.datagrams) {
        const auto h = udpframing::DatagramHeader::read(d.data());
        if (h.indexInChannel == 0) {
            const auto ch = udpframing::ChannelHeader::read(d.data() + 32, d.size() - 32);
            EXPECT_EQ(ch.lrc, 0u);
        }
    }
    EXPECT_EQ(run.counters.lrcErrors, 0u);
    EXPECT_EQ(run.early.size(), 3u);
}

TEST(SimulatorFaults, WrongStartDelimiterDropsTheChannel) {
    const FaultRun run = runWith([](FaultConfig& f) { f.badStartShare = 0.3; }, 12);
    ASSERT_GT(run.faults.badStart, 0u);
    EXPECT_EQ(run.counters.startDelimiterErrors, run.faults.badStart);
    std::size_t channelsDelivered = 0;
    for (const auto& cycle : run.early)
        channelsDelivered += cycle.channels.size();
    // Every DSP cycle frames 6 or 7 channels; the damaged ones never reach the output.
    EXPECT_LT(channelsDelivered, run.early.size() * 7);
}

TEST(SimulatorFaults, WrongEndDelimiterIsCountedAndTheChannelKept) {
    const FaultRun run = runWith([](FaultConfig& f) { f.badEndShare = 1.0; }, 5);
    EXPECT_EQ(run.counters.endDelimiterErrors, run.channelsFramed);
    ASSERT_EQ(run.early.size(), 4u);
    EXPECT_TRUE(run.early.back().has(8));
}

TEST(SimulatorFaults, TruncatedDatagramsDamageEveryChannelTheyCarry) {
    const FaultRun run = runWith([](FaultConfig& f) { f.truncateShare = 1.0; }, 4);
    EXPECT_EQ(run.faults.truncated, run.datagrams.size());
    for (const auto& d : run.datagrams)
        EXPECT_GE(d.size(), 32u); // the datagram header always survives
    // No channel survives: each is shorter than its header announces and is dropped with a
    // message, so no cycle is ever handed out.
    EXPECT_TRUE(run.early.empty());
    EXPECT_GE(run.log.size(), run.channelsFramed);
}

TEST(SimulatorFaults, SecondSenderWithTheSameAddressInterleavesForeignCounters) {
    const FaultRun run = runWith([](FaultConfig& f) { f.secondSender = true; }, 10);
    // Two senders per sub-device: the counters jump at every switch between them.
    EXPECT_GE(run.counters.missingPacketEvents, 2u * 10u);
    EXPECT_TRUE(anyLogContains(run, "Missing packets"));
}
