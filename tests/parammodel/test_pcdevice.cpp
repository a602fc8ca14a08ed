// The parameter device: names, run-mode texts, the "sensor_param" file it writes (compared with
// a hand-written file) and the import that checks the whole file before it stores anything.
#include "parammodel/pcdevice_trvaxx.h"

#include "common/logentry.h"
#include "parammodel/paramsyncer.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// A syncer that records what reaches it and refuses the identifiers it is told to.
struct RecordingSyncer : ParamSyncer {
    QList<int> accepted;
    QList<int> refuse;
    int writes = 0;
    void parameterChanged(int id, const QVariant& value) override { acceptValue(id, value); }
    void refreshAll() override {}
    void readFromDevice(bool) override {}
    int writeToDevice(bool) override { return ++writes, 0; }
    void refreshStatus() override {}
    bool acceptValue(int id, const QVariant&) override {
        if (refuse.contains(id))
            return false;
        accepted.append(id);
        return true;
    }
};

QStringList logMessages() {
    QStringList messages;
    for (const LogEntry& entry : LogBook::instance().entries())
        messages << entry.getMessage();
    return messages;
}

class PCDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        device.setIdentification(QStringLiteral("TRVAFN-0042"), QStringLiteral("3.4.1"),
                                 QStringLiteral("OD"));
        device.setParameter(PCDevice_TRVAXX::FIRMWARE_VERSION, QStringLiteral("3.4.1"), nullptr);
        device.setParameter(PCDevice_TRVAXX::STATIC_IPV4_ADDRESS, QStringLiteral("192.168.1.1"), nullptr);
        device.setParameter(PCDevice_TRVAXX::STATIC_UDP_PORT, 42000, nullptr);
        device.setParameter(PCDevice_TRVAXX::CAMCAL_ROT_X, 1.5, nullptr);
        device.setParameter(PCDevice_TRVAXX::CAMCAL_TRANS_Z, 0.047, nullptr);
        device.setParameter(PCDevice_TRVAXX::REFLECTOR_CLOSE_RANGE_ON_OFF, true, nullptr);
        device.setParameter(PCDevice_TRVAXX::BF_ROIS_GROUP, QByteArray("\x01\xff\x03", 3), nullptr);
        device.setParameter(PCDevice_TRVAXX::BF_ROIS_UPPER_LEFT_X, QVariantList{1, 2, 3}, nullptr);
        device.setParameter(PCDevice_TRVAXX::AUTOCALIB_X_PATTERN, QVariant(), nullptr);
        LogBook::instance().clear();
    }
    QString path(const char* name) const { return dir.filePath(QLatin1String(name)); }
    QByteArray read(const QString& file) const {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void write(const QString& file, const QByteArray& data) const {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    }
    QTemporaryDir dir;
    PCDevice_TRVAXX device;
};

const char EXPECTED_EXPORT[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE sensor_param>
<sensor_param version="2.0" article_number="TRVAFN-0042" sensor_version="3.4.1" sensor_variant="OD">
    <param name="FIRMWARE_VERSION" type="qvariant" value="3.4.1"/>
    <param name="STATIC_IPV4_ADDRESS" type="qvariant" value="192.168.1.1"/>
    <param name="STATIC_UDP_PORT" type="qvariant" value="42000"/>
    <param name="CAMCAL_TRANS_Z" type="qvariant" value="0.047"/>
    <param name="CAMCAL_ROT_X" type="qvariant" value="1.5"/>
    <param name="REFLECTOR_CLOSE_RANGE_ON_OFF" type="qvariant" value="true"/>
    <param name="BF_ROIS_GROUP" type="qbytearray" value="1|-1|3|"/>
    <param name="BF_ROIS_UPPER_LEFT_X" type="qvariantlist" value="1|2|3|"/>
    <param name="AUTOCALIB_X_PATTERN" type="qvariant" value=""/>
</sensor_param>
)";

} // namespace

// The name table itself is used by every file test below; read-only parameters are skipped by the
// import test and refused by the parameter tool's test.
TEST(PCDevice, UnknownNamesAndRunModeTexts) {
    PCDevice_TRVAXX device;
    for (const char* bad : {"NO_SUCH_PARAMETER", "FRAME_RATE|RUN_MODE", "frame_rate", ""})
        EXPECT_EQ(device.getParameterId(QLatin1String(bad)), -1) << bad;
    EXPECT_TRUE(device.getParameterName(PCDevice_TRVAXX::PARAM_COUNT).isEmpty());

    EXPECT_EQ(device.runModeText(), QString()); // no RUN_MODE held
    const std::pair<int, const char*> modes[] = {{34, "Sensor running"},
                                                 {22, ""},
                                                 {16, "Super state INIT"},
                                                 {65, "System reset preparation"},
                                                 {-1, ""}};
    for (const auto& [code, text] : modes) {
        device.setParameter(PCDevice_TRVAXX::RUN_MODE, code, nullptr);
        EXPECT_EQ(device.runModeText(), QLatin1String(text)) << code;
    }
}

TEST_F(PCDeviceTest, ExportWritesTheFileFormatAndImportsBackUnchanged) {
    auto& syncer = *new RecordingSyncer; // owned by the device
    device.setSyncer(&syncer);
    ASSERT_EQ(device.exportAll(path("a.trvaxxcfg")), 0);
    EXPECT_EQ(QString::fromUtf8(read(path("a.trvaxxcfg"))), QString::fromUtf8(EXPECTED_EXPORT));
    EXPECT_EQ(device.exportAll(path("missing/dir/out.trvaxxcfg")), PCDevice_TRVAXX::EXPORT_OPEN_FAILED);

    EXPECT_EQ(device.importAll(path("a.trvaxxcfg")), 0);
    EXPECT_EQ(syncer.writes, 1);
    EXPECT_EQ(device.getParameter(PCDevice_TRVAXX::STATIC_UDP_PORT).typeId(), QMetaType::Int);
    ASSERT_EQ(device.exportAll(path("b.trvaxxcfg")), 0);
    EXPECT_EQ(read(path("a.trvaxxcfg")), read(path("b.trvaxxcfg")));
}

TEST_F(PCDeviceTest, ImportSkipsWhatItMustNotStoreAndLogsWhy) {
    auto& syncer = *new RecordingSyncer;
    syncer.refuse << PCDevice_TRVAXX::CAMCAL_TRANS_Z;
    device.setSyncer(&syncer);
    write(path("in.trvaxxcfg"), R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE sensor_param>
<sensor_param version="2.0" article_number="A" sensor_version="V" sensor_variant="OD">
  <param name="NO_SUCH_PARAMETER" type="qvariant" value="1"/>
  <param name="FIRMWARE_VERSION" type="qvariant" value="9.9.9"/>
  <param name="FRAME_RATE" type="qvariant" value="25"/>
  <param name="STATIC_UDP_PORT" type="qvariant" value="fast"/>
  <param name="CAMCAL_ROT_X" type="qvariant" value="2.25"/>
  <param name="CAMCAL_TRANS_Z" type="qvariant" value="0.5"/>
  <param name="STATIC_IPV4_ADDRESS" type="qvariant" value="10.0.0"/>
  <param name="REFLECTOR_CLOSE_RANGE_ON_OFF" type="qvariant" value="false"/>
  <param name="BF_ROIS_GROUP" type="qbytearray" value="4|-128|300|"/>
  <param name="BF_ROIS_UPPER_LEFT_X" type="qvariantlist" value="7|8|9|"/>
</sensor_param>
)");
    EXPECT_EQ(device.importAll(path("in.trvaxxcfg")), 0);
    EXPECT_EQ(device.getParameter(PCDevice_TRVAXX::CAMCAL_ROT_X), QVariant(2.25));
    EXPECT_EQ(device.getParameter(PCDevice_TRVAXX::REFLECTOR_CLOSE_RANGE_ON_OFF), QVariant(false));
    EXPECT_EQ(device.getParameter(PCDevice_TRVAXX::BF_ROIS_UPPER_LEFT_X), QVariant(QVariantList{7, 8, 9}));
    // Unchanged: read-only, wrong type, bad address, byte out of range, refused by the syncer.
    EXPECT_EQ(device.getParameter(PCDevice_TRVAXX::FIRMWARE_VERSION), QVariant(QStringLiteral("3.4.1")));
    EXPECT_EQ(device.getParameter(PCDevice_TRVAXX::STATIC_UDP_PORT), QVariant(42000));
    EXPECT_EQ(device.getParameter(PCDevice_TRVAXX::STATIC_IPV4_ADDRESS),
              QVariant(QStringLiteral("192.168.1.1")));
    EXPECT_EQ(device.getParameter(PCDevice_TRVAXX::BF_ROIS_GROUP).toByteArray(),
              QByteArray("\x01\xff\x03", 3));
    EXPECT_EQ(device.getParameter(PCDevice_TRVAXX::CAMCAL_TRANS_Z), QVariant(0.047));
    EXPECT_FALSE(device.hasParameter(PCDevice_TRVAXX::FRAME_RATE));
    EXPECT_EQ(syncer.accepted,
              (QList<int>{PCDevice_TRVAXX::CAMCAL_ROT_X, PCDevice_TRVAXX::REFLECTOR_CLOSE_RANGE_ON_OFF,
                          PCDevice_TRVAXX::BF_ROIS_UPPER_LEFT_X}));
    EXPECT_EQ(syncer.writes, 1);

    const QStringList log = logMessages();
    for (const char* line :
         {"Invalid parameter found: NO_SUCH_PARAMETER", "Skipping Readonly Parameter",
          "Parameter not suported : FRAME_RATE Value: 25",
          "Skipping parameter with a value of the wrong type or range: STATIC_UDP_PORT Value: fast",
          "Skipping parameter with a value of the wrong type or range: STATIC_IPV4_ADDRESS Value: 10.0.0",
          "Skipping parameter with a value of the wrong type or range: BF_ROIS_GROUP Value: 4|-128|300|",
          "Skipping parameter the sensor refused: CAMCAL_TRANS_Z Value: 0.5"})
        EXPECT_TRUE(log.contains(QLatin1String(line))) << line;
}

TEST_F(PCDeviceTest, MalformedFileChangesNothing) {
    auto& syncer = *new RecordingSyncer; // owned by the device
    device.setSyncer(&syncer);
    ASSERT_EQ(device.exportAll(path("before.trvaxxcfg")), 0);
    const QByteArray good =
        R"(<sensor_param version="2.0"><param name="CAMCAL_ROT_X" type="qvariant" value="3"/>)";
    const QList<QByteArray> files{
        "",
        "not xml at all",
        good,                                                   // cut off before the root ends
        good + "</sensor_param><trailing/>",                    // a second root
        good + "<param name=\"A\" value=\"x\"></sensor_param>", // unclosed element
        "<other><param name=\"CAMCAL_ROT_X\" type=\"qvariant\" value=\"3\"/></other>",
        "<?xml version=\"1.0\"?><!DOCTYPE x [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b "
        "\"&a;&a;&a;&a;&a;&a;&a;&a;\">"
        "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;\">"
        "<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;\">]><sensor_param>"
        "<param name=\"CAMCAL_ROT_X\" type=\"qvariant\" value=\"&e;\"/></sensor_param>",
        good + QByteArray(1024 * 1024, ' ') + "</sensor_param>",
    };
    for (int i = 0; i < files.size(); ++i) {
        LogBook::instance().clear();
        write(path("bad.trvaxxcfg"), files.at(i));
        EXPECT_EQ(device.importAll(path("bad.trvaxxcfg")), PCDevice_TRVAXX::IMPORT_MALFORMED) << i;
        EXPECT_TRUE(logMessages()
                        .filter(QStringLiteral("Parsing XML: "))
                        .value(0)
                        .endsWith(QStringLiteral(" File: ") + path("bad.trvaxxcfg")))
            << i;
    }
    ASSERT_EQ(device.exportAll(path("after.trvaxxcfg")), 0);
    EXPECT_EQ(read(path("after.trvaxxcfg")), read(path("before.trvaxxcfg")));
    EXPECT_TRUE(syncer.accepted.isEmpty());
    EXPECT_EQ(syncer.writes, 0);
    EXPECT_EQ(device.importAll(path("does-not-exist")), PCDevice_TRVAXX::IMPORT_OPEN_FAILED);
}
