#pragma once
// What the automatic search reads from the datagrams that reach its ports, as pure functions:
// which datagrams carry a sensor's identification (channel 256, its description channel 257),
// the identity read from them, the sensor address built from it, and the CAN buses that a CAN
// gateway's beacon announces. Every input is untrusted; nothing here keeps state.

#include "common/sensoraddressmobilecan.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace discovery_trvaxx {

constexpr quint32 CHANNEL_IDENTIFICATION = 256;
constexpr quint32 CHANNEL_IDENTIFICATION_DESCRIPTION = 257;
// Datagram header (32 bytes) and channel header (28 bytes) before the body, end delimiter after.
constexpr int BODY_OFFSET = 60;
constexpr int FRAMING_SIZE = 64;

struct Datagram {
    enum Kind {
        Ignored,     // nothing for the search
        Description, // body of channel 257
        Data,        // body of channel 256
        CanBeacon,   // a CAN gateway's beacon; body is the whole datagram
    };
    Kind kind = Ignored;
    QByteArray body;
    // Why an Ignored datagram was refused, for the log; empty for datagrams that are simply of no
    // interest (the other channels of a sensor's stream).
    QString reason;
    // The reason is a fault of a sensor's own stream rather than a foreign datagram.
    bool sensorFault = false;
};

// Sorts one datagram. A datagram of 64 bytes or less, of another protocol version or sub-device,
// with inconsistent lengths or delimiters, or an identification split over several datagrams is
// Ignored with a reason.
Datagram classify(const QByteArray& datagram);

// The identification values of channel 256.
struct Identity {
    QString serialNumber; // cut at the first NUL
    QString partNumber;
    QString variant;
    QString softwareVersion; // "3.4.1"
    int canBaudRate = 0;
    int canProtocol = 0; // the raw protocol byte: 1 CANopen, anything else J1939
    int canDeviceId = 239;
};

// Interprets `data` with `description`. False with `error` when the description does not parse,
// the data does not have the description's size or a member is missing.
bool readIdentity(const QByteArray& description, const QByteArray& data, Identity& identity, QString& error);

// The sensor address of an identified sender. The CAN settings are taken unless the sender is
// 127.0.0.1 or a CAN value is out of range (a baud rate the sensor cannot run, a device id beyond
// its protocol's range); `canNote` then says why they were left out.
SensorAdrMobileCanSP_t buildAddress(const Identity& identity, const QString& senderAddress, quint16 port,
                                    QString* canNote = nullptr);

// The buses a CAN gateway's beacon announces, as "socketcand://IP:PORT/BUS". False with `error`
// for a datagram that is no well-formed beacon.
bool readCanBeacon(const QByteArray& datagram, QStringList& buses, QString& error);

} // namespace discovery_trvaxx
