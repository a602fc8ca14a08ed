#pragma once

#include "common/paramobserver.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QVariant>
#include <mutex>

// Generic parameter store of one connected device: an integer identifier maps to a QVariant.
// Setting a value notifies every attached observer except the one that made the change, so a
// page that edits a value and a syncer that fills the cache from the device never echo their own
// writes. The map is guarded by a mutex so a worker thread may read while the GUI thread edits;
// observers are called outside the lock on the setter's thread.
class ParamCache {
public:
    ParamCache();
    virtual ~ParamCache();

    ParamCache(const ParamCache&) = delete;
    ParamCache& operator=(const ParamCache&) = delete;

    // Name of an identifier for export and logging; the generic cache uses the number as text.
    virtual QString getParameterName(int id) const;
    // Identifier of a parameter name; -1 when the name is unknown. The generic cache accepts
    // decimal numbers.
    virtual int getParameterId(const QString& name) const;

    // The cached value; an invalid QVariant when the identifier was never set.
    QVariant getParameter(int id) const;
    // Stores `value` and notifies the basic syncer and every attached observer except `origin`.
    // Notifications are sent even when the value did not change: a device answering with the same
    // value is still news for a page that displayed an edit in progress.
    virtual void setParameter(int id, const QVariant& value, ParamObserver* origin);
    bool hasParameter(int id) const;
    // All identifiers in ascending order.
    QList<int> getParameterIds() const;
    int parameterCount() const;

    // Observers are not owned. Attaching twice has no effect; a destroyed observer detaches itself.
    // Detaching also ends the observer's role as basic syncer. Attaching does not change the
    // stored values, hence const: read-only holders of a cache may still listen to it.
    void attachObserver(ParamObserver* observer) const;
    void detachObserver(ParamObserver* observer) const;
    bool isObserverAttached(ParamObserver* observer) const;

    // The syncer that moves values between this cache and the device. It is notified like an
    // observer (before the others) and is what readFromDevice/writeToDevice style operations of
    // derived caches talk to. Not owned; null clears it; a destroyed syncer clears itself.
    void setBasicSyncer(ParamObserver* syncer);
    ParamObserver* getBasicSyncer() const;

protected:
    // Notifies the basic syncer and every observer but `origin`; called by setParameter after
    // the value is stored. Derived caches that store values by other means call it themselves.
    void notifyObservers(int id, const QVariant& value, ParamObserver* origin) const;
    // Stores without notifying anybody: for a syncer's bulk fill followed by one notification
    // pass, or for restoring a snapshot.
    void storeSilently(int id, const QVariant& value);
    // A copy of all values, taken under the lock.
    QMap<int, QVariant> snapshot() const;

    // Keeps the observer's list of caches in step with its links to this one (under the lock).
    void relink(ParamObserver* observer) const;

    // A standard mutex: its synchronisation is visible to the thread sanitizer, Qt's is not.
    mutable std::recursive_mutex mutex;
    QMap<int, QVariant> parameters;
    mutable QList<ParamObserver*> observers;
    ParamObserver* basicSyncer = nullptr;
};
