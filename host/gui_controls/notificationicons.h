#pragma once

#include "common/notification.h"

#include <QColor>
#include <QIcon>
#include <QString>

// Icons of the notification panel, drawn as vector shapes so they stay sharp at every scale and
// need no image files. Known names: "iconNotifiInfo", "iconNotifiWarning", "iconNotifiError",
// "iconNotifiSuccess", "iconNotifiLoading"; an empty or unknown name gives the type's icon.
namespace NotificationIcons {
QIcon icon(const QString& name, NotificationType type, int size = 32);
// The accent colour of a notification type (from the style: infoColor, warningColor...).
QColor typeColor(NotificationType type);
} // namespace NotificationIcons
