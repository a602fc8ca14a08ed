#include "candevices/socketcan/transportworker.h"

#include "candevices/socketcan/candevicestatus.h"
#include "candevices/socketcan/socketcanlog.h"

#include <QScopedValueRollback>
#include <QTimer>

#include <algorithm>

TransportWorker::TransportWorker(ReceiveQueue& queue, const CanDeviceConfig& config)
    : m_queue(queue), m_config(config), m_retryTimer(new QTimer(this)), m_reopenTimer(new QTimer(this)) {
    m_retryTimer->setSingleShot(true);
    m_retryTimer->setInterval(1);
    connect(m_retryTimer, &QTimer::timeout, this, &TransportWorker::pump);
    m_reopenTimer->setSingleShot(true);
    m_reopenTimer->setInterval(kReconnectInterval);
    connect(m_reopenTimer, &QTimer::timeout, this, &TransportWorker::attemptReopen);
}

TransportWorker::~TransportWorker() = default;

uint16_t TransportWorker::send(const CanFrame& frame) {
    SendJob job{frame, std::nullopt, 0, false};
    std::unique_lock<std::mutex> lock(m_jobsMutex);
    if (m_stopped)
        return CanDeviceStatus::NotOpen;
    m_jobs.push_back(&job);
    if (m_jobs.size() == 1)
        QMetaObject::invokeMethod(this, &TransportWorker::pump, Qt::QueuedConnection);
    if (!m_jobDone.wait_for(lock, kSendWaitLimit, [&] { return job.done; })) {
        // The worker takes the lock while it handles a job, so an unfinished job is not in use.
        m_jobs.erase(std::find(m_jobs.begin(), m_jobs.end(), &job));
        return CanDeviceStatus::SendFailed;
    }
    return job.status;
}

void TransportWorker::resumeSending() {
    if (m_retryTimer->isActive()) {
        m_retryTimer->stop();
        pump();
    }
}

void TransportWorker::pump() {
    if (m_pumping)
        return;
    const QScopedValueRollback<bool> pumping(m_pumping, true);
    std::lock_guard<std::mutex> lock(m_jobsMutex);
    bool finished = false;
    while (!m_jobs.empty()) {
        SendJob& job = *m_jobs.front();
        uint16_t status = CanDeviceStatus::SendFailed;
        WriteResult result = m_stopped ? WriteResult::Failed : tryWrite(job.frame, status);
        if (m_stopped)
            status = CanDeviceStatus::NotOpen;
        if (result == WriteResult::Full) {
            const auto now = std::chrono::steady_clock::now();
            if (!job.fullSince)
                job.fullSince = now;
            if (now - *job.fullSince < kFullRetryLimit) {
                m_retryTimer->start();
                break;
            }
            qCWarning(lcSocketCan) << "Transmit queue stayed full for" << kFullRetryLimit.count()
                                   << "ms; frame" << Qt::hex << job.frame.identifier << "not sent";
        }
        job.status = result == WriteResult::Written ? CanDeviceStatus::Ok : status;
        job.done = true;
        finished = true;
        m_jobs.pop_front();
    }
    if (finished)
        m_jobDone.notify_all();
}

void TransportWorker::setConnected() {
    if (m_lost)
        qCInfo(lcSocketCan) << "CAN connection restored";
    m_lost = false;
    m_reopenTimer->stop();
    m_queue.setConnected(true);
}

void TransportWorker::connectionLost(const QString& reason) {
    if (m_stopped || m_lost)
        return;
    m_lost = true;
    qCWarning(lcSocketCan).noquote() << "CAN connection lost:" << reason
                                     << "- reconnecting at most once a second";
    m_queue.setConnected(false);
    m_reopenTimer->start();
}

void TransportWorker::attemptReopen() {
    if (m_stopped || !m_lost)
        return;
    reopen();
}

void TransportWorker::reopenFailed() {
    if (!m_stopped && m_lost)
        m_reopenTimer->start();
}

void TransportWorker::shutdown() {
    {
        std::lock_guard<std::mutex> lock(m_jobsMutex);
        m_stopped = true;
    }
    pump(); // fails what is still queued
    m_retryTimer->stop();
    m_reopenTimer->stop();
    closeConnection();
    m_queue.setConnected(false);
}
