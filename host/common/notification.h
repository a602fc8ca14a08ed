#pragma once

#include <QObject>
#include <QString>

// Kinds of notification. The number is part of the registration interface.
enum NotificationType {
    NOTIFICATION_INFO = 0,    // plain information, stays until dismissed
    NOTIFICATION_WARNING = 1, // something the user should look at
    NOTIFICATION_ERROR = 2,   // a failure; every registered id is of this type
    NOTIFICATION_EVENT = 12   // a passing event ("Connected"); closes itself after a few seconds
};

// Something shown in the host's notification panel. The panel follows a notification through its
// signals; `onNotificationFinished()` ends it (a loader is done, the user dismissed it, a timer
// ran out). A finished notification stays finished.
class Notification : public QObject {
    Q_OBJECT
public:
    Notification(const QString& title, const QString& text, NotificationType type, const QString& icon,
                 QObject* parent = nullptr);
    ~Notification() override;

    QString getTitle() const { return title; }
    QString getText() const { return text; }
    NotificationType getType() const { return type; }
    // Name of the icon resource (for example "iconNotifiInfo"); empty for the type's default.
    QString getIcon() const { return icon; }
    // Extra text shown below the main text (for example the detail of a registered id).
    QString getDetail() const { return detail; }
    // The registered id this notification was made from; 0 for free notifications.
    int getId() const { return id; }
    // Progress 0..1, or a negative value when the notification has no progress.
    virtual float getProgress() const { return -1.0f; }
    bool isFinished() const { return finished; }

    void setText(const QString& value);
    void setDetail(const QString& value);
    void setId(int value) { id = value; }

public slots:
    void onNotificationFinished();

signals:
    // Title, text, detail or progress changed.
    void changed();
    void notificationFinished();

private:
    QString title;
    QString text;
    NotificationType type;
    QString icon;
    QString detail;
    int id = 0;
    bool finished = false;
};

// A notification with a fixed title, text, type and icon.
class GenericNotification : public Notification {
    Q_OBJECT
public:
    GenericNotification(const QString& title, const QString& text, NotificationType type,
                        const QString& icon = QString(), QObject* parent = nullptr);
    GenericNotification(const QString& title, const QString& text, int type, const QString& icon = QString(),
                        QObject* parent = nullptr);
};

// A notification for a running operation: shows a busy indicator until the first progress value
// arrives, then a progress bar, and ends when `onNotificationFinished()` is called.
class LoaderNotification : public Notification {
    Q_OBJECT
public:
    LoaderNotification(const QString& title, const QString& text, QObject* parent = nullptr);

    float getProgress() const override { return progress; }

public slots:
    // `fraction` is clamped to 0..1.
    void updateProgress(float fraction);

private:
    float progress = -1.0f;
};
