#pragma once
// The virtual sensor's CAN bus: one thread that carries frames between the hosted nodes (one or
// more per sensor), the TCP clients of its socketcand server (--can-listen) and, when it joins a
// bus served elsewhere (--can-join), that bus. Frames are paced at the bus bit rate; the fault
// switches of CanConfig drop, delay or refuse.
//
//   trvsim::SimCanBus bus(config);
//   bus.addNode(std::move(node));   // before start()
//   if (!bus.start()) ... bus.errorText();
//   bus.listenPort();               // the port clients connect to

#include "simulator/can/canconfig.h"
#include "simulator/can/simcanbus.h"
#include "simulator/simconfig.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace trvsim {

struct CanBusStatistics {
    uint64_t frames = 0;           // frames carried on the bus (lost ones included)
    uint64_t lostFrames = 0;       // --can-drop-every
    uint64_t clients = 0;          // TCP clients connected now
    uint64_t wrongRateClients = 0; // of these, on another bit rate
    uint64_t clientsDropped = 0;   // misbehaving clients disconnected
    bool joined = false;           // the bus served elsewhere is reachable
};

class SimCanBus {
public:
    explicit SimCanBus(CanConfig config, LogFunction log = {}, int verbosity = 1);
    ~SimCanBus(); // stops
    SimCanBus(const SimCanBus&) = delete;
    SimCanBus& operator=(const SimCanBus&) = delete;

    void addNode(std::unique_ptr<CanNode> node);
    // Opens the listening socket, joins the other bus, starts the beacon and the bus thread.
    bool start();
    void stop();
    const std::string& errorText() const;

    uint16_t listenPort() const;
    // The first node's bit rate; without nodes --can-bitrate, or 250 kbit/s.
    uint32_t bitRate() const;
    CanBusStatistics statistics() const;

    struct Impl;

private:
    std::unique_ptr<Impl> m;
};

class VirtualSensor;
using CanNodeFactory = std::function<std::unique_ptr<CanNode>(VirtualSensor&, const CanConfig&)>;

// The CAN settings of the index-th of several sensors on one bus: node addresses count down from
// --can-address (239 when unset and there are several).
CanConfig sensorCanConfig(const CanConfig& config, uint32_t index);

// The bus of these sensors, with the node the factory makes for each (an empty factory: a bus
// with no node). Not started.
std::unique_ptr<SimCanBus> buildCanBus(const std::vector<VirtualSensor*>& sensors, const CanConfig& config,
                                       const CanNodeFactory& factory, LogFunction log = {},
                                       int verbosity = 1);

} // namespace trvsim
