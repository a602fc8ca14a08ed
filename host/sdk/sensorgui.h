#pragma once

#include <QObject>

class HostFrame;

// Kinds of GUI a sensor type may be asked for; only the default exists so far.
enum GuiType { GUI_TYPE_DEFAULT = 0 };

// The host's handle of a connected sensor's GUI controller.
class SensorGUI : public QObject {
    Q_OBJECT
public:
    explicit SensorGUI(QObject* parent = nullptr) : QObject(parent) {}
    ~SensorGUI() override;

    // Opens the connection and builds the screens. Returns 0, or a notification id that the host
    // shows.
    virtual int start(HostFrame* hostFrame) = 0;
    virtual bool shutDown() = 0;

signals:
    void finishedLoading();
    void percentageLoaded(int percent);
};
