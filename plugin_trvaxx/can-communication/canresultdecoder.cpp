#include "can-communication/canresultdecoder.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

uint32_t word(const uint8_t* bytes, int i) {
    const uint8_t* b = bytes + 4 * i;
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

uint16_t halfWord(const uint8_t* bytes) {
    return uint16_t(bytes[0] | bytes[1] << 8);
}

float scaled(uint32_t raw, double scale, double offset) {
    return float(raw * scale + offset);
}

// Largest valid value of a two-byte J1939 parameter; above it lie the error and not-available codes.
constexpr uint16_t kJ1939Largest16 = 0xFAFF;
constexpr float kNotAvailable = std::numeric_limits<float>::quiet_NaN();

} // namespace

bool ResultFrameMap::isValid(bool canopen, int generation, int address) {
    return generation >= 1 && generation <= 3 &&
           (canopen ? address >= 1 && address <= 127 : address >= 0 && address <= 253);
}

ResultFrameMap::ResultFrameMap(Function function, bool canopen, int generation, int address)
    : m_function(function), m_canopen(canopen), m_generation(generation), m_address(address) {
    using K = CycleMessage;
    // Generation 1 has its own numbering, except for the line guidance.
    const bool first = generation <= 1 && function != Function::LG;
    switch (function) {
    case Function::OD:
        m_dataCount = 40;
        m_firstData = first ? 0xFF06 : 0xFF10;
        m_states = {{uint16_t(first ? 0xFF04 : 0xFF01), K::GlobalInformation},
                    {uint16_t(first ? 0xFF05 : 0xFF02), K::SecondState}};
        if (!canopen)
            m_trigger = {K::GlobalInformation, 0};
        else
            m_trigger = first ? CycleMessage{K::CycleEnd, 0} : CycleMessage{K::Data, 39};
        break;
    case Function::BF:
        m_dataCount = 64;
        m_firstData = first ? 0xFF06 : 0xFF10;
        m_states = {{uint16_t(first ? 0xFF04 : 0xFF01), K::GlobalInformation},
                    {uint16_t(first ? 0xFF01 : 0xFF02), K::SecondState},
                    {0xFF00, K::FrameCounter}};
        m_trigger = {K::GlobalInformation, 0};
        break;
    case Function::LG:
        m_dataCount = 10;
        m_firstData = 0xFF10;
        m_states = {{0xFF01, K::GlobalInformation}, {0xFF02, K::SecondState}, {0xFF00, K::FrameCounter}};
        m_trigger = {K::Data, 4};
        break;
    }
    if (!canopen)
        return;

    auto assign = [this](int index, int cobId, CycleMessage message) {
        m_pdos.push_back({uint16_t(index), uint16_t(cobId)});
        m_byCobId[size_t(cobId)] = message;
    };
    const int shift = first ? 0 : 1;
    for (int k = 0; k < m_dataCount; ++k)
        assign((first ? 0x1800 : 0x1810) + k, 0x100 * (k % 4 + 1) + 0x80 + address + k / 4 + shift,
               {K::Data, uint8_t(k)});
    if (first) {
        // Just after the data identifiers (OD 10 per function code, BF 16).
        const int base = function == Function::OD ? 0x1828 : 0x1840;
        const K::Kind last = function == Function::OD ? K::CycleEnd : K::FrameCounter;
        const K::Kind kinds[3] = {K::SecondState, K::GlobalInformation, last};
        for (int s = 0; s < 3; ++s)
            assign(base + s, 0x180 + 0x100 * s + address + m_dataCount / 4, {kinds[s], 0});
    } else {
        const K::Kind kinds[3] = {K::FrameCounter, K::GlobalInformation, K::SecondState};
        for (int s = 0; s < 3; ++s)
            assign(0x1800 + s, 0x180 + 0x100 * s + address, {kinds[s], 0});
    }
}

CycleMessage ResultFrameMap::classify(const CanFrame& frame, bool* fromSensor) const {
    bool ours = false;
    CycleMessage message;
    if (m_canopen) {
        if (!isExtendedCanId(frame.identifier))
            message = m_byCobId[frame.identifier];
        ours = message.kind != CycleMessage::None;
    } else if (isExtendedCanId(frame.identifier) && int(frame.identifier & 0xFF) == m_address) {
        ours = true;
        const int number = int((frame.identifier >> 8) & 0xFFFF);
        if (number >= m_firstData && number < m_firstData + m_dataCount)
            message = {CycleMessage::Data, uint8_t(number - m_firstData)};
        for (const StateNumber& state : m_states)
            if (state.number == number)
                message = {state.kind, 0};
    }
    if (fromSensor)
        *fromSensor = ours;
    return message;
}

DetectedObject_TRVAXX decodeObject(const uint8_t* b) {
    const uint32_t w0 = word(b, 0), w1 = word(b, 1), w2 = word(b, 2), w3 = word(b, 3);
    DetectedObject_TRVAXX o;
    o.id = int32_t((w1 >> 6) & 0xFF);
    o.history = int32_t((w3 >> 29) & 1);
    o.measured = int32_t((w0 >> 15) & 1);
    o.type = int32_t((w0 >> 7) & 1);
    o.age = int32_t((w1 >> 4) & 3);
    o.x1 = scaled(w3 & 0x1FFF, 0.02, -80);
    o.y1 = scaled((w3 >> 13) & 0x1FFF, 0.02, -80);
    o.x2 = o.x1 + scaled(w2 >> 20, 0.02, -40);
    o.y2 = o.y1 + scaled((w2 >> 8) & 0xFFF, 0.02, -40);
    o.zMin = scaled((w1 >> 14) & 0x7FF, 0.02, -10);
    o.zMax = o.zMin + scaled(w2 & 0xFF, 0.02, 0);
    o.vX = scaled(w0 & 0x7F, 0.5, -30);
    o.vY = scaled((w0 >> 8) & 0x7F, 0.5, -30);
    o.vZ = scaled((w1 >> 25) & 0x1F, 0.5, -6);
    o.aX = scaled((w0 >> 24) & 0x1F, 1, -10);
    o.aY = scaled((w0 >> 16) & 0x1F, 1, -10);
    o.aZ = scaled(w1 & 0xF, 1, -5);
    o.existenceProbability = float((w0 >> 21) & 7);
    o.vXQuality = float(w0 >> 29);
    o.vYQuality = float((w3 >> 26) & 7);
    return o;
}

void decodeCrashPredictor(const uint8_t* b, DetectedObjectData_TRVAXX& record) {
    const uint32_t w = word(b, 0);
    const uint32_t velocity = halfWord(b + 2) & 0x1FF;
    record.crashObjectID = b[0];
    record.crashPredictTime = scaled(b[1], 0.04, 0);
    record.relImpactVelocity = scaled(velocity, 0.1, 0);
    record.crashPredicted = int32_t((w >> 25) & 3) - 2;
    record.crashPredictorFlagsA = uint8_t((w >> 27) & 7);
    record.crashPredictorFlagsB = uint8_t(w >> 30);
    record.crashPredictorValid = velocity < 501 && b[1] < 176 ? 1 : 0;
}

DetectedLine_TRVAXX decodeLine(const uint8_t* b) {
    const uint32_t w0 = word(b, 0), w1 = word(b, 1), w2 = word(b, 2), w3 = word(b, 3);
    DetectedLine_TRVAXX l;
    l.id = int32_t(w0 & 0x7F);
    l.history = int32_t((w1 >> 27) & 1);
    l.measured = int32_t((w1 >> 25) & 1);
    l.type = int32_t((w1 >> 24) & 1);
    l.alpha = float((w0 >> 7) & 0x1FF);
    l.offset = scaled((w1 >> 13) & 0x7FF, 0.01, -10);
    l.curvature = scaled((w0 >> 16) & 0xFF, 0.0005, -0.05);
    l.quality = float((w0 >> 24) & 0x7F);
    l.foresight = float((w1 >> 8) & 0x1F);
    l.heap_area = scaled((w3 >> 7) & 0x3FF, 0.01, 0);
    l.heap_area_valid = int32_t((w3 >> 20) & 1);
    l.heap_width = float(w2 >> 25);
    l.heap_width_valid = int32_t((w3 >> 19) & 1);
    l.center_of_gravity_offset = scaled(w2 & 0xFF, 0.05, -5);
    l.center_of_gravity_offset_valid = int32_t((w3 >> 21) & 1);
    l.max_height_offset = scaled((w2 >> 8) & 0xFF, 0.05, -5);
    l.max_height_offset_valid = int32_t((w3 >> 17) & 1);
    l.heap_height = scaled((w2 >> 16) & 0x1FF, 0.01, 0);
    l.heap_height_valid = int32_t((w3 >> 18) & 1);
    l.z_step_detection_height = scaled((w0 >> 31) << 8 | (w1 & 0xFF), 0.01, 0);
    l.z_step_detection_valid = int32_t((w1 >> 26) & 1);
    return l;
}

void VehicleMessages::Message::store(const uint8_t* bytes, qint64 nowMs) {
    if (arrival >= 0) {
        intervals[size_t(next)] = nowMs - arrival;
        next = (next + 1) % int(intervals.size());
        intervalCount = std::min(intervalCount + 1, int(intervals.size()));
    }
    arrival = nowMs;
    std::memcpy(data.data(), bytes, data.size());
}

int32_t VehicleMessages::Message::meanInterval() const {
    qint64 sum = 0;
    for (int i = 0; i < intervalCount; ++i)
        sum += intervals[size_t(i)];
    return intervalCount ? int32_t(sum / intervalCount) : 0;
}

VehicleMessages::Taken VehicleMessages::take(const CanFrame& frame, qint64 nowMs) {
    Message* message = nullptr;
    uint16_t value = 0;
    if (frame.identifier == kSpeedIds[0] || frame.identifier == kSpeedIds[1]) {
        message = &speed;
        value = halfWord(frame.data + 2);
    } else if (frame.identifier == kYawRateId) {
        message = &yawRate;
        value = halfWord(frame.data + 3);
    } else if (frame.identifier == kTachographId) {
        message = &tachograph;
    } else {
        return Taken::No;
    }
    if (frame.length != 8)
        return Taken::WrongLength;
    if (value > kJ1939Largest16)
        return Taken::OutOfRange;
    message->store(frame.data, nowMs);
    return Taken::Yes;
}

void VehicleMessages::fill(DetectedObjectData_TRVAXX& record, qint64 nowMs) const {
    if (speed.freshAt(nowMs) && tachograph.freshAt(nowMs)) {
        record.egoVelocityValid = 1;
        record.egoVelocity = scaled(halfWord(speed.data.data() + 2), 0.00390625 / 3.6, 0);
        record.egoVelocityCycleTime = speed.meanInterval();
        record.drivingDirection = tachograph.data[3] >> 6;
    }
    if (yawRate.freshAt(nowMs)) {
        record.yawRateValid = 1;
        record.yawRate = scaled(halfWord(yawRate.data.data() + 3), 0.00012207, -3.92);
        record.yawRateCycleTime = yawRate.meanInterval();
    }
}

const char* ResultDecoder::ignoredName(Ignored reason) {
    static const char* const names[IgnoredKinds] = {"from other sources", "of unknown messages",
                                                    "of a wrong length", "with values out of range"};
    return names[reason];
}

bool ResultDecoder::feed(const CanFrame& frame, qint64 nowMs) {
    bool fromSensor = false;
    const CycleMessage message = m_map.classify(frame, &fromSensor);
    if (message.kind == CycleMessage::None) {
        switch (takeOther(frame, nowMs)) {
        case VehicleMessages::Taken::Yes:
            break;
        case VehicleMessages::Taken::No:
            ++m_ignored[fromSensor ? UnknownMessage : OtherSource];
            break;
        case VehicleMessages::Taken::WrongLength:
            ++m_ignored[WrongLength];
            break;
        case VehicleMessages::Taken::OutOfRange:
            ++m_ignored[OutOfRange];
            break;
        }
        return false;
    }
    if (frame.length != 8) {
        ++m_ignored[WrongLength];
        return false;
    }
    switch (message.kind) {
    case CycleMessage::GlobalInformation:
        std::memcpy(m_global.data(), frame.data, 8);
        break;
    case CycleMessage::Data:
    case CycleMessage::SecondState:
        if (!store(message, frame.data)) {
            ++m_ignored[OutOfRange];
            return false;
        }
        break;
    default: // the frame counter and the cycle end carry nothing that the record holds
        break;
    }
    if (!(message == m_map.trigger()))
        return false;
    finishCycle(nowMs);
    return true;
}

bool ObjectResultDecoder::store(const CycleMessage& message, const uint8_t* data) {
    if (message.kind == CycleMessage::SecondState) {
        std::memcpy(m_crash.data(), data, 8);
        return true;
    }
    const int k = message.index;
    std::memcpy(m_objects[size_t(k / 2)].data() + 8 * (k % 2), data, 8);
    m_objectCount = (k + 1) / 2;
    return true;
}

VehicleMessages::Taken ObjectResultDecoder::takeOther(const CanFrame& frame, qint64 nowMs) {
    return m_vehicle.take(frame, nowMs);
}

void ObjectResultDecoder::finishCycle(qint64 nowMs) {
    m_record = DetectedObjectData_TRVAXX_t::create();
    for (int i = 0; i < TRVAXX_OBJECT_COUNT; ++i) {
        DetectedObject_TRVAXX& object = m_record->objects[size_t(i)];
        object = decodeObject(m_objects[size_t(i)].data());
        if (i >= m_objectCount)
            object.id = 0;
    }
    decodeCrashPredictor(m_crash.data(), *m_record);
    m_vehicle.fill(*m_record, nowMs);
    m_objectCount = 0;
}

bool BasicFunctionResultDecoder::store(const CycleMessage& message, const uint8_t* data) {
    if (message.kind == CycleMessage::SecondState) {
        // Generation 3 multiplexes the configuration message: only multiplexer 0 carries the count.
        const bool multiplexed = frameMap().generation() >= 3;
        if (multiplexed && (data[0] & 3) != 0)
            return true;
        const int count = (multiplexed ? data[1] : data[0]) & 0x7F;
        if (count > TRVAXX_ROI_GROUP_COUNT)
            return false;
        m_configuredCount = count;
        return true;
    }
    const int quantity = message.index % 4, group = 4 * (message.index / 4);
    const uint32_t w0 = word(data, 0), w1 = word(data, 1);
    const uint32_t values[4] = {w0, w0 >> 15, w1, w1 >> 15};
    for (int i = 0; i < 4; ++i)
        m_raw[size_t(group + i)][size_t(quantity)] = uint16_t(values[i] & 0x7FFF);
    return true;
}

void BasicFunctionResultDecoder::finishCycle(qint64) {
    m_record = BasicFunctionsData_TRVAXX_t::create();
    int lastReported = -1;
    for (int g = 0; g < TRVAXX_ROI_GROUP_COUNT; ++g) {
        const auto& raw = m_raw[size_t(g)];
        if (raw[0] != 0x7FFF || raw[1] != 0x7FFF || raw[2] != 0x7FFF || raw[3] != 0)
            lastReported = g;
        auto coordinate = [](uint16_t value) {
            return value >= 0x7FFD ? kNotAvailable : scaled(value, 0.01, -100);
        };
        m_record->roiGroups[size_t(g)] = {coordinate(raw[0]), coordinate(raw[1]), coordinate(raw[2]),
                                          raw[3] == 0 ? kNotAvailable : scaled(raw[3], 2, 0)};
    }
    m_record->count = m_configuredCount >= 0 ? m_configuredCount : lastReported + 1;
    reset();
}

void BasicFunctionResultDecoder::reset() {
    m_raw.fill({0x7FFF, 0x7FFF, 0x7FFF, 0});
    m_configuredCount = -1;
}

bool LineResultDecoder::store(const CycleMessage& message, const uint8_t* data) {
    if (message.kind == CycleMessage::SecondState)
        return data[0] <= TRVAXX_LINE_COUNT; // the line count: only checked
    const int k = message.index;
    std::memcpy(m_lines[size_t(k / 2)].data() + 8 * (k % 2), data, 8);
    return true;
}

void LineResultDecoder::finishCycle(qint64) {
    m_record = DetectedLineData_TRVAXX_t::create();
    for (int i = 0; i < TRVAXX_LINE_COUNT; ++i)
        m_record->lines[size_t(i)] = decodeLine(m_lines[size_t(i)].data());
}
