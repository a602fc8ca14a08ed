#include "simulator/can/sensornodes.h"

#include "simulator/can/canresultsender.h"
#include "simulator/can/diagnode.h"

#include <algorithm>

namespace trvsim {

void SensorNodes::attach(CanBusPort* port) {
    for (auto& node : m_nodes)
        node->attach(port);
}

void SensorNodes::receive(const SimCanFrame& frame, SimClock::time_point at) {
    for (auto& node : m_nodes)
        if (node->online())
            node->receive(frame, at);
}

void SensorNodes::tick(SimClock::time_point now) {
    for (auto& node : m_nodes)
        node->tick(now);
}

uint32_t SensorNodes::bitRate() const {
    return m_nodes.empty() ? 250000 : m_nodes.front()->bitRate();
}

bool SensorNodes::online() const {
    return std::any_of(m_nodes.begin(), m_nodes.end(), [](const auto& node) { return node->online(); });
}

std::unique_ptr<CanNode> makeSensorNodes(VirtualSensor& sensor, const CanConfig& config) {
    auto nodes = std::make_unique<SensorNodes>();
    auto diag = std::make_unique<DiagNode>(sensor, config);
    const DiagNode* rule = diag.get(); // lives as long as the sender: both belong to nodes
    nodes->add(std::move(diag));
    nodes->add(std::make_unique<CanResultSender>(
        sensor, config, [rule] { return rule->overridesApply(); },
        [rule] { return rule->server().transmitting(); }));
    return nodes;
}

} // namespace trvsim
