#pragma once
// TRVAxxUDPSocket: the automatic search's listener on one port. It binds the wildcard address
// (shared with other listeners of the port), because a socket bound to one interface address
// never sees broadcasts on Linux, and takes each datagram's arrival interface from its packet
// information (IP_PKTINFO). When this process's result receiver already holds the port, it listens
// through that receiver instead (PortTap), so the search never takes a connected sensor's stream
// away from it. GUI thread.

#include "common/sensoraddressmobilecan.h"

#include <QByteArray>
#include <QHostAddress>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUdpSocket>

class TRVAxxUDPSocket : public QUdpSocket {
    Q_OBJECT
public:
    // One sender's identification as it arrives.
    struct SenderRecord {
        QByteArray description; // body of channel 257
        QByteArray data;        // body of channel 256
        SensorAdrSP_t address;  // null until built
        QHostAddress interfaceAddress;
    };
    // Senders kept per socket; a flood of foreign senders cannot grow the search's memory further.
    static constexpr int MAX_SENDERS = 256;

    explicit TRVAxxUDPSocket(quint16 port, QObject* parent = nullptr);
    ~TRVAxxUDPSocket() override;

    // Binds the port (or listens through the result receiver that holds it). False, logged, when
    // neither works.
    bool open();
    // Sends the 8 bytes "OrlanGUI" to the broadcast address on this port out of every IPv4
    // address of every interface.
    void announce();
    void close() override;

    quint16 port() const { return portNumber; }
    bool isTapped() const { return tapId != 0; }
    // Addresses of the identified senders, in the order of their sender addresses.
    QList<SensorAdrSP_t> addresses() const;
    // CAN buses announced by gateway beacons, "socketcand://IP:PORT/BUS", in arrival order.
    QStringList canInterfaces() const { return buses; }
    int beaconCount() const { return beacons; }

public slots:
    void readPendingDatagrams();
    // One datagram from `sender`, arrived on the interface with index `interfaceIndex` (0 unknown).
    void handleDatagram(const QByteArray& datagram, const QHostAddress& sender, uint interfaceIndex);

private:
    void logIgnored(const QString& sender, const QString& reason);

    quint16 portNumber;
    int tapId = 0;
    QMap<QString, SenderRecord> senders;
    QSet<QString> loggedIgnores;
    QStringList buses;
    int beacons = 0;
};
