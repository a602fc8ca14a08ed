// Writes the seed corpus of fuzz_cycleassembler: short, well-formed streams that reach the
// interesting states (hand-outs, multi-cycle parts, gaps, framing faults, counter wrap).
//   make_cycleassembler_seeds OUTPUT_DIRECTORY

#include "fuzz/udp-transport/datagramsplit.h"
#include "udp-transport/streamencoder.h"

#include <cstdio>
#include <fstream>
#include <string>

using namespace udpframing;

namespace {

Bytes body(std::size_t size, std::uint8_t seed) {
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i)
        b[i] = static_cast<std::uint8_t>(seed + i);
    return b;
}

void add(Bytes& out, const std::vector<Bytes>& datagrams) {
    for (const Bytes& d : datagrams)
        fuzzsplit::appendDatagram(out, d);
}

bool write(const std::string& directory, const std::string& name, const Bytes& seed) {
    std::ofstream file(directory + "/" + name, std::ios::binary);
    file.write(reinterpret_cast<const char*>(seed.data()), static_cast<std::streamsize>(seed.size()));
    return static_cast<bool>(file);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIRECTORY\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    bool ok = true;

    { // Two cycles of both SubDevices and the start of a third, small datagrams.
        Bytes seed;
        StreamEncoder dsp(kSubDeviceDsp, 160), kp(kSubDeviceKp, 160);
        for (std::uint32_t c = 1; c <= 3; ++c) {
            add(seed, dsp.encodeCycle(c, {makeChannel(8, body(300, 1)), makeChannel(9, body(40, 2))}));
            add(seed, kp.encodeCycle(c, {makeChannel(256, body(60, 3))}));
        }
        ok &= write(dir, "two_cycles_both_devices", seed);
    }
    { // A channel sent in three parts over three cycles.
        Bytes seed;
        StreamEncoder dsp(kSubDeviceDsp, 200);
        const auto parts = makeParts(14, body(240, 4), 3);
        for (std::uint32_t c = 0; c < 4; ++c) {
            std::vector<FramedChannel> channels = {makeChannel(8, body(20, 5))};
            if (c < 3)
                channels.push_back(parts[c]);
            add(seed, dsp.encodeCycle(10 + c, channels));
        }
        ok &= write(dir, "multi_cycle_parts", seed);
    }
    { // A gap in the packet counter, then recovery.
        Bytes seed;
        StreamEncoder dsp(kSubDeviceDsp, 120);
        add(seed, dsp.encodeCycle(1, {makeChannel(8, body(200, 6))}));
        dsp.setPacketCounter(dsp.packetCounter() + 3);
        for (std::uint32_t c = 2; c <= 4; ++c)
            add(seed, dsp.encodeCycle(c, {makeChannel(8, body(200, 6))}));
        ok &= write(dir, "gap_and_recovery", seed);
    }
    { // Framing faults: start delimiter, end delimiter, wrong LRC.
        Bytes seed;
        StreamEncoder dsp(kSubDeviceDsp);
        ChannelHeader h;
        h.partSize = h.totalSize = 16;
        ChannelHeader badStart = h;
        badStart.startDelimiter = 1;
        ChannelHeader badLrc = h;
        badLrc.lrc = 0x01020304;
        const Bytes b = body(16, 7);
        for (std::uint32_t c = 0; c < 2; ++c)
            add(seed, dsp.encodeCycle(c, {{20, frameChannel(b.data(), b.size(), badStart)},
                                          {22, frameChannel(b.data(), b.size(), h, true, 0)},
                                          {24, frameChannel(b.data(), b.size(), badLrc, false)}}));
        ok &= write(dir, "framing_faults", seed);
    }
    { // The packet counter wraps inside a cycle.
        Bytes seed;
        StreamEncoder dsp(kSubDeviceDsp, 64);
        dsp.setPacketCounter(0xFFFFFFFEu);
        for (std::uint32_t c = 0; c < 3; ++c)
            add(seed, dsp.encodeCycle(c, {makeChannel(8, body(70, 8))}));
        ok &= write(dir, "counter_wrap", seed);
    }
    { // More one-datagram channels than a cycle may hold, data and description interleaved.
        Bytes seed;
        StreamEncoder dsp(kSubDeviceDsp);
        for (std::uint32_t c = 0; c < 2; ++c) {
            std::vector<FramedChannel> channels;
            for (std::uint32_t id = 0; id < 300; ++id)
                channels.push_back(makeChannel(id, body(id % 3, 9)));
            add(seed, dsp.encodeCycle(c, channels));
        }
        ok &= write(dir, "channel_flood", seed);
    }
    return ok ? 0 : 1;
}
