#pragma once

#include <QString>
#include <QWidget>

// The widget that shows a recording during playback. The host's replay hands it the recorded
// packets one by one, possibly from its delivery thread.
class ReplayDataView : public QWidget {
    Q_OBJECT
public:
    explicit ReplayDataView(QWidget* parent = nullptr) : QWidget(parent) {}
    ~ReplayDataView() override;

    virtual void newReplayPacket(const char* data, unsigned int length) = 0;
    // Horizontal pixel offset of the replay window's overlays, passed on to the views.
    virtual void setViewOffset(unsigned int offset) = 0;
    // Shows one of the view's pages by name ("2d", "joint", "3d" for views that have them); false
    // when the view has no such page.
    virtual bool showPage(const QString& page) {
        Q_UNUSED(page);
        return false;
    }

signals:
    // A message for the host's replay window.
    void info(const QString& message);
};
