#include "scout/manualscout_trvaxx.h"

#include "can-communication/canbuscontroller.h"
#include "common/commonutilities.h"
#include "common/notificationmanager.h"
#include "common/styleproxy.h"
#include "gui_controls/comboselectionbox.h"
#include "gui_controls/intlineedit.h"
#include "gui_controls/ip4addresswidget.h"
#include "gui_controls/overlaydialog.h"
#include "scout/automaticscout_trvaxx.h"
#include "scout/scoutlog_trvaxx.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>

namespace {

void setVisible(const QList<QPointer<QWidget>>& widgets, bool visible) {
    for (const QPointer<QWidget>& w : widgets)
        if (w)
            w->setVisible(visible);
}

} // namespace

ManualScout_TRVAxx::ManualScout_TRVAxx(QObject* parent) : SensorScoutManual(parent) {}

QString ManualScout_TRVAxx::getDisplayName() const {
    return tr("TRVAXX Manual Connect");
}

QList<SensorAdrSP_t> ManualScout_TRVAxx::getFoundSensors() {
    return {buildAddress()};
}

SensorAdrMobileCanSP_t ManualScout_TRVAxx::buildAddress() const {
    auto address = SensorAdrMobileCanSP_t::create(tr("TRVAxx Device"), QByteArray("TRVAxx"));
    if (useCan) {
        address->setCanBaudRate(canBaudRate);
        address->setCanProtocol(canProtocol == CAN_PROTOCOL_CANOPEN ? CAN_PROTOCOL_CANOPEN
                                                                    : CAN_PROTOCOL_J1939);
        address->setCanDeviceId(canAddressLE ? canAddressLE->value() : canDeviceId);
    }
    if (useEthernet) {
        address->setIpAddress(ipAddress);
        address->setUdpPort(udpPort);
    }
    return address;
}

QWidget* ManualScout_TRVAxx::createWidget(QWidget* parent) {
    auto* form = new QWidget(parent);
    form->setStyleSheet(StyleProxy::getProperty("overlayWindowContent", QString()).toString());
    auto* layout = new QFormLayout(form);

    connectionCB = new ComboSelectionBox(form);
    connectionCB->addSelection(tr("CAN & Ethernet"), CanAndEthernet);
    connectionCB->addSelection(tr("Ethernet only"), EthernetOnly);
    connectionCB->addSelection(tr("CAN only"), CanOnly);
    connectionCB->addSelection(tr("Emergency Firmware Update"), EmergencyUpdate);
    layout->addRow(tr("Connection"), connectionCB);

    baudrateCB = new ComboSelectionBox(form);
    for (int rate : {125000, 250000, 500000, 800000, 1000000})
        baudrateCB->addSelection(tr("%1kbit/s").arg(rate / 1000), rate);
    baudrateCB->setCurrentValue(canBaudRate);
    auto* baudLabel = new QLabel(tr("Baudrate"), form);
    layout->addRow(baudLabel, baudrateCB);

    protocolCB = new ComboSelectionBox(form);
    protocolCB->addSelection(tr("J1939"), int(CAN_PROTOCOL_J1939));
    protocolCB->addSelection(tr("CANOpen"), int(CAN_PROTOCOL_CANOPEN));
    protocolCB->setCurrentValue(canProtocol);
    auto* protocolLabel = new QLabel(tr("CAN Protocol"), form);
    layout->addRow(protocolLabel, protocolCB);

    canAddressLabel = new QLabel(form);
    canAddressLE = new IntLineEdit(form);
    layout->addRow(canAddressLabel, canAddressLE);

    // The CAN interface the connection opens (the setting the CAN interface plug-in reads): the
    // one configured, and the buses that gateway beacons announced in the last automatic search.
    canInterfaceCB = new QComboBox(form);
    canInterfaceCB->setEditable(true);
    const QString configured =
        CommonUtilities::gocSettings().value(QStringLiteral("plugin_trvaxx/can_interface")).toString();
    canInterfaceCB->addItem(configured);
    for (const QString& bus : AutomaticScout_TRVAxx::announcedCanInterfaces())
        if (bus != configured)
            canInterfaceCB->addItem(bus);
    canInterfaceCB->lineEdit()->setPlaceholderText(tr("default interface"));
    auto* interfaceLabel = new QLabel(tr("CAN Interface"), form);
    layout->addRow(interfaceLabel, canInterfaceCB);

    ipWidget = new Ip4AddressWidget(form);
    ipWidget->setAddress(ipAddress);
    auto* ipLabel = new QLabel(tr("IP-Address"), form);
    layout->addRow(ipLabel, ipWidget);

    portLE = new IntLineEdit(form);
    portLE->setRange(1, 65535);
    portLE->setValue(udpPort);
    auto* portLabel = new QLabel(tr("UDP Port"), form);
    layout->addRow(portLabel, portLE);

    connectButton = new QPushButton(tr("Connect"), form);
    flashButton = new QPushButton(tr("Flash Firmware"), form);
    flashButton->hide();
    layout->addRow(connectButton);
    layout->addRow(flashButton);

    // Names for style sheets and for tests that drive the form.
    connectionCB->setObjectName(QStringLiteral("connectionCB"));
    baudrateCB->setObjectName(QStringLiteral("baudrateCB"));
    protocolCB->setObjectName(QStringLiteral("protocolCB"));
    canAddressLE->setObjectName(QStringLiteral("canAddressLE"));
    canInterfaceCB->setObjectName(QStringLiteral("canInterfaceCB"));
    ipWidget->setObjectName(QStringLiteral("ipWidget"));
    portLE->setObjectName(QStringLiteral("portLE"));
    connectButton->setObjectName(QStringLiteral("connectButton"));
    flashButton->setObjectName(QStringLiteral("flashButton"));

    canWidgets = {baudLabel,         baudrateCB.data(),      protocolLabel,
                  protocolCB.data(), canAddressLabel.data(), canAddressLE.data(),
                  interfaceLabel,    canInterfaceCB.data()};
    ethernetWidgets = {ipLabel, ipWidget.data(), portLabel, portLE.data()};

    connect(protocolCB, SIGNAL(changed(QVariant)), this, SLOT(onCanProtocolChanged(QVariant)));
    connect(ipWidget, SIGNAL(addressChanged(QString)), this, SLOT(setIPAdr(QString)));
    connect(portLE, SIGNAL(textEdited(QString)), this, SLOT(setPort()));
    connect(baudrateCB, SIGNAL(changed(QVariant)), this, SLOT(onBaudrateCBIndexChanged(QVariant)));
    connect(canInterfaceCB, &QComboBox::currentTextChanged, this, [](const QString& url) {
        CommonUtilities::gocSettings().setValue(QStringLiteral("plugin_trvaxx/can_interface"), url.trimmed());
    });
    connect(connectButton, SIGNAL(clicked()), this, SIGNAL(done()));
    connect(flashButton, SIGNAL(clicked()), this, SLOT(doEmergencyFWUpdate()));
    connect(connectionCB, SIGNAL(changed(QVariant)), this, SLOT(switchedConnectionSelection(QVariant)));

    // The address row follows the protocol; the kept device id survives the reset it makes.
    const int keptId = canDeviceId;
    onCanProtocolChanged(canProtocol);
    canAddressLE->setValue(keptId);
    connectionCB->setCurrentValue(!useEthernet ? CanOnly : !useCan ? EthernetOnly : CanAndEthernet);
    switchedConnectionSelection(connectionCB->currentValue());
    return form;
}

void ManualScout_TRVAxx::resetToDefaults() {
    udpPort = 42000;
    ipAddress = QStringLiteral("192.168.1.1");
    canBaudRate = 250000;
    if (portLE)
        portLE->setValue(udpPort);
    if (ipWidget)
        ipWidget->setAddress(ipAddress);
    if (baudrateCB)
        baudrateCB->setCurrentValue(canBaudRate);
}

void ManualScout_TRVAxx::setIPAdr(QString address) {
    ipAddress = address;
}

void ManualScout_TRVAxx::setPort() {
    if (portLE)
        udpPort = portLE->value();
}

void ManualScout_TRVAxx::onBaudrateCBIndexChanged(QVariant baudRate) {
    canBaudRate = baudRate.toInt();
}

void ManualScout_TRVAxx::switchedConnectionSelection(QVariant mode) {
    const int m = mode.toInt();
    if (connectButton)
        connectButton->setVisible(m != EmergencyUpdate);
    if (flashButton)
        flashButton->setVisible(m == EmergencyUpdate);
    useCan = m != EthernetOnly;
    useEthernet = m == CanAndEthernet || m == EthernetOnly;
    setVisible(canWidgets, useCan);
    setVisible(ethernetWidgets, useEthernet);
}

void ManualScout_TRVAxx::onCanProtocolChanged(QVariant protocol) {
    canProtocol = protocol.toInt();
    const bool canopen = canProtocol == CAN_PROTOCOL_CANOPEN;
    canDeviceId = canopen ? 10 : 239;
    if (canAddressLabel)
        canAddressLabel->setText(canopen ? tr("Node id:") : tr("Source address:"));
    if (canAddressLE) {
        canAddressLE->setRange(0, canopen ? 127 : 253);
        canAddressLE->setValue(canDeviceId);
    }
}

void ManualScout_TRVAxx::doEmergencyFWUpdate() {
    const SensorAdrMobileCanSP_t address = buildAddress();
    if (!address)
        return;
    const QString path =
        OverlayHelper::getOpenFilePath(flashButton ? flashButton->window() : nullptr, tr("Choose firmware"),
                                       CommonUtilities::getDefaultFWDir(), tr("Firmware File (*.fcr)"));
    if (path.isEmpty())
        return;
    NotificationManager& notifications = NotificationManager::instance();
    notifications.displayNotification(new GenericNotification(
        tr("Starting Firmware Update"), tr("The GUI might freeze for a few minutes."), NOTIFICATION_INFO));
    CommonUtilities::sleepQtFriendly(500);

    auto* controller = new CanBusController();
    // A sensor in its boot loader cannot answer the connection's verification read.
    int result = controller->connectDevice(address, false);
    if (result == 0) {
        qCDebug(lcScout).noquote() << "Emergency firmware update of" << address->getPrintableAddress()
                                   << "from" << path;
        result = controller->firmwareupdate(path, true);
        if (result == 0)
            notifications.displayNotification(
                new GenericNotification(tr("Firmware Update Successful"), QString(), NOTIFICATION_INFO));
        controller->disconnectDevice();
    }
    if (result != 0)
        notifications.displayNotification(result);
    delete controller;
}
