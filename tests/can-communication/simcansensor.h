#pragma once
// Test and benchmark support: a virtual sensor on an unpaced socketcand bus on an ephemeral loopback
// port (or joined to the bus `join`); `configure` sets the rest of the CAN side.

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
                 const char* join = nullptr, const std::function<void(trvsim::CanConfig&)>& configure = {},
                 uint16_t destPort = 42191) {
        trvsim::SimConfig sim;
        sim.destAddress = "127.0.0.1";
        sim.destPort = destPort; // tests that listen to the stream give a port of their own
        sim.verbosity = 0;
        sim.identity.variant = variant;
        sim.identity.model = model;
        sim.identity.version = version;
        sensor = std::make_unique<trvsim::VirtualSensor>(sim);
        trvsim::CanConfig can;
        if (join)
            can.join = join;
        else
            can.listen = "127.0.0.1:0";
        can.pace = false;
        if (configure)
            configure(can);
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
