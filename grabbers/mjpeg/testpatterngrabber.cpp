#include "grabbers/mjpeg/testpatterngrabber.h"

#include <QPainter>

TestPatternGrabber::TestPatternGrabber(QObject* parent) : QObject(parent) {
    timer.setInterval(100);
    connect(&timer, &QTimer::timeout, this, [this] {
        QImage image(640, 480, QImage::Format_RGB888);
        QPainter painter(&image);
        const QColor bars[] = {Qt::white,   Qt::yellow, Qt::cyan, Qt::green,
                               Qt::magenta, Qt::red,    Qt::blue, Qt::black};
        for (int i = 0; i < 8; ++i)
            painter.fillRect(i * 80, 0, 80, 480, bars[i]);
        painter.fillRect((frame * 8) % 640, 220, 40, 40, Qt::gray);
        painter.end();
        ++frame;
        emit newImage(image);
    });
}
