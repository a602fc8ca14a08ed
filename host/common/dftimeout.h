#pragma once

#include <QObject>
#include <QTimer>

// A single-shot time-out whose interval is scaled like all long waits of the host
// (CommonUtilities::timeScale()), so tests may shorten fixed waits such as a search time.
class DFTimeout : public QObject {
    Q_OBJECT
public:
    explicit DFTimeout(QObject* parent = nullptr);

    // (Re)starts the time-out for `ms` milliseconds before scaling.
    void start(int ms);
    void stop();
    bool isActive() const { return timer.isActive(); }
    // Remaining milliseconds (after scaling); -1 when not active.
    int remainingTime() const { return timer.remainingTime(); }

signals:
    void timeout();

private:
    QTimer timer;
};
