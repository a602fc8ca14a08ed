#include "2D3D/viewselectionstrip.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QPushButton>

ViewSelectionStrip::ViewSelectionStrip(bool withJointView, QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    auto makeButton = [&](const QString& text) {
        auto* button = new QPushButton(text, this);
        button->setCheckable(true);
        button->setAutoExclusive(true);
        layout->addWidget(button);
        return button;
    };
    show2D = makeButton(tr("2D"));
    show2D3D = makeButton(tr("2D/3D"));
    show3D = makeButton(tr("3D"));
    layout->addSpacing(12);
    cameras = new QComboBox(this);
    cameras->setMinimumContentsLength(16);
    cameras->setToolTip(tr("Camera of the joint view"));
    layout->addWidget(cameras);
    find = new QPushButton(tr("Find cameras"), this);
    layout->addWidget(find);
    layout->addStretch(1);
    for (QWidget* w :
         {static_cast<QWidget*>(show2D3D), static_cast<QWidget*>(cameras), static_cast<QWidget*>(find)})
        w->setEnabled(withJointView);

    connect(show2D, &QPushButton::clicked, this, &ViewSelectionStrip::switchTo2D);
    connect(show2D3D, &QPushButton::clicked, this, &ViewSelectionStrip::switchTo2D3D);
    connect(show3D, &QPushButton::clicked, this, &ViewSelectionStrip::switchTo3D);
    connect(find, &QPushButton::clicked, this, &ViewSelectionStrip::findDevices);
    connect(cameras, &QComboBox::textActivated, this, &ViewSelectionStrip::openDevice);
}

void ViewSelectionStrip::setDeviceList(QStringList devices) {
    const QString current = cameras->currentText();
    cameras->clear();
    cameras->addItems(devices);
    cameras->setCurrentIndex(qMax(0, devices.indexOf(current)));
}

void ViewSelectionStrip::setMode(int mode) {
    QPushButton* buttons[] = {show2D, show2D3D, show3D};
    if (mode >= 0 && mode < 3)
        buttons[mode]->setChecked(true);
}
