#pragma once
// A grabber for a camera through Video4Linux2 directly: the device's MJPEG format if it has one,
// else YUYV, at 640 x 480 or what the driver chooses, four memory-mapped buffers, read when the
// device signals a picture. Pictures are delivered as RGB888. GUI thread.

#include <QImage>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class V4l2Grabber : public QObject {
    Q_OBJECT
public:
    explicit V4l2Grabber(const QString& devicePath, QObject* parent = nullptr);
    ~V4l2Grabber() override;

    // "/dev/videoN: card name" for every device that captures video by streaming.
    static QStringList findDevices();
    // The device path of a name findDevices() gave.
    static QString pathOf(const QString& device);

public slots:
    void start();
    void stop();

signals:
    void newImage(QImage image);

private:
    bool open();
    void readPicture();

    struct Buffer {
        void* start = nullptr;
        std::size_t length = 0;
    };
    QString path;
    int fd = -1;
    quint32 pixelFormat = 0;
    int width = 0, height = 0, bytesPerLine = 0;
    std::vector<Buffer> buffers;
    std::unique_ptr<QSocketNotifier> notifier;
};

// YUYV (4:2:2, two pixels in four bytes) to RGB888 with the BT.601 integer formulas. Odd widths
// and short buffers are refused with a null image.
QImage yuyvToRgb888(const unsigned char* data, std::size_t size, int width, int height, int bytesPerLine);
