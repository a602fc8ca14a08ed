#include "common/notireg.h"

#include "common/logentry.h"

#include <QMap>
#include <mutex>

namespace {
struct Registry {
    std::mutex mutex;
    QMap<int, NotiReg::Entry> entries;
};

Registry& registry() {
    static Registry r;
    return r;
}
} // namespace

NotiReg::NotiReg(int id, const L10nStr& title, const L10nStr& text, NotificationType type)
    : accepted(registerNotification(id, title, text, type)) {}

bool NotiReg::registerNotification(int id, const L10nStr& title, const L10nStr& text, NotificationType type) {
    if (id <= 0) {
        LogEntry(LOG_ERROR, QStringLiteral("Notification id %1 refused: ids start at 1").arg(id));
        return false;
    }
    Registry& r = registry();
    std::unique_lock lock(r.mutex);
    auto it = r.entries.constFind(id);
    if (it != r.entries.constEnd()) {
        if (it->title == title && it->text == text && it->type == type)
            return true;
        const QString existing = it->title.source();
        lock.unlock();
        LogEntry(LOG_ERROR,
                 QStringLiteral("Notification id %1 (\"%2\") is already registered as \"%3\"; kept the first")
                     .arg(id)
                     .arg(title.source(), existing));
        return false;
    }
    r.entries.insert(id, Entry{id, title, text, type});
    return true;
}

bool NotiReg::isRegistered(int id) {
    Registry& r = registry();
    std::unique_lock lock(r.mutex);
    return r.entries.contains(id);
}

std::optional<NotiReg::Entry> NotiReg::lookup(int id) {
    Registry& r = registry();
    std::unique_lock lock(r.mutex);
    auto it = r.entries.constFind(id);
    if (it == r.entries.constEnd())
        return std::nullopt;
    return *it;
}

QList<int> NotiReg::registeredIds() {
    Registry& r = registry();
    std::unique_lock lock(r.mutex);
    return r.entries.keys();
}

bool NotiReg::unregisterNotification(int id) {
    Registry& r = registry();
    std::unique_lock lock(r.mutex);
    return r.entries.remove(id) > 0;
}
