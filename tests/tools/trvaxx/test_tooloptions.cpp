// Command line of the trvaxx tool: what is accepted and the messages for what is not, and the CAN
// option group with where the interface comes from when --can is not given.
#include "tools/trvaxx/toolcommand.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <QTemporaryDir>

namespace {

ToolOptions parseOk(const QStringList& args) {
    ToolOptions o;
    QString error;
    EXPECT_TRUE(parseToolOptions(args, o, error))
        << args.join(' ').toStdString() << ": " << error.toStdString();
    return o;
}

QString parseError(const QStringList& args) {
    ToolOptions o;
    QString error;
    EXPECT_FALSE(parseToolOptions(args, o, error)) << args.join(' ').toStdString();
    return error;
}

TEST(ToolOptionsTest, MonitorDefaultsAndOptions) {
    ToolOptions o = parseOk({"monitor"});
    EXPECT_EQ(o.command, QStringLiteral("monitor"));
    EXPECT_EQ(o.port, 42000);
    EXPECT_EQ(o.sender, QStringLiteral("0.0.0.0"));
    EXPECT_FALSE(o.json);
    EXPECT_EQ(o.seconds, 0);

    o = parseOk({"monitor", "--port", "5000", "--sender=127.0.0.3", "--json", "--seconds", "4"});
    EXPECT_EQ(o.port, 5000);
    EXPECT_EQ(o.sender, QStringLiteral("127.0.0.3"));
    EXPECT_TRUE(o.json);
    EXPECT_EQ(o.seconds, 4);
    EXPECT_EQ(parseOk({"monitor", "--port=0"}).port, 0);
    EXPECT_EQ(parseOk({"monitor", "--port", "65535"}).port, 65535);
    EXPECT_EQ(o.wakeUp, UdpSocket::WakeUp::AllInterfaces);
    EXPECT_EQ(parseOk({"monitor", "--wake-up", "loopback"}).wakeUp, UdpSocket::WakeUp::LoopbackOnly);
    EXPECT_EQ(parseOk({"record", "f", "--wake-up=none"}).wakeUp, UdpSocket::WakeUp::None);
}

TEST(ToolOptionsTest, RecordAndReplayTakeOneFile) {
    ToolOptions o = parseOk({"record", "out.orlrec", "--seconds", "10"});
    EXPECT_EQ(o.command, QStringLiteral("record"));
    EXPECT_EQ(o.file, QStringLiteral("out.orlrec"));
    EXPECT_EQ(o.seconds, 10);

    o = parseOk({"replay", "--fast", "in.orlrec", "--json"});
    EXPECT_EQ(o.command, QStringLiteral("replay"));
    EXPECT_EQ(o.file, QStringLiteral("in.orlrec"));
    EXPECT_TRUE(o.fast);
    EXPECT_TRUE(o.json);
    EXPECT_DOUBLE_EQ(parseOk({"replay", "x", "--speed", "0.5"}).speed, 0.5);
    // "--" ends the options, so a file may start with a dash
    EXPECT_EQ(parseOk({"replay", "--", "-odd-name"}).file, QStringLiteral("-odd-name"));
}

TEST(ToolOptionsTest, HelpAndVersion) {
    EXPECT_EQ(parseOk({"--help"}).action, ToolOptions::Action::Help);
    EXPECT_EQ(parseOk({"-h"}).helpTopic, QString());
    ToolOptions o = parseOk({"monitor", "--port", "1", "--help"});
    EXPECT_EQ(o.action, ToolOptions::Action::Help);
    EXPECT_EQ(o.helpTopic, QStringLiteral("monitor"));
    EXPECT_EQ(parseOk({"help", "replay"}).helpTopic, QStringLiteral("replay"));
    EXPECT_EQ(parseOk({"--version"}).action, ToolOptions::Action::Version);
    EXPECT_TRUE(toolUsage(QStringLiteral("monitor")).contains(QStringLiteral("--sender")));
    EXPECT_TRUE(toolUsage(QStringLiteral("replay")).contains(QStringLiteral("--fast")));
    EXPECT_TRUE(toolUsage().contains(QStringLiteral("record FILE")));
}

TEST(ToolOptionsTest, FaultsAreNamed) {
    struct Case {
        QStringList args;
        const char* message;
    };
    const Case cases[] = {
        {{}, "no command"},
        {{"watch"}, "unknown command 'watch'"},
        {{"monitor", "--port"}, "--port needs a value"},
        {{"monitor", "--port", "70000"}, "0 to 65535, not '70000'"},
        {{"monitor", "--port", "-1"}, "not '-1'"},
        {{"monitor", "--port", "abc"}, "not 'abc'"},
        {{"monitor", "--sender", "127.0.0"}, "IPv4 address"},
        {{"monitor", "--sender", "256.1.1.1"}, "IPv4 address"},
        {{"monitor", "--sender", "::1"}, "IPv4 address"},
        {{"monitor", "--seconds", "0"}, "at least 1"},
        {{"monitor", "--wake-up", "everywhere"}, "all, loopback or none, not 'everywhere'"},
        {{"replay", "f", "--wake-up", "none"}, "unknown option '--wake-up' for replay"},
        {{"monitor", "--seconds", "1.5"}, "not '1.5'"},
        {{"monitor", "--json=yes"}, "--json takes no value"},
        {{"monitor", "--fast"}, "unknown option '--fast' for monitor"},
        {{"monitor", "-x"}, "unknown option '-x'"},
        {{"monitor", "extra"}, "unexpected argument 'extra'"},
        {{"record"}, "record needs a FILE"},
        {{"record", "a", "b"}, "unexpected argument 'b'"},
        {{"replay"}, "replay needs a FILE"},
        {{"replay", "f", "--port", "5"}, "unknown option '--port' for replay"},
        {{"replay", "f", "--fast", "--speed", "2"}, "exclude each other"},
        {{"replay", "f", "--speed", "0"}, "positive factor"},
    };
    for (const Case& c : cases) {
        const QString error = parseError(c.args);
        EXPECT_TRUE(error.contains(QLatin1String(c.message)))
            << c.args.join(' ').toStdString() << " -> " << error.toStdString();
    }
}

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

// A CAN command: parsing it resolves the interface, which reads the host's settings.
TEST_F(CanOptionsTest, ParamsTakesAnActionAndItsArguments) {
    ToolOptions o = parseOk({"params", "set", "--udp-port", "42001", "CAMCAL_ROT_Z", "--", "-90"});
    EXPECT_EQ(o.arguments, (QStringList{"set", "CAMCAL_ROT_Z", "-90"}));
    EXPECT_EQ(o.udpPort, 42001);
    EXPECT_EQ(parseOk({"params", "list"}).udpPort, -1);
    const std::pair<QStringList, const char*> faults[] = {
        {{"params"}, "params needs a ACTION"},
        {{"params", "dump"}, "export, import, get, set or list, not 'dump'"},
        {{"params", "set", "STATIC_UDP_PORT"}, "params set takes 2 argument(s)"},
        {{"params", "list", "x"}, "params list takes 0 argument(s)"},
        {{"params", "get", "A", "B", "C"}, "unexpected argument 'C'"},
        {{"params", "list", "--udp-port", "0"}, "--udp-port needs a port number"},
        {{"params", "list", "--canopen"}, "J1939"},
    };
    for (const auto& [args, message] : faults)
        EXPECT_TRUE(parseError(args).contains(QLatin1String(message))) << args.join(' ').toStdString();
}
