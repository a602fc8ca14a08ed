#pragma once

#include <QList>
#include <QVariant>

class ParamCache;

// Interface of everything that wants to hear about parameter changes in a ParamCache: settings
// pages, views and the device syncer that moves values to the sensor.
// An observer detaches itself from every cache it is attached to when it is destroyed, and a cache
// being destroyed lets go of its observers, so neither outliving the other leaves a dangling
// pointer. Attaching and detaching happen on the GUI thread.
class ParamObserver {
public:
    ParamObserver() = default;
    ParamObserver(const ParamObserver&) = delete;
    ParamObserver& operator=(const ParamObserver&) = delete;
    virtual ~ParamObserver();
    // Called by the cache after `id` was set to `value` by someone other than this observer.
    // Runs on the thread that called ParamCache::setParameter (the GUI thread in practice).
    virtual void parameterChanged(int id, const QVariant& value) = 0;
    // Called when the cache this observer is attached to goes away; the pointer must not be used
    // afterwards. The default does nothing.
    virtual void cacheDestroyed() {}

private:
    friend class ParamCache;
    QList<const ParamCache*> observedCaches;
};
