#include "common/commonsysteminfo.h"
#include <mutex>

CommonSystemInfo& CommonSystemInfo::instance() {
    static CommonSystemInfo info;
    return info;
}

void CommonSystemInfo::setInfo(const QString& key, const QString& value) {
    {
        std::unique_lock lock(mutex);
        auto it = std::find_if(infos.begin(), infos.end(), [&](const auto& e) { return e.first == key; });
        if (it == infos.end())
            infos.append({key, value});
        else if (it->second == value)
            return;
        else
            it->second = value;
    }
    emit infoChanged(key, value);
}

QString CommonSystemInfo::getInfo(const QString& key) const {
    std::unique_lock lock(mutex);
    for (const auto& e : infos)
        if (e.first == key)
            return e.second;
    return QString();
}

bool CommonSystemInfo::hasInfo(const QString& key) const {
    std::unique_lock lock(mutex);
    return std::any_of(infos.begin(), infos.end(), [&](const auto& e) { return e.first == key; });
}

QList<QPair<QString, QString>> CommonSystemInfo::entries() const {
    std::unique_lock lock(mutex);
    return infos;
}
