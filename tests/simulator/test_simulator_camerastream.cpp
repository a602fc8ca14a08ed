// The camera beside the virtual sensor over HTTP: its MJPEG stream reaches the network grabber as
// 640 x 480 pictures with the sky at the top. (Qt decodes and converts the pictures on its own
// thread pool, which the thread sanitizer cannot follow: an integration test.)

#include "grabbers/mjpeg/networkgrabber.h"
#include "simulator/camera/camerahttpserver.h"
#include "simulator/virtualsensor.h"

#include <QSignalSpy>

#include "tests/support/colours.h"

#include <gtest/gtest.h>

using namespace trvsim;

namespace {

TEST(SimulatorCamera, StreamsToANetworkGrabber) {
    SimConfig config;
    config.destAddress = "127.0.0.1";
    config.verbosity = 0;
    VirtualSensor sensor(config);
    CameraHttpServer server(sensor, "127.0.0.1", 0);
    ASSERT_TRUE(server.start()) << server.errorText();
    NetworkGrabber grabber{QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(server.port()))};
    QSignalSpy pictures(&grabber, &NetworkGrabber::newImage);
    grabber.start();
    ASSERT_TRUE(pictures.wait(5000));
    const QImage picture = pictures.at(0).at(0).value<QImage>();
    EXPECT_EQ(picture.size(), QSize(CameraRenderer::kWidth, CameraRenderer::kHeight));
    EXPECT_TRUE(coloursNear(picture.pixel(320, 5), CameraRenderer::skyColour(), 12)) << "sky at the top";
    grabber.stop();
    server.stop();
    EXPECT_GE(server.picturesSent(), 1u);
}

} // namespace
