#include "plugin/sensorpanel_trvaxx.h"

#include "2D3D/resultvisualization.h"
#include "result/resulttransformer_trvaxx.h"

#include "plugin/sensor_trvaxx.h"

#include "parammodel/pcdevice_trvaxx.h"

#include <QHeaderView>
#include <QLabel>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

SensorPanel_TRVAXX::SensorPanel_TRVAXX(Sensor_TRVAXX& sensor, QWidget* parent)
    : QWidget(parent), sensor(sensor) {
    setObjectName(QStringLiteral("sensorPanel"));
    identity = new QLabel(this);
    identity->setObjectName(QStringLiteral("sensorIdentity"));
    identity->setTextInteractionFlags(Qt::TextSelectableByMouse);

    parameters = new QTableWidget(0, 3, this);
    parameters->setObjectName(QStringLiteral("sensorParameters"));
    parameters->setHorizontalHeaderLabels({tr("Id"), tr("Parameter"), tr("Value")});
    parameters->verticalHeader()->hide();
    parameters->horizontalHeader()->setStretchLastSection(true);
    parameters->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    parameters->setEditTriggers(QAbstractItemView::NoEditTriggers);

    auto* views = new QWidget(this);
    views->setObjectName(QStringLiteral("resultViewArea"));
    viewArea = new QVBoxLayout(views);
    viewArea->setContentsMargins(0, 0, 0, 0);
    // The live views on a transformer of their own over the connection's result cache.
    transformer = new ResultTransformer_TRVAXX(sensor.getResultCache(), this);
    visualization = new ResultVisualization(true, views);
    visualization->setObjectName(QStringLiteral("resultVisualization"));
    visualization->connectTransformer(transformer);
    viewArea->addWidget(visualization);

    auto* split = new QSplitter(Qt::Horizontal, this);
    split->addWidget(views);
    split->addWidget(parameters);
    split->setStretchFactor(0, 2);
    split->setStretchFactor(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(identity);
    layout->addWidget(split, 1);

    refreshTimer.setInterval(REFRESH_MS);
    connect(&refreshTimer, &QTimer::timeout, this, &SensorPanel_TRVAXX::refresh);
    refreshTimer.start();
    refresh();
}

void SensorPanel_TRVAXX::refresh() {
    QString software, variant, article;
    if (const ResultDataSP_TRVAXX latest = sensor.getResultCache()->getResult()) {
        software = latest->softwareVersion;
        variant = latest->cameraVariant;
        article = latest->partNumber;
    } else {
        const QStringList can = sensor.getCanDeviceIdentification();
        software = can.value(0);
        variant = can.value(1);
        article = can.value(2);
    }
    const SensorAdrMobileCanSP_t address = sensor.getMobileAddress();
    identity->setText(
        tr("%1 (%2)\nSerial number %3, software %4, variant %5, article number %6, variant code %7")
            .arg(address ? address->getName() : QString(),
                 address ? address->getPrintableAddress() : QString(), sensor.getSerialNumber(), software,
                 variant.trimmed(), article)
            .arg(sensor.getVariantCode()));

    const ParamCache* cache = sensor.getPCDevice();
    const QList<int> ids = cache ? cache->getParameterIds() : QList<int>();
    parameters->setRowCount(int(ids.size()));
    for (int row = 0; row < ids.size(); ++row) {
        const int id = ids[row];
        const QString texts[3] = {QString::number(id), cache->getParameterName(id),
                                  cache->getParameter(id).toString()};
        for (int column = 0; column < 3; ++column) {
            QTableWidgetItem* item = parameters->item(row, column);
            if (!item) {
                item = new QTableWidgetItem;
                parameters->setItem(row, column, item);
            }
            if (item->text() != texts[column])
                item->setText(texts[column]);
        }
    }
}
