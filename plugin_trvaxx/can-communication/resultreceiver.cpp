#include "can-communication/resultreceiver.h"

#include "can-communication/canlogging.h"
#include "can-communication/multireceivecanproxy.h"

#include <QStringList>

namespace {
// CANopen start-up waits: boot-up after the reset, then the confirmation of each PDO download.
constexpr int kBootUpPolls = 1000, kBootUpPauseMs = 50;
constexpr int kSdoPolls = 1000, kSdoPauseMs = 1;
constexpr int kAfterBootUpMs = 123;
constexpr uint8_t kNmtResetNode = 0x81, kNmtStartRemoteNode = 0x01;
// At most one summary of ignored frames per worker in this time.
constexpr qint64 kIgnoredLogIntervalMs = 10000;
} // namespace

ResultWorker::ResultWorker(const char* name, ResultFrameMap::Function function, int idlePauseMs)
    : name(name), function(function), idlePauseMs(idlePauseMs) {}

void ResultWorker::doWork(int protocol, int generation, int address, MultiReceiveCanProxy* proxy) {
    const bool canopen = protocol != 0;
    if (generation < 1 || generation > 3) {
        qCWarning(lcCan).noquote() << QStringLiteral("Unknown protocol version %1").arg(generation);
        return;
    }
    if (!proxy || !ResultFrameMap::isValid(canopen, generation, address)) {
        qCWarning(lcCan).noquote() << QStringLiteral("%1 receiver: no bus, or %2 is no %3 address")
                                          .arg(QLatin1String(name))
                                          .arg(address)
                                          .arg(QLatin1String(canopen ? "CANopen node" : "J1939 source"));
        return;
    }
    const ResultFrameMap map(function, canopen, generation, address);
    const std::unique_ptr<ResultDecoder> decoder = makeDecoder(map);
    QueuedReceiver queue;
    proxy->registerReceiver(&queue);
    clock.start();
    if (!canopen || startCanopenNode(queue, proxy, map)) {
        CanFrame frame;
        while (running) {
            if (!queue.takeFrame(frame)) {
                QThread::msleep(idlePauseMs);
                continue;
            }
            if (decoder->feed(frame, clock.elapsed())) {
                emit globalInformationMessageReady(decoder->globalInformation());
                emitRecord(*decoder);
            }
            logIgnored(*decoder, false);
        }
        logIgnored(*decoder, true);
    }
    proxy->unregisterReceiver(&queue);
}

template <class Match>
bool ResultWorker::waitForFrame(QueuedReceiver& queue, Match match, int polls, int pauseMs) {
    CanFrame frame;
    for (int poll = 0; poll < polls && running; ++poll) {
        while (queue.takeFrame(frame))
            if (match(frame))
                return true;
        QThread::msleep(pauseMs);
    }
    return false;
}

bool ResultWorker::startCanopenNode(QueuedReceiver& queue, CANBusDevice* bus, const ResultFrameMap& map) {
    const uint8_t node = uint8_t(map.address());
    const uint8_t reset[2] = {kNmtResetNode, node};
    bus->CAN_SendData(0, reset, 2);
    auto bootUp = [node](const CanFrame& f) { return f.identifier == 0x700u + node && f.length == 1; };
    if (!waitForFrame(queue, bootUp, kBootUpPolls, kBootUpPauseMs)) {
        if (running)
            qCWarning(lcCan) << "No response from TRV after CANOpen reset.";
        return false;
    }
    QThread::msleep(kAfterBootUpMs);
    for (const ResultFrameMap::PdoAssignment& pdo : map.pdoAssignments()) {
        // Bit 30: no remote requests for this PDO.
        const uint32_t cob = pdo.cobId | 0x40000000u;
        const uint8_t lo = uint8_t(pdo.index), hi = uint8_t(pdo.index >> 8);
        const uint8_t download[8] = {
            0x23, lo, hi, 1, uint8_t(cob), uint8_t(cob >> 8), uint8_t(cob >> 16), uint8_t(cob >> 24)};
        bus->CAN_SendData(0x600u + node, download, 8);
        bool aborted = false;
        auto answer = [&](const CanFrame& f) {
            if (f.identifier != 0x580u + node || f.length < 4 || f.data[1] != lo || f.data[2] != hi)
                return false;
            aborted = f.data[0] != 0x60;
            return true;
        };
        // A confirmation that does not come is waited for at most kSdoPolls polls and then ignored.
        if (!waitForFrame(queue, answer, kSdoPolls, kSdoPauseMs) || aborted)
            qCWarning(lcCan).noquote() << QStringLiteral("%1 receiver: PDO 0x%2 of node %3 not confirmed")
                                              .arg(QLatin1String(name))
                                              .arg(pdo.index, 4, 16, QLatin1Char('0'))
                                              .arg(node);
        if (!running)
            return false;
    }
    const uint8_t start[2] = {kNmtStartRemoteNode, node};
    bus->CAN_SendData(0, start, 2);
    return true;
}

void ResultWorker::logIgnored(const ResultDecoder& decoder, bool force) {
    const qint64 now = clock.elapsed();
    if (!force && lastIgnoredLog >= 0 && now - lastIgnoredLog < kIgnoredLogIntervalMs)
        return;
    QStringList parts;
    bool damaged = false;
    for (int i = 0; i < ResultDecoder::IgnoredKinds; ++i) {
        const auto reason = ResultDecoder::Ignored(i);
        const uint64_t count = decoder.ignored(reason) - ignoredLogged[size_t(i)];
        if (count == 0)
            continue;
        ignoredLogged[size_t(i)] = decoder.ignored(reason);
        parts << QStringLiteral("%1 %2").arg(count).arg(QLatin1String(ResultDecoder::ignoredName(reason)));
        damaged |= reason == ResultDecoder::WrongLength || reason == ResultDecoder::OutOfRange;
    }
    if (parts.isEmpty())
        return;
    lastIgnoredLog = now;
    const QString text = QStringLiteral("%1 receiver ignored frames: %2")
                             .arg(QLatin1String(name), parts.join(QStringLiteral(", ")));
    if (damaged)
        qCWarning(lcCan).noquote() << text;
    else
        qCDebug(lcCan).noquote() << text;
}

ResultReceiver::ResultReceiver(ResultWorker* worker, QObject* parent) : QObject(parent), worker(worker) {
    worker->moveToThread(&thread);
    connect(this, &ResultReceiver::operate, worker, &ResultWorker::doWork);
    connect(this, &ResultReceiver::stopWork, worker, &ResultWorker::stopWork, Qt::DirectConnection);
    connect(worker, &ResultWorker::globalInformationMessageReady, this,
            &ResultReceiver::globalInformationMessageReady);
    thread.start();
}

ResultReceiver::~ResultReceiver() {
    stop();
}

void ResultReceiver::stop() {
    if (stopped)
        return;
    stopped = true;
    emit stopWork();
    thread.quit();
    thread.wait();
    delete worker;
}
