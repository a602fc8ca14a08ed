#include "tests/support/recorders.h"
#include "tests/udp-transport/datagrams.h"
#include "udp-transport/cycleassembler.h"

#include <gtest/gtest.h>

using namespace udpframing;

namespace {

// Keeps the buffer of every complete channel 8 it is handed, as a consumer that reads the bytes
// later on another thread would.
class KeepingOutput : public RecordingOutput {
public:
    void output(int device, const CycleEntry& cycle, bool partial) override {
        RecordingOutput::output(device, cycle, partial);
        for (const ChannelBuffer& buffer : cycle.channels)
            if (!partial && buffer.channelId == 8)
                kept.push_back(buffer);
    }
    std::vector<ChannelBuffer> kept;
};

} // namespace

// The pool reuses the vectors of erased cycles; one a consumer still holds must stay untouched,
// and reused ones must not show an earlier channel's bytes.
TEST(ReassemblyPool, ReusedBuffersNeverReachBytesAConsumerHolds) {
    KeepingOutput output;
    RecordingLogger logger;
    CycleAssembler assembler(output, logger);
    StreamEncoder encoder(kSubDeviceDsp);
    for (std::uint32_t cycle = 1; cycle <= 40; ++cycle) {
        // A channel over many datagrams (taken over whole) and one in a single datagram.
        const auto seed = std::uint8_t(cycle);
        for (const Bytes& d : encoder.encodeCycle(
                 cycle, {makeChannel(8, pattern(5000 + cycle, seed)), makeChannel(9, pattern(40, seed))})) {
            assembler.processPacket(d.data(), d.size());
            assembler.deliverCycles();
        }
        if (cycle % 8 == 4)
            output.kept.resize(1); // the consumer lets go of all but the first
    }
    ASSERT_GE(output.kept.size(), 2u);
    for (const ChannelBuffer& buffer : output.kept) {
        const Bytes expected = pattern(buffer.totalSize, std::uint8_t(buffer.totalSize - 5000));
        EXPECT_EQ(Bytes(buffer.bytes(), buffer.bytes() + buffer.size()), expected);
    }
    for (const auto& handout : output.handouts())
        for (const auto& channel : handout.channels)
            EXPECT_EQ(channel.bytes,
                      pattern(channel.id == 8 ? 5000 + handout.cycleId : 40, std::uint8_t(handout.cycleId)))
                << "cycle " << handout.cycleId << " channel " << channel.id;
}

TEST(ReassemblyPool, KeepsOnlyFreeSmallBuffersAndEmptiesReusedCycles) {
    ReassemblyPool pool;
    auto held = pool.takeBytes();
    held->assign(100, 1);
    auto alsoHeld = held;
    pool.giveBack(held);
    EXPECT_NE(pool.takeBytes(), alsoHeld) << "a vector someone holds is not reused";

    auto big = std::make_shared<std::vector<std::uint8_t>>(ReassemblyPool::kMaxSpareCapacity + 1);
    pool.giveBack(std::move(big));
    EXPECT_LE(pool.takeBytes()->capacity(), ReassemblyPool::kMaxSpareCapacity)
        << "oversized vectors are given up";

    for (std::size_t i = 0; i < ReassemblyPool::kMaxSpareBuffers + 10; ++i)
        pool.giveBack(std::make_shared<std::vector<std::uint8_t>>(1, 7));
    for (std::size_t i = 0; i < ReassemblyPool::kMaxSpareBuffers; ++i)
        EXPECT_TRUE(pool.takeBytes()->empty()) << "spares come back empty";

    ReassemblyPool::Cycles cycles;
    auto first = pool.insert(cycles, 5);
    first->second.channels.resize(3);
    pool.erase(cycles, first);
    const auto reused = pool.insert(cycles, 6);
    EXPECT_EQ(reused->first, 6u);
    EXPECT_EQ(reused->second.cycleId, 6u);
    EXPECT_TRUE(reused->second.channels.empty());
}
