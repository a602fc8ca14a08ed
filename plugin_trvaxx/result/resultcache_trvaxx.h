#pragma once

#include "result/resultdata_trvaxx.h"
#include "result/resultrecordpool_trvaxx.h"

#include <QMutex>
#include <QObject>
#include <QRecursiveMutex>

#include <array>
#include <atomic>

// Global information of the sensor's functions: eight flags, flag i = bit i of the byte the sensor
// sends (on CAN, or as the "available" value of an Ethernet result).
typedef std::array<bool, 8> GlobalInformation_TRVAXX_t;

// Meeting point of the result sources and the GUI: the package processor stores the newest Ethernet
// record here, the CAN receivers their newest function records and the global information byte,
// and every consumer reads from here. Setters run on the producers' threads; the stored pointers
// are guarded by two locks (Ethernet and CAN) and records are never modified after being stored.
// receivedNewResultData() is emitted on the producer's thread; receivers living in the GUI thread
// get it queued.
class ResultCache_TRVAXX : public QObject {
    Q_OBJECT
public:
    explicit ResultCache_TRVAXX(QObject* parent = nullptr);
    ~ResultCache_TRVAXX() override;

    // Replaces the stored Ethernet record and emits receivedNewResultData(), both under the
    // result lock, so listeners see the records in the order they were stored.
    void setResult(const ResultDataSP_TRVAXX& result);
    // A copy of the stored pointer (empty before the first result).
    ResultDataSP_TRVAXX getResult() const;
    // A record for the next Ethernet result, from the cache's pool: records come back to it when
    // the cache and every reader have let go of them, so a running stream allocates none.
    ResultDataSP_TRVAXX newRecord() { return pool.acquire(); }

    // Set once the first Ethernet result has been dispatched; the connection waits for it.
    bool isDataAvailable() const { return dataAvailable.load(std::memory_order_acquire); }
    void setDataAvailable() { dataAvailable.store(true, std::memory_order_release); }

    DetectedObjectData_TRVAXX_t getCANDetectedObjectData() const;
    BasicFunctionsData_TRVAXX_t getCANBasicFunctionsData() const;
    DetectedLineData_TRVAXX_t getCANDetectedLineGuidanceData() const;

    // From the Ethernet record's "available" value once Ethernet results arrive, otherwise from
    // the last CAN message, otherwise all flags clear.
    GlobalInformation_TRVAXX_t getGlobalInformation() const;
    static GlobalInformation_TRVAXX_t decodeGlobalInformation(quint8 byte);

signals:
    void receivedNewResultData();

public slots:
    void setCANDetectedObjectData(DetectedObjectData_TRVAXX_t canObjList);
    void setCANBasicFunctionsData(BasicFunctionsData_TRVAXX_t canBFResults);
    void setCANDetectedLineGuidanceData(DetectedLineData_TRVAXX_t canLGResults);
    void setGlobalInformationMessage(unsigned char globalInformation);

private:
    // Declared before the stored record so that it outlives it.
    ResultRecordPool_TRVAXX pool;
    ResultDataSP_TRVAXX result;
    std::atomic<bool> dataAvailable{false};
    mutable QRecursiveMutex resultLock;
    mutable QMutex canLock;
    DetectedObjectData_TRVAXX_t canObjects;
    BasicFunctionsData_TRVAXX_t canBasicFunctions;
    DetectedLineData_TRVAXX_t canLines;
    GlobalInformation_TRVAXX_t globalInformation{};
    bool globalInformationSet = false;
};
