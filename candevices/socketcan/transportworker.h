#pragma once
// The common part of both transports. A worker lives on a thread of its own with an event loop
// and owns the connection (a QCanBusDevice or a TCP socket). Any thread may send: send() queues
// the frame and waits until the worker has handed it to the connection, so frames from several
// threads never interleave and every caller learns whether its frame went out. When the
// connection reports a full transmit queue the worker retries for up to 100 ms.
// A lost connection is logged once and reopened at most once a second.

#include "can-communication/candeviceconfig.h"
#include "can-communication/canframe.h"
#include "candevices/socketcan/receivequeue.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

class QTimer;

class TransportWorker : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kFullRetryLimit{100};
    static constexpr std::chrono::milliseconds kSendWaitLimit{1000};
    static constexpr std::chrono::milliseconds kReconnectInterval{1000};

    TransportWorker(ReceiveQueue& queue, const CanDeviceConfig& config);
    ~TransportWorker() override;

    // Any thread. Returns a CanDeviceStatus value.
    uint16_t send(const CanFrame& frame);
    // Worker thread, through the owning TransportThread: opens (status), and shuts down.
    virtual uint16_t open() = 0;
    void shutdown();

protected:
    enum class WriteResult { Written, Full, Failed };
    // Worker thread: hands one frame to the connection. On Failed, status says why.
    virtual WriteResult tryWrite(const CanFrame& frame, uint16_t& status) = 0;
    // Worker thread: one reopen attempt after a loss. It ends in setConnected() or reopenFailed(),
    // at once or later.
    virtual void reopen() = 0;
    // Worker thread: closes the connection and frees what belongs to it.
    virtual void closeConnection() = 0;

    // Worker thread: the connection has room again.
    void resumeSending();
    void setConnected();
    void reopenFailed();
    // Logs the loss once and starts the reopen attempts.
    void connectionLost(const QString& reason);

    ReceiveQueue& m_queue;
    const CanDeviceConfig m_config;

private:
    struct SendJob {
        CanFrame frame;
        std::optional<std::chrono::steady_clock::time_point> fullSince;
        uint16_t status = 0;
        bool done = false;
    };
    void pump();
    void attemptReopen();

    std::mutex m_jobsMutex; // guards m_jobs, m_stopped and the jobs' results
    std::condition_variable m_jobDone;
    std::deque<SendJob*> m_jobs; // owned by the waiting senders
    bool m_stopped = false;

    bool m_pumping = false; // a connection signalling room from inside tryWrite must not re-enter
    QTimer* m_retryTimer;
    QTimer* m_reopenTimer;
    bool m_lost = false;
};
