// Arbitrary frame sequences into the virtual sensor's diagnostic node: never a crash, never a
// read outside a buffer, whatever the tester sends.
//
// Input: byte 0 chooses the node's settings (bit 0 zero seed, bit 1 boot loader, bits 2-3 block
// size, bit 4 one response-pending answer); then records of 10 bytes: a control byte (bit 0
// functional identifier, bits 1-7 milliseconds to tick before the frame), the frame length, and
// 8 data bytes.

#include "simulator/can/diagnode.h"
#include "simulator/can/isotpserver.h"
#include "simulator/virtualsensor.h"

#include <cstddef>
#include <cstdint>

namespace {
struct NullPort : trvsim::CanBusPort {
    std::size_t sent = 0;
    void send(const trvsim::SimCanFrame&) override { ++sent; }
};

trvsim::VirtualSensor& sensor() {
    static trvsim::VirtualSensor s([] {
        trvsim::SimConfig c;
        c.verbosity = 0;
        return c;
    }());
    return s;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    trvsim::CanConfig config;
    config.zeroSeed = data[0] & 1;
    config.bootLoader = data[0] & 2;
    config.blockSize = (data[0] >> 2) & 3;
    config.responsePending = (data[0] >> 4) & 1;
    trvsim::DiagNode node(sensor(), config);
    NullPort port;
    node.attach(&port);
    auto now = trvsim::SimClock::time_point{} + std::chrono::hours(1);
    for (std::size_t i = 1; i + 10 <= size; i += 10) {
        for (int ms = data[i] >> 1; ms > 0; --ms) {
            now += std::chrono::milliseconds(1);
            node.tick(now);
        }
        trvsim::SimCanFrame frame;
        frame.id =
            (data[i] & 1) ? trvsim::isotp::kFunctionalId : trvsim::isotp::requestId(node.nodeAddress());
        frame.extended = true;
        frame.length = static_cast<uint8_t>(data[i + 1] % 9);
        std::copy(data + i + 2, data + i + 10, frame.data.begin());
        node.receive(frame, now);
    }
    for (int ms = 0; ms < 50; ++ms) { // let pending answers and segmented answers go out
        now += std::chrono::milliseconds(1);
        node.tick(now);
    }
    return 0;
}
