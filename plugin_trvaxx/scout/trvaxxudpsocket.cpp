#include "scout/trvaxxudpsocket.h"

#include "common/logentry.h"
#include "scout/discoverydatagram_trvaxx.h"
#include "scout/scoutlog_trvaxx.h"
#include "udp-transport/porttap.h"
#include "udp-transport/udpframing.h"

#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QNetworkProxy>
#include <QPointer>

#include <arpa/inet.h>

namespace {

QHostAddress interfaceAddressOf(uint index) {
    if (index == 0)
        return {};
    for (const QNetworkAddressEntry& entry :
         QNetworkInterface::interfaceFromIndex(int(index)).addressEntries())
        if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
            return entry.ip();
    return {};
}

// Whether a datagram seen through the result receiver concerns the search: only these are copied
// off the receive thread.
bool interestsSearch(const uint8_t* data, size_t length) {
    using namespace udpframing;
    if (isCanBeacon(data, length))
        return true;
    if (length <= size_t(discovery_trvaxx::FRAMING_SIZE))
        return false;
    const uint32_t channel = readU32(data + dgram::kChannelId);
    return channel == discovery_trvaxx::CHANNEL_IDENTIFICATION ||
           channel == discovery_trvaxx::CHANNEL_IDENTIFICATION_DESCRIPTION;
}

} // namespace

TRVAxxUDPSocket::TRVAxxUDPSocket(quint16 port, QObject* parent) : QUdpSocket(parent), portNumber(port) {
    // Broadcasts on the local networks never go through a proxy; asking the system for one would
    // only cost time (and a thread of the proxy library) at every bind.
    setProxy(QNetworkProxy::NoProxy);
    connect(this, SIGNAL(readyRead()), this, SLOT(readPendingDatagrams()));
}

TRVAxxUDPSocket::~TRVAxxUDPSocket() {
    PortTap::unsubscribe(tapId);
}

bool TRVAxxUDPSocket::open() {
    QPointer<TRVAxxUDPSocket> self(this);
    tapId = PortTap::subscribeIfHeld(
        portNumber, [self](const uint8_t* data, size_t length, const sockaddr_in& from) {
            if (!interestsSearch(data, length))
                return;
            const QByteArray copy(reinterpret_cast<const char*>(data), qsizetype(length));
            const QHostAddress sender(quint32(ntohl(from.sin_addr.s_addr)));
            // Queued to the GUI thread; dropped with the socket if it is gone by then.
            QMetaObject::invokeMethod(
                self, [self, copy, sender] { self->handleDatagram(copy, sender, 0); }, Qt::QueuedConnection);
        });
    if (tapId != 0) {
        qCDebug(lcScout) << "AutomaticScout_TRVAxx listens on port" << portNumber
                         << "through the result receiver";
        return true;
    }
    if (!bind(QHostAddress::AnyIPv4, portNumber,
              QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint)) {
        qCCritical(lcScout).noquote()
            << "Failed to bind port for AutomaticScout_TRVAxx:" << portNumber
            << QHostAddress(QHostAddress::AnyIPv4).toString() << errorString() << LOG_LOC;
        return false;
    }
    return true;
}

void TRVAxxUDPSocket::announce() {
    // A socket that listens through the result receiver has no port of its own to send from.
    QUdpSocket ephemeral;
    QUdpSocket* out = this;
    if (state() != BoundState) {
        ephemeral.setProxy(QNetworkProxy::NoProxy);
        ephemeral.bind(QHostAddress::AnyIPv4, 0);
        out = &ephemeral;
    }
    for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces()) {
        for (const QNetworkAddressEntry& entry : iface.addressEntries()) {
            if (entry.ip().protocol() != QAbstractSocket::IPv4Protocol)
                continue;
            qCDebug(lcScout).noquote()
                << "AutomaticScout_TRVAxx ip:" << entry.ip().toString() << ", flags:" << int(iface.flags())
                << ", hardwareAdr:" << iface.hardwareAddress()
                << ", readable name:" << iface.humanReadableName();
            QNetworkDatagram datagram(QByteArrayLiteral("OrlanGUI"), QHostAddress::Broadcast, portNumber);
            datagram.setInterfaceIndex(uint(iface.index()));
            datagram.setSender(entry.ip());
            if (out->writeDatagram(datagram) < 0)
                qCDebug(lcScout).noquote() << "announcement on" << iface.humanReadableName() << "port"
                                           << portNumber << "not sent:" << out->errorString();
        }
    }
}

void TRVAxxUDPSocket::close() {
    PortTap::unsubscribe(tapId);
    tapId = 0;
    QUdpSocket::close();
}

void TRVAxxUDPSocket::readPendingDatagrams() {
    while (hasPendingDatagrams()) {
        const QNetworkDatagram datagram = receiveDatagram();
        if (datagram.isValid())
            handleDatagram(datagram.data(), datagram.senderAddress(), datagram.interfaceIndex());
    }
}

void TRVAxxUDPSocket::handleDatagram(const QByteArray& datagram, const QHostAddress& sender,
                                     uint interfaceIndex) {
    using namespace discovery_trvaxx;
    bool ok = false;
    const QString from = QHostAddress(sender.toIPv4Address(&ok)).toString();
    if (!ok)
        return;
    const Datagram d = classify(datagram);
    if (d.kind == Datagram::CanBeacon) {
        ++beacons;
        QStringList announced;
        QString error;
        if (!readCanBeacon(d.body, announced, error))
            logIgnored(from, QStringLiteral("CAN beacon: ") + error);
        for (const QString& bus : std::as_const(announced))
            if (!buses.contains(bus))
                buses.append(bus);
        return;
    }
    if (d.kind == Datagram::Ignored) {
        if (d.sensorFault)
            qCCritical(lcScout).noquote() << d.reason << LOG_LOC;
        else if (!d.reason.isEmpty())
            logIgnored(from, d.reason);
        return;
    }
    auto it = senders.find(from);
    if (it == senders.end()) {
        if (senders.size() >= MAX_SENDERS) {
            logIgnored(QStringLiteral("*"), QStringLiteral("more than %1 senders").arg(MAX_SENDERS));
            return;
        }
        it = senders.insert(from, SenderRecord());
        it->interfaceAddress = interfaceAddressOf(interfaceIndex);
    }
    SenderRecord& record = *it;
    if (record.address)
        return;
    (d.kind == Datagram::Description ? record.description : record.data) = d.body;
    if (record.description.isEmpty() || record.data.isEmpty())
        return;
    Identity identity;
    QString error;
    if (!readIdentity(record.description, record.data, identity, error)) {
        logIgnored(from, QStringLiteral("identification not readable: ") + error);
        // A later pair may be complete; this one is dropped.
        record.description.clear();
        record.data.clear();
        return;
    }
    QString canNote;
    record.address = buildAddress(identity, from, portNumber, &canNote);
    qCDebug(lcScout).noquote() << "AutomaticScout_TRVAxx found" << record.address->getName() << "serial"
                               << identity.serialNumber << "at" << from << "port" << portNumber << "on"
                               << (record.interfaceAddress.isNull() ? QStringLiteral("?")
                                                                    : record.interfaceAddress.toString());
    if (!canNote.isEmpty())
        qCDebug(lcScout).noquote() << "AutomaticScout_TRVAxx: no CAN settings for" << from << "-" << canNote;
}

void TRVAxxUDPSocket::logIgnored(const QString& sender, const QString& reason) {
    // Once per sender and reason and search: a sensor's stream repeats every cycle.
    const QString key = sender + QLatin1Char('|') + reason;
    if (loggedIgnores.contains(key) || loggedIgnores.size() > 1000)
        return;
    loggedIgnores.insert(key);
    qCDebug(lcScout).noquote() << "AutomaticScout_TRVAxx ignores datagrams from" << sender << "port"
                               << portNumber << "-" << reason;
}

QList<SensorAdrSP_t> TRVAxxUDPSocket::addresses() const {
    QList<SensorAdrSP_t> list;
    for (const SenderRecord& record : senders)
        if (record.address)
            list.append(record.address);
    return list;
}
