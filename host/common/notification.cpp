#include "common/notification.h"

Notification::Notification(const QString& title, const QString& text, NotificationType type,
                           const QString& icon, QObject* parent)
    : QObject(parent), title(title), text(text), type(type), icon(icon) {}

Notification::~Notification() = default;

void Notification::setText(const QString& value) {
    if (text == value)
        return;
    text = value;
    emit changed();
}

void Notification::setDetail(const QString& value) {
    if (detail == value)
        return;
    detail = value;
    emit changed();
}

void Notification::onNotificationFinished() {
    if (finished)
        return;
    finished = true;
    emit notificationFinished();
}

GenericNotification::GenericNotification(const QString& title, const QString& text, NotificationType type,
                                         const QString& icon, QObject* parent)
    : Notification(title, text, type, icon, parent) {}

GenericNotification::GenericNotification(const QString& title, const QString& text, int type,
                                         const QString& icon, QObject* parent)
    : Notification(title, text, static_cast<NotificationType>(type), icon, parent) {}

LoaderNotification::LoaderNotification(const QString& title, const QString& text, QObject* parent)
    : Notification(title, text, NOTIFICATION_INFO, QStringLiteral("iconNotifiLoading"), parent) {}

void LoaderNotification::updateProgress(float fraction) {
    if (!(fraction >= 0.0f)) // also catches NaN
        fraction = 0.0f;
    if (fraction > 1.0f)
        fraction = 1.0f;
    if (fraction == progress)
        return;
    progress = fraction;
    emit changed();
}
