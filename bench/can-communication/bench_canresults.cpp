// The CAN result decoders' cost, from one run: frames of the virtual sensor's busiest cycles
// (objects, basic functions, lines; J1939, generation 3) decoded per second, and the share of one
// core that a saturated 1 Mbit/s bus of such frames (131 bits each) would take.
#include "tests/can-communication/canresulttruth.h"

#include "simulator/can/canresultsender.h"
#include "simulator/virtualsensor.h"

#include <benchmark/benchmark.h>

namespace {

constexpr double kBusFramesPerSecond = 1000000.0 / 131.0;

template <class Decoder>
void decodeCycles(benchmark::State& state, ResultFrameMap::Function function, trvsim::Variant variant) {
    trvsim::SimConfig config;
    config.verbosity = 0;
    config.identity.variant = variant;
    trvsim::VirtualSensor sensor(config);
    const trvsim::FrameTruth truth = sensor.truth(100);
    const ResultFrameMap map(function, false, 3, 239);
    const std::vector<CanFrame> cycle =
        canresults::sensorCycle(map, truth, trvsim::basicFunctionValues(truth, sensor.dspParameters()));
    Decoder decoder(map);
    qint64 now = 0;
    for (auto _ : state) {
        for (const CanFrame& frame : cycle)
            if (decoder.feed(frame, ++now))
                benchmark::DoNotOptimize(decoder.take());
    }
    const double frames = double(state.iterations()) * double(cycle.size());
    state.counters["frames_per_s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    // seconds x bus frames per second / frames decoded
    state.counters["core_share_at_1Mbit"] = benchmark::Counter(
        frames / kBusFramesPerSecond,
        benchmark::Counter::Flags(benchmark::Counter::kIsRate | benchmark::Counter::kInvert));
}

void objects(benchmark::State& s) {
    decodeCycles<ObjectResultDecoder>(s, ResultFrameMap::Function::OD, trvsim::Variant::OD);
}
void basicFunctions(benchmark::State& s) {
    decodeCycles<BasicFunctionResultDecoder>(s, ResultFrameMap::Function::BF, trvsim::Variant::DI);
}
void lines(benchmark::State& s) {
    decodeCycles<LineResultDecoder>(s, ResultFrameMap::Function::LG, trvsim::Variant::LG);
}
BENCHMARK(objects);
BENCHMARK(basicFunctions);
BENCHMARK(lines);

} // namespace

BENCHMARK_MAIN();
