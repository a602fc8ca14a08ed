#pragma once
// The virtual sensor's diagnostic node on the CAN bus: the transport at its node address, the
// diagnostic services behind it, answers delayed by "response pending" when asked to, and the
// restart after a reset or a parameter write, after which the Ethernet side and the node follow
// the new parameter blocks (address, protocol, bit rate).

#include "simulator/can/canconfig.h"
#include "simulator/can/diagserver.h"
#include "simulator/can/isotpserver.h"
#include "simulator/can/parameterblocks.h"
#include "simulator/can/simcanbus.h"

#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace trvsim {

class VirtualSensor;

// TRVAXX_TIME_SCALE (a non-negative number, default 1): the factor on the restart time.
double simTimeScale();

class DiagNode : public CanNode {
public:
    static constexpr auto kRestartTime = std::chrono::milliseconds(3000); // before scaling
    static constexpr auto kHangTime = std::chrono::milliseconds(10000);   // a hung sensor's silence
    static constexpr auto kPendingInterval = std::chrono::milliseconds(100);
    // Entered while the scene shows spray (checked once a second while streaming).
    static constexpr uint32_t kSprayTroubleCode = 0x9A0A00;

    // Loads the parameter blocks of the sensor's identity; isValid() false with errorText() when
    // its descriptions are missing.
    DiagNode(VirtualSensor& sensor, const CanConfig& config);

    bool isValid() const { return m_valid; }
    const std::string& errorText() const { return m_error; }

    void attach(CanBusPort* port) override;
    void receive(const SimCanFrame& frame, SimClock::time_point at) override;
    void tick(SimClock::time_point now) override;
    uint32_t bitRate() const override { return m_bitRate; }
    bool online() const override { return m_online; }

    uint8_t nodeAddress() const { return m_tp.node(); }
    CanProtocol protocol() const { return m_protocol; }
    ErrorMemory& errorMemory() { return m_server->errorMemory(); }
    const DiagServer& server() const { return *m_server; }
    const ParameterBlocks& blocks() const { return m_blocks; }
    // Whether the command line's CAN settings still rule (until a KP block is written); the
    // sensor's other CAN nodes follow the same decision.
    bool overridesApply() const { return m_useOverrides; }

private:
    void onRequest(const std::vector<uint8_t>& payload, bool functional);
    // Takes a restart the server asked for.
    void noteRestart();
    void beginRestart(SimClock::time_point now);
    void applyAddress();
    // The identity the programmed firmware gives after a restart; the parameter blocks are laid
    // out again when it changed. Empty when nothing changed or it cannot be taken.
    std::optional<SensorIdentity> takeFirmwareIdentity();
    void noteSceneEvents(SimClock::time_point now);
    void log(int level, const std::string& line) const;

    VirtualSensor& m_sensor;
    const CanConfig m_config;
    bool m_valid = false;
    std::string m_error;
    SensorIdentity m_identity; // as the Ethernet side streams it
    ParameterBlocks m_blocks;
    std::unique_ptr<DiagServer> m_server;
    IsoTpServer m_tp;

    struct Scheduled {
        SimClock::time_point at;
        std::vector<uint8_t> bytes;
    };
    std::deque<Scheduled> m_answers;
    SimClock::time_point m_now{};
    bool m_online = true;
    bool m_restartWanted = false;
    bool m_hang = false; // the coming restart follows a hang
    SimClock::time_point m_backOnline{};
    SimClock::time_point m_nextSceneCheck{};
    bool m_useOverrides = true; // the command line's CAN settings rule until a parameter write
    CanProtocol m_protocol = CanProtocol::J1939;
    uint32_t m_bitRate = 250000;
};

} // namespace trvsim
