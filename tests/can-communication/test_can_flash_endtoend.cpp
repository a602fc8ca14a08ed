// Firmware updates against the virtual sensor over socketcand: a generated container changes the
// reported version on CAN and Ethernet; a sensor that hangs, restarts or finds a wrong CRC mid-way
// gives its code and keeps its old firmware; the command line builds, inspects and flashes.
#include "tests/can-communication/simcansensor.h"

#include "can-communication/diagpc.h"
#include "can-communication/flashcontainer.h"
#include "tests/support/messagecapture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace {

// A firmware image as the virtual sensor reads it: its identity line, then filler.
QByteArray image(const char* block, const char* version, int size) {
    QByteArray data = QByteArray("TRVSIM-FW block=") + block + " version=" + version + "\n";
    for (int i = 0; data.size() < size; ++i)
        data.append(char(i * 31 + i / 97));
    return data;
}

QString softwareVersion(const QByteArray& url) {
    CanBusController controller;
    controller.setInterfaceUrl(url);
    if (controller.connectDevice(SimCanSensor::address(250000), true) != 0)
        return QStringLiteral("(no answer)");
    controller.readIdentity();
    return controller.identity().globalSoftwareVersion;
}

// The streamed identity follows a restart on the sensor's cycle thread.
std::string ethernetVersion(const SimCanSensor& sim, const std::string& wanted) {
    QElapsedTimer timer;
    timer.start();
    std::string version = sim.sensor->identification().softwareVersion;
    while (version != wanted && timer.elapsed() < 5000) {
        QThread::msleep(20);
        version = sim.sensor->identification().softwareVersion;
    }
    return version;
}

struct Flashing {
    SimCanSensor sim;
    QTemporaryDir dir;
    CanBusController controller;
    std::vector<std::pair<int, int>> progress;

    explicit Flashing(const std::function<void(trvsim::CanConfig&)>& configure = {})
        : sim(trvsim::Variant::OD, trvsim::Model::TRVAFN, {3, 4, 1}, nullptr, configure) {
        controller.setInterfaceUrl(sim.url());
        QObject::connect(&controller, &CanBusController::sigBytesWritten,
                         [this](int total, int written) { progress.emplace_back(total, written); });
    }
    // A container for this sensor's article and hardware with a new DSP and KP firmware.
    QString container(int dspSize) {
        const SensorIdentity& id = controller.identity();
        FlashContainer::Target target{{id.articleNumber},
                                      QByteArray(1, char(id.mainboardVersionNumber)),
                                      QByteArray(1, char(id.frontendVersionNumber)),
                                      QByteArray(1, char(id.illuHardwareVersionNumber))};
        QString error;
        const QByteArray bytes =
            FlashContainer::build(target,
                                  {FlashBlock::fromData("DSP", 0x60, image("DSP", "3.4.2", dspSize)),
                                   FlashBlock::fromData("KP", 0x80, image("KP", "3.4.2", 5000))},
                                  error);
        const QString path = dir.filePath("fw.fcr");
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size())
            << error.toStdString();
        return path;
    }
    int flash(int dspSize) {
        if (controller.connectDevice(SimCanSensor::address(250000), true) != 0 ||
            controller.readIdentity() != 0)
            return -1;
        return controller.firmwareupdate(container(dspSize), true);
    }
};

// A good update changes the version on CAN and Ethernet. A broken one fails its first block twice,
// so the second is never started, and the sensor keeps its old firmware.
TEST(CanFlashEndToEnd, UpdatesAndBrokenDownloads) {
    using Kind = trvsim::FlashFault::Kind;
    const std::vector<std::pair<int, int>> whole = {{2, 1}, {2, 2}, {100, 100}},
                                           broken = {{2, 1}, {100, 100}};
    const struct {
        const char* name;
        bool zeroSeed, bootLoader; // a boot loader that reports the programming session
        trvsim::FlashFault fault;
        int code;
        // A block or retry that finds the programming session open changes no session and sends no
        // driver; a sensor that hung or restarted needs both again.
        int sessionChanges, driverDownloads;
    } cases[] = {
        {"application running", false, false, {}, 0, 1, 1},
        {"zero seed: no key, no flash driver", true, false, {}, 0, 1, 0},
        {"stuck in its boot loader", false, true, {}, 0, 0, 0},
        {"sensor hangs mid-download", false, false, {Kind::Silent, 3}, DIAG_TIMEOUT, 2, 2},
        {"sensor restarts mid-download", false, false, {Kind::Reset, 3}, DIAG_TIMEOUT, 2, 2},
        {"CRC mismatch", false, false, {Kind::Crc, 0}, DIAG_DATA_ERR, 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Flashing f([&c](trvsim::CanConfig& can) {
            can.zeroSeed = c.zeroSeed;
            can.bootLoader = can.bootLoaderSession = c.bootLoader;
            can.flashFault = c.fault;
        });
        ASSERT_TRUE(f.sim.started);
        MessageCapture log;
        EXPECT_EQ(f.flash(20000), c.code);
        EXPECT_EQ(log.count("Start programming session"), c.sessionChanges);
        EXPECT_EQ(log.count("Download flash driver"), c.driverDownloads);
        EXPECT_EQ(f.progress, c.code == 0 ? whole : broken);
        const char* version = c.code == 0 ? "3.4.2" : "3.4.1";
        EXPECT_EQ(softwareVersion(f.sim.url()), version);
        EXPECT_EQ(ethernetVersion(f.sim, version), version);
    }
}

TEST(CanFlashEndToEnd, CommandLineBuildsInspectsAndFlashes) {
    SimCanSensor sim(trvsim::Variant::OD, trvsim::Model::TRVAFN, {3, 4, 1});
    ASSERT_TRUE(sim.started);
    QTemporaryDir dir;
    auto trvaxx = [&](const QStringList& arguments, QByteArray* out = nullptr) {
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start(QStringLiteral(TRVAXX_TOOL), arguments);
        p.waitForFinished(120000);
        if (out)
            *out = p.readAllStandardOutput();
        return p.exitCode();
    };
    const QString can = QStringLiteral("--can=") + QString::fromUtf8(sim.url());
    ASSERT_EQ(trvaxx({"fcr", "image", "dsp.img", "--block", "DSP", "--version", "3.4.3", "--size", "9000"}),
              0);
    ASSERT_EQ(trvaxx({"fcr", "build", "fw.fcr", "--article", "TRVAFN-R2A1", "--article", "TRVADN-R2A1",
                      "--hw-mainboard", "3", "--hw-frontend", "2", "--hw-illumination", "1",
                      "--hw-illumination", "2", "--block", "DSP:0x60:dsp.img"}),
              0);
    QByteArray out;
    ASSERT_EQ(trvaxx({"fcr", "info", "fw.fcr", "--json"}, &out), 0);
    const QJsonObject info = QJsonDocument::fromJson(out).object();
    EXPECT_TRUE(info["header_crc_ok"].toBool());
    EXPECT_EQ(info["articles"].toArray().size(), 2);
    EXPECT_EQ(info["blocks"].toArray().at(0).toObject()["size"].toInt(), 9000);
    EXPECT_TRUE(info["blocks"].toArray().at(0).toObject()["crc_ok"].toBool());

    // A container for other hardware is refused with its code; the right one flashes.
    ASSERT_EQ(trvaxx({"fcr", "build", "other.fcr", "--article", "TRVAFN-R2A1", "--hw-mainboard", "9",
                      "--hw-frontend", "2", "--hw-illumination", "2", "--block", "DSP:96:dsp.img"}),
              0);
    EXPECT_EQ(trvaxx({"flash", "other.fcr", can, "--json"}, &out), 1);
    EXPECT_EQ(QJsonDocument::fromJson(out.split('\n').value(0)).object()["error"].toObject()["code"].toInt(),
              130012);
    EXPECT_EQ(trvaxx({"flash", "fw.fcr", can}, &out), 0);
    EXPECT_TRUE(out.contains("progress 0 % block 1 of 1")) << out.toStdString();
    EXPECT_TRUE(out.contains("software_version: 3.4.1 -> 3.4.3")) << out.toStdString();
}

} // namespace
