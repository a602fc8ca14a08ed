#pragma once
// The thread half of the CAN function-result receivers. A ResultReceiver (GUI thread) owns a
// ResultWorker and the thread that runs it: operate() starts a thread that runs the worker's
// doWork() with operate's arguments (a plain std::thread, no event loop: joining it is all a stop
// needs, and it makes every handover visible to the thread sanitizer). doWork registers a queue of its
// own with the bus proxy, brings a CANopen node up (reset, boot-up, PDO configuration, start) and
// feeds every frame to its ResultDecoder; each complete cycle's record (a new shared pointer,
// never changed afterwards) and global information byte go to the receiver under a mutex and are
// emitted on the receiver's thread by a queued call. stopWork() is a direct call that only clears
// the running flag; the loop ends at its next frame or pause and stop() joins the thread.
// Arguments and records thus cross threads through the thread start and a mutex, never through
// queued signal arguments. Receiver_OD.h, Receiver_BF.h and Receiver_LG.h add the typed result
// signals.

#include "can-communication/canresultdecoder.h"

#include <QElapsedTimer>
#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

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
    // Clears the worker's running flag and waits for its thread; idempotent.
    void stop();

signals:
    void operate(int protocol, int generation, int address, MultiReceiveCanProxy* proxy);
    void stopWork();
    void globalInformationMessageReady(unsigned char globalInformation);

protected:
    // Takes the worker; its thread starts with the first operate().
    ResultReceiver(ResultWorker* worker, QObject* parent);
    // On the worker's thread: queues an emission for this object's thread.
    void post(std::function<void()> emission);
    ResultWorker* const worker;

private:
    void begin(int protocol, int generation, int address, MultiReceiveCanProxy* proxy);
    Q_INVOKABLE void deliver();

    std::thread thread;
    bool stopped = false;
    std::mutex pendingMutex;
    std::vector<std::function<void()>> pending;
};
