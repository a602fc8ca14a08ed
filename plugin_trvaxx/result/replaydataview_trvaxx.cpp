#include "result/replaydataview_trvaxx.h"

#include "result/resultchain_trvaxx.h"
#include "result/resultlog_trvaxx.h"
#include "result/resulttransformer_trvaxx.h"

#include <QDebug>
#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

namespace {
// Screen pixels per sensor pixel in the stand-in image.
constexpr int IMAGE_ZOOM = 10;
} // namespace

ReplayDataView_TRVAXX::ReplayDataView_TRVAXX(QWidget* parent)
    : ReplayDataView(parent), chain(std::make_unique<ResultChain_TRVAXX>()),
      transformer(new ResultTransformer_TRVAXX(&chain->cache())) {
    layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    imageLabel = new QLabel(this);
    imageLabel->setAlignment(Qt::AlignCenter);
    imageLabel->setMinimumSize(TRVAXX_SENSOR_WIDTH * IMAGE_ZOOM, TRVAXX_SENSOR_HEIGHT * IMAGE_ZOOM);
    infoLabel = new QLabel(this);
    transformer->setMinMaxDistance(0.0, 30.0);
    layout->addWidget(imageLabel, 1);
    layout->addWidget(infoLabel, 0);
    connect(transformer, SIGNAL(processNewData(PrimedResultSP_TRVAXX_t)), this,
            SLOT(processNewData(PrimedResultSP_TRVAXX_t)));
}

ReplayDataView_TRVAXX::~ReplayDataView_TRVAXX() {
    qCDebug(lcResult) << "~ReplayDataView_TRVAXX";
    delete transformer;
}

ResultCache_TRVAXX* ReplayDataView_TRVAXX::getResultCache() const {
    return &chain->cache();
}

PackageProcessor_TRVAXX* ReplayDataView_TRVAXX::getPackageProcessor() const {
    return &chain->processor();
}

void ReplayDataView_TRVAXX::newReplayPacket(const char* data, unsigned int length) {
    QString error;
    switch (chain->processPacket(data, length, &error)) {
    case ResultChain_TRVAXX::PacketResult::Rejected:
        rejectedPackets.fetch_add(1, std::memory_order_relaxed);
        break;
    case ResultChain_TRVAXX::PacketResult::Failed:
        // A packet that cannot be processed is dropped; playback goes on with the next one.
        qCDebug(lcResult) << "ReplayDataView_TRVAXX: dropped a packet:" << error;
        break;
    case ResultChain_TRVAXX::PacketResult::Processed:
    case ResultChain_TRVAXX::PacketResult::Empty:
        break;
    }
}

void ReplayDataView_TRVAXX::setViewOffset(unsigned int offset) {
    viewOffset = offset;
}

void ReplayDataView_TRVAXX::processNewData(PrimedResultSP_TRVAXX_t primedResult) {
    if (!primedResult || !isVisible())
        return;
    const QImage& image = primedResult->getDistanceImage();
    imageLabel->setPixmap(
        QPixmap::fromImage(image.scaled(image.width() * IMAGE_ZOOM, image.height() * IMAGE_ZOOM)));
    if (const ResultDataSP_TRVAXX& r = primedResult->getResult())
        infoLabel->setText(tr("Frame %1  %2 %3  %4")
                               .arg(r->frameCounter())
                               .arg(r->cameraVariant, r->softwareVersion, r->serialNumber));
}
