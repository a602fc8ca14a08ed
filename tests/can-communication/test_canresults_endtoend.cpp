// The CAN result receivers through CanBusController against the virtual sensor on socketcand:
// every function over J1939 and CANopen in each generation (the records' contents are the
// decoders' test), the receivers' restart hook and `trvaxx can-results --json`.
#include "tests/can-communication/canresulttruth.h"
#include "tests/can-communication/simcansensor.h"
#include "tests/support/messagecapture.h"

#include "simulator/parameters.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

using Function = CanBusController::ResultFunction;

using canresults::waitFor;

// The receivers' start-up (the CANopen node's configuration and start included) and hand-out over
// the real bus; LG line results leave under both signal names.
TEST(CanResultsEndToEnd, EveryFunctionOverJ1939AndCanopenInEachGeneration) {
    const std::pair<Function, trvsim::Variant> functions[] = {{Function::OD, trvsim::Variant::OD},
                                                              {Function::BF, trvsim::Variant::DI},
                                                              {Function::LG, trvsim::Variant::LG}};
    for (const auto& [function, variant] : functions)
        for (int generation : {1, 2, 3})
            for (bool canopen : {false, true}) {
                trvsim::FirmwareVersion version{0, 0, 0}; // the newest of the generation
                for (const auto& [major, minor] : trvsim::knownFirmwareVersions(variant))
                    if (trvsim::canResultGeneration(major, minor) == generation)
                        version = {uint8_t(major), uint8_t(minor), 0};
                SCOPED_TRACE(testing::Message() << "firmware " << version.text() << " canopen " << canopen);
                const int node = canopen ? 10 : 239;
                SimCanSensor sim(
                    variant, trvsim::Model::TRVAFN, version, nullptr, [&](trvsim::CanConfig& can) {
                        can.protocol = canopen ? trvsim::CanProtocol::CANopen : trvsim::CanProtocol::J1939;
                        can.address = node;
                    });
                ASSERT_TRUE(sim.started);
                CanBusController controller;
                controller.setInterfaceUrl(sim.url());
                auto address = SimCanSensor::address(250000);
                address->setCanDeviceId(node);
                address->setCanProtocol(canopen ? CAN_PROTOCOL_CANOPEN : CAN_PROTOCOL_J1939);
                ASSERT_EQ(controller.connectDevice(address, false), 0);
                controller.setCameraVersion(QString::fromStdString(version.text()));
                ASSERT_EQ(controller.receiverGeneration(), generation);
                int records = 0, lg = 0;
                auto count = [&](auto) { ++records; };
                QObject::connect(&controller, &CanBusController::receivedNewObjectResultData, count);
                QObject::connect(&controller, &CanBusController::receivedNewBFResultData, count);
                QObject::connect(&controller, &CanBusController::receivedNewLineResultData, count);
                QObject::connect(&controller, &CanBusController::receivedNewLGResultData,
                                 [&](auto) { ++lg; });
                controller.startReceivers({function});
                ASSERT_TRUE(waitFor([&] { return records >= 4; }));
                controller.disconnectDevice();
                if (function == Function::LG) {
                    EXPECT_NEAR(lg, records, 1) << "line results leave under both names";
                }
            }
}

// A parameter write takes the running receivers down and starts the same set again; a start before
// the device is connected only logs.
TEST(CanResultsEndToEnd, RunningReceiversStartAgainAsTheyWere) {
    SimCanSensor sim(trvsim::Variant::OD, trvsim::Model::TRVAFN, {3, 4, 1});
    ASSERT_TRUE(sim.started);
    CanBusController controller;
    controller.setInterfaceUrl(sim.url());
    MessageCapture log;
    controller.startReceivers({Function::OD});
    EXPECT_EQ(log.count("called startReceivingObjectData, but SensorAddress not initialized"), 1);
    EXPECT_TRUE(controller.runningReceivers().isEmpty());

    ASSERT_EQ(controller.connectDevice(SimCanSensor::address(250000), false), 0);
    controller.setCameraVersion(QStringLiteral("3.4.1"));
    int objects = 0;
    QObject::connect(&controller, &CanBusController::receivedNewObjectResultData,
                     [&](DetectedObjectData_TRVAXX_t) { ++objects; });
    controller.startReceivers({Function::LG, Function::OD});
    const QList<Function> running = controller.runningReceivers();
    EXPECT_EQ(running, (QList<Function>{Function::OD, Function::LG}));
    ASSERT_TRUE(waitFor([&] { return objects > 0; }));

    controller.stopReceivingObjectData();
    controller.stopReceivingLGData();
    EXPECT_TRUE(controller.runningReceivers().isEmpty());
    objects = 0;
    controller.startReceivers(running);
    EXPECT_EQ(controller.runningReceivers(), running);
    ASSERT_TRUE(waitFor([&] { return objects > 0; }));
    EXPECT_EQ(log.count("Restarting"), 0);
    controller.startReceivers({Function::OD});
    EXPECT_EQ(log.count("Restarting OD-Receiver"), 1);
    EXPECT_EQ(controller.runningReceivers(), running);
    controller.disconnectDevice();
    EXPECT_TRUE(controller.runningReceivers().isEmpty());
}

// The command line (the simulator program's own options are its tests').
TEST(CanResultsEndToEnd, CanResultsCommandPrintsEveryFieldAsJson) {
    SimCanSensor sim(trvsim::Variant::OD, trvsim::Model::TRVAFN, {3, 4, 1}, nullptr,
                     [](trvsim::CanConfig& can) { can.vehicle = true; });
    ASSERT_TRUE(sim.started);
    QProcess tool;
    tool.start(QStringLiteral(TRVAXX_TOOL),
               {"can-results", "--can", QString::fromUtf8(sim.url()), "--function", "OD", "--generation", "3",
                "--cycles", "3", "--json"});
    ASSERT_TRUE(tool.waitForFinished(30000)) << tool.readAllStandardError().toStdString();
    EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
    const QList<QByteArray> lines = tool.readAllStandardOutput().trimmed().split('\n');
    ASSERT_EQ(lines.size(), 3);
    const QJsonObject record = QJsonDocument::fromJson(lines.last()).object();
    EXPECT_EQ(record.value("function").toString(), "OD");
    EXPECT_EQ(record.value("cycle").toInt(), 3);
    EXPECT_TRUE(record.value("global_information").isDouble());
    const QJsonArray objects = record.value("objects").toArray();
    ASSERT_EQ(objects.size(), TRVAXX_OBJECT_COUNT);
    EXPECT_EQ(objects.first().toObject().keys().size(), 20);
    EXPECT_TRUE(objects.first().toObject().value("z_min").isDouble());
    EXPECT_TRUE(objects.first().toObject().value("existence_probability").isDouble());
    EXPECT_EQ(record.value("crash_predictor").toObject().keys().size(), 7);
    const QJsonObject vehicle = record.value("vehicle").toObject();
    EXPECT_EQ(vehicle.value("ego_velocity_valid").toInt(), 1);
    EXPECT_NEAR(vehicle.value("ego_velocity").toDouble(), 2.78, 0.01);
}
