// The diagnostic node behind the real socketcand server: an outside client (python-can over
// TCP, with its own few lines of transport) reads the serial number, variant and global version,
// and a frame-level client reads a KP block header in several frames.

#include "simulator/can/canbus.h"
#include "simulator/can/diagnode.h"
#include "simulator/virtualsensor.h"
#include "tests/simulator/socketcandpeer.h"

#include <QProcess>

#include <gtest/gtest.h>

using namespace trvsim;

namespace {

// One request in a single frame, the answer reassembled with flow control "send all".
const char* kPythonTester = R"(
import can, sys
bus = can.Bus(interface='socketcand', host='127.0.0.1', port=int(sys.argv[1]), channel='can0')
REQ, RES = 0x18DAEFF1, 0x18DAF1EF
def frame(data):
    bus.send(can.Message(arbitration_id=REQ, data=bytes(data) + bytes([0x55] * (8 - len(data))), is_extended_id=True))
def ask(payload):
    frame([len(payload)] + payload)
    out, total = b'', None
    while True:
        m = bus.recv(3)
        if m is None:
            return None
        if m.arbitration_id != RES:
            continue
        d = bytes(m.data)
        kind = d[0] >> 4
        if kind == 0:
            return d[1:1 + (d[0] & 15)]
        if kind == 1:
            total, out = ((d[0] & 15) << 8) | d[1], d[2:]
            frame([0x30, 0, 0])
        elif kind == 2 and total is not None:
            out += d[1:]
            if len(out) >= total:
                return out[:total]
ask([0x10, 0x03])
for did in (0xF18C, 0xFD18, 0xFD15):
    a = ask([0x22, did >> 8, did & 0xFF])
    print('%04X %s' % (did, a[3:].hex() if a else 'none'))
bus.shutdown()
)";

} // namespace

TEST(SimulatorDiagOnTheBus, AnOutsideClientReadsTheIdentity) {
    SimConfig sim;
    sim.verbosity = 0;
    sim.destAddress = "127.0.0.1";
    sim.destPort = 42000;
    VirtualSensor sensor(sim);
    CanConfig can;
    can.listen = "127.0.0.1:0";
    auto bus = buildCanBus({&sensor}, can, makeDiagNode, [](int, const std::string&) {});
    ASSERT_TRUE(bus->start()) << bus->errorText();

    QProcess python;
    python.start("/usr/bin/python3", {"-c", kPythonTester, QString::number(bus->listenPort())});
    ASSERT_TRUE(python.waitForFinished(30000));
    EXPECT_EQ(python.readAllStandardOutput().trimmed().toStdString(), "F18C 53494d30303030303031\n"
                                                                      "FD18 4f4420\n"
                                                                      "FD15 030401")
        << python.readAllStandardError().toStdString();

    // A frame-level client: a memory read of the KP header comes in a first frame and nine
    // consecutive frames after its flow control.
    cantest::Peer peer(bus->listenPort());
    ASSERT_TRUE(peer.join());
    auto next = [&peer] {
        const auto got = peer.frames(std::chrono::milliseconds(300), 1);
        return got.empty() ? SimCanFrame{} : got.front().frame;
    };
    peer.send(cantest::frame(0x18DAEFF1, {0x02, 0x10, 0x03, 0, 0, 0, 0, 0}));
    EXPECT_EQ(next().data[1], 0x50);
    peer.send(cantest::frame(0x18DAEFF1, {0x10, 0x08, 0x23, 0x24, 0x00, 0x00, 0x80, 0x00}));
    EXPECT_EQ(next().data[0], 0x30); // flow control for the request
    peer.send(cantest::frame(0x18DAEFF1, {0x21, 0x00, 0x40, 0, 0, 0, 0, 0}));
    const SimCanFrame first = next();
    ASSERT_EQ(first.data[0], 0x10); // first frame of 65 bytes
    EXPECT_EQ(first.data[1], 65);
    peer.send(cantest::frame(0x18DAEFF1, {0x30, 0, 0, 0, 0, 0, 0, 0}));
    const auto got = peer.frames(std::chrono::milliseconds(500));
    ASSERT_EQ(got.size(), 9u);
    for (std::size_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(got[i].frame.data[0], 0x21 + i);
    bus->stop();
}
