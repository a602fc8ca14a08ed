// The CAN option group of the trvaxx command line: parsing of --can, --node, --baud, --canopen and
// --trace, and where the interface comes from when --can is not given.
#include "tools/trvaxx/tooloptions.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <QTemporaryDir>

namespace {

// Parses a command that takes the CAN group, then resolves the interface.
bool parseCan(const QStringList& args, ToolOptions& o, QString& error) {
    const std::vector<const OptionGroup*> groups = {&ToolOptionGroups::can()};
    o = ToolOptions();
    return parseCommandLine(QStringLiteral("can-test"), args, groups, {}, o, error) && o.can.resolve(error);
}

// The host's settings in a private folder; the environment variable unset unless a case sets it.
class CanOptionsTest : public ::testing::Test {
protected:
    // One folder for the whole suite: the host keeps one settings object for the process.
    static void SetUpTestSuite() {
        dir = new QTemporaryDir;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir->path());
    }
    static void TearDownTestSuite() { delete dir; }
    void SetUp() override {
        ASSERT_TRUE(dir->isValid());
        hostSettings().remove(QLatin1String(CanOptions::SETTING));
        qunsetenv(CanOptions::ENVIRONMENT_VARIABLE);
    }
    void TearDown() override { qunsetenv(CanOptions::ENVIRONMENT_VARIABLE); }
    static QSettings hostSettings() { return QSettings(QStringLiteral("Vexa"), QStringLiteral("OrlanGUI")); }
    static QTemporaryDir* dir;
};
QTemporaryDir* CanOptionsTest::dir = nullptr;

TEST_F(CanOptionsTest, ValuesAndDefaults) {
    struct Case {
        QStringList args;
        QString interface;
        int node;
        quint32 baud;
        bool canopen;
        QString trace;
    };
    const Case cases[] = {
        {{}, "socketcand://127.0.0.1:29536/can0", 239, 250000, false, ""},
        {{"--can", "socketcand://10.0.0.2:29536/can1", "--node", "0x20", "--baud", "500000"},
         "socketcand://10.0.0.2:29536/can1",
         32,
         500000,
         false,
         ""},
        {{"--can=qtcanbus://peakcan/usb0", "--canopen"}, "qtcanbus://peakcan/usb0", 10, 250000, true, ""},
        {{"--can", "vcan0", "--canopen", "--node", "5", "--trace", "frames.log"},
         "vcan0",
         5,
         250000,
         true,
         "frames.log"},
    };
    for (const Case& c : cases) {
        ToolOptions o;
        QString error;
        ASSERT_TRUE(parseCan(c.args, o, error))
            << c.args.join(' ').toStdString() << ": " << error.toStdString();
        EXPECT_EQ(o.can.interface, c.interface) << c.args.join(' ').toStdString();
        EXPECT_EQ(o.can.node, c.node) << c.args.join(' ').toStdString();
        EXPECT_EQ(o.can.baud, c.baud);
        EXPECT_EQ(o.can.canopen, c.canopen);
        EXPECT_EQ(o.can.trace, c.trace);
    }
}

TEST_F(CanOptionsTest, FaultsAreNamed) {
    struct Case {
        QStringList args;
        const char* message;
    };
    const Case cases[] = {
        {{"--can", "socketcand://host/can0"}, "--can needs socketcand://HOST:PORT/BUS"},
        {{"--can", "socketcand://host:70000/can0"}, "not 'socketcand://host:70000/can0'"},
        {{"--can", "http://x/y"}, "not 'http://x/y'"},
        {{"--node", "256"}, "--node needs a number from 0 to 255"},
        {{"--node", "0x"}, "not '0x'"},
        {{"--canopen", "--node", "200"}, "CANopen node id from 1 to 127"},
        {{"--baud", "fast"}, "--baud needs a bit rate"},
        {{"--canopen=1"}, "takes no value"},
        {{"--trace"}, "--trace needs a value"},
    };
    for (const Case& c : cases) {
        ToolOptions o;
        QString error;
        EXPECT_FALSE(parseCan(c.args, o, error)) << c.args.join(' ').toStdString();
        EXPECT_TRUE(error.contains(QLatin1String(c.message)))
            << c.args.join(' ').toStdString() << " -> " << error.toStdString();
    }
}

// The option wins over the environment, the environment over the setting, the setting over the default.
TEST_F(CanOptionsTest, InterfaceResolutionOrder) {
    ToolOptions o;
    QString error;
    hostSettings().setValue(QLatin1String(CanOptions::SETTING), QStringLiteral("can7"));
    ASSERT_TRUE(parseCan({}, o, error)) << error.toStdString();
    EXPECT_EQ(o.can.interface, QStringLiteral("can7"));
    EXPECT_EQ(o.can.source, CanOptions::Source::Setting);

    qputenv(CanOptions::ENVIRONMENT_VARIABLE, "socketcand://sim:29536/vcan0");
    ASSERT_TRUE(parseCan({}, o, error)) << error.toStdString();
    EXPECT_EQ(o.can.interface, QStringLiteral("socketcand://sim:29536/vcan0"));
    EXPECT_EQ(o.can.source, CanOptions::Source::Environment);

    ASSERT_TRUE(parseCan({"--can", "can1"}, o, error)) << error.toStdString();
    EXPECT_EQ(o.can.interface, QStringLiteral("can1"));
    EXPECT_EQ(o.can.source, CanOptions::Source::Option);

    qputenv(CanOptions::ENVIRONMENT_VARIABLE, "not a url");
    EXPECT_FALSE(parseCan({}, o, error));
    EXPECT_TRUE(error.contains(QLatin1String(CanOptions::ENVIRONMENT_VARIABLE))) << error.toStdString();
}

} // namespace
