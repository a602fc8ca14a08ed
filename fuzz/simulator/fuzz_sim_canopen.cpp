// The virtual sensor's CANopen node fed arbitrary frames: every 10 input bytes are one frame
// (identifier low and high byte, length, seven data bytes; the length byte doubles as data byte 7), for each
// function and generation. Never a crash; answers only to the node's own SDO identifier.

#include "simulator/can/canresultsender.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace trvsim;
    constexpr uint8_t kNode = 10;
    for (CanFunction function : {CanFunction::OD, CanFunction::BF, CanFunction::LG})
        for (int generation = 1; generation <= 3; ++generation) {
            CanopenSlave slave(function, generation);
            auto now = SimClock::time_point{};
            for (size_t at = 0; at + 10 <= size; at += 10) {
                SimCanFrame frame;
                frame.id = uint32_t(data[at] | (data[at + 1] & 0x07) << 8);
                frame.length = data[at + 2] % 9;
                for (int i = 0; i < 7; ++i)
                    frame.data[size_t(i)] = data[at + 3 + size_t(i)];
                frame.data[7] = data[at + 2];
                SimCanFrame reply;
                if (slave.receive(frame, kNode, now, reply) && reply.id != 0x580u + kNode)
                    std::abort();
                SimCanFrame bootUp;
                slave.bootUp(now += std::chrono::milliseconds(30), kNode, bootUp);
                for (int t = 0; t < tpdoCount(function); ++t)
                    if (slave.cobId(t) > 0x7FF)
                        std::abort();
            }
        }
    return 0;
}
