// The socketcand client's hot paths: parsing the frames a server streams (1000 elements with 8
// data bytes, 29-bit identifiers) and writing send elements, beside a memcpy of the same bytes
// measured in the same run.

#include "bench/common/ratioreporter.h"
#include "candevices/socketcan/socketcandprotocol.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kFrames = 1000;

const std::string& stream() {
    static const std::string text = [] {
        std::string s;
        char element[96];
        for (int i = 0; i < kFrames; ++i) {
            std::snprintf(element, sizeof element, "< frame 18DAF1EF %d.%06d 10%02X2233445566%02X >",
                          1700000000 + i, i % 1000000, i & 0xFF, i & 0x7F);
            s += element;
        }
        return s;
    }();
    return text;
}

void BM_ParseFrames(benchmark::State& state) {
    const std::string& text = stream();
    SocketcandParser parser;
    uint32_t sum = 0;
    const SocketcandParser::Sink sink = [&](const SocketcandElement& e) { sum += e.frame.data[7]; };
    for (auto _ : state) {
        parser.feed(text.data(), text.size(), sink);
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_ParseFrames)->Unit(benchmark::kMicrosecond);

void BM_WriteSendElements(benchmark::State& state) {
    CanFrame frame;
    frame.identifier = 0x18DAEFF1;
    frame.length = 8;
    char out[kSocketcandSendCapacity];
    std::size_t total = 0;
    for (auto _ : state) {
        for (int i = 0; i < kFrames; ++i) {
            frame.data[0] = static_cast<uint8_t>(i);
            total += socketcandSend(frame, out);
        }
        benchmark::DoNotOptimize(total);
    }
}
BENCHMARK(BM_WriteSendElements)->Unit(benchmark::kMicrosecond);

void BM_MemcpyOfTheSameBytes(benchmark::State& state) {
    const std::string& text = stream();
    std::vector<char> out(text.size());
    for (auto _ : state) {
        std::memcpy(out.data(), text.data(), text.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_MemcpyOfTheSameBytes)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    bench::RatioReporter reporter;
    bench::runWithRatios(argc, argv, reporter);
    const double copy = reporter.time("BM_MemcpyOfTheSameBytes");
    if (copy > 0) {
        std::printf("parsing %d frame elements / memcpy of the same bytes: %.1f\n", kFrames,
                    reporter.time("BM_ParseFrames") / copy);
        std::printf("writing %d send elements / memcpy of the parsed stream: %.1f\n", kFrames,
                    reporter.time("BM_WriteSendElements") / copy);
    }
    return 0;
}
