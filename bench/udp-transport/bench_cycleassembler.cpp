// Throughput of the reassembly (processPacket and the receive loop's hand-out) on a realistic
// stream, reported beside a memcpy of the same datagram bytes measured in the same run.

#include "bench/udp-transport/benchstream.h"
#include "udp-transport/cycleassembler.h"

#include "bench/common/ratioreporter.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

using namespace udpframing;

namespace {

class NullLogger : public LoggingBase {
public:
    void log(int, const char*, ...) override {}
};

// Touches what a real consumer would: every channel's size.
class CountingOutput : public DataOutputBase {
public:
    void output(int, const CycleEntry& cycle, bool partial) override {
        for (const ChannelBuffer& buffer : cycle.channels)
            bytes += buffer.size();
        (partial ? partialCycles : completeCycles) += 1;
    }
    std::uint64_t bytes = 0;
    std::uint64_t partialCycles = 0;
    std::uint64_t completeCycles = 0;
};

struct Stream {
    std::vector<Bytes> datagrams;
    std::uint64_t bytes = 0;
    std::uint32_t cycles = 0;
    std::uint32_t perDevice[3] = {};

    explicit Stream(std::uint32_t cycleCount) : cycles(cycleCount) {
        StreamEncoder dsp(kSubDeviceDsp), kp(kSubDeviceKp);
        for (std::uint32_t c = 0; c < cycleCount; ++c) {
            for (auto& d : dsp.encodeCycle(c, benchstream::dspChannels(c)))
                datagrams.push_back(std::move(d));
            for (auto& d : kp.encodeCycle(c, benchstream::kpChannels(c)))
                datagrams.push_back(std::move(d));
        }
        for (const Bytes& d : datagrams) {
            bytes += d.size();
            ++perDevice[readU16(d.data() + dgram::kSubDevice)];
        }
    }
    // The next pass continues the counters, so replaying never looks like a gap.
    void advance() {
        for (Bytes& d : datagrams) {
            const auto device = readU16(d.data() + dgram::kSubDevice);
            writeU32(d.data() + dgram::kPacketCounter,
                     readU32(d.data() + dgram::kPacketCounter) + perDevice[device]);
            writeU32(d.data() + dgram::kCycleCounter, readU32(d.data() + dgram::kCycleCounter) + cycles);
        }
    }
};

Stream& stream() {
    static Stream s(64);
    return s;
}

void BM_ProcessPacketAndHandOut(benchmark::State& state) {
    Stream& s = stream();
    NullLogger logger;
    CountingOutput output;
    CycleAssembler assembler(output, logger);
    for (auto _ : state) {
        for (const Bytes& d : s.datagrams) {
            assembler.processPacket(d.data(), d.size());
            assembler.deliverCycles();
        }
        state.PauseTiming();
        s.advance();
        state.ResumeTiming();
    }
    if (assembler.counters().missingPacketEvents != 0 || output.completeCycles == 0)
        state.SkipWithError("the stream did not reassemble cleanly");
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * s.datagrams.size()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * s.bytes));
    state.counters["cycles_out"] = static_cast<double>(output.completeCycles);
}
BENCHMARK(BM_ProcessPacketAndHandOut)->Unit(benchmark::kMicrosecond);

void BM_MemcpyOfTheSameBytes(benchmark::State& state) {
    Stream& s = stream();
    // Every datagram into its own place, as a receiver that keeps the stream would copy it.
    std::vector<std::uint8_t> copy(s.bytes);
    for (auto _ : state) {
        std::uint8_t* out = copy.data();
        for (const Bytes& d : s.datagrams) {
            std::memcpy(out, d.data(), d.size());
            out += d.size();
        }
        benchmark::ClobberMemory();
        state.PauseTiming();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * s.datagrams.size()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * s.bytes));
}
BENCHMARK(BM_MemcpyOfTheSameBytes)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    bench::initializeWithRepetitions(argc, argv);
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double process = reporter.time("BM_ProcessPacketAndHandOut");
    const double copy = reporter.time("BM_MemcpyOfTheSameBytes");
    if (process > 0 && copy > 0) {
        const Stream& s = stream();
        const double seconds = process * 1e-6; // per pass, reported in microseconds
        std::printf("\n%zu datagrams (%llu bytes, %u cycles per SubDevice) per pass\n", s.datagrams.size(),
                    static_cast<unsigned long long>(s.bytes), s.cycles);
        std::printf("processPacket + hand-out: %.0f datagrams/s, %.1f MB/s (CPU time, median)\n",
                    s.datagrams.size() / seconds, s.bytes / seconds / 1e6);
        std::printf("ratio to memcpy of the same bytes: %.1f\n", process / copy);
    }
    benchmark::Shutdown();
    return 0;
}
