#pragma once
// Runs one transport worker on a thread of its own with an event loop, from open to stop. The
// thread is never cancelled from outside: stop() asks the worker to close and waits for the loop
// to end.

#include "candevices/socketcan/transportworker.h"

#include <QThread>

#include <memory>

class TransportThread {
public:
    explicit TransportThread(std::unique_ptr<TransportWorker> worker);
    ~TransportThread();
    TransportThread(const TransportThread&) = delete;
    TransportThread& operator=(const TransportThread&) = delete;

    uint16_t open();
    uint16_t send(const CanFrame& frame) { return m_worker->send(frame); }
    void stop();

private:
    QThread m_thread;
    std::unique_ptr<TransportWorker> m_worker;
};
