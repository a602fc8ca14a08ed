// The grabber plug-ins and their loader, the network grabber on a local server, the YUYV conversion.

#include "2D3D/imagegrabberloader.h"
#include "common/commonutilities.h"
#include "grabbers/mjpeg/networkgrabber.h"
#include "grabbers/v4l2/v4l2grabber.h"
#include "tests/support/colours.h"

#include <QBuffer>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// Serves one 64 × 48 picture of the colour to each connection, then closes it.
class OnePictureServer : public QTcpServer {
public:
    explicit OnePictureServer(QColor colour) {
        QImage image(64, 48, QImage::Format_RGB888);
        image.fill(colour);
        QBuffer buffer(&picture);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "JPG", 95);
        connect(this, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* client = nextPendingConnection();
            connect(client, &QTcpSocket::readyRead, client, [this, client] {
                requests << client->readAll();
                client->write("HTTP/1.0 200 OK\r\nContent-Type: multipart/x-mixed-replace; boundary=b\r\n\r\n"
                              "--b\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                              QByteArray::number(picture.size()) + "\r\n\r\n" + picture + "\r\n");
                client->disconnectFromHost();
            });
        });
        listen(QHostAddress::LocalHost);
    }
    QByteArray picture;
    QList<QByteArray> requests;
};

TEST(NetworkGrabber, DeliversRgbPicturesAndReconnects) {
    OnePictureServer server(QColor(200, 30, 40));
    NetworkGrabber grabber{QUrl(QStringLiteral("http://127.0.0.1:%1/video?x=1").arg(server.serverPort()))};
    QSignalSpy pictures(&grabber, &NetworkGrabber::newImage);
    grabber.start();
    ASSERT_TRUE(pictures.wait(5000));
    const QImage image = pictures.at(0).at(0).value<QImage>();
    EXPECT_EQ(image.format(), QImage::Format_RGB888);
    EXPECT_EQ(image.size(), QSize(64, 48));
    EXPECT_TRUE(coloursNear(image.pixel(32, 24), qRgb(200, 30, 40), 8));
    EXPECT_TRUE(server.requests.value(0).startsWith("GET /video?x=1 HTTP/1.0\r\nHost: 127.0.0.1\r\n"));
    // The server closed the stream: the grabber asks again after its pause.
    ASSERT_TRUE(pictures.wait(5000));
    EXPECT_EQ(server.requests.size(), 2);
    grabber.stop();
    EXPECT_FALSE(pictures.wait(2500)) << "nothing after stop";
}

TEST(ImageGrabberLoader, MergesThePluginsDevicesAndReportsBrokenOnes) {
    QTemporaryDir extra;
    QFile broken(extra.filePath(QStringLiteral("image_grabber_broken.so")));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly) && broken.write("not a library") > 0);
    broken.close();
    const QStringList folders = {extra.path(), qEnvironmentVariable("TRVAXX_PLUGIN_PATH")};

    QSettings& settings = CommonUtilities::gocSettings();
    settings.setValue(QStringLiteral("plugin_trvaxx/camera_urls"),
                      QStringLiteral("http://127.0.0.1:9/a, ftp://x/y http://cam.local:8080/s"));
    settings.setValue(QStringLiteral("plugin_trvaxx/camera_test_pattern"), false);
    {
        ImageGrabberLoader loader(folders);
        EXPECT_TRUE(loader.hasGrabbers());
        EXPECT_EQ(loader.errors().size(), 1);
        const QStringList devices = loader.findDevices();
        EXPECT_EQ(
            devices.filter(QStringLiteral("://")),
            (QStringList{QStringLiteral("http://127.0.0.1:9/a"), QStringLiteral("http://cam.local:8080/s")}));
        EXPECT_FALSE(devices.contains(QStringLiteral("Test pattern"))) << "only when asked for";
        EXPECT_EQ(loader.createGrabber(QStringLiteral("http://elsewhere/")), nullptr) << "not listed";
    }
    settings.setValue(QStringLiteral("plugin_trvaxx/camera_test_pattern"), true);
    ImageGrabberLoader loader(folders);
    ASSERT_TRUE(loader.findDevices().contains(QStringLiteral("Test pattern")));
    std::unique_ptr<QObject> pattern(loader.createGrabber(QStringLiteral("Test pattern")));
    ASSERT_TRUE(pattern);
    QSignalSpy pictures(pattern.get(), SIGNAL(newImage(QImage)));
    QMetaObject::invokeMethod(pattern.get(), "start");
    ASSERT_TRUE(pictures.wait(2000));
    EXPECT_EQ(pictures.at(0).at(0).value<QImage>().format(), QImage::Format_RGB888);
    QMetaObject::invokeMethod(pattern.get(), "stop");
    settings.remove(QStringLiteral("plugin_trvaxx"));

    ImageGrabberLoader none(QStringList{extra.path() + QStringLiteral("/missing")});
    EXPECT_FALSE(none.hasGrabbers());
    EXPECT_TRUE(none.findDevices().isEmpty());
}

TEST(V4l2Grabber, YuyvBecomesRgb) {
    // White, black (neutral chroma), a saturated red pair; lines of 6 bytes, the last cut short.
    const unsigned char yuyv[] = {235, 128, 16, 128, 0, 0, 81, 90, 81, 240};
    const QImage image = yuyvToRgb888(yuyv, sizeof yuyv, 2, 2, 6);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.pixelColor(0, 0), QColor(255, 255, 255));
    EXPECT_EQ(image.pixelColor(1, 0), QColor(0, 0, 0));
    EXPECT_TRUE(coloursNear(image.pixel(0, 1), qRgb(255, 0, 0), 5));
    EXPECT_TRUE(yuyvToRgb888(yuyv, sizeof yuyv - 1, 2, 2, 6).isNull()) << "short buffer";
    EXPECT_TRUE(yuyvToRgb888(yuyv, sizeof yuyv, 3, 2, 6).isNull()) << "odd width";
    EXPECT_TRUE(yuyvToRgb888(yuyv, sizeof yuyv, 2, 2, 3).isNull()) << "line shorter than its pixels";
}

} // namespace
