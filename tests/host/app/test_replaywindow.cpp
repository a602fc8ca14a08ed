// The replay window as a user drives it.

#include "app/replaywindow.h"
#include "tests/host/capture_replay/recordings.h"

#include <QComboBox>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>

namespace {

class CountingView : public ReplayDataView {
public:
    void newReplayPacket(const char* data, unsigned int length) override {
        last = QByteArray(data, int(length)).toInt();
        ++packets;
    }
    void setViewOffset(unsigned int) override {}
    bool showPage(const QString& name) override {
        page = name;
        return name == QLatin1String("3d");
    }
    std::atomic<int> packets{0}, last{-1};
    QString page;
};

TEST(ReplayWindow, PlayPauseStepSeekAndSpeed) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("run.rec"));
    writeRecording(file, evenly(40, 40'000), [](int i) { return QByteArray::number(i); });

    auto* view = new CountingView;
    ReplayWindow window(view);
    window.show();
    ASSERT_TRUE(window.open(file, QStringLiteral("3d")));
    EXPECT_EQ(view->page, "3d");
    auto* play = window.findChild<QPushButton*>(QStringLiteral("playButton"));
    auto* step = window.findChild<QPushButton*>(QStringLiteral("stepButton"));
    auto* timeline = window.findChild<QSlider*>(QStringLiteral("timeline"));
    auto* speed = window.findChild<QComboBox*>(QStringLiteral("speed"));
    ASSERT_TRUE(play && step && timeline && speed);
    EXPECT_EQ(timeline->maximum(), 39);

    ASSERT_TRUE(QTest::qWaitFor([&] { return view->last >= 3; }, 3000)) << "plays at the recorded pace";
    QTest::mouseClick(play, Qt::LeftButton);
    QTest::qWait(120);
    const int held = view->last;
    QTest::qWait(200);
    EXPECT_EQ(view->last, held) << "paused";
    EXPECT_EQ(play->text(), "Play");

    QTest::mouseClick(step, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->last == held + 1; }, 2000));
    timeline->setValue(30); // the handle let go at frame 31
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->last == 30; }, 2000));
    QTest::qWait(150);
    EXPECT_EQ(window.frameText(), "Frame 31 / 40");
    EXPECT_EQ(timeline->value(), 30);

    speed->setCurrentIndex(speed->findText(QStringLiteral("2 x")));
    QTest::mouseClick(play, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->last == 39; }, 3000));
    EXPECT_EQ(window.frameText(), "Frame 40 / 40");
    // Played to the end: a step starts again from the first frame.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.player().isPlaying(); }, 2000));
    QTest::mouseClick(step, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->last == 0; }, 2000));

    QSignalSpy dropped(&window, &ReplayWindow::recordingDropped);
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(file)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &drop);
    ASSERT_EQ(dropped.size(), 1);
    EXPECT_EQ(dropped.at(0).at(0).toString(), file);
}

} // namespace
