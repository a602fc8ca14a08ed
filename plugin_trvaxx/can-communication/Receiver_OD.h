#pragma once
// The object list of object detection, its crash predictor and the vehicle data: the pair of a receiver (GUI
// thread) and its worker on a thread of its own; see resultreceiver.h.

#include "can-communication/resultreceiver.h"

class ReceiveODWorker : public ResultWorker {
    Q_OBJECT
public:
    ReceiveODWorker() : ResultWorker("OD", ResultFrameMap::Function::OD, 10) {}

signals:
    void resultReady(DetectedObjectData_TRVAXX_t result);

protected:
    std::unique_ptr<ResultDecoder> makeDecoder(const ResultFrameMap& map) const override {
        return std::make_unique<ObjectResultDecoder>(map);
    }
    void emitRecord(ResultDecoder& decoder) override {
        emit resultReady(static_cast<ObjectResultDecoder&>(decoder).take());
    }
};

class ReceiverOD : public ResultReceiver {
    Q_OBJECT
public:
    explicit ReceiverOD(QObject* parent = nullptr) : ResultReceiver(new ReceiveODWorker, parent) {
        connect(static_cast<ReceiveODWorker*>(worker), &ReceiveODWorker::resultReady, this,
                &ReceiverOD::resultReady);
    }

signals:
    void resultReady(DetectedObjectData_TRVAXX_t result);
};
