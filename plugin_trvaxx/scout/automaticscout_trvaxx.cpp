#include "scout/automaticscout_trvaxx.h"

#include "can-communication/canbuscontroller.h"
#include "common/sensoraddressmobilecan.h"
#include "scout/scoutlog_trvaxx.h"
#include "scout/trvaxxudpsocket.h"

#include <QElapsedTimer>

namespace {

QList<quint16> portsFromText(const QByteArray& text) {
    QList<quint16> ports;
    for (const QByteArray& part : text.split(',')) {
        bool ok = false;
        const uint port = part.trimmed().toUInt(&ok);
        if (!ok || port == 0 || port > 65535)
            return {};
        ports.append(quint16(port));
    }
    return ports;
}

} // namespace

AutomaticScout_TRVAxx::AutomaticScout_TRVAxx(QObject* parent) : SensorScoutAutomatic(parent) {
    searchPorts = portsFromText(qgetenv(PORTS_VARIABLE));
    if (searchPorts.isEmpty())
        searchPorts = {42000, 42001};
    searchTimer.setSingleShot(true);
    connect(&searchTimer, SIGNAL(timeout()), this, SLOT(searchTimeout()));
}

AutomaticScout_TRVAxx::~AutomaticScout_TRVAxx() {
    qDeleteAll(sockets);
}

void AutomaticScout_TRVAxx::setPorts(const QList<quint16>& ports) {
    if (!ports.isEmpty())
        searchPorts = ports;
}

namespace {
QStringList& announcedBuses() {
    static QStringList buses;
    return buses;
}
} // namespace

QStringList AutomaticScout_TRVAxx::announcedCanInterfaces() {
    return announcedBuses();
}

void AutomaticScout_TRVAxx::rememberCanInterfaces(const QStringList& buses) {
    announcedBuses() = buses;
}

void AutomaticScout_TRVAxx::startSearch() {
    aborted = false;
    foundSensors.clear();
    checks.clear();
    canInterfaces.clear();
    // A search started while one runs begins again.
    qDeleteAll(sockets);
    sockets.clear();
    for (quint16 port : std::as_const(searchPorts))
        openSockets(port);
    searchTimer.start(searchMs);
}

void AutomaticScout_TRVAxx::openSockets(quint16 port) {
    auto* socket = new TRVAxxUDPSocket(port, this);
    sockets.append(socket);
    // A port that cannot be opened is logged by the socket and skipped.
    if (socket->open())
        socket->announce();
}

void AutomaticScout_TRVAxx::searchTimeout() {
    for (TRVAxxUDPSocket* socket : std::as_const(sockets)) {
        // Datagrams that arrived after the last readyRead() still count.
        if (socket->state() == QAbstractSocket::BoundState)
            socket->readPendingDatagrams();
        socket->close();
    }
    if (!aborted) {
        for (TRVAxxUDPSocket* socket : std::as_const(sockets)) {
            foundSensors.append(socket->addresses());
            for (const QString& bus : socket->canInterfaces())
                if (!canInterfaces.contains(bus))
                    canInterfaces.append(bus);
        }
        rememberCanInterfaces(canInterfaces);
    }
    qDeleteAll(sockets);
    sockets.clear();
    if (aborted)
        return;

    qCDebug(lcScout) << "Start CAN validation, of the found TRV devices";
    QElapsedTimer elapsed;
    elapsed.start();
    for (const SensorAdrSP_t& address : std::as_const(foundSensors))
        checks.append(checkCan(*address));
    qCDebug(lcScout).noquote() << "Time needed for CAN validation: " + QString::number(elapsed.elapsed()) +
                                      "ms";
    emit done();
}

AutomaticScout_TRVAxx::CanCheck AutomaticScout_TRVAxx::checkCan(SensorAddress& base) {
    auto* address = dynamic_cast<SensorAddressMobileCan*>(&base);
    if (address == nullptr)
        return CanNone;
    const QString serial = address->getSerialNumber().trimmed();
    if (serial.isEmpty()) {
        qCDebug(lcScout).noquote()
            << "TRV device has 'empty' SerialNumber, skipping CAN test! ... device will be "
               "ethernet-only"
            << address->getPrintableAddress();
        const bool had = address->hasCanSettings();
        address->clearCANSettings();
        return had ? CanDropped : CanNone;
    }
    if (!address->hasCanSettings())
        return CanNone;
    if (!canValidation)
        return CanUnchecked;
    // The controller takes its own copy, so that a failed check cannot leave it half-changed.
    const auto canAddress = address->clone().dynamicCast<SensorAddressMobileCan>();
    CanBusController controller;
    controller.setInterfaceUrl(canInterfaceUrl);
    QString canSerial;
    const int result = controller.connectDevice(canAddress, false);
    if (result == 0) {
        canSerial = controller.readSerialNumber().trimmed();
        controller.disconnectDevice();
    }
    if (result == 0 && canSerial == serial)
        return CanConfirmed;
    qCDebug(lcScout).noquote() << "CAN check of" << serial << "failed:"
                               << (result != 0 ? CanBusController::resultText(result)
                                               : QStringLiteral("serial number over CAN '%1'").arg(canSerial))
                               << "- device will be ethernet-only";
    address->clearCANSettings();
    return CanDropped;
}
