#pragma once
// A small bar above the views that stands in for the screens' view-options panel: buttons for the
// 2D, joint and 3D pages, the list of cameras the joint view found and a "Find cameras" action.
// GUI thread only.

#include <QStringList>
#include <QWidget>

class QComboBox;
class QPushButton;

class ViewSelectionStrip : public QWidget {
    Q_OBJECT
public:
    explicit ViewSelectionStrip(bool withJointView, QWidget* parent = nullptr);

    QPushButton* button2D() const { return show2D; }
    QPushButton* button2D3D() const { return show2D3D; }
    QPushButton* button3D() const { return show3D; }
    QPushButton* findButton() const { return find; }
    QComboBox* cameraList() const { return cameras; }

signals:
    void switchTo2D();
    void switchTo2D3D();
    void switchTo3D();
    void findDevices();
    void openDevice(QString device);

public slots:
    void setDeviceList(QStringList devices);
    // Marks the button of the shown page (mode 0, 1, 2).
    void setMode(int mode);

private:
    QPushButton* show2D;
    QPushButton* show2D3D;
    QPushButton* show3D;
    QPushButton* find;
    QComboBox* cameras;
};
