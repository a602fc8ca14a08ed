#pragma once
// The replay window: plays a recording into a plug-in's replay view with play/pause, step, a time
// line to seek on and the speed, and shows the recording's description and the view's messages.
// Recordings open from the main window's menu, by dropping a file on either window, or with
// `orlangui --replay FILE [--page 2d|joint|3d]`. GUI thread; the packets reach the view from the
// player's delivery thread (the view is made for that).

#include "capture_replay/replayplayer.h"
#include "sdk/replaydataview.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

class QComboBox;
class QLabel;
class QPushButton;
class QSlider;

class ReplayWindow : public QWidget {
    Q_OBJECT
public:
    // Takes the view (made by the plug-in whose sensor recorded the file).
    explicit ReplayWindow(ReplayDataView* view, QWidget* parent = nullptr);
    ~ReplayWindow() override;

    // Opens and starts playing; false with the reason shown in the window and returned in
    // errorText(). `page` ("2d", "joint", "3d") picks the view's page when it has pages.
    bool open(const QString& fileName, const QString& page = {});
    QString errorText() const { return error; }

    ReplayPlayer& player() { return playback; }
    ReplayDataView* view() const { return dataView; }
    // "Frame 12 / 300" as shown.
    QString frameText() const;

public slots:
    void playPause();
    void stepForward();
    void seek(int packet);
    void setSpeedIndex(int index);

signals:
    // A file was dropped on the window (the main window opens it in a new replay).
    void recordingDropped(const QString& fileName);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void refresh();
    // Playback that finished is started again (paused) before a step or a seek.
    void ensurePlaying();

    ReplayPlayer playback; // stops delivering before the view goes
    QPointer<ReplayDataView> dataView;
    QLabel* description;
    QLabel* messages;
    QPushButton* playButton;
    QPushButton* stepButton;
    QSlider* timeline;
    QLabel* frameLabel;
    QComboBox* speed;
    QTimer refreshTimer;
    QString error;
};
