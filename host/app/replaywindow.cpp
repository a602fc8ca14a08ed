#include "app/replaywindow.h"

#include "sdk/replaydataview.h"

#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

namespace {

const struct {
    const char* text;
    double speed;
} kSpeeds[] = {{"0.25 x", 0.25}, {"0.5 x", 0.5}, {"1 x", 1.0},
               {"2 x", 2.0},     {"4 x", 4.0},   {"As fast as possible", 0}};
constexpr int kNormalSpeed = 2;

} // namespace

ReplayWindow::ReplayWindow(ReplayDataView* view, QWidget* parent) : QWidget(parent), dataView(view) {
    setWindowTitle(tr("Replay"));
    setAcceptDrops(true);
    auto* layout = new QVBoxLayout(this);
    description = new QLabel(this);
    description->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(description);
    if (dataView) {
        dataView->setParent(this);
        layout->addWidget(dataView, 1);
        connect(dataView, &ReplayDataView::info, this,
                [this](const QString& text) { messages->setText(text); });
    }
    messages = new QLabel(this);
    messages->setWordWrap(true);
    layout->addWidget(messages);

    auto* controls = new QHBoxLayout;
    playButton = new QPushButton(tr("Pause"), this);
    playButton->setObjectName(QStringLiteral("playButton"));
    stepButton = new QPushButton(tr("Step"), this);
    stepButton->setObjectName(QStringLiteral("stepButton"));
    timeline = new QSlider(Qt::Horizontal, this);
    timeline->setObjectName(QStringLiteral("timeline"));
    timeline->setTracking(false); // seek when the handle is let go, not on every move
    frameLabel = new QLabel(this);
    speed = new QComboBox(this);
    speed->setObjectName(QStringLiteral("speed"));
    for (const auto& s : kSpeeds)
        speed->addItem(tr(s.text));
    speed->setCurrentIndex(kNormalSpeed);
    controls->addWidget(playButton);
    controls->addWidget(stepButton);
    controls->addWidget(timeline, 1);
    controls->addWidget(frameLabel);
    controls->addWidget(speed);
    layout->addLayout(controls);

    connect(playButton, &QPushButton::clicked, this, &ReplayWindow::playPause);
    connect(stepButton, &QPushButton::clicked, this, &ReplayWindow::stepForward);
    connect(timeline, &QSlider::valueChanged, this, &ReplayWindow::seek);
    connect(speed, &QComboBox::currentIndexChanged, this, &ReplayWindow::setSpeedIndex);
    connect(&playback, &ReplayPlayer::finished, this, [this](qint64, bool damaged, const QString& message) {
        if (damaged)
            messages->setText(tr("The recording is damaged: %1").arg(message));
        refresh();
    });
    refreshTimer.setInterval(100);
    connect(&refreshTimer, &QTimer::timeout, this, &ReplayWindow::refresh);
    refreshTimer.start();
    refresh();
}

ReplayWindow::~ReplayWindow() {
    playback.stop();
}

bool ReplayWindow::open(const QString& fileName, const QString& page) {
    error.clear();
    if (!dataView)
        error = tr("No plug-in can show recordings.");
    else if (!playback.open(fileName))
        error = playback.errorString();
    if (!error.isEmpty()) {
        messages->setText(tr("Cannot replay %1: %2").arg(QFileInfo(fileName).fileName(), error));
        return false;
    }
    const RecordingInfo& info = playback.recordingInfo();
    description->setText(tr("%1 — %2, recorded %3, %4 frames, %5 s")
                             .arg(QFileInfo(fileName).fileName(), info.writingContext,
                                  info.startTime.toLocalTime().toString(Qt::ISODate))
                             .arg(playback.packetCount())
                             .arg(double(playback.durationUs()) / 1e6, 0, 'f', 1));
    setWindowTitle(tr("Replay — %1").arg(QFileInfo(fileName).fileName()));
    if (!page.isEmpty() && !dataView->showPage(page))
        messages->setText(tr("The view has no page \"%1\".").arg(page));
    ReplayDataView* target = dataView;
    playback.setHandler(
        [target](const char* data, unsigned length, quint64) { target->newReplayPacket(data, length); });
    {
        const QSignalBlocker block(timeline);
        timeline->setRange(0, int(std::max<qint64>(0, playback.packetCount() - 1)));
        timeline->setValue(0);
    }
    setSpeedIndex(speed->currentIndex());
    playback.start();
    refresh();
    return true;
}

QString ReplayWindow::frameText() const {
    return tr("Frame %1 / %2").arg(playback.currentPacket() + 1).arg(playback.packetCount());
}

void ReplayWindow::ensurePlaying() {
    if (!playback.isPlaying() && playback.packetCount() > 0)
        playback.start(true);
}

void ReplayWindow::playPause() {
    if (!playback.isPlaying()) {
        playback.start();
    } else {
        playback.setPaused(!playback.isPaused());
    }
    refresh();
}

void ReplayWindow::stepForward() {
    ensurePlaying();
    if (!playback.isPaused())
        playback.setPaused(true);
    playback.step();
    refresh();
}

void ReplayWindow::seek(int packet) {
    ensurePlaying();
    playback.seek(packet);
    refresh();
}

void ReplayWindow::setSpeedIndex(int index) {
    if (index >= 0 && index < int(std::size(kSpeeds)))
        playback.setSpeed(kSpeeds[index].speed);
}

void ReplayWindow::refresh() {
    frameLabel->setText(frameText());
    playButton->setText(playback.isPlaying() && !playback.isPaused() ? tr("Pause") : tr("Play"));
    if (!timeline->isSliderDown()) {
        const QSignalBlocker block(timeline);
        timeline->setValue(int(std::max<qint64>(0, playback.currentPacket())));
    }
}

void ReplayWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() && event->mimeData()->urls().value(0).isLocalFile())
        event->acceptProposedAction();
}

void ReplayWindow::dropEvent(QDropEvent* event) {
    const QUrl url = event->mimeData()->urls().value(0);
    if (url.isLocalFile()) {
        event->acceptProposedAction();
        emit recordingDropped(url.toLocalFile());
    }
}
