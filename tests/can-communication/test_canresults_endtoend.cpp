// The CAN result receivers through CanBusController against the virtual sensor on socketcand: the
// receivers' restart hook and `trvaxx can-results --json`. Every function, protocol and generation
// is the decoders' test.
#include "tests/can-communication/canresulttruth.h"
#include "tests/can-communication/simcansensor.h"
#include "tests/support/messagecapture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

using Function = CanBusController::ResultFunction;

using canresults::waitFor;

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
