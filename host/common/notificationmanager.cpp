#include "common/notificationmanager.h"

#include "common/commonutilities.h"
#include "common/logentry.h"
#include "common/notireg.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

NotificationManager::NotificationManager() {
    // The manager receives the calls forwarded from worker threads, so it must live on the GUI
    // thread even when a worker thread happens to use it first.
    if (QCoreApplication* app = QCoreApplication::instance())
        moveToThread(app->thread());
}

NotificationManager::~NotificationManager() {
    const QList<Shown> remaining = shown;
    shown.clear();
    for (const Shown& s : remaining) {
        if (!s.notification)
            continue;
        disconnect(s.notification, nullptr, this, nullptr);
        if (s.owned)
            delete s.notification.data();
    }
}

NotificationManager& NotificationManager::instance() {
    static NotificationManager manager;
    return manager;
}

namespace {
bool onGuiThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

LogLevel logLevelOf(NotificationType type) {
    switch (type) {
    case NOTIFICATION_ERROR:
        return LOG_ERROR;
    case NOTIFICATION_WARNING:
        return LOG_WARNING;
    default:
        return LOG_INFO;
    }
}
} // namespace

Notification* NotificationManager::displayNotification(int id, const QString& detail, bool collapseRepeats) {
    if (!onGuiThread()) {
        QMetaObject::invokeMethod(
            this, [this, id, detail, collapseRepeats] { displayNotification(id, detail, collapseRepeats); },
            Qt::QueuedConnection);
        return nullptr;
    }
    if (collapseRepeats) {
        for (const Shown& s : std::as_const(shown)) {
            if (s.notification && s.notification->getId() == id && !s.notification->isFinished()) {
                s.notification->setDetail(detail);
                return s.notification;
            }
        }
    }
    Notification* n;
    if (const auto entry = NotiReg::lookup(id)) {
        n = new GenericNotification(entry->title.translated(), entry->text.translated(), entry->type);
    } else {
        n = new GenericNotification(tr("Unknown error"),
                                    tr("An error with the unknown number %1 occurred.").arg(id),
                                    NOTIFICATION_ERROR);
    }
    n->setId(id);
    n->setDetail(detail);
    displayNotification(n, true);
    return n;
}

void NotificationManager::displayNotification(Notification* notification, bool takeOwnership) {
    if (!notification)
        return;
    if (!onGuiThread()) {
        // The object must live on the GUI thread before the panel connects to it.
        if (notification->thread() == QThread::currentThread() && !notification->parent())
            notification->moveToThread(QCoreApplication::instance()->thread());
        QPointer<Notification> guarded(notification);
        QMetaObject::invokeMethod(
            this,
            [this, guarded, takeOwnership] {
                if (guarded)
                    displayNotification(guarded, takeOwnership);
            },
            Qt::QueuedConnection);
        return;
    }
    for (const Shown& s : std::as_const(shown))
        if (s.notification == notification)
            return;
    shown.append(Shown{notification, takeOwnership});

    // Registered failures and error notifications go to the log as well; other notifications
    // usually report something that was logged where it happened.
    if (notification->getId() != 0 || notification->getType() == NOTIFICATION_ERROR) {
        QString line = notification->getTitle();
        if (!notification->getText().isEmpty())
            line += QStringLiteral(": ") + notification->getText();
        if (!notification->getDetail().isEmpty())
            line += QStringLiteral(" (") + notification->getDetail() + QLatin1Char(')');
        LogEntry(logLevelOf(notification->getType()), line);
    }

    connect(notification, &Notification::notificationFinished, this,
            [this, notification] { onFinished(notification); });
    connect(notification, &QObject::destroyed, this, [this, notification] {
        // A foreign notification deleted by its owner: forget it.
        for (int i = 0; i < shown.size(); ++i) {
            if (shown[i].notification.isNull() || shown[i].notification == notification) {
                shown.removeAt(i);
                --i;
            }
        }
        emit notificationRemoved(notification);
    });
    emit notificationAdded(notification);

    if (notification->getType() == NOTIFICATION_EVENT && !notification->isFinished()) {
        QPointer<Notification> guarded(notification);
        QTimer::singleShot(eventLifetimeMs, this, [guarded] {
            if (guarded)
                guarded->onNotificationFinished();
        });
    }
    if (notification->isFinished())
        onFinished(notification);
}

QList<Notification*> NotificationManager::activeNotifications() const {
    QList<Notification*> list;
    for (const Shown& s : shown)
        if (s.notification)
            list.append(s.notification);
    return list;
}

void NotificationManager::onFinished(Notification* notification) {
    QPointer<Notification> guarded(notification);
    QTimer::singleShot(lingerMs, this, [this, guarded] {
        if (guarded)
            removeNotification(guarded);
    });
}

void NotificationManager::removeNotification(Notification* notification) {
    for (int i = 0; i < shown.size(); ++i) {
        if (shown[i].notification != notification)
            continue;
        const bool owned = shown[i].owned;
        shown.removeAt(i);
        disconnect(notification, nullptr, this, nullptr);
        emit notificationRemoved(notification);
        if (owned)
            notification->deleteLater();
        return;
    }
}
