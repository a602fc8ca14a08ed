#pragma once

#include "common/sensoraddress.h"

#include <QSharedPointer>
#include <QString>

// CAN application protocol of a sensor.
enum CanProtocol { CAN_PROTOCOL_J1939 = 0, CAN_PROTOCOL_CANOPEN = 1 };

// Address of a mobile sensor reachable over Ethernet (IP address and UDP port), CAN (baud rate,
// protocol, device id) or both. A transport is present when its settings are: an IP address and a
// port above 0 for Ethernet, a baud rate above 0 for CAN.
class SensorAddressMobileCan : public SensorAddress {
public:
    static constexpr const char* KIND = "MobileCan";

    SensorAddressMobileCan() = default;
    SensorAddressMobileCan(const QString& name, const QByteArray& sensorTypeId);
    SensorAddressMobileCan(const QString& name, const QByteArray& sensorTypeId, const QString& ipAddress,
                           int udpPort, const QString& serialNumber);

    QString getIpAddress() const { return ipAddress; }
    void setIpAddress(const QString& value) { ipAddress = value; }
    int getUdpPort() const { return udpPort; }
    void setUdpPort(int value) { udpPort = value; }
    int getCanBaudRate() const { return canBaudRate; }
    void setCanBaudRate(int value) { canBaudRate = value; }
    int getCanDeviceId() const { return canDeviceId; }
    void setCanDeviceId(int value) { canDeviceId = value; }
    CanProtocol getCanProtocol() const { return canProtocol; }
    void setCanProtocol(CanProtocol value) { canProtocol = value; }
    QString getSerialNumber() const { return serialNumber; }
    void setSerialNumber(const QString& value) { serialNumber = value; }

    bool hasUdpSettings() const;
    bool hasCanSettings() const;
    // Removes the CAN settings (baud rate 0, protocol J1939, device id -1): Ethernet only.
    void clearCANSettings();
    // Removes the Ethernet settings: CAN only.
    void clearUdpSettings();

    QString getKind() const override { return QString::fromLatin1(KIND); }
    SensorAdrSP_t clone() const override;
    // Two addresses reach the same sensor when both carry serial numbers and these are equal, or,
    // when a serial number is missing, when they share the type id and every transport both of
    // them have points to the same place (and they have at least one transport in common).
    bool isSameSensor(const SensorAddress& other) const override;
    QString getPrintableAddress() const override;

    bool operator==(const SensorAddressMobileCan& other) const;
    bool operator!=(const SensorAddressMobileCan& other) const { return !(*this == other); }

protected:
    void writeFields(QXmlStreamWriter& writer) const override;
    bool readField(const QString& field, const QString& text, QString* error) override;
    void resetFields() override;

private:
    QString ipAddress;
    int udpPort = 0;
    int canBaudRate = 0;
    int canDeviceId = -1;
    CanProtocol canProtocol = CAN_PROTOCOL_J1939;
    QString serialNumber;
};

typedef QSharedPointer<SensorAddressMobileCan> SensorAdrMobileCanSP_t;
