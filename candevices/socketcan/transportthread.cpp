#include "candevices/socketcan/transportthread.h"

TransportThread::TransportThread(std::unique_ptr<TransportWorker> worker) : m_worker(std::move(worker)) {
    m_thread.setObjectName(QStringLiteral("trvaxx-can-transport"));
    m_worker->moveToThread(&m_thread);
    m_thread.start();
    // Best effort: without the right to raise priorities the thread runs at the normal one.
    m_thread.setPriority(QThread::TimeCriticalPriority);
}

TransportThread::~TransportThread() {
    stop();
}

uint16_t TransportThread::open() {
    uint16_t status = 0;
    QMetaObject::invokeMethod(
        m_worker.get(), [&] { status = m_worker->open(); }, Qt::BlockingQueuedConnection);
    return status;
}

void TransportThread::stop() {
    if (!m_thread.isRunning())
        return;
    QMetaObject::invokeMethod(
        m_worker.get(), [this] { m_worker->shutdown(); }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}
