// The socketcand client from the outside: the plug-in and python-can share the virtual sensor's
// socketcand bus (another team's server, a third-party client), frames both ways, and a client
// on another bit rate hears nothing, as on a real bus.

#include "candevices/socketcan/socketcandevice.h"
#include "simulator/can/canbus.h"
#include "tests/candevices/socketcan/candevicetest.h"

#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(SocketcandInterop, PluginAndPythonCanShareTheVirtualBus) {
    trvsim::CanConfig config;
    config.listen = "127.0.0.1:0";
    config.pace = false;
    trvsim::SimCanBus bus(config);
    ASSERT_TRUE(bus.start()) << bus.errorText();
    const std::string url = "socketcand://127.0.0.1:" + std::to_string(bus.listenPort()) + "/can0";

    SocketCanDevice device, wrongRate;
    device.CAN_SetInterface(url.c_str());
    ASSERT_EQ(device.CAN_InitDriver(), CanDeviceStatus::Ok);
    CanDeviceConfig fast;
    fast.bitRate = 500000;
    wrongRate.CAN_SetConfig(fast);
    wrongRate.CAN_SetInterface(url.c_str());
    ASSERT_EQ(wrongRate.CAN_InitDriver(), CanDeviceStatus::Ok);

    // python-can waits for our two frames, prints them, then sends two of its own.
    QProcess python;
    python.start(
        QStringLiteral("/usr/bin/python3"),
        {QStringLiteral("-c"),
         QStringLiteral("import can, sys\n"
                        "bus = can.Bus(interface='socketcand', host='127.0.0.1', port=%1, channel='can0')\n"
                        "print('ready', flush=True)\n"
                        "for _ in range(2):\n"
                        "    m = bus.recv(10)\n"
                        "    print('%x %s' % (m.arbitration_id, m.data.hex()) if m else 'none', flush=True)\n"
                        "bus.send(can.Message(arbitration_id=0x60A, data=[1, 2, 3], is_extended_id=False))\n"
                        "bus.send(can.Message(arbitration_id=0x18DAEFF1, data=bytes(range(8))))\n"
                        "bus.shutdown()\n")
             .arg(bus.listenPort())});
    ASSERT_TRUE(python.waitForReadyRead(20000)) << python.readAllStandardError().toStdString();
    ASSERT_EQ(python.readLine().trimmed(), "ready");
    QThread::msleep(200); // the server forwards to a client a moment after its raw mode begins

    const uint8_t data[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    ASSERT_EQ(device.CAN_SendData(0x123, data, 2), CanDeviceStatus::Ok);
    ASSERT_EQ(device.CAN_SendData(0x18DAF1EF, data, 8), CanDeviceStatus::Ok);
    ASSERT_TRUE(python.waitForFinished(20000));
    EXPECT_EQ(python.readAllStandardOutput().trimmed(), "123 1122\n18daf1ef 1122334455667788")
        << python.readAllStandardError().toStdString();

    const std::vector<CanFrame> received = receive(device, 2, std::chrono::seconds(10));
    ASSERT_EQ(received.size(), 2u);
    EXPECT_TRUE(sameFrame(received[0], frameOf(0x60A, {1, 2, 3})));
    EXPECT_TRUE(sameFrame(received[1], makeFrame(0x18DAEFF1, 0)));
    // The client on 500 kbit/s heard none of it (and nothing of ours reached the others).
    CanFrame frame;
    uint32_t count = 1;
    EXPECT_EQ(wrongRate.CAN_ReadDataBlock(200, &frame, &count), CanDeviceStatus::Ok);
    EXPECT_EQ(count, 0u);
}

} // namespace
