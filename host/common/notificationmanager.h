#pragma once

#include "common/notification.h"

#include <QList>
#include <QObject>
#include <QPointer>

// The host's one notification manager. It shows registered notifications by id and notification
// objects, keeps the list of the ones shown, and deletes the ones it owns after they finished and
// the panel had time to show that. Calls from a thread other than the GUI thread are forwarded
// to the GUI thread.
class NotificationManager : public QObject {
    Q_OBJECT
public:
    static NotificationManager& instance();
    // Deletes the owned notifications that are still shown.
    ~NotificationManager() override;

    // Shows the notification registered under `id` with `detail` below its text. An unknown id
    // shows an error naming the id. With `collapseRepeats`, an id that is already shown and not
    // finished is not shown a second time; its detail is updated instead. Returns the shown (owned)
    // notification; null when called off the GUI thread.
    Notification* displayNotification(int id, const QString& detail = QString(), bool collapseRepeats = true);
    // Shows `notification`. With `takeOwnership` the manager deletes it once it finished and was
    // on screen long enough; otherwise the caller keeps it and deletes it itself.
    void displayNotification(Notification* notification, bool takeOwnership = true);

    // Notifications shown and not yet removed, oldest first.
    QList<Notification*> activeNotifications() const;
    // Milliseconds a finished notification stays visible before it is removed (default 4000).
    void setLingerTime(int ms) { lingerMs = ms; }
    int lingerTime() const { return lingerMs; }
    // Milliseconds after which an event notification (type 12) finishes by itself (default 6000).
    void setEventLifetime(int ms) { eventLifetimeMs = ms; }

signals:
    void notificationAdded(Notification* notification);
    // Sent before an owned notification is deleted, or when a foreign one finished and lingered.
    void notificationRemoved(Notification* notification);

private:
    NotificationManager();
    void onFinished(Notification* notification);
    void removeNotification(Notification* notification);

    struct Shown {
        QPointer<Notification> notification;
        bool owned;
    };
    QList<Shown> shown;
    int lingerMs = 4000;
    int eventLifetimeMs = 6000;
};
