#include "result/resultcache_trvaxx.h"

#include <QMutexLocker>

ResultCache_TRVAXX::ResultCache_TRVAXX(QObject* parent) : QObject(parent) {
    registerResultMetaTypes_TRVAXX();
}

ResultCache_TRVAXX::~ResultCache_TRVAXX() = default;

void ResultCache_TRVAXX::setResult(const ResultDataSP_TRVAXX& value) {
    QMutexLocker<QRecursiveMutex> lock(&resultLock);
    result = value;
    emit receivedNewResultData();
}

ResultDataSP_TRVAXX ResultCache_TRVAXX::getResult() const {
    QMutexLocker<QRecursiveMutex> lock(&resultLock);
    return result;
}

DetectedObjectData_TRVAXX_t ResultCache_TRVAXX::getCANDetectedObjectData() const {
    QMutexLocker<QMutex> lock(&canLock);
    return canObjects;
}

BasicFunctionsData_TRVAXX_t ResultCache_TRVAXX::getCANBasicFunctionsData() const {
    QMutexLocker<QMutex> lock(&canLock);
    return canBasicFunctions;
}

DetectedLineData_TRVAXX_t ResultCache_TRVAXX::getCANDetectedLineGuidanceData() const {
    QMutexLocker<QMutex> lock(&canLock);
    return canLines;
}

void ResultCache_TRVAXX::setCANDetectedObjectData(DetectedObjectData_TRVAXX_t canObjList) {
    {
        QMutexLocker<QMutex> lock(&canLock);
        canObjects = canObjList;
    }
    emit receivedNewResultData();
}

void ResultCache_TRVAXX::setCANBasicFunctionsData(BasicFunctionsData_TRVAXX_t canBFResults) {
    {
        QMutexLocker<QMutex> lock(&canLock);
        canBasicFunctions = canBFResults;
    }
    emit receivedNewResultData();
}

void ResultCache_TRVAXX::setCANDetectedLineGuidanceData(DetectedLineData_TRVAXX_t canLGResults) {
    {
        QMutexLocker<QMutex> lock(&canLock);
        canLines = canLGResults;
    }
    emit receivedNewResultData();
}

void ResultCache_TRVAXX::setGlobalInformationMessage(unsigned char value) {
    QMutexLocker<QMutex> lock(&canLock);
    globalInformation = decodeGlobalInformation(value);
    globalInformationSet = true;
}

GlobalInformation_TRVAXX_t ResultCache_TRVAXX::getGlobalInformation() const {
    if (isDataAvailable()) {
        QMutexLocker<QRecursiveMutex> lock(&resultLock);
        const uint available = result ? result->info.value(InfoKey_TRVAXX::Available).toUInt() : 0u;
        return decodeGlobalInformation(quint8(available & 0xFF));
    }
    QMutexLocker<QMutex> lock(&canLock);
    if (globalInformationSet)
        return globalInformation;
    return decodeGlobalInformation(0);
}

GlobalInformation_TRVAXX_t ResultCache_TRVAXX::decodeGlobalInformation(quint8 byte) {
    GlobalInformation_TRVAXX_t flags{};
    for (int i = 0; i < 8; ++i)
        flags[size_t(i)] = (byte >> i) & 1;
    return flags;
}
