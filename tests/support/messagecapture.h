#pragma once

// Collects the Qt messages written while an instance lives (for checking log lines).

#include <QMutex>
#include <QString>
#include <QStringList>
#include <QtGlobal>

class MessageCapture {
public:
    MessageCapture() {
        current() = this;
        previous = qInstallMessageHandler(&MessageCapture::handler);
    }
    ~MessageCapture() {
        qInstallMessageHandler(previous);
        current() = nullptr;
    }
    QStringList all() const {
        QMutexLocker lock(&mutex);
        return lines;
    }
    int count(const QString& fragment) const {
        QMutexLocker lock(&mutex);
        int n = 0;
        for (const QString& line : lines)
            n += line.contains(fragment) ? 1 : 0;
        return n;
    }
    QList<QtMsgType> types() const {
        QMutexLocker lock(&mutex);
        return kinds;
    }

private:
    static MessageCapture*& current() {
        static MessageCapture* instance = nullptr;
        return instance;
    }
    static void handler(QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (MessageCapture* self = current()) {
            QMutexLocker lock(&self->mutex);
            self->lines.append(message);
            self->kinds.append(type);
        }
    }
    mutable QMutex mutex;
    QStringList lines;
    QList<QtMsgType> kinds;
    QtMessageHandler previous = nullptr;
};
