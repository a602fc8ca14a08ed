// Command line of the trvaxx tool: what is accepted and the messages for what is not, and the CAN
// option group with where the interface comes from when --can is not given.
#include "tools/trvaxx/toolcommand.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <QTemporaryDir>

namespace {

// "can-test ..." parses the CAN option group alone and resolves the interface; anything else is a
// whole trvaxx command line.
bool parse(const QStringList& args, ToolOptions& o, QString& error) {
    o = ToolOptions();
    if (args.value(0) != QLatin1String("can-test"))
        return parseToolOptions(args, o, error);
    const std::vector<const OptionGroup*> groups = {&ToolOptionGroups::can()};
    return parseCommandLine(args.first(), args.mid(1), groups, {}, o, error) && o.can.resolve(error);
}

// The fields the tests look at as "name=value" words, so that a table row names the ones it pins.
QStringList describe(const ToolOptions& o) {
    const char* actions[] = {"help", "version", "run"};
    const char* wakeUps[] = {"all", "loopback", "none"};
    const auto n = [](auto v) { return QString::number(v); };
    return QStringLiteral("action=%1 command=%2 topic=%3 file=%4 args=%5 port=%6 udp=%7 sender=%8 json=%9 "
                          "seconds=%10 wake=%11 fast=%12 speed=%13 can=%14 node=%15 baud=%16 canopen=%17 "
                          "trace=%18")
        .arg(QLatin1String(actions[int(o.action)]), o.command, o.helpTopic, o.file, o.arguments.join(','),
             n(o.port), n(o.udpPort), o.sender, n(o.json), n(o.seconds),
             QLatin1String(wakeUps[int(o.wakeUp)]), n(o.fast), n(o.speed), o.can.interface, n(o.can.node),
             n(o.can.baud), n(o.can.canopen), o.can.trace)
        .split(QLatin1Char(' '));
}

// The host's settings in a private folder; the environment variable unset unless a case sets it.
class ToolOptionsTest : public ::testing::Test {
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
QTemporaryDir* ToolOptionsTest::dir = nullptr;

TEST_F(ToolOptionsTest, AcceptedCommandLines) {
    const std::pair<QStringList, const char*> cases[] = {
        {{"monitor"}, "action=run command=monitor port=42000 sender=0.0.0.0 json=0 seconds=0 wake=all"},
        {{"monitor", "--port=0", "--sender=127.0.0.3", "--json", "--seconds", "4", "--wake-up", "loopback"},
         "port=0 sender=127.0.0.3 json=1 seconds=4 wake=loopback"},
        {{"monitor", "--port", "65535"}, "port=65535"},
        {{"record", "f", "--wake-up=none"}, "wake=none"},
        {{"record", "out.orlrec", "--seconds", "10"}, "command=record file=out.orlrec seconds=10"},
        {{"replay", "--fast", "in.orlrec", "--json"}, "command=replay file=in.orlrec fast=1 json=1"},
        {{"replay", "x", "--speed", "0.5"}, "speed=0.5"},
        // "--" ends the options, so a file may start with a dash
        {{"replay", "--", "-odd-name"}, "file=-odd-name"},
        {{"--help"}, "action=help topic="},
        {{"monitor", "--port", "1", "--help"}, "action=help topic=monitor"},
        {{"help", "replay"}, "action=help topic=replay"},
        {{"--version"}, "action=version"},
        // A CAN command: parsing it resolves the interface, which reads the host's settings.
        {{"params", "set", "--udp-port", "42001", "CAMCAL_ROT_Z", "--", "-90"},
         "args=set,CAMCAL_ROT_Z,-90 udp=42001"},
        {{"params", "list"}, "udp=-1"},
        {{"can-test"}, "can=socketcand://127.0.0.1:29536/can0 node=239 baud=250000 canopen=0 trace="},
        {{"can-test", "--can", "socketcand://10.0.0.2:29536/can1", "--node", "0x20", "--baud", "500000"},
         "can=socketcand://10.0.0.2:29536/can1 node=32 baud=500000 canopen=0"},
        {{"can-test", "--can=qtcanbus://peakcan/usb0", "--canopen"},
         "can=qtcanbus://peakcan/usb0 node=10 baud=250000 canopen=1"},
        {{"can-test", "--can", "vcan0", "--canopen", "--node", "5", "--trace", "frames.log"},
         "can=vcan0 node=5 canopen=1 trace=frames.log"},
    };
    for (const auto& [args, expected] : cases) {
        SCOPED_TRACE(args.join(' ').toStdString());
        ToolOptions o;
        QString error;
        ASSERT_TRUE(parse(args, o, error)) << error.toStdString();
        const QStringList fields = describe(o);
        for (const QString& field : QString::fromLatin1(expected).split(' '))
            EXPECT_TRUE(fields.contains(field))
                << field.toStdString() << " in " << fields.join(' ').toStdString();
    }
}

TEST_F(ToolOptionsTest, FaultsAreNamed) {
    const std::pair<QStringList, const char*> cases[] = {
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
        {{"monitor", "--seconds", "1.5"}, "not '1.5'"},
        {{"monitor", "--json=yes"}, "--json takes no value"},
        {{"monitor", "--fast"}, "unknown option '--fast' for monitor"},
        {{"monitor", "-x"}, "unknown option '-x'"},
        {{"monitor", "extra"}, "unexpected argument 'extra'"},
        {{"record"}, "record needs a FILE"},
        {{"replay"}, "replay needs a FILE"},
        {{"replay", "f", "--fast", "--speed", "2"}, "exclude each other"},
        {{"replay", "f", "--speed", "0"}, "positive factor"},
        {{"params"}, "params needs a ACTION"},
        {{"params", "dump"}, "export, import, get, set or list, not 'dump'"},
        {{"params", "set", "STATIC_UDP_PORT"}, "params set takes 2 argument(s)"},
        {{"params", "list", "x"}, "params list takes 0 argument(s)"},
        {{"params", "get", "A", "B", "C"}, "unexpected argument 'C'"},
        {{"params", "list", "--udp-port", "0"}, "--udp-port needs a port number"},
        {{"params", "list", "--canopen"}, "J1939"},
        {{"can-test", "--can", "socketcand://host/can0"}, "--can needs socketcand://HOST:PORT/BUS"},
        {{"can-test", "--can", "socketcand://host:70000/can0"}, "not 'socketcand://host:70000/can0'"},
        {{"can-test", "--can", "http://x/y"}, "not 'http://x/y'"},
        {{"can-test", "--node", "256"}, "--node needs a number from 0 to 255"},
        {{"can-test", "--node", "0x"}, "not '0x'"},
        {{"can-test", "--canopen", "--node", "200"}, "CANopen node id from 1 to 127"},
        {{"can-test", "--baud", "fast"}, "--baud needs a bit rate"},
        {{"can-test", "--canopen=1"}, "takes no value"},
        {{"can-test", "--trace"}, "--trace needs a value"},
    };
    for (const auto& [args, message] : cases) {
        ToolOptions o;
        QString error;
        EXPECT_FALSE(parse(args, o, error)) << args.join(' ').toStdString();
        EXPECT_TRUE(error.contains(QLatin1String(message)))
            << args.join(' ').toStdString() << " -> " << error.toStdString();
    }
}

// The option wins over the environment, the environment over the setting, the setting over the default.
TEST_F(ToolOptionsTest, CanInterfaceResolutionOrder) {
    ToolOptions o;
    QString error;
    hostSettings().setValue(QLatin1String(CanOptions::SETTING), QStringLiteral("can7"));
    ASSERT_TRUE(parse({"can-test"}, o, error)) << error.toStdString();
    EXPECT_EQ(o.can.interface, QStringLiteral("can7"));
    EXPECT_EQ(o.can.source, CanOptions::Source::Setting);

    qputenv(CanOptions::ENVIRONMENT_VARIABLE, "socketcand://sim:29536/vcan0");
    ASSERT_TRUE(parse({"can-test"}, o, error)) << error.toStdString();
    EXPECT_EQ(o.can.interface, QStringLiteral("socketcand://sim:29536/vcan0"));
    EXPECT_EQ(o.can.source, CanOptions::Source::Environment);

    ASSERT_TRUE(parse({"can-test", "--can", "can1"}, o, error)) << error.toStdString();
    EXPECT_EQ(o.can.interface, QStringLiteral("can1"));
    EXPECT_EQ(o.can.source, CanOptions::Source::Option);

    qputenv(CanOptions::ENVIRONMENT_VARIABLE, "not a url");
    EXPECT_FALSE(parse({"can-test"}, o, error));
    EXPECT_TRUE(error.contains(QLatin1String(CanOptions::ENVIRONMENT_VARIABLE))) << error.toStdString();
}

} // namespace
