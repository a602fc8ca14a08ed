// Feeds arbitrary frame sequences to the CAN result decoders (objects with vehicle messages, basic
// functions, lines) in every protocol and generation.
//
// Input: byte 0 picks the decoder: function = b % 3 (OD, BF, LG), CANopen = (b / 3) % 2,
// generation = (b / 6) % 3 + 1. Then records of 13 bytes: kind, a, b, length, milliseconds since
// the previous frame, 8 data bytes. kind % 4: 0 the sensor's J1939 message 0xFF00 + a, 1 the
// 11-bit identifier (a | b << 8) & 0x7FF, 2 vehicle message a % 4, 3 any 29-bit identifier.
#include "can-communication/canresultdecoder.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {
constexpr size_t kRecord = 13;
constexpr size_t kMaxRecords = 8192;
constexpr uint32_t kVehicleIds[4] = {0x1803EFFE, 0x1803FFFE, 0x0CFE6CFE, 0x18F009FE};

CanFrame frameOf(const uint8_t* r) {
    CanFrame f;
    switch (r[0] % 4) {
    case 0:
        f.identifier = 0x18000000u | uint32_t(0xFF00 | r[1]) << 8 | 239;
        break;
    case 1:
        f.identifier = uint32_t(r[1] | r[2] << 8) & 0x7FF;
        break;
    case 2:
        f.identifier = kVehicleIds[r[1] % 4];
        break;
    default:
        f.identifier =
            (uint32_t(r[0]) << 24 | uint32_t(r[1]) << 16 | uint32_t(r[2]) << 8 | r[3]) & 0x1FFFFFFF;
        break;
    }
    f.length = r[3];
    std::memcpy(f.data, r + 5, 8);
    return f;
}

void check(bool condition) {
    if (!condition)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const auto function = ResultFrameMap::Function(data[0] % 3);
    const bool canopen = (data[0] / 3) % 2;
    const int generation = (data[0] / 6) % 3 + 1;
    const ResultFrameMap map(function, canopen, generation, canopen ? 10 : 239);
    ObjectResultDecoder od(map);
    BasicFunctionResultDecoder bf(map);
    LineResultDecoder lg(map);
    ResultDecoder& decoder = function == ResultFrameMap::Function::OD   ? static_cast<ResultDecoder&>(od)
                             : function == ResultFrameMap::Function::BF ? static_cast<ResultDecoder&>(bf)
                                                                        : static_cast<ResultDecoder&>(lg);
    qint64 now = 0;
    for (size_t i = 1, n = 0; i + kRecord <= size && n < kMaxRecords; i += kRecord, ++n) {
        now += data[i + 4];
        if (!decoder.feed(frameOf(data + i), now))
            continue;
        // Every completed cycle gives a whole record within the layouts' ranges.
        if (auto objects = od.take()) {
            for (const DetectedObject_TRVAXX& o : objects->objects)
                check(o.id >= 0 && o.id <= 255 && std::isfinite(o.x2) && std::isfinite(o.zMax));
            check(!objects->egoVelocityValid || (objects->egoVelocity >= 0 && objects->egoVelocity < 71));
        } else if (auto groups = bf.take()) {
            check(groups->count >= 0 && groups->count <= TRVAXX_ROI_GROUP_COUNT);
        } else {
            auto lines = lg.take();
            check(lines && lines->lines[0].id >= 0 && lines->lines[0].id < 128);
        }
    }
    return 0;
}
