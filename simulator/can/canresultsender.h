#pragma once
// The sensor's function results on CAN: after every sent measurement cycle (every n-th, by its
// CANOutputCycleModulo parameter) the node sends that cycle's objects, ROI values or lines, as
// J1939 messages at its source address or, once a CANopen master has reset, configured and
// started it, as process data objects. The values are those of the Ethernet cycle with the same
// frame counter. CAN protocol, address and limits come from the KP block; the command line's
// protocol, address and bit rate rule while the diagnostic node says they still apply. Function
// and generation follow the sensor's firmware, taken again after each restart.

#include "simulator/can/canconfig.h"
#include "simulator/can/canresultencoder.h"
#include "simulator/can/simcanbus.h"
#include "simulator/frametruth.h"

#include <functional>
#include <map>

namespace trvsim {

class VirtualSensor;

// The CANopen side of a result-sending node: network management state and the transmit-PDO
// identifiers a master configured by SDO. Frames in, answers out; no bus, no sensor.
class CanopenSlave {
public:
    enum class NmtState { Initialising, PreOperational, Operational, Stopped };
    CanopenSlave(CanFunction function, int generation) : m_function(function), m_generation(generation) {}

    // A frame addressed to node; the answer (SDO confirmation or abort), if any, goes to reply.
    bool receive(const SimCanFrame& frame, uint8_t node, SimClock::time_point at, SimCanFrame& reply);
    // The boot-up message once it is due after a power-on or reset.
    bool bootUp(SimClock::time_point now, uint8_t node, SimCanFrame& message);
    // Powered off: boots again after power returns.
    void powerOff(SimClock::time_point now);
    NmtState state() const { return m_nmt; }
    // The configured COB-ID of a TPDO, or -1.
    int cobId(int tpdo) const;

private:
    void handleNmt(const SimCanFrame& frame, uint8_t node, SimClock::time_point at);
    SimCanFrame handleSdo(const SimCanFrame& frame, uint8_t node);

    CanFunction m_function;
    int m_generation;
    NmtState m_nmt = NmtState::Initialising;
    SimClock::time_point m_bootUpAt{};
    bool m_bootUpPending = true;
    std::map<int, uint32_t> m_cobIds; // TPDO -> configured COB-ID
};

// ROI group values of one cycle from the basic-function regions of the DSP parameters; without
// configured regions, four default regions (the image quadrants, groups 0..3, nearest point).
BasicFunctionValues basicFunctionValues(const FrameTruth& truth, const ParameterValues& dsp);

class CanResultSender : public CanNode {
public:
    // overridesApply: whether the command line's CAN settings still rule (the diagnostic node's
    // decision); empty: always. transmitting: whether the diagnostic node lets the sensor send
    // (a tester may switch it off while it programs); empty: always.
    CanResultSender(VirtualSensor& sensor, const CanConfig& config, std::function<bool()> overridesApply = {},
                    std::function<bool()> transmitting = {});

    void attach(CanBusPort* port) override;
    void receive(const SimCanFrame& frame, SimClock::time_point at) override;
    void tick(SimClock::time_point now) override;
    uint32_t bitRate() const override;
    bool online() const override;

    using NmtState = CanopenSlave::NmtState;
    NmtState nmtState() const { return m_canopen.state(); }
    uint64_t cyclesSent() const { return m_cyclesSent; }

private:
    struct Settings {
        bool canopen = false;
        uint8_t address = 239;
        int maxObjects = kObjectSlots;
        int maxLines = kLineSlots;
        int modulo = 1;
        uint32_t bitRate = 250000;
    };
    Settings settings() const;
    // Function and generation of the firmware the sensor runs now.
    void followIdentity();
    void sendCycle(uint32_t frameCounter, const Settings& s);

    VirtualSensor& m_sensor;
    CanConfig m_config;
    std::function<bool()> m_overridesApply;
    std::function<bool()> m_transmitting;
    CanFunction m_function = CanFunction::OD;
    int m_generation = 0;
    uint64_t m_restartsSeen = 0;
    CanBusPort* m_port = nullptr;
    uint32_t m_lastFrameCounter = 0;
    uint64_t m_cyclesSent = 0;
    CanopenSlave m_canopen;
};

// The vehicle's own messages that the object receiver uses (--vehicle): wheel-based speed and
// tachograph every 50 ms, yaw rate every 20 ms, from source address 0xFE.
class VehicleSender : public CanNode {
public:
    // Speed in km/h, yaw rate in rad/s (varies slowly around this value).
    explicit VehicleSender(uint32_t bitRate, double speedKmh = 10.0, double yawRate = 0.05);
    void attach(CanBusPort* port) override { m_port = port; }
    void receive(const SimCanFrame&, SimClock::time_point) override {}
    void tick(SimClock::time_point now) override;
    uint32_t bitRate() const override { return m_bitRate; }

    static constexpr uint32_t kSpeedId = 0x1803FFFE, kTachographId = 0x0CFE6CFE, kYawRateId = 0x18F009FE;

private:
    CanBusPort* m_port = nullptr;
    uint32_t m_bitRate;
    double m_speedKmh, m_yawRate;
    SimClock::time_point m_start{}, m_nextSpeed{}, m_nextYaw{};
};

} // namespace trvsim
