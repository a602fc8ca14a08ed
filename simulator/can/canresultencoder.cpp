#include "simulator/can/canresultencoder.h"

#include <algorithm>
#include <cstring>

namespace trvsim {

namespace {

// Raw field value of a scaled quantity, clamped into its bit width.
uint32_t raw(float value, float offset, float scale, uint32_t mask) {
    if (!std::isfinite(value))
        return 0;
    const double r = std::lround((double(value) - offset) / scale);
    return uint32_t(std::clamp<double>(r, 0.0, double(mask)));
}
uint32_t bits(int32_t value, uint32_t mask) {
    return uint32_t(value) & mask;
}

void putWord(uint8_t* out, uint32_t word) {
    for (int i = 0; i < 4; ++i)
        out[i] = uint8_t(word >> (8 * i));
}

template <size_t N> std::array<uint8_t, N> words(std::initializer_list<uint32_t> list) {
    std::array<uint8_t, N> out{};
    size_t i = 0;
    for (uint32_t w : list)
        putWord(out.data() + 4 * i++, w);
    return out;
}

SimCanFrame frame(uint32_t id, const uint8_t* data) {
    SimCanFrame f;
    f.id = id;
    f.extended = id > 0x7FF;
    f.length = 8;
    std::memcpy(f.data.data(), data, 8);
    return f;
}

std::array<uint8_t, 8> half(const std::array<uint8_t, 16>& item, int which) {
    std::array<uint8_t, 8> out{};
    std::memcpy(out.data(), item.data() + 8 * which, 8);
    return out;
}

std::array<uint8_t, 8> frameCounterMessage(uint32_t frameCounter) {
    return words<8>({frameCounter, 0});
}

} // namespace

int canResultGeneration(int major, int minor) {
    const int version = major * 100 + minor;
    return version < 302 ? 1 : version < 304 ? 2 : 3;
}

std::array<uint8_t, 16> encodeObject(const ObjectTruth& o) {
    const uint32_t w0 = raw(o.vX, -30, 0.5f, 0x7F) | bits(o.type, 1) << 7 | raw(o.vY, -30, 0.5f, 0x7F) << 8 |
                        bits(o.measured, 1) << 15 | raw(o.aY, -10, 1, 0x1F) << 16 |
                        raw(o.existenceProbability, 0, 1, 7) << 21 | raw(o.aX, -10, 1, 0x1F) << 24 |
                        raw(o.vXQuality, 0, 1, 7) << 29;
    const uint32_t w1 = raw(o.aZ, -5, 1, 0xF) | bits(o.age, 3) << 4 | bits(o.id, 0xFF) << 6 |
                        raw(o.zMin, -10, 0.02f, 0x7FF) << 14 | raw(o.vZ, -6, 0.5f, 0x1F) << 25;
    const uint32_t w2 = raw(o.zMax - o.zMin, 0, 0.02f, 0xFF) | raw(o.y2 - o.y1, -40, 0.02f, 0xFFF) << 8 |
                        raw(o.x2 - o.x1, -40, 0.02f, 0xFFF) << 20;
    const uint32_t w3 = raw(o.x1, -80, 0.02f, 0x1FFF) | raw(o.y1, -80, 0.02f, 0x1FFF) << 13 |
                        raw(o.vYQuality, 0, 1, 7) << 26 | bits(o.history, 1) << 29;
    return words<16>({w0, w1, w2, w3});
}

std::array<uint8_t, 8> encodeCrashPredictor(const CrashPredictorTruth& c) {
    const uint32_t w = bits(c.crashObjectID, 0xFF) | raw(c.crashPredictTime, 0, 0.04f, 0xFF) << 8 |
                       raw(c.relImpactVelocity, 0, 0.1f, 0x1FF) << 16 | bits(c.crashPredicted + 2, 3) << 25;
    return words<8>({w, 0});
}

std::array<uint8_t, 16> encodeLine(const LineTruth& l) {
    const uint32_t zStep = raw(l.z_step_detection_height, 0, 0.01f, 0x1FF);
    const uint32_t w0 = bits(l.id, 0x7F) | raw(l.alpha, 0, 1, 0x1FF) << 7 |
                        raw(l.curvature, -0.05f, 0.0005f, 0xFF) << 16 | raw(l.quality, 0, 1, 0x7F) << 24 |
                        (zStep >> 8) << 31;
    const uint32_t w1 = (zStep & 0xFF) | raw(l.foresight, 0, 1, 0x1F) << 8 |
                        raw(l.offset, -10, 0.01f, 0x7FF) << 13 | bits(l.type, 1) << 24 |
                        bits(l.measured, 1) << 25 | bits(l.z_step_detection_valid, 1) << 26 |
                        bits(l.history, 1) << 27;
    const uint32_t w2 = raw(l.center_of_gravity_offset, -5, 0.05f, 0xFF) |
                        raw(l.max_height_offset, -5, 0.05f, 0xFF) << 8 |
                        raw(l.heap_height, 0, 0.01f, 0x1FF) << 16 | raw(l.heap_width, 0, 1, 0x7F) << 25;
    const uint32_t w3 = raw(l.heap_area, 0, 0.01f, 0x3FF) << 7 | bits(l.max_height_offset_valid, 1) << 17 |
                        bits(l.heap_height_valid, 1) << 18 | bits(l.heap_width_valid, 1) << 19 |
                        bits(l.heap_area_valid, 1) << 20 | bits(l.center_of_gravity_offset_valid, 1) << 21;
    return words<16>({w0, w1, w2, w3});
}

std::array<uint8_t, 8> encodeBasicFunctionMessage(const BasicFunctionValues& values, int k) {
    const int quantity = k % 4;
    uint32_t v[4];
    for (int i = 0; i < 4; ++i) {
        const int g = 4 * (k / 4) + i;
        const RoiGroupValue& group = values.groups[size_t(std::clamp(g, 0, kRoiGroups - 1))];
        if (g >= kRoiGroups || g >= values.count) {
            v[i] = quantity == 3 ? 0 : 0x7FFF;
            continue;
        }
        const float value = quantity == 0   ? group.x
                            : quantity == 1 ? group.y
                            : quantity == 2 ? group.z
                                            : group.amplitude;
        if (quantity == 3)
            v[i] = std::isnan(value) ? 0 : std::max<uint32_t>(1, raw(value, 0, 2, 0x7FFF));
        else
            v[i] = std::isnan(value) ? 0x7FFF : raw(value, -100, 0.01f, 0x7FFC);
    }
    return words<8>({v[0] | v[1] << 15, v[2] | v[3] << 15});
}

std::array<uint8_t, 8> globalInformationMessage(uint8_t globalInformation) {
    std::array<uint8_t, 8> out{};
    out[4] = globalInformation;
    return out;
}

J1939Numbers odNumbers(int generation) {
    return generation <= 1 ? J1939Numbers{0xFF04, 0xFF05, 0xFF06} : J1939Numbers{0xFF01, 0xFF02, 0xFF10};
}
J1939Numbers bfNumbers(int generation) {
    return generation <= 1 ? J1939Numbers{0xFF04, 0xFF01, 0xFF06} : J1939Numbers{0xFF01, 0xFF02, 0xFF10};
}

uint32_t j1939Id(uint16_t messageNumber, uint8_t sourceAddress) {
    return 0x18000000u | uint32_t(messageNumber) << 8 | sourceAddress;
}

namespace {

uint8_t globalInformationOf(const FrameTruth& truth) {
    return uint8_t(truth.available & 0xFF);
}

int objectsSent(const FrameTruth& truth, int maxObjects) {
    return std::clamp(std::min(truth.numberOfObjects, maxObjects), 0, kObjectSlots);
}

// LG: the second halves of the lines go first, so that a receiver that decodes at message 0xFF14
// (line 2, first half) has every line of the cycle by then.
constexpr int kLgDataOrder[10] = {5, 6, 7, 8, 9, 0, 1, 2, 3, 4};

std::array<uint8_t, 16> lineOrEmpty(const FrameTruth& truth, int slot, int maxLines) {
    if (slot >= std::min(truth.numberOfLines, maxLines))
        return {};
    return encodeLine(truth.lines[size_t(slot)]);
}

std::array<uint8_t, 8> bfConfiguration(int count, int generation) {
    std::array<uint8_t, 8> out{};
    if (generation >= 3)
        out[1] = uint8_t(count & 0x7F); // multiplexer 0 in bits 0..1 of byte 0
    else
        out[0] = uint8_t(count & 0x7F);
    return out;
}

int bfDataMessages(const BasicFunctionValues& values) {
    return 4 * ((std::clamp(values.count, 0, kRoiGroups) + 3) / 4);
}

} // namespace

std::vector<SimCanFrame> j1939OdCycle(const FrameTruth& truth, int generation, uint8_t sa, int maxObjects) {
    const J1939Numbers n = odNumbers(generation);
    std::vector<SimCanFrame> out;
    const int objects = objectsSent(truth, maxObjects);
    for (int o = 0; o < objects; ++o) {
        const auto bytes = encodeObject(truth.objects[size_t(o)]);
        out.push_back(frame(j1939Id(uint16_t(n.firstData + 2 * o), sa), bytes.data()));
        out.push_back(frame(j1939Id(uint16_t(n.firstData + 2 * o + 1), sa), bytes.data() + 8));
    }
    out.push_back(frame(j1939Id(n.secondState, sa), encodeCrashPredictor(truth.crashPredictor).data()));
    out.push_back(
        frame(j1939Id(n.cycleEnd, sa), globalInformationMessage(globalInformationOf(truth)).data()));
    return out;
}

std::vector<SimCanFrame> j1939BfCycle(const BasicFunctionValues& values, uint8_t globalInformation,
                                      int generation, uint8_t sa) {
    const J1939Numbers n = bfNumbers(generation);
    std::vector<SimCanFrame> out;
    out.push_back(frame(j1939Id(n.secondState, sa), bfConfiguration(values.count, generation).data()));
    for (int k = 0; k < bfDataMessages(values); ++k)
        out.push_back(
            frame(j1939Id(uint16_t(n.firstData + k), sa), encodeBasicFunctionMessage(values, k).data()));
    out.push_back(frame(j1939Id(n.cycleEnd, sa), globalInformationMessage(globalInformation).data()));
    return out;
}

std::vector<SimCanFrame> j1939LgCycle(const FrameTruth& truth, uint8_t sa, int maxLines) {
    std::vector<SimCanFrame> out;
    out.push_back(frame(j1939Id(0xFF00, sa), frameCounterMessage(truth.frameCounter).data()));
    std::array<uint8_t, 8> lineCount{};
    lineCount[0] = uint8_t(std::clamp(std::min(truth.numberOfLines, maxLines), 0, kLineSlots));
    out.push_back(frame(j1939Id(0xFF02, sa), lineCount.data()));
    out.push_back(frame(j1939Id(0xFF01, sa), globalInformationMessage(globalInformationOf(truth)).data()));
    for (int k : kLgDataOrder) {
        const auto bytes = lineOrEmpty(truth, k / 2, maxLines);
        out.push_back(frame(j1939Id(uint16_t(0xFF10 + k), sa), bytes.data() + 8 * (k % 2)));
    }
    return out;
}

// CANopen transmit PDOs. OD: 0..39 object halves (TPDO i = object i / 2, half i % 2), 40 crash
// predictor, 41 global information, 42 cycle end. BF: 0..63 data messages, 64 configuration, 65
// global information (cycle end), 66 frame counter. LG: 0..9 line halves, 10 line count, 11
// global information, 12 frame counter. In every function the three state messages follow the
// data ones, so that in generations 2 and 3 the global information is always TPDO 0x1801.
namespace {
constexpr int kOdCrash = 40, kOdGlobal = 41, kOdEnd = 42;
constexpr int kBfConfig = 64, kBfGlobal = 65, kBfCounter = 66;
constexpr int kLgCount = 10, kLgGlobal = 11, kLgCounter = 12;
} // namespace

std::vector<PdoMessage> canopenOdCycle(const FrameTruth& truth, int generation) {
    std::vector<PdoMessage> objects, out;
    for (int o = 0; o < kObjectSlots; ++o) {
        const auto bytes = o < objectsSent(truth, kObjectSlots) ? encodeObject(truth.objects[size_t(o)])
                                                                : std::array<uint8_t, 16>{};
        objects.push_back({2 * o, half(bytes, 0)});
        objects.push_back({2 * o + 1, half(bytes, 1)});
    }
    const PdoMessage crash{kOdCrash, encodeCrashPredictor(truth.crashPredictor)};
    const PdoMessage global{kOdGlobal, globalInformationMessage(globalInformationOf(truth))};
    const PdoMessage end{kOdEnd, frameCounterMessage(truth.frameCounter)};
    if (generation <= 1) {
        // Objects first; the cycle-end message closes the cycle.
        out = objects;
        out.insert(out.end(), {crash, global, end});
    } else {
        // The receivers of these generations decode at object 19: state messages go first.
        out = {crash, global};
        out.insert(out.end(), objects.begin(), objects.end());
        out.push_back(end);
    }
    return out;
}

std::vector<PdoMessage> canopenBfCycle(const BasicFunctionValues& values, uint8_t globalInformation,
                                       int generation) {
    std::vector<PdoMessage> out{{kBfConfig, bfConfiguration(values.count, generation)}};
    for (int k = 0; k < bfDataMessages(values); ++k)
        out.push_back({k, encodeBasicFunctionMessage(values, k)});
    out.push_back({kBfCounter, {}});
    out.push_back({kBfGlobal, globalInformationMessage(globalInformation)});
    return out;
}

std::vector<PdoMessage> canopenLgCycle(const FrameTruth& truth) {
    std::array<uint8_t, 8> lineCount{};
    lineCount[0] = uint8_t(std::clamp(truth.numberOfLines, 0, kLineSlots));
    std::vector<PdoMessage> out{{kLgCounter, frameCounterMessage(truth.frameCounter)},
                                {kLgCount, lineCount},
                                {kLgGlobal, globalInformationMessage(globalInformationOf(truth))}};
    for (int k : kLgDataOrder)
        out.push_back({k, half(lineOrEmpty(truth, k / 2, kLineSlots), k % 2)});
    return out;
}

int tpdoCount(CanFunction function) {
    switch (function) {
    case CanFunction::OD:
        return 43;
    case CanFunction::BF:
        return 67;
    case CanFunction::LG:
        return 13;
    }
    return 0;
}

int tpdoIndex(CanFunction function, int generation, int tpdo) {
    if (tpdo < 0 || tpdo >= tpdoCount(function))
        return -1;
    const bool first = generation <= 1 && function != CanFunction::LG;
    const int dataCount = function == CanFunction::OD ? 40 : function == CanFunction::BF ? 64 : 10;
    if (tpdo < dataCount)
        return (first ? 0x1800 : 0x1810) + tpdo;
    const int state = tpdo - dataCount; // 0, 1, 2 in the order of the comment above
    if (first)
        return (function == CanFunction::OD ? 0x1828 : 0x1840) + state;
    // Later generations count the state messages down from 0x1802.
    return 0x1802 - state;
}

int tpdoFromIndex(CanFunction function, int generation, int index) {
    for (int t = 0; t < tpdoCount(function); ++t)
        if (tpdoIndex(function, generation, t) == index)
            return t;
    return -1;
}

} // namespace trvsim
