#pragma once

#include <QLineEdit>
#include <QString>
#include <QWidget>

// Entry of a dotted IPv4 address ("192.168.1.1"). Only digits and dots in four parts of 0 to 255
// can be typed; addressChanged() comes for every edit that leaves a complete address.
class Ip4AddressWidget : public QWidget {
    Q_OBJECT
public:
    explicit Ip4AddressWidget(QWidget* parent = nullptr);

    // The shown text (complete or not).
    QString address() const { return edit->text(); }
    bool hasAcceptableInput() const { return edit->hasAcceptableInput(); }
    // Shows `text` when it is a complete address; false (unchanged) otherwise.
    bool setAddress(const QString& text);
    QLineEdit* lineEdit() const { return edit; }

signals:
    void addressChanged(QString address);

private:
    QLineEdit* edit;
};
