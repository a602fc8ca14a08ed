#pragma once
// A grabber for a network camera that serves MJPEG over HTTP ("http://host:port/path"). Connects
// when started, turns the newest picture of each read into an RGB888 QImage, and reconnects every
// 2 s after the server went away. GUI thread (the socket's thread).

#include "grabbers/mjpeg/mjpegstreamparser.h"

#include <QImage>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <memory>

class NetworkGrabber : public QObject {
    Q_OBJECT
public:
    explicit NetworkGrabber(const QUrl& url, QObject* parent = nullptr);

    // Pictures delivered since the start, and pictures that did not decode.
    quint64 pictures() const { return delivered; }
    quint64 undecodable() const { return badPictures; }

public slots:
    void start();
    void stop();

signals:
    void newImage(QImage image);

private:
    void connectToServer();
    void readStream();
    void lost(const QString& reason);

    QUrl url;
    QTcpSocket socket;
    QTimer reconnect;
    std::unique_ptr<MjpegStreamParser> parser;
    bool running = false;
    quint64 delivered = 0, badPictures = 0;
};
