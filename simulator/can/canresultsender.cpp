#include "simulator/can/canresultsender.h"

#include "simulator/virtualsensor.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace trvsim {

namespace {

double first(const ParameterValues& values, const char* name, double fallback) {
    auto it = values.find(name);
    return it == values.end() || it->second.empty() ? fallback : it->second.front();
}

double element(const ParameterValues& values, const char* name, size_t index, double fallback = 0) {
    auto it = values.find(name);
    return it == values.end() || index >= it->second.size() ? fallback : it->second[index];
}

struct Region {
    int group, left, top, right, bottom;
};

std::vector<Region> regions(const ParameterValues& dsp) {
    std::vector<Region> out;
    const int count = std::clamp(int(first(dsp, "DistImageCust_bfROIs_numberOfROIs", 0)), 0, kRoiGroups);
    for (int r = 0; r < count; ++r) {
        const size_t i = size_t(r);
        out.push_back({int(element(dsp, "DistImageCust_bfROIs_group", i)) % kRoiGroups,
                       int(element(dsp, "DistImageCust_bfROIs_upperLeftX", i)),
                       int(element(dsp, "DistImageCust_bfROIs_upperLeftY", i)),
                       int(element(dsp, "DistImageCust_bfROIs_lowerRightX", i)),
                       int(element(dsp, "DistImageCust_bfROIs_lowerRightY", i))});
    }
    if (out.empty()) {
        const int w = kSensorWidth / 2 - 1, h = kSensorHeight / 2 - 1;
        out = {{0, 0, 0, w, h},
               {1, w + 1, 0, kSensorWidth - 1, h},
               {2, 0, h + 1, w, kSensorHeight - 1},
               {3, w + 1, h + 1, kSensorWidth - 1, kSensorHeight - 1}};
    }
    return out;
}

CanFunction functionOf(const std::string& variant) {
    if (variant.rfind("DI", 0) == 0)
        return CanFunction::BF;
    return variant.rfind("LG", 0) == 0 ? CanFunction::LG : CanFunction::OD;
}

int generationOf(const std::string& version) {
    int major = 0, minor = 0;
    std::sscanf(version.c_str(), "%d.%d", &major, &minor);
    return canResultGeneration(major, minor);
}

} // namespace

BasicFunctionValues basicFunctionValues(const FrameTruth& truth, const ParameterValues& dsp) {
    enum { Min = 0, Max = 1, Average = 2 };
    struct Accumulator {
        int pixels = 0;
        int best = -1;
        double sum[4] = {};
    };
    std::array<Accumulator, kRoiGroups> acc{};
    BasicFunctionValues out;
    for (const Region& r : regions(dsp)) {
        out.count = std::max(out.count, r.group + 1);
        const int type = int(element(dsp, "DistImageCust_bfResultTypes", size_t(r.group), Min));
        Accumulator& a = acc[size_t(r.group)];
        for (int y = std::max(0, r.top); y <= std::min(r.bottom, kSensorHeight - 1); ++y)
            for (int x = std::max(0, r.left); x <= std::min(r.right, kSensorWidth - 1); ++x) {
                const int p = y * kSensorWidth + x;
                if (truth.confidence[size_t(p)] & confidence::kInvalid)
                    continue;
                ++a.pixels;
                const double values[4] = {truth.X[size_t(p)], truth.Y[size_t(p)], truth.Z[size_t(p)],
                                          double(truth.amplitude[size_t(p)])};
                for (int q = 0; q < 4; ++q)
                    a.sum[q] += values[q];
                const float d = truth.cameraAxisDistance[size_t(p)];
                if (a.best < 0 || (type == Max ? d > truth.cameraAxisDistance[size_t(a.best)]
                                               : d < truth.cameraAxisDistance[size_t(a.best)]))
                    a.best = p;
            }
        if (a.pixels == 0)
            continue;
        RoiGroupValue& g = out.groups[size_t(r.group)];
        if (type == Average) {
            g = {float(a.sum[0] / a.pixels), float(a.sum[1] / a.pixels), float(a.sum[2] / a.pixels),
                 float(a.sum[3] / a.pixels)};
        } else {
            const size_t p = size_t(a.best);
            g = {truth.X[p], truth.Y[p], truth.Z[p], float(truth.amplitude[p])};
        }
    }
    return out;
}

namespace {
SimCanFrame canFrame(uint32_t id, const std::array<uint8_t, 8>& data, uint8_t length = 8) {
    SimCanFrame f;
    f.id = id;
    f.extended = id > 0x7FF;
    f.length = length;
    f.data = data;
    return f;
}
} // namespace

bool CanopenSlave::receive(const SimCanFrame& frame, uint8_t node, SimClock::time_point at,
                           SimCanFrame& reply) {
    if (frame.extended)
        return false;
    if (frame.id == 0 && frame.length >= 2)
        handleNmt(frame, node, at);
    else if (frame.id == 0x600u + node && m_nmt != NmtState::Initialising)
        return reply = handleSdo(frame, node), true;
    return false;
}

bool CanopenSlave::bootUp(SimClock::time_point now, uint8_t node, SimCanFrame& message) {
    if (!m_bootUpPending || now < m_bootUpAt)
        return false;
    m_bootUpPending = false;
    m_nmt = NmtState::PreOperational;
    message = canFrame(0x700u + node, {}, 1);
    return true;
}

void CanopenSlave::powerOff(SimClock::time_point now) {
    m_nmt = NmtState::Initialising;
    m_bootUpPending = true;
    m_bootUpAt = now + std::chrono::milliseconds(5);
    m_cobIds.clear();
}

int CanopenSlave::cobId(int tpdo) const {
    auto it = m_cobIds.find(tpdo);
    return it == m_cobIds.end() ? -1 : int(it->second);
}

void CanopenSlave::handleNmt(const SimCanFrame& frame, uint8_t node, SimClock::time_point at) {
    if (frame.data[1] != 0 && frame.data[1] != node)
        return;
    switch (frame.data[0]) {
    case 0x01: // start remote node
        if (m_nmt != NmtState::Initialising)
            m_nmt = NmtState::Operational;
        break;
    case 0x02: // stop remote node
        m_nmt = NmtState::Stopped;
        break;
    case 0x80: // enter pre-operational
        m_nmt = NmtState::PreOperational;
        break;
    case 0x81: // reset node: the PDO configuration is lost, boot-up follows
    case 0x82: // reset communication
        m_nmt = NmtState::Initialising;
        m_cobIds.clear();
        m_bootUpPending = true;
        m_bootUpAt = at + std::chrono::milliseconds(20);
        break;
    default:
        break;
    }
}

SimCanFrame CanopenSlave::handleSdo(const SimCanFrame& frame, uint8_t node) {
    const int index = frame.data[1] | frame.data[2] << 8;
    const uint8_t sub = frame.data[3];
    std::array<uint8_t, 8> answer{0, frame.data[1], frame.data[2], sub};
    const int tpdo = tpdoFromIndex(m_function, m_generation, index);
    // An expedited download of four bytes (0x23) into sub-index 1, the COB-ID, is all this node
    // takes; anything else is aborted as "object does not exist" or "unsupported access".
    if (frame.length == 8 && frame.data[0] == 0x23 && sub == 1 && tpdo >= 0) {
        const uint32_t cob = uint32_t(frame.data[4]) | uint32_t(frame.data[5]) << 8 |
                             uint32_t(frame.data[6]) << 16 | uint32_t(frame.data[7]) << 24;
        if (cob & 0x80000000u)
            m_cobIds.erase(tpdo); // PDO switched off
        else
            m_cobIds[tpdo] = cob & 0x7FF;
        answer[0] = 0x60;
    } else {
        const uint32_t abort = tpdo < 0 ? 0x06020000u : 0x06010000u;
        answer[0] = 0x80;
        for (int i = 0; i < 4; ++i)
            answer[size_t(4 + i)] = uint8_t(abort >> (8 * i));
    }
    return canFrame(0x580u + node, answer);
}

CanResultSender::CanResultSender(VirtualSensor& sensor, const CanConfig& config,
                                 std::function<bool()> overridesApply, std::function<bool()> transmitting)
    : m_sensor(sensor), m_config(config), m_overridesApply(std::move(overridesApply)),
      m_transmitting(std::move(transmitting)), m_canopen(CanFunction::OD, 0) {
    followIdentity();
}

void CanResultSender::followIdentity() {
    m_restartsSeen = m_sensor.restartCount();
    const IdentificationTruth id = m_sensor.identification();
    const CanFunction function = functionOf(id.cameraVariant);
    const int generation = generationOf(id.softwareVersion);
    if (function == m_function && generation == m_generation)
        return;
    m_function = function;
    m_generation = generation;
    m_canopen = CanopenSlave(function, generation); // a restart: PDO configuration gone, boot-up due
}

void CanResultSender::attach(CanBusPort* port) {
    m_port = port;
}

uint32_t CanResultSender::bitRate() const {
    return settings().bitRate;
}

bool CanResultSender::online() const {
    return m_sensor.state() == SensorState::Streaming;
}

CanResultSender::Settings CanResultSender::settings() const {
    const ParameterValues kp = m_sensor.kpParameters();
    const bool overrides = !m_overridesApply || m_overridesApply();
    const CanProtocol protocol = overrides ? m_config.protocol : CanProtocol::FromParameters;
    Settings s;
    s.canopen = protocol == CanProtocol::CANopen ||
                (protocol == CanProtocol::FromParameters && first(kp, "CANProtocol", 0) == 1);
    const double address =
        overrides && m_config.address >= 0
            ? m_config.address
            : first(kp, s.canopen ? "CANopenNodeAddress" : "J1939SourceAddress", s.canopen ? 10 : 239);
    s.address = uint8_t(std::clamp(address, 0.0, s.canopen ? 127.0 : 253.0));
    s.maxObjects = std::clamp(int(first(kp, "CANMaxNumberOfObjects", kObjectSlots)), 0, kObjectSlots);
    s.maxLines = std::clamp(int(first(kp, "CANMaxNumberOfLines", kLineSlots)), 0, kLineSlots);
    s.modulo = std::max(1, int(first(kp, "CANOutputCycleModulo", 1)));
    s.bitRate = overrides && m_config.bitRate ? m_config.bitRate : uint32_t(first(kp, "CANBaudrate", 250000));
    return s;
}

void CanResultSender::tick(SimClock::time_point now) {
    if (!online()) {
        m_canopen.powerOff(now);
        return;
    }
    if (m_sensor.restartCount() != m_restartsSeen)
        followIdentity();
    const Settings s = settings();
    SimCanFrame bootUp;
    if (s.canopen && m_port && m_canopen.bootUp(now, s.address, bootUp))
        m_port->send(bootUp);
    const uint32_t frameCounter = m_sensor.lastFrameCounter();
    if (frameCounter == 0 || frameCounter == m_lastFrameCounter)
        return;
    m_lastFrameCounter = frameCounter;
    if (m_transmitting && !m_transmitting())
        return;
    if (frameCounter % uint32_t(s.modulo) == 0)
        sendCycle(frameCounter, s);
}

void CanResultSender::sendCycle(uint32_t frameCounter, const Settings& s) {
    if (!m_port || (s.canopen && m_canopen.state() != NmtState::Operational))
        return;
    const FrameTruth truth = m_sensor.truth(frameCounter);
    const uint8_t global = uint8_t(truth.available & 0xFF);
    std::vector<SimCanFrame> frames;
    std::vector<PdoMessage> pdos;
    switch (m_function) {
    case CanFunction::OD:
        if (s.canopen)
            pdos = canopenOdCycle(truth, m_generation);
        else
            frames = j1939OdCycle(truth, m_generation, s.address, s.maxObjects);
        break;
    case CanFunction::BF: {
        const BasicFunctionValues values = basicFunctionValues(truth, m_sensor.dspParameters());
        if (s.canopen)
            pdos = canopenBfCycle(values, global, m_generation);
        else
            frames = j1939BfCycle(values, global, m_generation, s.address);
        break;
    }
    case CanFunction::LG:
        if (s.canopen)
            pdos = canopenLgCycle(truth);
        else
            frames = j1939LgCycle(truth, s.address, s.maxLines);
        break;
    }
    for (const PdoMessage& m : pdos)
        if (const int cob = m_canopen.cobId(m.tpdo); cob >= 0)
            frames.push_back(canFrame(uint32_t(cob), m.data));
    for (const SimCanFrame& f : frames)
        m_port->send(f);
    ++m_cyclesSent;
}

void CanResultSender::receive(const SimCanFrame& frame, SimClock::time_point at) {
    if (!online())
        return;
    const Settings s = settings();
    SimCanFrame reply;
    if (s.canopen && m_canopen.receive(frame, s.address, at, reply) && m_port)
        m_port->send(reply);
}

VehicleSender::VehicleSender(uint32_t bitRate, double speedKmh, double yawRate)
    : m_bitRate(bitRate), m_speedKmh(speedKmh), m_yawRate(yawRate) {}

void VehicleSender::tick(SimClock::time_point now) {
    if (!m_port)
        return;
    if (m_start == SimClock::time_point{})
        m_start = m_nextSpeed = m_nextYaw = now;
    const double t = std::chrono::duration<double>(now - m_start).count();
    auto send = [&](uint32_t id, const std::array<uint8_t, 8>& data) { m_port->send(canFrame(id, data)); };
    if (now >= m_nextSpeed) {
        m_nextSpeed += std::chrono::milliseconds(50);
        const auto speed = uint16_t(std::lround(m_speedKmh / 0.00390625));
        send(kSpeedId, {0xFF, 0xFF, uint8_t(speed), uint8_t(speed >> 8), 0xFF, 0xFF, 0xFF, 0xFF});
        // TCO1 byte 3, bits 6..7: direction indicator, 1 = forward.
        send(kTachographId, {0, 0, 0, uint8_t(1u << 6), 0, 0, 0, 0});
    }
    if (now >= m_nextYaw) {
        m_nextYaw += std::chrono::milliseconds(20);
        const double yaw = m_yawRate * std::cos(t * 0.5);
        const auto raw = uint16_t(std::lround((yaw + 3.92) / 0.00012207));
        send(kYawRateId, {0xFF, 0xFF, 0xFF, uint8_t(raw), uint8_t(raw >> 8), 0xFF, 0xFF, 0xFF});
    }
}

} // namespace trvsim
