// The manual connection form driven through its widgets; its emergency update: test_emergencyupdate.

#include "common/commonutilities.h"
#include "gui_controls/comboselectionbox.h"
#include "gui_controls/intlineedit.h"
#include "gui_controls/ip4addresswidget.h"
#include "scout/automaticscout_trvaxx.h"
#include "scout/manualscout_trvaxx.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

struct Form {
    ManualScout_TRVAxx scout;
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
    QWidget* form = scout.createWidget(window.get());
    template <class W> W* get(const char* name) { return form->findChild<W*>(QLatin1String(name)); }
    Form() { window->show(); }
};

} // namespace

TEST(ManualScout, EveryModeShowsItsRowsAndBuildsItsAddress) {
    struct Case {
        int mode;
        bool can, ethernet;
    } cases[] = {{3, true, false}, {1, false, true}, {2, true, false}, {0, true, true}};
    Form f;
    for (const Case& c : cases) {
        f.get<ComboSelectionBox>("connectionCB")->setCurrentIndex(c.mode);
        EXPECT_EQ(f.get<QWidget>("baudrateCB")->isVisible(), c.can) << c.mode;
        EXPECT_EQ(f.get<QWidget>("canAddressLE")->isVisible(), c.can) << c.mode;
        EXPECT_EQ(f.get<QWidget>("ipWidget")->isVisible(), c.ethernet) << c.mode;
        EXPECT_EQ(f.get<QWidget>("portLE")->isVisible(), c.ethernet) << c.mode;
        EXPECT_EQ(f.get<QWidget>("connectButton")->isVisible(), c.mode != 3) << c.mode;
        EXPECT_EQ(f.get<QWidget>("flashButton")->isVisible(), c.mode == 3) << c.mode;
        const QList<SensorAdrSP_t> found = f.scout.getFoundSensors();
        ASSERT_EQ(found.size(), 1);
        const auto a = found.first().dynamicCast<SensorAddressMobileCan>();
        EXPECT_EQ(a->hasCanSettings(), c.can) << c.mode;
        EXPECT_EQ(a->hasUdpSettings(), c.ethernet) << c.mode;
    }
}

TEST(ManualScout, TypedValuesReachTheAddressAndConnectSignalsDone) {
    Form f;
    int done = 0;
    QObject::connect(&f.scout, &SensorScout::done, [&] { ++done; });
    f.get<ComboSelectionBox>("baudrateCB")->setCurrentIndex(2);
    QLineEdit* ip = f.get<Ip4AddressWidget>("ipWidget")->lineEdit();
    ip->clear();
    QTest::keyClicks(ip, "10.0.0.77");
    auto* port = f.get<IntLineEdit>("portLE");
    port->setText("5"); // not typed: not taken
    port->selectAll();
    QTest::keyClicks(port, "42005");
    auto* node = f.get<IntLineEdit>("canAddressLE");
    node->selectAll();
    QTest::keyClicks(node, "200");
    QTest::mouseClick(f.get<QPushButton>("connectButton"), Qt::LeftButton);
    EXPECT_EQ(done, 1);
    const auto a = f.scout.getFoundSensors().first().dynamicCast<SensorAddressMobileCan>();
    EXPECT_EQ(a->getIpAddress(), "10.0.0.77");
    EXPECT_EQ(a->getUdpPort(), 42005);
    EXPECT_EQ(a->getCanBaudRate(), 500000);
    EXPECT_EQ(a->getCanDeviceId(), 200);

    f.scout.resetToDefaults();
    EXPECT_EQ(port->text(), "42000");
    EXPECT_EQ(ip->text(), "192.168.1.1");
    EXPECT_EQ(f.get<ComboSelectionBox>("baudrateCB")->currentValue().toInt(), 250000);
    const auto reset = f.scout.getFoundSensors().first().dynamicCast<SensorAddressMobileCan>();
    EXPECT_EQ(reset->getUdpPort(), 42000);
    EXPECT_EQ(reset->getCanDeviceId(), 200); // the reset leaves the CAN address alone
}

TEST(ManualScout, ProtocolSwitchResetsTheAddressFieldAndItsRange) {
    Form f;
    auto* protocol = f.get<ComboSelectionBox>("protocolCB");
    auto* node = f.get<IntLineEdit>("canAddressLE");
    auto* label = qobject_cast<QLabel*>(f.form->findChild<QFormLayout*>()->labelForField(node));
    ASSERT_NE(label, nullptr);
    struct Step {
        int index;
        QString label;
        int value, max;
    } steps[] = {{1, "Node id:", 10, 127}, {0, "Source address:", 239, 253}, {1, "Node id:", 10, 127}};
    for (const Step& s : steps) {
        node->setValue(100); // a value typed before the switch does not survive it
        protocol->setCurrentIndex(s.index);
        EXPECT_EQ(label->text(), s.label);
        EXPECT_EQ(node->value(), s.value);
        EXPECT_EQ(node->maximum(), s.max);
        node->selectAll();
        QTest::keyClicks(node, "999");
        node->clearFocus();
        emit node->editingFinished();
        EXPECT_LE(node->value(), s.max);
        const auto a = f.scout.getFoundSensors().first().dynamicCast<SensorAddressMobileCan>();
        EXPECT_EQ(a->getCanProtocol(), s.index == 1 ? CAN_PROTOCOL_CANOPEN : CAN_PROTOCOL_J1939);
    }
}

TEST(ManualScout, OffersTheAnnouncedCanBusesAndKeepsTheChoice) {
    AutomaticScout_TRVAxx::rememberCanInterfaces({QStringLiteral("socketcand://192.0.2.7:29536/can0")});
    CommonUtilities::gocSettings().remove(QStringLiteral("plugin_trvaxx/can_interface"));
    Form f;
    auto* interfaces = f.get<QComboBox>("canInterfaceCB");
    ASSERT_NE(interfaces, nullptr);
    ASSERT_EQ(interfaces->count(), 2) << "the configured (default) interface and the announced bus";
    interfaces->setCurrentIndex(1);
    EXPECT_EQ(CommonUtilities::gocSettings().value(QStringLiteral("plugin_trvaxx/can_interface")).toString(),
              QStringLiteral("socketcand://192.0.2.7:29536/can0"));
    f.get<ComboSelectionBox>("connectionCB")->setCurrentIndex(1);
    EXPECT_FALSE(interfaces->isVisible()) << "Ethernet only";
    CommonUtilities::gocSettings().remove(QStringLiteral("plugin_trvaxx/can_interface"));
}
