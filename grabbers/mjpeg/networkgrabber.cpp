#include "grabbers/mjpeg/networkgrabber.h"

#include "grabbers/grabberlog.h"

#include <QHostAddress>
#include <QNetworkProxy>

NetworkGrabber::NetworkGrabber(const QUrl& streamUrl, QObject* parent) : QObject(parent), url(streamUrl) {
    reconnect.setSingleShot(true);
    reconnect.setInterval(2000);
    connect(&reconnect, &QTimer::timeout, this, &NetworkGrabber::connectToServer);
    connect(&socket, &QTcpSocket::connected, this, [this] {
        const QByteArray path = url.path(QUrl::FullyEncoded).isEmpty()
                                    ? QByteArray("/")
                                    : url.path(QUrl::FullyEncoded).toLatin1();
        const QByteArray query =
            url.hasQuery() ? "?" + url.query(QUrl::FullyEncoded).toLatin1() : QByteArray();
        socket.write("GET " + path + query + " HTTP/1.0\r\nHost: " + url.host().toLatin1() +
                     "\r\nAccept: multipart/x-mixed-replace, image/jpeg\r\n\r\n");
    });
    connect(&socket, &QTcpSocket::readyRead, this, &NetworkGrabber::readStream);
    connect(&socket, &QTcpSocket::errorOccurred, this, [this] { lost(socket.errorString()); });
}

void NetworkGrabber::start() {
    if (running)
        return;
    running = true;
    connectToServer();
}

void NetworkGrabber::stop() {
    running = false;
    reconnect.stop();
    socket.abort();
}

void NetworkGrabber::connectToServer() {
    if (!running)
        return;
    parser = std::make_unique<MjpegStreamParser>();
    socket.abort();
    // An address literal needs no name lookup (which Qt runs on its thread pool), and a camera on
    // the local network is reached directly, never through a proxy.
    socket.setProxy(QNetworkProxy::NoProxy);
    const QHostAddress address(url.host());
    if (!address.isNull())
        socket.connectToHost(address, quint16(url.port(80)));
    else
        socket.connectToHost(url.host(), quint16(url.port(80)));
}

void NetworkGrabber::lost(const QString& reason) {
    if (!running || reconnect.isActive())
        return;
    qCWarning(lcGrabber).noquote() << "Camera stream" << url.toDisplayString() << "lost:" << reason;
    socket.abort();
    reconnect.start();
}

void NetworkGrabber::readStream() {
    std::vector<std::string> jpegs;
    while (socket.bytesAvailable() > 0) {
        const QByteArray bytes = socket.read(65536);
        if (!parser->feed(bytes.constData(), std::size_t(bytes.size()), jpegs)) {
            lost(QString::fromStdString(parser->errorText()));
            return;
        }
    }
    if (jpegs.empty())
        return;
    // Only the newest picture is shown; older ones of the same read would only add lag.
    const std::string& jpeg = jpegs.back();
    QImage image = QImage::fromData(reinterpret_cast<const uchar*>(jpeg.data()), int(jpeg.size()), "JPG");
    if (image.isNull()) {
        ++badPictures;
        return;
    }
    ++delivered;
    emit newImage(image.convertToFormat(QImage::Format_RGB888));
}
