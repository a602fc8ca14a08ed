#pragma once
// ManualScout_TRVAxx: the manual connection form. The user chooses how the sensor is reached (CAN
// and Ethernet, Ethernet only, CAN only) and enters the settings; "Connect" signals done() and the
// host takes the one address the form builds. The fourth mode flashes a firmware file over CAN
// into a sensor stuck in its boot loader, without a connection. GUI thread; the emergency update
// blocks it for the whole flashing (a notification says so first).

#include "common/sensoraddressmobilecan.h"
#include "sdk/sensorscoutmanual.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QVariant>

class ComboSelectionBox;
class QComboBox;
class IntLineEdit;
class Ip4AddressWidget;
class QLabel;
class QPushButton;
class QWidget;

class ManualScout_TRVAxx : public SensorScoutManual {
    Q_OBJECT
public:
    enum ConnectionMode { CanAndEthernet = 0, EthernetOnly = 1, CanOnly = 2, EmergencyUpdate = 3 };

    explicit ManualScout_TRVAxx(QObject* parent = nullptr);

    QList<SensorAdrSP_t> getFoundSensors() override;
    QString getDisplayName() const override;
    QWidget* createWidget(QWidget* parent) override;
    void resetToDefaults() override;

    // The form's address, as getFoundSensors() lists it.
    SensorAdrMobileCanSP_t buildAddress() const;

public slots:
    void setIPAdr(QString address);
    void setPort();
    void onBaudrateCBIndexChanged(QVariant baudRate);
    void switchedConnectionSelection(QVariant mode);
    void onCanProtocolChanged(QVariant protocol);
    void doEmergencyFWUpdate();

private:
    QString ipAddress = QStringLiteral("192.168.1.1");
    int udpPort = 42000;
    int canBaudRate = 250000;
    int canProtocol = CAN_PROTOCOL_J1939;
    int canDeviceId = 239; // kept while no form exists
    bool useCan = true;
    bool useEthernet = true;

    QPointer<ComboSelectionBox> connectionCB;
    QPointer<ComboSelectionBox> baudrateCB;
    QPointer<ComboSelectionBox> protocolCB;
    QPointer<QComboBox> canInterfaceCB;
    QPointer<QLabel> canAddressLabel;
    QPointer<IntLineEdit> canAddressLE;
    QPointer<Ip4AddressWidget> ipWidget;
    QPointer<IntLineEdit> portLE;
    QPointer<QPushButton> connectButton;
    QPointer<QPushButton> flashButton;
    QList<QPointer<QWidget>> canWidgets;
    QList<QPointer<QWidget>> ethernetWidgets;
};
