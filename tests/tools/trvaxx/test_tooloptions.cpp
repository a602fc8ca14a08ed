// Command line of the trvaxx tool: what is accepted and the messages for what is not.
#include "tools/trvaxx/toolcommand.h"

#include <gtest/gtest.h>

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

} // namespace
