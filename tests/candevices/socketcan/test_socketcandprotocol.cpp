// The socketcand element parser and writer, the interface texts and the sorting of back-end errors.

#include "candevices/socketcan/candevicestatus.h"
#include "candevices/socketcan/interfaceurl.h"
#include "candevices/socketcan/qtcanbusworker.h"
#include "candevices/socketcan/socketcandprotocol.h"

#include "common/commonutilities.h"
#include "tests/candevices/socketcan/candevicetest.h"

#include <QSettings>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Parsed {
    std::vector<SocketcandElement::Kind> kinds;
    std::vector<CanFrame> frames;
    std::vector<std::string> texts;
    bool ok = true;
    std::string error;
};

// Feeds the stream in chunks of chunkSize bytes (0: all at once).
Parsed parse(const std::string& stream, std::size_t chunkSize = 0) {
    SocketcandParser parser;
    Parsed out;
    const auto sink = [&](const SocketcandElement& e) {
        out.kinds.push_back(e.kind);
        out.texts.emplace_back(e.text);
        if (e.kind == SocketcandElement::Kind::Frame)
            out.frames.push_back(e.frame);
    };
    const std::size_t step = chunkSize ? chunkSize : stream.size() + 1;
    for (std::size_t i = 0; i < stream.size() && out.ok; i += step)
        out.ok = parser.feed(stream.data() + i, std::min(step, stream.size() - i), sink);
    out.error = parser.error();
    return out;
}

using Kind = SocketcandElement::Kind;

TEST(SocketcandParser, AcceptsWhatServersSendInAnySplit) {
    const std::string stream = "< hi >< ok >\r\n<ok>\t< frame 123 1430208624.620442 1122334455667788 >"
                               "< frame 18daeff1 0.5 01 2 03 >  <  frame   7FF 2 >< echo >"
                               "< error bus is busy >< stat 1 2 3 >< frame 20000004 0.1 0000 >";
    for (std::size_t chunk : {0, 1, 2, 7}) {
        SCOPED_TRACE(chunk);
        const Parsed p = parse(stream, chunk);
        ASSERT_TRUE(p.ok) << p.error;
        EXPECT_EQ(p.kinds,
                  (std::vector<Kind>{Kind::Hi, Kind::Ok, Kind::Ok, Kind::Frame, Kind::Frame, Kind::Frame,
                                     Kind::Echo, Kind::Error, Kind::Other, Kind::ErrorFrame}));
        ASSERT_EQ(p.frames.size(), 3u);
        EXPECT_TRUE(sameFrame(p.frames[0], frameOf(0x123, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88})));
        EXPECT_TRUE(sameFrame(p.frames[1], frameOf(0x18DAEFF1, {1, 2, 3})));
        EXPECT_TRUE(sameFrame(p.frames[2], frameOf(0x7FF, {})));
        EXPECT_EQ(p.texts[7], "bus is busy");
    }
}

TEST(SocketcandParser, StopsAtMalformedInput) {
    const struct {
        std::string stream;
        std::string reason;
    } cases[] = {
        {"hi < ok >", "text outside"},
        {"< frame 12G 1.0 00 >", "bad identifier"},
        {"< frame 123456789 1.0 00 >", "bad identifier"},
        {"< frame 40000000 1.0 00 >", "out of range"},
        {"< frame 123 1.x 00 >", "time stamp"},
        {"< frame 123 1.0 >extra", "text outside"},
        {"< frame 123 1.0 001 >", "odd run"},
        {"< frame 123 1.0 001122334455667788 >", "more than 8"},
        {"< frame 123 1.0 0 1 2 3 4 5 6 7 8 >", "more than 8"},
        {"< frame 123 1.0 zz >", "bad data"},
        {"< >", "empty element"},
        {"< ok < hi >", "'<' inside"},
        {"<" + std::string(SocketcandParser::kMaxElementLength + 1, 'a') + ">", "longer than"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stream);
        const Parsed p = parse(c.stream);
        EXPECT_FALSE(p.ok);
        EXPECT_NE(p.error.find(c.reason), std::string::npos) << p.error;
    }
    // A parser that failed stays failed; one cut inside an element says so.
    SocketcandParser parser;
    const auto ignore = [](const SocketcandElement&) {};
    EXPECT_TRUE(parser.feed("< frame 12", 10, ignore));
    EXPECT_TRUE(parser.insideElement());
    EXPECT_FALSE(parser.feed("x >", 3, ignore));
    EXPECT_FALSE(parser.feed("< ok >", 6, ignore));
}

// The identifier width at its bound, a full extended frame and an empty one; what the device
// sends is this text (the device test compares its server's input with it).
TEST(SocketcandWriter, WritesSendElements) {
    for (const auto& [frame, text] :
         {std::pair{frameOf(0x7FF, {}), "< send 7FF 0 >"},
          std::pair{frameOf(0x800, {0, 1}), "< send 00000800 2 00 01 >"},
          std::pair{makeFrame(0x18DAEFF1, 0xB0), "< send 18DAEFF1 8 B0 B1 B2 B3 B4 B5 B6 B7 >"}}) {
        char out[kSocketcandSendCapacity];
        EXPECT_EQ(std::string(out, socketcandSend(frame, out)), text);
    }
}

TEST(InterfaceUrl, ParsesTheThreeForms) {
    using K = InterfaceUrl::Kind;
    const struct {
        const char* text;
        K kind;
        const char* a; // backend or host
        const char* b; // interface or bus
        quint16 port;
    } cases[] = {
        {"can0", K::QtCanBus, "socketcan", "can0", 0},
        {" vcan1 ", K::QtCanBus, "socketcan", "vcan1", 0},
        {"qtcanbus://virtualcan/can0", K::QtCanBus, "virtualcan", "can0", 0},
        {"socketcand://127.0.0.1:29536/can0", K::Socketcand, "127.0.0.1", "can0", 29536},
        {"socketcand://gateway/can1", K::Socketcand, "gateway", "can1", 29536},
        {"socketcand://[::1]:4000/can0", K::Socketcand, "::1", "can0", 4000},
        {"socketcand://host:1/name_of_17_chars_", K::Invalid, "", "", 0},
        {"socketcand://host:0/can0", K::Invalid, "", "", 0},
        {"socketcand://host/", K::Invalid, "", "", 0},
        {"qtcanbus://virtualcan", K::Invalid, "", "", 0},
        {"serial://ttyUSB0/can0", K::Invalid, "", "", 0},
        {"a name with blanks", K::Invalid, "", "", 0},
        {"", K::Invalid, "", "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const InterfaceUrl url = InterfaceUrl::parse(QString::fromUtf8(c.text));
        EXPECT_EQ(url.kind, c.kind);
        if (c.kind == K::QtCanBus) {
            EXPECT_EQ(url.backend, QLatin1String(c.a));
            EXPECT_EQ(url.interface, QLatin1String(c.b));
        } else if (c.kind == K::Socketcand) {
            EXPECT_EQ(url.host, QLatin1String(c.a));
            EXPECT_EQ(url.bus, QLatin1String(c.b));
            EXPECT_EQ(url.port, c.port);
        }
    }
}

TEST(InterfaceUrl, DefaultFollowsEnvironmentThenSettingThenSocketcand) {
    // The host's settings file lives under the test's own XDG_CONFIG_HOME.
    QSettings& host = CommonUtilities::gocSettings();
    host.setValue(QStringLiteral("plugin_trvaxx/can_interface"), QStringLiteral("can1"));
    host.sync();
    qputenv("TRVAXX_CAN_INTERFACE", "qtcanbus://virtualcan/can1");
    EXPECT_EQ(defaultCanInterface(), QLatin1String("qtcanbus://virtualcan/can1"));
    qunsetenv("TRVAXX_CAN_INTERFACE");
    EXPECT_EQ(defaultCanInterface(), QLatin1String("can1"));
    host.remove(QStringLiteral("plugin_trvaxx/can_interface"));
    host.sync();
    EXPECT_EQ(defaultCanInterface(), QLatin1String("socketcand://127.0.0.1:29536/can0"));
}

TEST(BackendErrors, AreSortedIntoStatuses) {
    EXPECT_EQ(classifyOpenError("Device or resource busy"), CanDeviceStatus::HeldByOther);
    EXPECT_EQ(classifyOpenError("The channel is already in use"), CanDeviceStatus::HeldByOther);
    EXPECT_EQ(classifyOpenError("No such device"), CanDeviceStatus::Unreachable);
    EXPECT_EQ(classifyOpenError("Connection refused"), CanDeviceStatus::Unreachable);
    EXPECT_EQ(classifyOpenError("Permission denied"), CanDeviceStatus::OpenFailed);
    EXPECT_TRUE(isTransmitQueueFull("No buffer space available"));
    EXPECT_TRUE(isTransmitQueueFull("Transmit queue is full"));
    EXPECT_FALSE(isTransmitQueueFull("Network is down"));
}

} // namespace
