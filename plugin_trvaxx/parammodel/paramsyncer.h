#pragma once

#include "common/paramobserver.h"

#include <QVariant>

// The part of a parameter cache that talks to the device: fills the cache from the device, takes
// the cache's edits to the device and reports write progress. The cache notifies it of every
// change made by someone else (ParamCache::setBasicSyncer); it stores what it reads with itself
// as the origin, so its own fills never come back to it.
class ParamSyncer : public ParamObserver {
public:
    ~ParamSyncer() override = default;
    // An edit made in the cache by someone else: taken to the device's copy of the parameters.
    void parameterChanged(int id, const QVariant& value) override = 0;
    // Fills the cache with every value the device supports.
    virtual void refreshAll() = 0;
    // True for a syncer that talks to a real device (the TRVAXX syncers).
    virtual bool isDeviceSyncer() const { return false; }
    // Reads the device's parameter set into the syncer's copy of it.
    virtual void readFromDevice(bool flag) = 0;
    // Sends the syncer's copy of the parameter set to the device; 0 or a notification id.
    virtual int writeToDevice(bool flag) = 0;
    // Refreshes the status values (run mode, temperatures, frame counter, voltages).
    virtual void refreshStatus() = 0;
    // Takes one value to the device's copy like parameterChanged(), but says whether the device
    // side accepted it (a value out of range for the device's member is refused). Used by the
    // import, which must not store what the device will not take.
    virtual bool acceptValue(int id, const QVariant& value) = 0;
};
