#pragma once

#include <QVariant>

// Interface of everything that wants to hear about parameter changes in a ParamCache: settings
// pages, views and the device syncer that moves values to the sensor.
class ParamObserver {
public:
    virtual ~ParamObserver();
    // Called by the cache after `id` was set to `value` by someone other than this observer.
    // Runs on the thread that called ParamCache::setParameter (the GUI thread in practice).
    virtual void parameterChanged(int id, const QVariant& value) = 0;
    // Called when the cache this observer is attached to goes away; the pointer must not be used
    // afterwards. The default does nothing.
    virtual void cacheDestroyed() {}
};
