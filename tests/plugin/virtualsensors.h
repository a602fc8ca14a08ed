#pragma once
// Virtual sensors for the connection tests: the firmware of each variant code, and a sensor with a
// CAN bus of its own.

#include "simulator/can/canbus.h"
#include "simulator/can/sensornodes.h"
#include "simulator/virtualsensor.h"
#include "tests/support/simsensor.h"

#include <QString>

#include <memory>

struct Firmware {
    trvsim::Variant variant;
    trvsim::Model model;
    trvsim::FirmwareVersion version;
};

// Variant codes 0 to 7 in order, then the two firmwares a connection refuses (codes 8 and 9).
inline const Firmware FIRMWARES[] = {
    {trvsim::Variant::DI, trvsim::Model::TRVADN, {2, 2, 0}},
    {trvsim::Variant::DI, trvsim::Model::TRVAFN, {2, 2, 3}},
    {trvsim::Variant::OD, trvsim::Model::TRVAFN, {2, 2, 0}},
    {trvsim::Variant::LG, trvsim::Model::TRVAFN, {2, 1, 0}},
    {trvsim::Variant::DI, trvsim::Model::TRVADN, {3, 4, 1}},
    {trvsim::Variant::DI, trvsim::Model::TRVAFN, {3, 3, 0}},
    {trvsim::Variant::OD, trvsim::Model::TRVAFN, {3, 4, 1}},
    {trvsim::Variant::LG, trvsim::Model::TRVAFN, {3, 5, 1}},
    {trvsim::Variant::OD, trvsim::Model::TRVAFN, {3, 1, 0}},
    {trvsim::Variant::OD, trvsim::Model::TRVAFN, {2, 1, 0}},
};

// A sensor of `firmware` streaming from 127.0.0.`host` to `port`, serial number "SER<host>".
inline trvsim::SimConfig simConfigOf(const Firmware& firmware, int host, quint16 port) {
    trvsim::SimConfig c = loopbackSensor(firmware.variant, "127.0.0." + std::to_string(host), port);
    c.identity.model = firmware.model;
    c.identity.version = firmware.version;
    c.identity.serialNumber = "SER" + std::to_string(host);
    return c;
}

// A virtual sensor with its own CAN bus (socketcand on an ephemeral loopback port, unpaced), both
// started.
struct CanSim {
    std::unique_ptr<trvsim::VirtualSensor> sensor;
    std::unique_ptr<trvsim::SimCanBus> bus;
    explicit CanSim(const trvsim::SimConfig& config)
        : sensor(std::make_unique<trvsim::VirtualSensor>(config)) {
        trvsim::CanConfig can;
        can.listen = "127.0.0.1:0";
        can.pace = false;
        bus = trvsim::buildCanBus(
            {sensor.get()}, can, trvsim::makeSensorNodes, [](int, const std::string&) {}, 0);
        started = sensor->start() && bus->start();
    }
    QString url() const { return QStringLiteral("socketcand://127.0.0.1:%1/can0").arg(bus->listenPort()); }
    bool started = false;
};
