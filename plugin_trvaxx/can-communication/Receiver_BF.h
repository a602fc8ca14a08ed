#pragma once
// The basic-function values per ROI group: the pair of a receiver (GUI thread) and its worker on a thread of
// its own; see resultreceiver.h.

#include "can-communication/resultreceiver.h"

class ReceiveBFWorker : public ResultWorker {
    Q_OBJECT
public:
    ReceiveBFWorker() : ResultWorker("BF", ResultFrameMap::Function::BF, 10) {}

signals:
    void resultReady(BasicFunctionsData_TRVAXX_t result);

protected:
    std::unique_ptr<ResultDecoder> makeDecoder(const ResultFrameMap& map) const override {
        return std::make_unique<BasicFunctionResultDecoder>(map);
    }
    void emitRecord(ResultDecoder& decoder) override {
        emit resultReady(static_cast<BasicFunctionResultDecoder&>(decoder).take());
    }
};

class ReceiverBF : public ResultReceiver {
    Q_OBJECT
public:
    explicit ReceiverBF(QObject* parent = nullptr) : ResultReceiver(new ReceiveBFWorker, parent) {
        connect(static_cast<ReceiveBFWorker*>(worker), &ReceiveBFWorker::resultReady, this,
                &ReceiverBF::resultReady);
    }

signals:
    void resultReady(BasicFunctionsData_TRVAXX_t result);
};
