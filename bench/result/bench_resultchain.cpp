// The whole Ethernet result chain on one thread, without a socket: datagram bytes through the
// reassembler, the data output, the package processor (interpretation and extraction) into a
// published record in the result cache. Reported beside a memcpy of the same datagram bytes
// measured in the same run; the ratio is printed at the end.

#include "result/dataoutput_trvaxx.h"
#include "result/packageprocessor_trvaxx.h"
#include "result/resultcache_trvaxx.h"
#include "simulator/cycleproducer.h"

#include "udp-transport/cycleassembler.h"
#include "udp-transport/udpframing.h"

#include "bench/common/ratioreporter.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace udpframing;

namespace {

class NullLogger : public LoggingBase {
public:
    void log(int, const char*, ...) override {}
};

// Datagrams of consecutive cycles of the virtual sensor's stream, both sub-devices.
struct Stream {
    std::vector<std::vector<uint8_t>> datagrams;
    uint64_t bytes = 0;
    uint32_t cycles = 0;
    uint32_t perDevice[3] = {};

    Stream(trvsim::Variant variant, uint32_t cycleCount) : cycles(cycleCount) {
        trvsim::SimConfig config;
        config.identity.variant = variant;
        config.log = [](int, const std::string&) {};
        trvsim::CycleProducer producer(config);
        std::string error;
        if (!producer.init(error)) {
            std::fprintf(stderr, "virtual sensor: %s\n", error.c_str());
            return;
        }
        trvsim::DatagramBatch batch;
        for (uint32_t c = 1; c <= cycleCount; ++c) {
            producer.produce(c, batch);
            for (const trvsim::DatagramBatch::Send& send : batch.sends()) {
                const uint8_t* p = batch.slot(send.slot);
                datagrams.emplace_back(p, p + send.length);
            }
        }
        for (const auto& d : datagrams) {
            bytes += d.size();
            ++perDevice[readU16(d.data() + dgram::kSubDevice) % 3];
        }
    }
    // The next pass continues the counters, so replaying never looks like a gap.
    void advance() {
        for (auto& d : datagrams) {
            const auto device = readU16(d.data() + dgram::kSubDevice) % 3;
            writeU32(d.data() + dgram::kPacketCounter,
                     readU32(d.data() + dgram::kPacketCounter) + perDevice[device]);
            writeU32(d.data() + dgram::kCycleCounter, readU32(d.data() + dgram::kCycleCounter) + cycles);
        }
    }
};

constexpr uint32_t kCyclesPerPass = 32;

Stream& stream(trvsim::Variant variant) {
    static std::map<trvsim::Variant, std::unique_ptr<Stream>> streams;
    auto& s = streams[variant];
    if (!s)
        s = std::make_unique<Stream>(variant, kCyclesPerPass);
    return *s;
}

trvsim::Variant variantOf(const benchmark::State& state) {
    return trvsim::Variant(state.range(0));
}

// Every datagram of the stream through the reassembler and its hand-out loop, once per
// iteration; the stream moves on to fresh cycles outside the timed part.
void feedStream(benchmark::State& state, Stream& s, CycleAssembler& assembler) {
    for (auto _ : state) {
        for (const auto& d : s.datagrams) {
            assembler.processPacket(d.data(), d.size());
            assembler.deliverCycles();
        }
        state.PauseTiming();
        s.advance();
        state.ResumeTiming();
    }
}

void BM_ResultChain(benchmark::State& state) {
    Stream& s = stream(variantOf(state));
    if (s.datagrams.empty()) {
        state.SkipWithError("no stream");
        return;
    }
    NullLogger logger;
    ResultCache_TRVAXX cache;
    PackageProcessor_TRVAXX processor(&cache);
    DataOutput_TRVAXX output(nullptr, &processor);
    CycleAssembler assembler(output, logger);
    uint64_t published = 0;
    QObject::connect(&cache, &ResultCache_TRVAXX::receivedNewResultData, [&published] { ++published; });
    feedStream(state, s, assembler);
    const ResultDataSP_TRVAXX last = cache.getResult();
    if (assembler.counters().missingPacketEvents != 0 || !last || processor.getErrorCount() != 0 ||
        last->sensorWidth != 64)
        state.SkipWithError("the chain did not interpret the stream cleanly");
    state.SetItemsProcessed(int64_t(state.iterations()) * s.cycles);
    state.SetBytesProcessed(int64_t(state.iterations() * s.bytes));
    state.counters["records"] = double(published);
    state.counters["cycles_per_s"] =
        benchmark::Counter(double(state.iterations()) * s.cycles, benchmark::Counter::kIsRate);
}

// The same stream through the reassembler and the chunk pairing only: the share of the chain that
// belongs to the transport.
void BM_ReassemblyOnly(benchmark::State& state) {
    Stream& s = stream(variantOf(state));
    NullLogger logger;
    DataOutput_TRVAXX output(nullptr, nullptr);
    CycleAssembler assembler(output, logger);
    feedStream(state, s, assembler);
    state.SetItemsProcessed(int64_t(state.iterations()) * s.cycles);
    state.SetBytesProcessed(int64_t(state.iterations() * s.bytes));
}

void BM_MemcpyOfTheSameBytes(benchmark::State& state) {
    Stream& s = stream(variantOf(state));
    static uint8_t buffer[2048];
    for (auto _ : state) {
        for (const auto& d : s.datagrams) {
            std::memcpy(buffer, d.data(), d.size());
            benchmark::ClobberMemory();
        }
        state.PauseTiming();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * s.cycles);
    state.SetBytesProcessed(int64_t(state.iterations() * s.bytes));
}

// Argument: the variant (0 DI, 1 OD, 2 LG).
BENCHMARK(BM_ResultChain)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReassemblyOnly)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MemcpyOfTheSameBytes)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    bench::initializeWithRepetitions(argc, argv);
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const char* names[] = {"DI", "OD", "LG"};
    for (int v = 0; v < 3; ++v) {
        const std::string arg = std::to_string(v);
        const double chain = reporter.time("BM_ResultChain/" + arg);
        const double copy = reporter.time("BM_MemcpyOfTheSameBytes/" + arg);
        const double transport = reporter.time("BM_ReassemblyOnly/" + arg);
        if (chain > 0 && copy > 0) {
            const double perCycleUs = chain / kCyclesPerPass;
            std::printf(
                "%s: whole chain %.1f us per cycle (%.0f cycles/s), %.2f x memcpy of the datagram bytes "
                "(reassembly and chunk pairing alone: %.2f x)\n",
                names[v], perCycleUs, 1e6 / perCycleUs, chain / copy, transport / copy);
        }
    }
    benchmark::Shutdown();
    return 0;
}
