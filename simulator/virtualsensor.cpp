#include "simulator/virtualsensor.h"

#include "simulator/cycleproducer.h"
#include "simulator/udpsender.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

namespace trvsim {

const char* stateName(SensorState state) {
    switch (state) {
    case SensorState::Stopped:
        return "stopped";
    case SensorState::Streaming:
        return "streaming";
    case SensorState::Paused:
        return "paused";
    case SensorState::PoweredOff:
        return "powered off";
    case SensorState::Restarting:
        return "restarting";
    }
    return "?";
}

// The running part of a virtual sensor: producer, socket and the cycle thread.
class SensorEngine {
public:
    explicit SensorEngine(SimConfig config) : m_config(std::move(config)), m_producer(m_config) {}
    ~SensorEngine() { stop(); }

    void log(int level, const std::string& text) const {
        if (level > m_config.verbosity)
            return;
        if (m_config.log) {
            m_config.log(level, text);
            return;
        }
        std::fprintf(stderr, "trvaxx-sim: %s\n", text.c_str());
    }

    // Loads descriptions and parameters once; the truth accessors need them before a start.
    bool ensureInitialised() {
        std::lock_guard<std::mutex> lock(m_initMutex);
        if (!m_initialised) {
            if (!m_producer.init(m_error)) {
                log(1, "cannot start: " + m_error);
                return false;
            }
            m_initialised = true;
        }
        return true;
    }

    bool start() {
        std::lock_guard<std::mutex> lifecycle(m_lifecycle);
        if (m_thread.joinable())
            return true;
        if (!ensureInitialised())
            return false;
        if (!m_sender.open(m_config.sourceAddress, m_config.sourcePort) ||
            !m_sender.setDestination(m_producer.destinationAddress(), m_producer.destinationPort())) {
            m_error = m_sender.errorText();
            log(1, "cannot start: " + m_error);
            m_sender.close();
            return false;
        }
        m_stopRequested = false;
        m_state = SensorState::Streaming;
        m_localAddress = m_sender.localAddress();
        m_localPort = m_sender.localPort();
        log(1, std::string(modelName(m_config.identity.model)) + " " +
                   variantName(m_config.identity.variant) + " " + m_config.identity.version.text() +
                   " serial " + m_config.identity.serialNumber + " streams from " + m_sender.localAddress() +
                   ":" + std::to_string(m_sender.localPort()) + " to " + m_producer.destinationAddress() +
                   ":" + std::to_string(m_producer.destinationPort()) + " every " +
                   std::to_string(m_producer.cycleTimeMs()) + " ms");
        m_thread = std::thread([this] { run(); });
        return true;
    }

    void stop() {
        std::lock_guard<std::mutex> lifecycle(m_lifecycle);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopRequested = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable()) {
            m_thread.join();
            log(2, "stopped after " + std::to_string(m_cycles.load()) + " cycles");
        }
        m_sender.close();
        m_state = SensorState::Stopped;
    }

    bool isRunning() const { return m_state != SensorState::Stopped; }

    bool waitForCycles(uint64_t count, std::chrono::milliseconds timeout) const {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_progress.wait_for(lock, timeout, [&] { return m_cycles.load() >= count; });
    }

    void requestRestart(const ParameterValues& changes, std::chrono::milliseconds silence,
                        std::optional<SensorIdentity> identity) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (identity)
                m_pendingIdentity = std::move(identity);
            for (const auto& [name, value] : changes)
                m_pendingChanges[name] = value;
            m_restartSilence = silence;
            m_restartPending = true;
        }
        m_wake.notify_all();
    }

    SenderStatistics statistics() const {
        std::lock_guard<std::mutex> lock(m_statsMutex);
        return m_stats;
    }

    SimConfig m_config;
    CycleProducer m_producer;
    UdpSender m_sender;
    std::string m_error;
    std::atomic<SensorState> m_state{SensorState::Stopped};
    std::atomic<uint64_t> m_cycles{0};
    std::atomic<uint32_t> m_lastFrame{0};
    std::atomic<uint64_t> m_restarts{0};
    std::string m_localAddress;
    uint16_t m_localPort = 0;

private:
    // Waits until the deadline, a stop request or a restart request; true when stopping.
    bool sleepUntil(std::chrono::steady_clock::time_point deadline, bool wakeForRestart = true) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_wake.wait_until(lock, deadline,
                          [&] { return m_stopRequested || (wakeForRestart && m_restartPending); });
        return m_stopRequested;
    }

    // A pending restart: silence, then the new parameters. False when stopping meanwhile.
    bool restartIfRequested() {
        ParameterValues changes;
        std::optional<SensorIdentity> identity;
        std::chrono::milliseconds silence{0};
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_restartPending)
                return true;
            m_restartPending = false;
            changes.swap(m_pendingChanges);
            identity.swap(m_pendingIdentity);
            silence = m_restartSilence;
        }
        m_state = SensorState::Restarting;
        log(1, "restart: silent for " + std::to_string(silence.count()) + " ms");
        if (sleepUntil(std::chrono::steady_clock::now() + silence, false))
            return false;
        applyRestart(identity, changes);
        if (!m_sender.setDestination(m_producer.destinationAddress(), m_producer.destinationPort()))
            log(1, "restart: " + m_sender.errorText() + "; keeping the previous destination");
        m_stopAt = 0; // a restart is a power cycle: a power loss played before is over
        ++m_restarts;
        m_state = SensorState::Streaming;
        log(1, "restart done: streaming to " + m_producer.destinationAddress() + ":" +
                   std::to_string(m_producer.destinationPort()) + " every " +
                   std::to_string(m_producer.cycleTimeMs()) + " ms");
        return true;
    }

    void applyRestart(const std::optional<SensorIdentity>& identity, const ParameterValues& changes) {
        if (identity) {
            std::string error;
            if (m_producer.applyIdentity(*identity, changes, error)) {
                log(1, std::string("restart: firmware ") + variantName(identity->variant) + " " +
                           identity->version.text());
                return;
            }
            log(1, "restart: new firmware not taken (" + error + "); keeping the previous one");
        }
        m_producer.applyParameters(changes);
    }

    void run() {
        using clock = std::chrono::steady_clock;
        const FaultConfig& faults = m_config.faults;
        DatagramBatch batch;
        uint32_t frame = m_config.firstFrameCounter + static_cast<uint32_t>(m_cycles.load());
        bool paused = false;
        m_stopAt = faults.stopAfterCycles;
        auto next = clock::now();
        uint64_t announcements = 0;
        while (true) {
            if (!restartIfRequested())
                break;
            if (m_state == SensorState::Streaming && next < clock::now() - std::chrono::seconds(1))
                next = clock::now();
            const uint64_t sent = m_cycles.load();
            if (m_stopAt && sent >= m_stopAt) {
                if (m_state != SensorState::PoweredOff) {
                    m_state = SensorState::PoweredOff;
                    log(1,
                        "fault: power loss after " + std::to_string(sent) + " cycles, sending nothing more");
                }
                if (sleepUntil(clock::now() + std::chrono::hours(24)))
                    break;
                continue;
            }
            if (faults.pauseAfterCycles && !paused && sent >= faults.pauseAfterCycles) {
                paused = true;
                m_state = SensorState::Paused;
                log(1, "fault: pause of " + std::to_string(faults.pauseMs) + " ms after " +
                           std::to_string(sent) + " cycles");
                if (sleepUntil(clock::now() + std::chrono::milliseconds(faults.pauseMs)))
                    break;
                m_state = SensorState::Streaming;
                log(1, "fault: pause over, streaming again");
                next = clock::now();
            }

            m_producer.produce(frame, batch);
            const UdpSender::Result r = m_sender.send(batch);
            int others = 0;
            const int seen = m_sender.drainIncoming(&others);
            if (seen > 0) {
                if (announcements == 0)
                    log(2, "search announcement received and ignored; streaming on");
                announcements += static_cast<uint64_t>(seen);
            }
            {
                std::lock_guard<std::mutex> lock(m_statsMutex);
                const FaultCounts& f = m_producer.faultCounts();
                m_stats.datagrams += r.datagrams;
                m_stats.bytes += r.bytes;
                if (r.errors && m_stats.sendErrors == 0)
                    log(1, std::string("sending failed: ") + std::strerror(r.lastErrno) + " (reported once)");
                m_stats.sendErrors += r.errors;
                m_stats.droppedDatagrams = f.dropped;
                m_stats.duplicatedDatagrams = f.duplicated;
                m_stats.reorderedDatagrams = f.reordered;
                m_stats.truncatedDatagrams = f.truncated;
                m_stats.badLrcChannels = f.badLrc;
                m_stats.badStartChannels = f.badStart;
                m_stats.badEndChannels = f.badEnd;
                m_stats.announcementsIgnored = announcements;
                m_stats.cycles = sent + 1;
            }
            if (m_config.verbosity >= 3) // no string building per cycle otherwise
                log(3, "cycle " + std::to_string(frame) + ": " + std::to_string(batch.sends().size()) +
                           " datagrams");
            m_lastFrame = frame;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_cycles = sent + 1;
            }
            m_progress.notify_all();
            ++frame;

            const auto period = std::chrono::milliseconds(m_producer.cycleTimeMs());
            next += period;
            const auto now = clock::now();
            if (next + period < now)
                next = now; // fell behind (machine busy): keep the rate, do not burst
            if (sleepUntil(next))
                break;
        }
    }

    std::mutex m_lifecycle;
    std::mutex m_initMutex;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_progress;
    std::condition_variable m_wake;
    bool m_stopRequested = false;
    bool m_restartPending = false;
    uint64_t m_stopAt = 0; // cycle count of the power loss fault, 0 = none
    ParameterValues m_pendingChanges;
    std::optional<SensorIdentity> m_pendingIdentity;
    std::chrono::milliseconds m_restartSilence{0};
    bool m_initialised = false;
    std::thread m_thread;
    mutable std::mutex m_statsMutex;
    SenderStatistics m_stats;
};

VirtualSensor::VirtualSensor(SimConfig config)
    : m_engine(std::make_unique<SensorEngine>(std::move(config))) {}
VirtualSensor::~VirtualSensor() {
    m_engine->stop();
}
bool VirtualSensor::start() {
    return m_engine->start();
}
void VirtualSensor::stop() {
    m_engine->stop();
}
bool VirtualSensor::isRunning() const {
    return m_engine->isRunning();
}
const std::string& VirtualSensor::errorText() const {
    return m_engine->m_error;
}
SensorState VirtualSensor::state() const {
    return m_engine->m_state;
}
SenderStatistics VirtualSensor::statistics() const {
    return m_engine->statistics();
}
uint64_t VirtualSensor::cyclesSent() const {
    return m_engine->m_cycles.load();
}
uint32_t VirtualSensor::lastFrameCounter() const {
    return m_engine->m_lastFrame.load();
}
bool VirtualSensor::waitForCycles(uint64_t count, std::chrono::milliseconds timeout) const {
    return m_engine->waitForCycles(count, timeout);
}
uint32_t VirtualSensor::cycleTimeMs() const {
    return m_engine->m_producer.cycleTimeMs();
}
std::string VirtualSensor::localAddress() const {
    return m_engine->m_localAddress;
}
uint16_t VirtualSensor::localPort() const {
    return m_engine->m_localPort;
}
FrameTruth VirtualSensor::truth(uint32_t frameCounter) const {
    FrameTruth t;
    if (m_engine->ensureInitialised())
        m_engine->m_producer.renderTruth(frameCounter, t);
    return t;
}
IdentificationTruth VirtualSensor::identification() const {
    m_engine->ensureInitialised();
    return m_engine->m_producer.identification();
}
ParameterValues VirtualSensor::dspParameters() const {
    return m_engine->ensureInitialised() ? m_engine->m_producer.dspParameters() : ParameterValues();
}
ParameterValues VirtualSensor::kpParameters() const {
    return m_engine->ensureInitialised() ? m_engine->m_producer.kpParameters() : ParameterValues();
}
const SimConfig& VirtualSensor::config() const {
    return m_engine->m_config;
}

void VirtualSensor::restart(const ParameterValues& changes, std::chrono::milliseconds silence,
                            std::optional<SensorIdentity> identity) {
    m_engine->requestRestart(changes, silence, std::move(identity));
}
uint64_t VirtualSensor::restartCount() const {
    return m_engine->m_restarts.load();
}

} // namespace trvsim
