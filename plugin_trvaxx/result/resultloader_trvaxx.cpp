#include "result/resultloader_trvaxx.h"

#include "result/resultlog_trvaxx.h"

#include "common/logentry.h"
#include "udp-transport/cycleassembler.h"
#include "udp-transport/ethreceiver.h"

#include <QDebug>

ResultLoader_TRVAXX::ResultLoader_TRVAXX(CaptureControler* recorder, PackageProcessor_TRVAXX* processor,
                                         QObject* parent)
    : QObject(parent), dataOutput(recorder, processor),
      assembler(std::make_unique<CycleAssembler>(dataOutput, logger)),
      receiver(std::make_unique<EthReceiver>(*assembler, logger)) {
    qCDebug(lcResult) << "ResultLoader_TRVAXX is using the old ethReceive(Wek-Lib)";
}

ResultLoader_TRVAXX::~ResultLoader_TRVAXX() {
    // The receive thread must end before the reassembler it feeds goes away.
    receiver.reset();
    assembler.reset();
}

int ResultLoader_TRVAXX::start(quint16 port, const QString& address) {
    if (receiver->isRunning())
        receiver->stop();
    receiver->setPort(port);
    if (receiver->setSender(address.trimmed().toStdString()) != 0 || receiver->start() != 0) {
        qCCritical(lcResult).noquote()
            << QStringLiteral("FWUpdater_TRVAxx: Unable to start ethReceiver!") + LOG_LOC;
        return START_FAILED;
    }
    return 0;
}

void ResultLoader_TRVAXX::setWakeUp(UdpSocket::WakeUp wakeUp) {
    receiver->setWakeUp(wakeUp);
}

void ResultLoader_TRVAXX::stop() {
    receiver->stop();
}

bool ResultLoader_TRVAXX::isRunning() const {
    return receiver->isRunning();
}

quint16 ResultLoader_TRVAXX::boundPort() const {
    return receiver->boundPort();
}
