#pragma once
// The guidance lines of line guidance: the pair of a receiver (GUI thread) and its worker on a thread of its
// own; see resultreceiver.h.

#include "can-communication/resultreceiver.h"

class ReceiveLGWorker : public ResultWorker {
    Q_OBJECT
public:
    ReceiveLGWorker() : ResultWorker("LG", ResultFrameMap::Function::LG, 50) {}

signals:
    void resultReady(DetectedLineData_TRVAXX_t result);

protected:
    std::unique_ptr<ResultDecoder> makeDecoder(const ResultFrameMap& map) const override {
        return std::make_unique<LineResultDecoder>(map);
    }
    void emitRecord(ResultDecoder& decoder) override {
        emit resultReady(static_cast<LineResultDecoder&>(decoder).take());
    }
};

class ReceiverLG : public ResultReceiver {
    Q_OBJECT
public:
    explicit ReceiverLG(QObject* parent = nullptr) : ResultReceiver(new ReceiveLGWorker, parent) {
        connect(static_cast<ReceiveLGWorker*>(worker), &ReceiveLGWorker::resultReady, this,
                &ReceiverLG::resultReady);
    }

signals:
    void resultReady(DetectedLineData_TRVAXX_t result);
};
