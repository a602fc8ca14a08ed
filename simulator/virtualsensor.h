#pragma once
// The virtual sensor, Ethernet side: streams one measurement cycle every CycleTime milliseconds
// as UDP datagrams, laid out through the stream descriptions, from a deterministic scene.
//
// Usable in-process by tests:
//
//   trvsim::SimConfig config;
//   config.identity.variant = trvsim::Variant::LG;
//   config.destAddress = "127.0.0.1";
//   config.destPort = port;
//   config.sourceAddress = "127.0.0.2";
//   trvsim::VirtualSensor sensor(config);
//   if (!sensor.start()) FAIL() << sensor.errorText();
//   sensor.waitForCycles(10, std::chrono::seconds(2));
//   trvsim::FrameTruth truth = sensor.truth(frameCounterDecoded);
//   sensor.stop();

#include "simulator/frametruth.h"
#include "simulator/simconfig.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace trvsim {

enum class SensorState { Stopped, Streaming, Paused, PoweredOff, Restarting };
const char* stateName(SensorState state);

struct SenderStatistics {
    uint64_t cycles = 0;    // measurement cycles sent
    uint64_t datagrams = 0; // datagrams handed to the socket (both sub-devices, faults included)
    uint64_t bytes = 0;
    uint64_t sendErrors = 0;          // datagrams the socket refused
    uint64_t droppedDatagrams = 0;    // fault: not sent
    uint64_t duplicatedDatagrams = 0; // fault: sent twice
    uint64_t reorderedDatagrams = 0;  // fault: swapped pairs
    uint64_t truncatedDatagrams = 0;
    uint64_t badLrcChannels = 0;
    uint64_t badStartChannels = 0;
    uint64_t badEndChannels = 0;
    uint64_t announcementsIgnored = 0; // "OrlanGUI" datagrams received and ignored
};

class SensorEngine;

class VirtualSensor {
public:
    explicit VirtualSensor(SimConfig config);
    ~VirtualSensor(); // stops
    VirtualSensor(const VirtualSensor&) = delete;
    VirtualSensor& operator=(const VirtualSensor&) = delete;

    // Validates the configuration, loads the descriptions, opens the socket and starts the cycle
    // thread. False with errorText() when anything is unusable.
    bool start();
    void stop();
    bool isRunning() const;
    const std::string& errorText() const;

    SensorState state() const;
    SenderStatistics statistics() const;
    uint64_t cyclesSent() const;
    // Frame counter of the newest cycle sent (0 before the first).
    uint32_t lastFrameCounter() const;
    // Blocks until at least count cycles have been sent (true) or the time-out passes (false).
    bool waitForCycles(uint64_t count, std::chrono::milliseconds timeout) const;

    // The cycle time in use (milliseconds).
    uint32_t cycleTimeMs() const;
    // The local address and port the datagrams come from (valid after start()).
    std::string localAddress() const;
    uint16_t localPort() const;

    // Truth of the cycle with this frame counter: recomputed from the seed, so any frame can be
    // asked for, sent or not.
    FrameTruth truth(uint32_t frameCounter) const;
    IdentificationTruth identification() const;
    // Current parameter values of the DSP and KP blocks and of the customer-parameter structures
    // sent on channels 14 and 256 (member name without the root; arrays element by element).
    ParameterValues dspParameters() const;
    ParameterValues kpParameters() const;

    const SimConfig& config() const;

    // Restarts the sensor: silent for the restart time, then streaming with the changed
    // parameters (member name -> values, as in dspParameters()): destination, port, cycle time and
    // calibration follow them. With an identity (new firmware), the sensor comes back as that
    // variant and version: its stream layouts and parameter blocks, values whose names both
    // layouts know kept (see CycleProducer::applyIdentity). Returns at once; the cycle thread
    // carries it out.
    void restart(const ParameterValues& changes, std::chrono::milliseconds silence,
                 std::optional<SensorIdentity> identity = std::nullopt);
    // Restarts carried out so far: who takes the identity once watches this change.
    uint64_t restartCount() const;

private:
    std::unique_ptr<SensorEngine> m_engine;
};

} // namespace trvsim
