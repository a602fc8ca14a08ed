#include "result/replaydataview_trvaxx.h"

#include "2D3D/resultvisualization.h"
#include "2D3D/view3d_trvaxx.h"
#include "result/resultchain_trvaxx.h"
#include "result/resultlog_trvaxx.h"
#include "result/resulttransformer_trvaxx.h"

#include <QDebug>
#include <QVBoxLayout>

ReplayDataView_TRVAXX::ReplayDataView_TRVAXX(QWidget* parent)
    : ReplayDataView(parent), chain(std::make_unique<ResultChain_TRVAXX>()),
      transformer(new ResultTransformer_TRVAXX(&chain->cache())) {
    layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    visualization = new ResultVisualization(true, this);
    transformer->setMinMaxDistance(0.0, 30.0);
    layout->addWidget(visualization);
    visualization->connectTransformer(transformer);
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
    visualization->getView3D()->setReplayViewOffset(offset);
}

bool ReplayDataView_TRVAXX::showPage(const QString& page) {
    if (page == QLatin1String("2d"))
        visualization->switchTo2D();
    else if (page == QLatin1String("joint") && visualization->getView2D3D())
        visualization->switchTo2D3D();
    else if (page == QLatin1String("3d"))
        visualization->switchTo3D();
    else
        return false;
    return true;
}

void ReplayDataView_TRVAXX::processNewData(PrimedResultSP_TRVAXX_t primedResult) {
    if (!primedResult || !primedResult->hasResult())
        return;
    const ResultDataSP_TRVAXX& r = primedResult->getResult();
    const QString text =
        tr("Sensor %1, firmware %2 %3").arg(r->serialNumber, r->cameraVariant, r->softwareVersion);
    if (text != infoText) {
        infoText = text;
        emit info(infoText);
    }
}
