#include "simulator/can/diagnode.h"

#include "simulator/virtualsensor.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace trvsim {

double simTimeScale() {
    const char* text = std::getenv("TRVAXX_TIME_SCALE");
    if (!text || !*text)
        return 1.0;
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    return (*end != '\0' || !(v >= 0.0) || v > 1000.0) ? 1.0 : v;
}

namespace {
SensorStatus statusOf(const VirtualSensor& sensor) {
    SensorStatus s;
    const uint32_t frame = sensor.lastFrameCounter();
    const FrameTruth truth = sensor.truth(frame ? frame : sensor.config().firstFrameCounter);
    s.mainTemperature = truth.cameraMainTemperature;
    s.illuTemperature = truth.illuTemperature;
    s.supplyVoltage = 24.0f;
    s.frameCounter = frame;
    s.runMode = truth.opMode;
    return s;
}
} // namespace

DiagNode::DiagNode(VirtualSensor& sensor, const CanConfig& config)
    : m_sensor(sensor), m_config(config), m_identity(sensor.config().identity),
      m_tp(config.blockSize, config.stMinMs) {
    const SimConfig& sim = sensor.config();
    ParameterValues values = factoryParameters(sim);
    for (const ParameterValues& current : {sensor.dspParameters(), sensor.kpParameters()})
        for (const auto& [name, v] : current)
            values[name] = v;
    m_valid = m_blocks.load(sim.identity, values);
    if (!m_valid) {
        m_error = m_blocks.errorText();
        log(1, "diagnosis unavailable: " + m_error);
    }
    DiagServerSettings settings;
    settings.log = [this](int level, const std::string& line) { log(level, line); };
    settings.zeroSeed = config.zeroSeed;
    settings.bootLoader = config.bootLoader;
    settings.bootLoaderSession = config.bootLoaderSession;
    settings.flashFault = config.flashFault;
    m_server = std::make_unique<DiagServer>(m_blocks, diagIdentity(sim), settings,
                                            [this] { return statusOf(m_sensor); });
    m_tp.setRequestHandler(
        [this](const std::vector<uint8_t>& p, bool functional) { onRequest(p, functional); });
    applyAddress();
}

void DiagNode::log(int level, const std::string& line) const {
    const SimConfig& c = m_sensor.config();
    if (level > c.verbosity)
        return;
    if (c.log)
        c.log(level, line);
    else
        std::fprintf(stderr, "trvaxx-sim: %s\n", line.c_str());
}

void DiagNode::attach(CanBusPort* port) {
    m_tp.setPort(port);
    if (m_config.bootLoader && m_sensor.isRunning())
        m_sensor.stop(); // only the boot loader runs: no results
}

void DiagNode::applyAddress() {
    const ParameterValues v = m_valid ? m_blocks.values() : ParameterValues();
    auto value = [&](const char* name, double fallback) {
        const auto it = v.find(name);
        return it == v.end() || it->second.empty() ? fallback : it->second.front();
    };
    const bool overrides = m_useOverrides;
    m_protocol = overrides && m_config.protocol != CanProtocol::FromParameters
                     ? m_config.protocol
                     : (value("CANProtocol", 0) == 1 ? CanProtocol::CANopen : CanProtocol::J1939);
    int address = overrides ? m_config.address : -1;
    if (address < 0 || address > 255)
        address = static_cast<int>(m_protocol == CanProtocol::CANopen ? value("CANopenNodeAddress", 10)
                                                                      : value("J1939SourceAddress", 239));
    m_tp.setNode(static_cast<uint8_t>(address & 0xFF));
    const double rate = value("CANBaudrate", 250000);
    m_bitRate = overrides && m_config.bitRate
                    ? m_config.bitRate
                    : (rate > 0 && rate <= 1e6 ? static_cast<uint32_t>(rate) : 250000);
}

void DiagNode::receive(const SimCanFrame& frame, SimClock::time_point at) {
    if (!m_online || !m_valid)
        return;
    m_now = at;
    m_tp.receive(frame, at);
}

void DiagNode::onRequest(const std::vector<uint8_t>& payload, bool functional) {
    std::optional<std::vector<uint8_t>> answer = m_server->handle(payload, functional, m_now);
    noteRestart();
    if (!answer)
        return;
    SimClock::time_point at = m_answers.empty() ? m_now : std::max(m_now, m_answers.back().at);
    for (uint32_t i = 0; i < m_config.responsePending; ++i) {
        m_answers.push_back({at, {0x7F, payload[0], 0x78}});
        at += kPendingInterval;
    }
    m_answers.push_back({at, std::move(*answer)});
}

void DiagNode::noteRestart() {
    const DiagServer::Restart restart = m_server->takeRestart();
    if (restart == DiagServer::Restart::None)
        return;
    m_restartWanted = true;
    m_hang = m_hang || restart == DiagServer::Restart::Hang;
}

void DiagNode::beginRestart(SimClock::time_point now) {
    m_restartWanted = false;
    const auto down = std::exchange(m_hang, false) ? kHangTime : kRestartTime;
    m_online = false;
    m_tp.reset();
    m_answers.clear();
    const DiagServer::RestartOutcome outcome = m_server->restart();
    if (outcome.kpParametersChanged)
        m_useOverrides = false;
    std::optional<SensorIdentity> identity = takeFirmwareIdentity();
    const auto silence = std::chrono::duration_cast<std::chrono::milliseconds>(down * simTimeScale());
    m_backOnline = now + silence;
    log(1, "diagnosis: restart, silent for " + std::to_string(silence.count()) + " ms");
    if (outcome.leftBootLoader) {
        m_sensor.restart(m_blocks.values(), std::chrono::milliseconds(0), std::move(identity));
        m_sensor.start();
    } else if (!m_server->bootLoader()) {
        m_sensor.restart(m_blocks.values(), silence, std::move(identity));
    }
}

std::optional<SensorIdentity> DiagNode::takeFirmwareIdentity() {
    const DiagIdentity& reported = m_server->identity();
    SensorIdentity next = m_identity;
    if (const std::optional<Variant> variant = variantFromName(reported.variant))
        next.variant = *variant;
    next.version = {reported.globalVersion[0], reported.globalVersion[1], reported.globalVersion[2]};
    if (next.variant == m_identity.variant && next.version.text() == m_identity.version.text())
        return std::nullopt;
    SimConfig sim = m_sensor.config();
    sim.identity = next;
    ParameterBlocks blocks;
    if (!blocks.load(next, carriedParameters(sim, m_blocks.values()))) {
        log(1, "diagnosis: firmware " + std::string(variantName(next.variant)) + " " + next.version.text() +
                   " has no parameter layout here (" + blocks.errorText() +
                   "); parameters stay as they were");
        return std::nullopt;
    }
    m_blocks = std::move(blocks);
    m_identity = next;
    return next;
}

void DiagNode::tick(SimClock::time_point now) {
    m_now = now;
    if (!m_online) {
        if (now >= m_backOnline) {
            applyAddress();
            m_online = true;
            log(1, "diagnosis: back at node " + std::to_string(m_tp.node()) +
                       (m_protocol == CanProtocol::CANopen ? " (CANopen)" : " (J1939)") + ", " +
                       std::to_string(m_bitRate) + " bit/s");
        }
        return;
    }
    m_server->tick(now);
    noteSceneEvents(now);
    noteRestart();
    while (!m_answers.empty() && m_answers.front().at <= now) {
        m_tp.send(std::move(m_answers.front().bytes), now);
        m_answers.pop_front();
    }
    m_tp.tick(now);
    // The answer that asked for the restart goes out first.
    if (m_restartWanted && m_answers.empty() && m_tp.idle())
        beginRestart(now);
}

void DiagNode::noteSceneEvents(SimClock::time_point now) {
    if (now < m_nextSceneCheck)
        return;
    m_nextSceneCheck = now + std::chrono::seconds(1);
    const uint32_t frame = m_sensor.lastFrameCounter();
    if (frame != 0 && m_sensor.truth(frame).sprayActive)
        m_server->errorMemory().add(kSprayTroubleCode, 0x09); // test failed, confirmed
}

} // namespace trvsim
