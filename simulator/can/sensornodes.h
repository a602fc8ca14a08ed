#pragma once
// All CAN nodes of one virtual sensor behind the one node the bus hosts per sensor: the
// diagnostic server and the function-result sender. Frames reach every member that is online;
// every member ticks, so a restarting one comes back by its own clock.

#include "simulator/can/canconfig.h"
#include "simulator/can/simcanbus.h"

#include <memory>
#include <vector>

namespace trvsim {

class VirtualSensor;

class SensorNodes : public CanNode {
public:
    void add(std::unique_ptr<CanNode> node) { m_nodes.push_back(std::move(node)); }

    void attach(CanBusPort* port) override;
    void receive(const SimCanFrame& frame, SimClock::time_point at) override;
    void tick(SimClock::time_point now) override;
    // The first member's (the diagnostic server's) bit rate.
    uint32_t bitRate() const override;
    bool online() const override;

private:
    std::vector<std::unique_ptr<CanNode>> m_nodes;
};

// The factory the bus takes for each hosted sensor: diagnosis and function results.
std::unique_ptr<CanNode> makeSensorNodes(VirtualSensor& sensor, const CanConfig& config);

} // namespace trvsim
