// The CAN stack over its other roads: Qt's virtualcan back-end with the virtual sensor joined to
// that bus, and a bus that goes away mid-connection.
#include "can-communication/canbuscontroller.h"
#include "tests/can-communication/simcansensor.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

namespace {

TEST(CanTransports, ConnectsThroughQtVirtualCanToAJoinedSensor) {
    SimCanSensor sim{trvsim::Variant::OD, trvsim::Model::TRVAFN, {3, 4, 1}, "qtcanbus://virtualcan/can0"};
    ASSERT_TRUE(sim.started) << sim.bus->errorText();
    CanBusController controller;
    controller.setInterfaceUrl("qtcanbus://virtualcan/can0");
    ASSERT_EQ(controller.connectDevice(SimCanSensor::address(250000), true), 0);
    EXPECT_EQ(controller.readSerialNumber(), "SIM0000001");
    ASSERT_EQ(controller.readIdentity(), 0);
    EXPECT_EQ(controller.identity().variant, "OD");
    controller.disconnectDevice();
}

TEST(CanTransports, BusLostMidConnectionEndsReadsWithoutHanging) {
    SimCanSensor sim{trvsim::Variant::OD, trvsim::Model::TRVAFN, {3, 4, 1}};
    ASSERT_TRUE(sim.started);
    CanBusController controller;
    controller.setInterfaceUrl(sim.url());
    ASSERT_EQ(controller.connectDevice(SimCanSensor::address(250000), true), 0);
    sim.bus->stop();
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(controller.readSerialNumber().isEmpty());
    // Bounded by the diagnostic time-outs, never by the lost connection.
    EXPECT_LT(clock.elapsed(), 10000);
    controller.disconnectDevice();
}

} // namespace
