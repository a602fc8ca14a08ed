#pragma once

#include "common/l10nstr.h"
#include "common/notification.h"

#include <QList>
#include <optional>

// Registry of numbered notifications. Plug-ins register their ids at start-up; later any code
// shows one by id through NotificationManager. Registering an id again with the same content is
// accepted (a plug-in loaded twice); with different content it is refused and logged, and the
// first registration stays.
class NotiReg {
public:
    struct Entry {
        int id = 0;
        L10nStr title;
        L10nStr text;
        NotificationType type = NOTIFICATION_ERROR;
    };

    // Registers on construction, so a table of NotiReg objects can be declared where it is used.
    NotiReg(int id, const L10nStr& title, const L10nStr& text, NotificationType type);

    bool isAccepted() const { return accepted; }

    static bool registerNotification(int id, const L10nStr& title, const L10nStr& text,
                                     NotificationType type);
    static bool isRegistered(int id);
    static std::optional<Entry> lookup(int id);
    // Registered ids in ascending order.
    static QList<int> registeredIds();
    // Removes one id (a plug-in being unloaded); returns whether it was there.
    static bool unregisterNotification(int id);

private:
    bool accepted;
};
