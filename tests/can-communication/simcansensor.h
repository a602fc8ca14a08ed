#pragma once
// Test and benchmark support: one virtual sensor with its diagnostic node on an unpaced socketcand
// bus on loopback (an ephemeral port), and the interface URL that reaches it; or, given `join`,
// joined to that existing bus instead. `can` sets the rest of the CAN side (protocol, address, the
// vehicle's messages).

#include "can-communication/canbuscontroller.h"
#include "simulator/can/canbus.h"
#include "simulator/can/canresultsender.h"
#include "simulator/can/sensornodes.h"
#include "simulator/virtualsensor.h"

#include <QString>

#include <functional>
#include <memory>

struct SimCanSensor {
    std::unique_ptr<trvsim::VirtualSensor> sensor;
    std::unique_ptr<trvsim::SimCanBus> bus;
    bool started = false;

    SimCanSensor(trvsim::Variant variant, trvsim::Model model, trvsim::FirmwareVersion version,
                 const char* join = nullptr, trvsim::CanConfig can = {}) {
        trvsim::SimConfig sim;
        sim.destAddress = "127.0.0.1";
        sim.destPort = 42191;
        sim.verbosity = 0;
        sim.identity.variant = variant;
        sim.identity.model = model;
        sim.identity.version = version;
        sensor = std::make_unique<trvsim::VirtualSensor>(sim);
        if (join)
            can.join = join;
        else
            can.listen = "127.0.0.1:0";
        can.pace = false;
        bus = trvsim::buildCanBus(
            {sensor.get()}, can, trvsim::makeSensorNodes, [](int, const std::string&) {}, 0);
        if (can.vehicle)
            bus->addNode(std::make_unique<trvsim::VehicleSender>(bus->bitRate()));
        started = sensor->start() && bus->start();
    }
    QByteArray url() const {
        return QStringLiteral("socketcand://127.0.0.1:%1/can0").arg(bus->listenPort()).toUtf8();
    }
    // The sensor's CAN address as a connection has it (node 239, the factory setting).
    static SensorAdrMobileCanSP_t address(int bitRate) {
        auto a = SensorAdrMobileCanSP_t::create(QStringLiteral("sim"), QByteArray("TRVAxx"));
        a->setCanBaudRate(bitRate);
        a->setCanDeviceId(239);
        return a;
    }
};
