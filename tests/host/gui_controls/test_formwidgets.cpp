// The form widgets driven by typing.

#include "gui_controls/comboselectionbox.h"
#include "gui_controls/intlineedit.h"
#include "gui_controls/ip4addresswidget.h"

#include <QTest>

#include <gtest/gtest.h>

TEST(FormWidgets, IntLineEditKeepsItsRange) {
    IntLineEdit edit;
    edit.setRange(1, 65535);
    for (const auto& [typed, value] :
         {std::pair{"42000", 42000}, {"99999", 65535}, {"", 1}, {"0", 1}, {"-5", 5}, {"12a", 12}}) {
        edit.clear();
        QTest::keyClicks(&edit, typed);
        emit edit.editingFinished();
        EXPECT_EQ(edit.value(), value) << typed;
        EXPECT_EQ(edit.text(), QString::number(value)) << typed;
    }
    edit.setValue(300);
    edit.setRange(0, 127); // a narrower range brings the value into it
    EXPECT_EQ(edit.value(), 127);
}

TEST(FormWidgets, Ip4AddressWidgetReportsCompleteAddressesOnly) {
    Ip4AddressWidget widget;
    QStringList reported;
    QObject::connect(&widget, &Ip4AddressWidget::addressChanged, [&](const QString& a) { reported << a; });
    QTest::keyClicks(widget.lineEdit(), "10.0.300.1");
    EXPECT_EQ(widget.address(), "10.0.30.1"); // "300" cannot be typed
    EXPECT_EQ(reported.last(), "10.0.30.1");
    EXPECT_FALSE(reported.contains("10.0.30."));
    EXPECT_FALSE(widget.setAddress("1.2.3"));
    EXPECT_EQ(widget.address(), "10.0.30.1");
    EXPECT_TRUE(widget.setAddress("192.168.1.1"));
}

TEST(FormWidgets, ComboSelectionBoxReportsEachChangeWithItsValue) {
    ComboSelectionBox box;
    QVariantList reported;
    QObject::connect(&box, &ComboSelectionBox::changed, [&](const QVariant& v) { reported << v; });
    box.addSelection("125kbit/s", 125000);
    box.addSelection("250kbit/s", 250000);
    EXPECT_TRUE(box.setCurrentValue(250000));
    EXPECT_FALSE(box.setCurrentValue(300000));
    EXPECT_TRUE(box.setCurrentValue(250000)); // no change, no signal
    QTest::keyClick(&box, Qt::Key_Up);
    EXPECT_EQ(reported, (QVariantList{125000, 250000, 125000}));
    EXPECT_EQ(box.currentValue(), 125000);
}
