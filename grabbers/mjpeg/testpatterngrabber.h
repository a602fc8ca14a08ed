#pragma once
// A moving colour-bar picture at 10 Hz, offered only when the setting
// "plugin_trvaxx/camera_test_pattern" asks for it (checking the joint view without a camera).

#include <QImage>
#include <QObject>
#include <QTimer>

class TestPatternGrabber : public QObject {
    Q_OBJECT
public:
    explicit TestPatternGrabber(QObject* parent = nullptr);

public slots:
    void start() { timer.start(); }
    void stop() { timer.stop(); }

signals:
    void newImage(QImage image);

private:
    QTimer timer;
    int frame = 0;
};
