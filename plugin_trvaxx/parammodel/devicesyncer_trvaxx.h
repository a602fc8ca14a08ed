#pragma once

#include "parammodel/paramsyncer.h"

#include <QObject>
#include <QVariant>

#include <initializer_list>

class CanBusController;
class PCDevice_TRVAXX;
class ResultCache_TRVAXX;

// Keeps the parameter cache of one TRVAXX sensor and the sensor in step. Values come from the CAN
// bus controller's copy of the sensor's parameter blocks and, when CAN gives nothing, from the
// parameter map of the newest Ethernet result. Edits go into the controller's copy and reach the
// sensor with writeToDevice(). The sensor keeps angles in radians, the cache in degrees.
// This class reads the parameters every firmware has; one subclass per firmware variant and
// version adds the variant's own (devicesyncervariants_trvaxx.h).
// GUI thread; sigBytesWritten is re-emitted from the controller.
class DeviceSyncer_TRVAXX : public QObject, public ParamSyncer {
    Q_OBJECT
public:
    // Installs itself as the device's syncer (the device owns it from then on). `can` may be null
    // (Ethernet only); `results` must outlive the syncer.
    DeviceSyncer_TRVAXX(PCDevice_TRVAXX& device, CanBusController* can, ResultCache_TRVAXX& results);
    ~DeviceSyncer_TRVAXX() override;

    void parameterChanged(int id, const QVariant& value) override;
    void refreshAll() override;
    bool isDeviceSyncer() const override { return true; }
    void readFromDevice(bool flag) override;
    // 0, or 130007 when the transfer to the sensor failed; 0 without a CAN bus controller.
    int writeToDevice(bool flag) override;
    void refreshStatus() override;
    bool acceptValue(int id, const QVariant& value) override;

    bool isCanAvailable() const { return canAvailable; }
    bool isEthernetAvailable() const { return ethernetAvailable; }

    // A value from the sensor as the cache holds it: integers as int (qlonglong beyond int), 32-bit
    // floats as the double of their shortest decimal text, angles in degrees, lists item by item.
    static QVariant toCache(int id, const QVariant& value);
    // A value from the cache as the sensor takes it: angles in radians, everything else unchanged.
    static QVariant toDevice(int id, const QVariant& value);

signals:
    void sigBytesWritten(int totelBytes, int bytesWritten);
    void newStatusData();

protected:
    // A run of identifiers: one, or first to last.
    struct Ids {
        Ids(int only) : first(only), last(only) {}
        Ids(int first, int last) : first(first), last(last) {}
        int first;
        int last;
    };
    // Stores each identifier's value (CAN first, then Ethernet).
    void storeValues(std::initializer_list<Ids> ids);
    // With CAN only: stores each identifier's value as CAN gives it, without the Ethernet fallback.
    void storeCanValues(std::initializer_list<Ids> ids);
    // The value of one identifier, CAN first, then the newest Ethernet result; converted for the
    // cache. Invalid when neither source has it.
    QVariant getValue(int id);

    // The CAN bus controller's side, one call each; overridden by tests that play the controller.
    virtual QVariant canRead(int id);
    virtual bool canWrite(int id, const QVariant& value);

    PCDevice_TRVAXX& device;
    CanBusController* can;
    ResultCache_TRVAXX& results;
    bool canAvailable = false;
    bool ethernetAvailable = false;

private:
    void store(int id, const QVariant& value);
};
