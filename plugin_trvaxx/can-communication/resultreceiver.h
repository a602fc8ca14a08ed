#pragma once
// The thread half of the CAN function-result receivers. A ResultReceiver (GUI thread) owns a
// QThread and a ResultWorker moved to it; operate() starts the worker's loop, which registers a
// queue of its own with the bus proxy, brings a CANopen node up (reset, boot-up, PDO
// configuration, start) and feeds every frame to its ResultDecoder; each complete cycle leaves as
// a new record by a queued signal. stopWork() is a direct call that only clears the running flag;
// the loop ends at its next frame or pause. Receiver_OD.h, Receiver_BF.h and Receiver_LG.h add
// the typed result signals.

#include "can-communication/canresultdecoder.h"

#include <QElapsedTimer>
#include <QObject>
#include <QThread>

#include <atomic>
#include <memory>

class CANBusDevice;
class MultiReceiveCanProxy;
class QueuedReceiver;

class ResultWorker : public QObject {
    Q_OBJECT
public:
    // name: "OD", "BF" or "LG" in log lines; idlePauseMs: the sleep when the queue is empty.
    ResultWorker(const char* name, ResultFrameMap::Function function, int idlePauseMs);

public slots:
    // protocol 0 J1939, any other CANopen; generation 1..3; address: the sensor's J1939 source
    // address or CANopen node id. Runs until stopWork().
    void doWork(int protocol, int generation, int address, MultiReceiveCanProxy* proxy);
    void stopWork() { running = false; }

signals:
    void globalInformationMessageReady(unsigned char globalInformation);

protected:
    virtual std::unique_ptr<ResultDecoder> makeDecoder(const ResultFrameMap& map) const = 0;
    // Emits the record of the cycle that the decoder just completed.
    virtual void emitRecord(ResultDecoder& decoder) = 0;

private:
    bool startCanopenNode(QueuedReceiver& queue, CANBusDevice* bus, const ResultFrameMap& map);
    template <class Match> bool waitForFrame(QueuedReceiver& queue, Match match, int polls, int pauseMs);
    void logIgnored(const ResultDecoder& decoder, bool force);

    const char* const name;
    const ResultFrameMap::Function function;
    const int idlePauseMs;
    std::atomic<bool> running{true};
    QElapsedTimer clock;
    qint64 lastIgnoredLog = -1;
    std::array<uint64_t, ResultDecoder::IgnoredKinds> ignoredLogged{};
};

class ResultReceiver : public QObject {
    Q_OBJECT
public:
    ~ResultReceiver() override;
    // Clears the worker's running flag, quits the thread and waits for it; idempotent.
    void stop();

signals:
    void operate(int protocol, int generation, int address, MultiReceiveCanProxy* proxy);
    void stopWork();
    void globalInformationMessageReady(unsigned char globalInformation);

protected:
    // Takes the worker and starts its thread (idle until operate()).
    ResultReceiver(ResultWorker* worker, QObject* parent);
    ResultWorker* const worker;

private:
    QThread thread;
    bool stopped = false;
};
