#include "common/paramcache.h"
#include <mutex>

ParamCache::ParamCache() = default;

ParamCache::~ParamCache() {
    // Observers hold raw pointers to this cache; tell them it is gone.
    QList<ParamObserver*> toTell;
    {
        std::unique_lock lock(mutex);
        toTell = observers;
        if (basicSyncer && !toTell.contains(basicSyncer))
            toTell.append(basicSyncer);
        observers.clear();
        basicSyncer = nullptr;
    }
    for (ParamObserver* observer : std::as_const(toTell)) {
        observer->observedCaches.removeAll(this);
        observer->cacheDestroyed();
    }
}

ParamObserver::~ParamObserver() {
    const QList<const ParamCache*> caches = observedCaches;
    for (const ParamCache* cache : caches)
        cache->detachObserver(this);
}

QString ParamCache::getParameterName(int id) const {
    return QString::number(id);
}

int ParamCache::getParameterId(const QString& name) const {
    bool ok = false;
    const int id = name.toInt(&ok);
    return ok ? id : -1;
}

QVariant ParamCache::getParameter(int id) const {
    std::unique_lock lock(mutex);
    return parameters.value(id);
}

void ParamCache::setParameter(int id, const QVariant& value, ParamObserver* origin) {
    {
        std::unique_lock lock(mutex);
        parameters.insert(id, value);
    }
    notifyObservers(id, value, origin);
}

bool ParamCache::hasParameter(int id) const {
    std::unique_lock lock(mutex);
    return parameters.contains(id);
}

QList<int> ParamCache::getParameterIds() const {
    std::unique_lock lock(mutex);
    return parameters.keys(); // QMap keeps its keys sorted
}

int ParamCache::parameterCount() const {
    std::unique_lock lock(mutex);
    return parameters.size();
}

void ParamCache::attachObserver(ParamObserver* observer) const {
    if (!observer)
        return;
    std::unique_lock lock(mutex);
    if (!observers.contains(observer))
        observers.append(observer);
    relink(observer);
}

void ParamCache::detachObserver(ParamObserver* observer) const {
    if (!observer)
        return;
    std::unique_lock lock(mutex);
    observers.removeAll(observer);
    if (basicSyncer == observer)
        const_cast<ParamCache*>(this)->basicSyncer = nullptr;
    relink(observer);
}

void ParamCache::relink(ParamObserver* observer) const {
    const bool linked = observers.contains(observer) || basicSyncer == observer;
    if (linked && !observer->observedCaches.contains(this))
        observer->observedCaches.append(this);
    else if (!linked)
        observer->observedCaches.removeAll(this);
}

bool ParamCache::isObserverAttached(ParamObserver* observer) const {
    std::unique_lock lock(mutex);
    return observers.contains(observer);
}

void ParamCache::setBasicSyncer(ParamObserver* syncer) {
    std::unique_lock lock(mutex);
    ParamObserver* old = basicSyncer;
    basicSyncer = syncer;
    if (old)
        relink(old);
    if (syncer)
        relink(syncer);
}

ParamObserver* ParamCache::getBasicSyncer() const {
    std::unique_lock lock(mutex);
    return basicSyncer;
}

void ParamCache::notifyObservers(int id, const QVariant& value, ParamObserver* origin) const {
    ParamObserver* syncer;
    QList<ParamObserver*> toNotify;
    {
        std::unique_lock lock(mutex);
        syncer = basicSyncer;
        toNotify = observers;
    }
    if (syncer && syncer != origin)
        syncer->parameterChanged(id, value);
    for (ParamObserver* observer : toNotify) {
        if (observer == origin || observer == syncer)
            continue;
        // An observer notified earlier in this pass may have detached another one.
        if (!isObserverAttached(observer))
            continue;
        observer->parameterChanged(id, value);
    }
}

void ParamCache::storeSilently(int id, const QVariant& value) {
    std::unique_lock lock(mutex);
    parameters.insert(id, value);
}

QMap<int, QVariant> ParamCache::snapshot() const {
    std::unique_lock lock(mutex);
    return parameters;
}
