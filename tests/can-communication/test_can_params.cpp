// The parameter transfer against the virtual sensor over socketcand (bus timing off): every
// variant and version read and compared with the sensor's own values, the identity and state
// ids, the types values come out in, and the writes the controller refuses.
#include "can-communication/paramtable.h"
#include "can-communication/paramtransfer.h"
#include "simulator/can/parameterblocks.h"
#include "simulator/parameters.h"
#include "tests/can-communication/simcansensor.h"

#include "common/notificationmanager.h"

#include <QElapsedTimer>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace {

using trvsim::Variant;

struct Connected {
    SimCanSensor sim;
    CanBusController controller;
    Connected(Variant variant, trvsim::FirmwareVersion version, trvsim::FlashFault fault = {})
        : sim(variant, trvsim::Model::TRVAFN, version, nullptr,
              [fault](trvsim::CanConfig& can) { can.flashFault = fault; }) {}
    bool connect(const QString& trace = QString()) {
        if (!sim.started)
            return false;
        controller.setInterfaceUrl(sim.url());
        controller.setTracePath(trace);
        return controller.connectDevice(SimCanSensor::address(250000), true) == 0 &&
               controller.readIdentity() == 0;
    }
    // The sensor's blocks as its diagnostic node lays them out: factory values overlaid by the
    // current ones.
    trvsim::ParameterBlocks sensorBlocks() const {
        trvsim::ParameterValues values = trvsim::factoryParameters(sim.sensor->config());
        for (const trvsim::ParameterValues& current :
             {sim.sensor->dspParameters(), sim.sensor->kpParameters()})
            for (const auto& [name, v] : current)
                values[name] = v;
        trvsim::ParameterBlocks blocks;
        blocks.load(sim.sensor->config().identity, values);
        return blocks;
    }
};

// A read value as the numbers it stands for (addresses as their four parts).
std::vector<double> numbers(const QVariant& v) {
    std::vector<double> out;
    if (v.typeId() == QMetaType::QString) {
        for (const QString& part : v.toString().split(QLatin1Char('.')))
            out.push_back(part.toDouble());
    } else if (v.typeId() == QMetaType::QVariantList) {
        for (const QVariant& item : v.toList())
            out.push_back(item.toDouble());
    } else if (v.isValid()) {
        out.push_back(v.toDouble());
    }
    return out;
}

TEST(CanParams, EveryVariantAndVersionReadsTheSensorsValues) {
    for (Variant variant : {Variant::DI, Variant::OD, Variant::LG}) {
        for (const auto& [major, minor] : trvsim::knownFirmwareVersions(variant)) {
            const std::string name = std::string(trvsim::variantName(variant)) + " " + std::to_string(major) +
                                     "." + std::to_string(minor);
            SCOPED_TRACE(name);
            Connected c(variant, {uint8_t(major), uint8_t(minor), 1});
            ASSERT_TRUE(c.connect());
            ASSERT_TRUE(c.controller.ReadAllParameters());
            const trvsim::ParameterBlocks blocks = c.sensorBlocks();
            const QByteArray dsp = c.controller.parameterBlocks().dspImage();
            const QByteArray kp = c.controller.parameterBlocks().kpImage();
            EXPECT_EQ(std::vector<uint8_t>(dsp.begin(), dsp.end()), blocks.dspBody());
            EXPECT_EQ(std::vector<uint8_t>(kp.begin(), kp.end()), blocks.kpImage());
            const trvsim::ParameterValues values = blocks.values();
            int members = 0;
            for (int id : ParamTable::memberIds()) {
                const QByteArray path = ParamTable::memberPath(id, c.controller.variant());
                const auto it = path.isEmpty() ? values.end()
                                               : values.find(path.mid(path.indexOf('.') + 1).toStdString());
                const std::vector<double> expected = it == values.end() ? std::vector<double>() : it->second;
                const std::vector<double> got = numbers(c.controller.readData(id));
                ASSERT_EQ(got.size(), expected.size()) << "id " << id << " " << path.constData();
                for (size_t i = 0; i < got.size(); ++i) // floats compare as the floats they are
                    EXPECT_EQ(float(got[i]), float(expected[i])) << "id " << id << " [" << i << "]";
                members += got.empty() ? 0 : 1;
            }
            EXPECT_GT(members, 30);
            // Every value as read is taken back unchanged, to the bit.
            for (int id : ParamTable::memberIds()) {
                const QVariant v = c.controller.readData(id);
                EXPECT_TRUE(!v.isValid() || !ParamTable::isWritable(id) || c.controller.writeData(id, v))
                    << "id " << id;
            }
            EXPECT_EQ(c.controller.parameterBlocks().dspImage(), dsp);
            EXPECT_EQ(c.controller.parameterBlocks().kpImage(), kp);
        }
    }
}

TEST(CanParams, IdentityAndStateIdsAndValueTypes) {
    Connected c(Variant::OD, {3, 4, 1});
    ASSERT_TRUE(c.connect());
    c.controller.readStateData();
    ASSERT_TRUE(c.controller.ReadAllParameters());
    CanBusController& can = c.controller;
    const trvsim::IdentificationTruth truth = c.sim.sensor->identification();

    EXPECT_EQ(can.readData(3).toString().toStdString(), truth.softwareVersion);
    EXPECT_EQ(can.readData(4).toString(), "OD");
    EXPECT_TRUE(can.readData(5).toString().startsWith("TRVAFN"));
    EXPECT_EQ(can.readData(6).toInt(), 34); // measuring
    EXPECT_NE(can.readData(7).toDouble(), 0.0);
    EXPECT_EQ(can.readData(121).toString().toStdString(), truth.serialNumber);
    EXPECT_EQ(can.readData(127).toDouble(), 24.0);
    for (int id = 115; id <= 120; ++id)
        EXPECT_EQ(can.readData(id).toString().count(QLatin1Char('.')), 2) << id;
    EXPECT_FALSE(can.readData(128).isValid()); // a rail the sensor does not report

    // One-byte integers come out as int, addresses as dotted texts, floats by their shortest text.
    struct TypeCase {
        int id;
        QVariant write;
        QMetaType::Type type;
        const char* text;
    };
    const TypeCase types[] = {
        {19, 2, QMetaType::Int, "2"},                     // J1939 source address, u8
        {17, 500000, QMetaType::UInt, "500000"},          // CAN bit rate, u32
        {31, 0.047, QMetaType::Double, "0.047"},          // illumination offset, f32
        {40, -1.5, QMetaType::Double, "-1.5"},            // OD spatial filter
        {13, "10.0.0.7", QMetaType::QString, "10.0.0.7"}, // destination address
    };
    for (const TypeCase& t : types) {
        ASSERT_TRUE(can.writeData(t.id, t.write)) << t.id;
        const QVariant v = can.readData(t.id);
        EXPECT_EQ(v.typeId(), t.type) << t.id;
        EXPECT_EQ(v.toString(), t.text) << t.id;
    }

    // Refused writes leave the image as it was.
    const QByteArray before = can.parameterBlocks().dspImage() + can.parameterBlocks().kpImage();
    const std::pair<int, QVariant> refused[] = {
        {11, "192.168.1"}, {11, "192.168.1.256"}, {19, 256}, {19, -1}, {19, "abc"}, {19, 1.5},
        {54, 3},           {3, "9.9.9"},          {999, 1},
    };
    for (const auto& [id, value] : refused)
        EXPECT_FALSE(can.writeData(id, value)) << id << " " << value.toString().toStdString();
    EXPECT_EQ(can.parameterBlocks().dspImage() + can.parameterBlocks().kpImage(), before);
}

// Working files and the wait go to a folder of their own; waits are scaled (TRVAXX_TIME_SCALE).
class CanParamsWrite : public ::testing::Test {
protected:
    void SetUp() override { qputenv("ORLANGUI_DATA_DIR", data.path().toUtf8()); }
    // ReadAllParameters once the sensor answers again after its restart.
    static bool readAfterRestart(CanBusController& can) {
        QElapsedTimer timer;
        timer.start();
        while (!can.ReadAllParameters())
            if (timer.elapsed() > 20000)
                return false;
        return true;
    }
    QTemporaryDir data;
};

TEST_F(CanParamsWrite, ChangedValuesReachTheSensorWhichRestartsWithoutAReset) {
    Connected c(Variant::OD, {3, 4, 1});
    ASSERT_TRUE(c.connect(data.filePath("write.pcap")));
    CanBusController& can = c.controller;
    ASSERT_TRUE(can.ReadAllParameters());
    const QList<std::pair<int, QVariant>> changes = {
        {14, 42555}, {13, "127.0.0.9"}, {31, 0.047}, {40, -2.5}, {37, 50}, {2, -7},
    };
    for (const auto& [id, value] : changes)
        ASSERT_TRUE(can.writeData(id, value)) << id;
    const uint64_t restarts = c.sim.sensor->restartCount();

    QStringList titles; // of the notifications shown while writing
    const auto connection =
        QObject::connect(&NotificationManager::instance(), &NotificationManager::notificationAdded,
                         [&](Notification* n) { titles << n->getTitle(); });
    const bool written = can.writeAllParameters();
    QObject::disconnect(connection);
    EXPECT_EQ(titles, QStringList({"Writing Parameters", "Successfully Written"}));
    ASSERT_TRUE(written);
    EXPECT_EQ(c.sim.sensor->restartCount(), restarts + 1);
    EXPECT_EQ(c.sim.sensor->dspParameters().at("destinationUDPPort"), std::vector<double>{42555});
    for (const char* file :
         {"DSP_CPAR-out.bin", "DSP-crc32_patch_out.bin", "KP_CPAR-out.bin", "KP-crc32_patch_out.bin"})
        EXPECT_TRUE(QFile::exists(data.filePath(QStringLiteral("can-parameters/") + file))) << file;
    // No ECUReset (02 11 01) went to the sensor: it restarted by itself.
    QFile trace(data.filePath("write.pcap"));
    ASSERT_TRUE(trace.open(QIODevice::ReadOnly));
    EXPECT_FALSE(trace.readAll().contains(QByteArray("\x02\x11\x01", 3)));

    ASSERT_TRUE(readAfterRestart(can));
    for (const auto& [id, value] : changes)
        EXPECT_EQ(can.readData(id).toString(), value.toString()) << id;
}

TEST_F(CanParamsWrite, SensorSilentMidWriteKeepsItsOldBlocks) {
    Connected c(Variant::OD, {3, 4, 1}, {trvsim::FlashFault::Kind::Silent, 1});
    ASSERT_TRUE(c.connect());
    CanBusController& can = c.controller;
    ASSERT_TRUE(can.ReadAllParameters());
    const QByteArray dsp = can.parameterBlocks().dspImage(), kp = can.parameterBlocks().kpImage();
    ASSERT_TRUE(can.writeData(14, 42555));
    const trvsim::ParameterValues before = c.sim.sensor->dspParameters();

    EXPECT_FALSE(can.writeAllParameters());
    EXPECT_EQ(c.sim.sensor->dspParameters(), before);
    ASSERT_TRUE(readAfterRestart(can)); // after the hung sensor's silence
    EXPECT_EQ(can.parameterBlocks().dspImage(), dsp);
    EXPECT_EQ(can.parameterBlocks().kpImage(), kp);
}

} // namespace
