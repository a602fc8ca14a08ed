// The socketcand interface plug-in against the virtual sensor's CAN bus on loopback (bus timing
// off), the can-info command and its trace, and the other roads: Qt's virtualcan back-end with the
// sensor joined to that bus, and a bus that goes away mid-connection. The plug-in's transport needs
// the Qt application that the test main owns.
#include "can-communication/canbusdevicefactory.h"
#include "tests/can-communication/simcansensor.h"
#include "tests/support/messagecapture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

constexpr const char* kTshark = "/usr/bin/tshark";

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

// The frame trace of trvaxx can-info read by an outside tool: tshark decodes the pcap as ISO-TP on
// the diagnostic identifiers of node 239 and must find the connect sequence's services.
TEST_F(CanEndToEnd, TraceDecodesAsUdsInTshark) {
    if (!QFile::exists(QLatin1String(kTshark)))
        GTEST_SKIP() << kTshark << " is not installed (Debian package tshark); the trace is not checked";
    QTemporaryDir dir;
    const QString trace = dir.filePath(QStringLiteral("can-info.pcap"));

    QProcess tool;
    tool.start(QStringLiteral(TRVAXX_TOOL), {"can-info", "--can", QString::fromUtf8(url), "--trace", trace});
    ASSERT_TRUE(tool.waitForFinished(30000));
    ASSERT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();

    // Node 239: requests on 0x18DAEFF1, answers on 0x18DAF1EF. uds.sid carries the service
    // without the answer bit, uds.reply the bit (0x62 is sid 0x22 with reply 1).
    QProcess tshark;
    tshark.start(QLatin1String(kTshark),
                 {"-r", trace, "-o", "iso15765.can.extended_ids:0x18daeff1,0x18daf1ef", "-d",
                  "iso15765.subdissector,uds", "-T", "fields", "-e", "uds.sid", "-e", "uds.reply"});
    ASSERT_TRUE(tshark.waitForFinished(60000));
    ASSERT_EQ(tshark.exitCode(), 0) << tshark.readAllStandardError().toStdString();
    QSet<QString> services;
    for (const QByteArray& line : tshark.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split('\t');
        if (fields.size() != 2 || fields[0].isEmpty())
            continue;
        bool sidOk = false, replyOk = false;
        const int sid = fields[0].toInt(&sidOk, 0);
        const int reply = fields[1].toInt(&replyOk, 0); // "0x00" or "0x01"
        if (sidOk && replyOk)
            services.insert(QString::asprintf("0x%.2X", reply != 0 ? sid | 0x40 : sid));
    }
    for (const char* expected : {"0x10", "0x50", "0x22", "0x62"})
        EXPECT_TRUE(services.contains(QLatin1String(expected)))
            << expected << " missing; decoded: " << QStringList(services.values()).join(' ').toStdString();
}

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

TEST_F(CanEndToEnd, BusLostMidConnectionEndsReadsWithoutHanging) {
    CanBusController controller;
    controller.setInterfaceUrl(url);
    ASSERT_EQ(controller.connectDevice(address(250000), true), 0);
    sim.bus->stop();
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(controller.readSerialNumber().isEmpty());
    // Bounded by the diagnostic time-outs, never by the lost connection.
    EXPECT_LT(clock.elapsed(), 10000);
    controller.disconnectDevice();
}

} // namespace
