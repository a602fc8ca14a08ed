// The socketcand interface plug-in against the virtual sensor's CAN bus on loopback (bus timing
// off); the plug-in's transport needs the Qt application that the test main owns.
#include "can-communication/canbusdevicefactory.h"
#include "tests/can-communication/simcansensor.h"
#include "tests/support/messagecapture.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class CanEndToEnd : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sim.started) << sim.bus->errorText(); }
    static SensorAdrMobileCanSP_t address(int bitRate) { return SimCanSensor::address(bitRate); }
    SimCanSensor sim{trvsim::Variant::LG, trvsim::Model::TRVAFN, {3, 5, 2}};
    const QByteArray url = sim.url();
};

TEST_F(CanEndToEnd, ConnectsAndReadsIdentityStateAndSerial) {
    CanBusController controller;
    controller.setInterfaceUrl(url);
    ASSERT_EQ(controller.connectDevice(address(250000), true), 0);
    ASSERT_EQ(controller.readIdentity(), 0);
    const SensorIdentity& id = controller.identity();
    EXPECT_EQ(id.variant, "LG");
    EXPECT_EQ(id.globalSoftwareVersion, "3.5.2");
    EXPECT_EQ(id.versions.size(), 6);
    EXPECT_TRUE(id.articleNumber.startsWith("TRVAFN")) << id.articleNumber.toStdString();
    EXPECT_EQ(id.serialNumber, "SIM0000001");
    EXPECT_EQ(controller.readSerialNumber(), "SIM0000001");
    EXPECT_EQ(controller.receiverGeneration(), 3);
    EXPECT_EQ(controller.getCDDFilename(), ":/paramdescription/DiagMobCa_3_2_2.cdd");
    controller.readStateData();
    EXPECT_EQ(controller.stateData().fifth, 34); // measuring
    EXPECT_FLOAT_EQ(controller.stateData().third, 24.0f);
    QList<DtcEntry> entries;
    ASSERT_EQ(controller.readErrorMemory(entries), 0);
    ASSERT_FALSE(entries.isEmpty());
    for (const DtcEntry& e : entries)
        EXPECT_FALSE(e.text.isEmpty()) << QString::number(e.code, 16).toStdString();
}

TEST_F(CanEndToEnd, SecondPluginOfATypeIsUnloaded) {
    // A copy of the interface plug-in under another name reports the same type.
    QTemporaryDir copy;
    const QString original =
        QDir(qEnvironmentVariable("TRVAXX_PLUGIN_PATH")).filePath("trvaxx_candevice_socketcan.so");
    ASSERT_TRUE(QFile::copy(original, copy.filePath("trvaxx_candevice_zcopy.so")));
    MessageCapture log;
    CANBusDeviceFactory::setSearchFolders({QFileInfo(original).path(), copy.path()});
    {
        CanBusController controller;
        controller.setInterfaceUrl(url);
        EXPECT_EQ(controller.connectDevice(address(250000), true), 0);
    }
    CANBusDeviceFactory::setSearchFolders({});
    EXPECT_EQ(log.count("There is already a CANBusDevice-implementations with the same type!"), 1);
    EXPECT_EQ(log.count("successfully loaded"), 2);
    EXPECT_EQ(log.count("Unload"), 1); // the kept one, when the controller goes
}

TEST_F(CanEndToEnd, CanInfoPrintsTheSensor) {
    struct Case {
        QStringList arguments;
        int exitCode;
        const char* expect; // in standard output, or standard error for failures
        QByteArray can;
    };
    const Case cases[] = {
        {{"--node", "239", "--baud", "250000", "--json"}, 0, "\"serial\":\"SIM0000001\"", url},
        {{"--node", "239", "--baud", "500000"}, 1, "error 130006 ", url}, // the sensor hears nothing
        {{"--node", "239", "--baud", "100000"}, 1, "error 130008 ", url},
        {{}, 1, "error 130005 ", "socketcand://127.0.0.1:1/can0"}, // nobody listens: unreachable
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expect);
        QProcess tool;
        tool.start(QStringLiteral(TRVAXX_TOOL),
                   QStringList{"can-info", "--can", QString::fromUtf8(c.can)} + c.arguments);
        ASSERT_TRUE(tool.waitForFinished(30000));
        EXPECT_EQ(tool.exitCode(), c.exitCode);
        const QByteArray text = c.exitCode == 0 ? tool.readAllStandardOutput() : tool.readAllStandardError();
        EXPECT_TRUE(text.contains(c.expect)) << text.toStdString();
    }
}

} // namespace
