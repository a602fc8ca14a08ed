#include "2D3D/pixselparametermenubar.h"

#include "common/unittext.h"

#include "visualization2d/arrayimageconverter.h"

#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QPainter>
#include <QVBoxLayout>

namespace {

// The legend in the order it is shown; the colours are the converter's confidence colours.
struct LegendEntry {
    ConfidenceClass cls;
    const char* text;
};
const LegendEntry LEGEND[] = {
    {CONFIDENCE_VALID, QT_TRANSLATE_NOOP("PixSelParameterMenuBar", "Pixel valid")},
    {CONFIDENCE_INVALID, QT_TRANSLATE_NOOP("PixSelParameterMenuBar", "Pixel invalid")},
    {CONFIDENCE_CLIPPING_BOX, QT_TRANSLATE_NOOP("PixSelParameterMenuBar", "Clipping box on 3D data")},
    {CONFIDENCE_GROUND, QT_TRANSLATE_NOOP("PixSelParameterMenuBar", "Estimated as ground")},
    {CONFIDENCE_INTERFERENCE, QT_TRANSLATE_NOOP("PixSelParameterMenuBar", "Interference detected")},
    {CONFIDENCE_SPRAY, QT_TRANSLATE_NOOP("PixSelParameterMenuBar", "Spray/Fog/Dust detected")},
    {CONFIDENCE_RANGE, QT_TRANSLATE_NOOP("PixSelParameterMenuBar", "Filtered by Range")},
};

QLabel* swatch(QRgb color, QWidget* parent) {
    auto* label = new QLabel(parent);
    QPixmap pixmap(14, 14);
    pixmap.fill(QColor::fromRgb(color));
    label->setPixmap(pixmap);
    return label;
}

QGroupBox* box(QWidget* content, QWidget* parent) {
    auto* group = new QGroupBox(parent);
    auto* layout = new QVBoxLayout(group);
    layout->setContentsMargins(6, 4, 6, 4);
    layout->addWidget(content);
    return group;
}

} // namespace

ValueViewer::ValueViewer(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void ValueViewer::setValue(const QString& text, const QColor& color) {
    value = text;
    background = color;
    update();
}

QSize ValueViewer::sizeHint() const {
    return QSize(120, fontMetrics().height() + 8);
}

void ValueViewer::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QColor fill =
        background.isValid() && background.alpha() > 0 ? background : palette().color(QPalette::Base);
    painter.fillRect(rect(), fill);
    painter.setPen(qGray(fill.rgb()) > 128 ? Qt::black : Qt::white);
    painter.drawText(rect(), Qt::AlignCenter, value);
}

GradientValueIndicator::GradientValueIndicator(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void GradientValueIndicator::setValue(int v) {
    current = qBound(-1, v, 255);
    update();
}

QSize GradientValueIndicator::sizeHint() const {
    return QSize(160, fontMetrics().height() + 10);
}

void GradientValueIndicator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int numberWidth = fontMetrics().horizontalAdvance(QStringLiteral("0000"));
    const QRect bar = rect().adjusted(0, 2, -numberWidth - 4, -2);
    QLinearGradient gradient(bar.topLeft(), bar.topRight());
    gradient.setColorAt(0, Qt::black);
    gradient.setColorAt(1, Qt::white);
    painter.fillRect(bar, gradient);
    if (current < 0)
        return;
    const int x = bar.left() + current * (bar.width() - 1) / 255;
    painter.setPen(QPen(palette().color(QPalette::Highlight), 3));
    painter.drawLine(x, bar.top(), x, bar.bottom());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(QRect(bar.right() + 4, 0, numberWidth, height()), Qt::AlignVCenter | Qt::AlignRight,
                     QString::number(current));
}

PixSelParameterMenuBar::PixSelParameterMenuBar(QWidget* parent) : QWidget(parent) {
    title = new QLabel(this);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);

    position = new QLabel(this);
    positionBox = box(position, this);

    auto* coordinateWidget = new QWidget(this);
    auto* coordinateLayout = new QVBoxLayout(coordinateWidget);
    coordinateLayout->setContentsMargins(0, 0, 0, 0);
    for (QLabel*& label : coordinates) {
        label = new QLabel(coordinateWidget);
        coordinateLayout->addWidget(label);
    }
    coordinateBox = box(coordinateWidget, this);

    distance = new ValueViewer(this);
    distanceBox = box(distance, this);
    amplitude = new GradientValueIndicator(this);
    amplitudeBox = box(amplitude, this);
    exposure = new ValueViewer(this);
    exposureBox = box(exposure, this);

    auto* legend = new QWidget(this);
    auto* legendLayout = new QGridLayout(legend);
    legendLayout->setContentsMargins(0, 0, 0, 0);
    int line = 0;
    for (const LegendEntry& entry : LEGEND) {
        legendLayout->addWidget(swatch(ArrayImageConverter::confidenceClassColor(entry.cls), legend), line,
                                0);
        auto* text = new QLabel(legend);
        legendLayout->addWidget(text, line++, 1);
        legendTexts.append(text);
    }
    legendLayout->setColumnStretch(1, 1);
    legendBox = box(legend, this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    for (QWidget* w : {static_cast<QWidget*>(title), static_cast<QWidget*>(positionBox),
                       static_cast<QWidget*>(coordinateBox), static_cast<QWidget*>(distanceBox),
                       static_cast<QWidget*>(amplitudeBox), static_cast<QWidget*>(exposureBox),
                       static_cast<QWidget*>(legendBox)})
        layout->addWidget(w);
    layout->addStretch(1);
    retranslateUi();
    clearValues();
}

void PixSelParameterMenuBar::retranslateUi() {
    title->setText(tr("Pixel Properties"));
    positionBox->setTitle(tr("Pixel Position"));
    coordinateBox->setTitle(tr("Cartesian Coordinate System"));
    distanceBox->setTitle(tr("Distance Value of Pixel"));
    amplitudeBox->setTitle(tr("Amplitude Value of Pixel"));
    exposureBox->setTitle(tr("Exposure"));
    legendBox->setTitle(tr("Confidence Legend"));
    for (int i = 0; i < legendTexts.size(); ++i)
        legendTexts[i]->setText(tr(LEGEND[i].text));
    refresh();
}

void PixSelParameterMenuBar::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange)
        retranslateUi();
    QWidget::changeEvent(event);
}

void PixSelParameterMenuBar::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh(); // results that came while hidden were kept but not read
}

void PixSelParameterMenuBar::processNewData(PrimedResultSP_TRVAXX_t primedResult) {
    primed = primedResult;
    const ResultDataSP_TRVAXX& record = primed ? primed->getResult() : ResultDataSP_TRVAXX();
    width = record ? record->sensorWidth : 0;
    height = record ? record->sensorHeight : 0;
    refresh();
}

void PixSelParameterMenuBar::setPos(int c, int r) {
    column = c;
    row = r;
    refresh();
}

void PixSelParameterMenuBar::setAmplitudeLogarithmic(bool enable) {
    if (logarithmic == enable)
        return;
    logarithmic = enable;
    refresh();
}

void PixSelParameterMenuBar::clearValues() {
    linearIndex = -1;
    position->clear();
    for (QLabel* label : coordinates)
        label->clear();
    distance->setValue(QString());
    amplitude->setValue(-1);
    exposure->setValue(QString());
}

void PixSelParameterMenuBar::refresh() {
    if (!primed || !primed->hasResult() || !isVisible() || width < TRVAXX_SENSOR_WIDTH ||
        height < TRVAXX_SENSOR_HEIGHT)
        return;
    // The record holds 64 × 16 pixels; a larger announced size never reads past it.
    if (column < 0 || row < 0 || column >= width || row >= height ||
        row * width + column >= TRVAXX_PIXEL_COUNT) {
        clearValues();
        return;
    }
    const ResultData_TRVAXX& record = *primed->getResult();
    linearIndex = row * width + column;
    const size_t i = size_t(linearIndex);
    const quint16 c = record.confidence[i];

    const QImage& amplitudeImage =
        logarithmic ? primed->getLogarithmicAmplitudeImage() : primed->getAmplitudeImage();
    amplitude->setValue(amplitudeImage.valid(column, row) ? qRed(amplitudeImage.pixel(column, row)) : -1);

    const QImage& distanceImage = primed->getDistanceImage();
    const QColor distanceColor =
        distanceImage.valid(column, row) ? QColor::fromRgba(distanceImage.pixel(column, row)) : QColor();
    if (c & 0x1)
        distance->setValue(tr("invalid"), distanceColor);
    else
        distance->setValue(unitText(record.cameraAxisDistance[i], Unit::Meter, 2), distanceColor);

    position->setText(tr("Column %1, Row %2").arg(column).arg(row));
    coordinates[0]->setText(tr("x: %1").arg(record.X[i], 0, 'f', 2));
    coordinates[1]->setText(tr("y: %1").arg(record.Y[i], 0, 'f', 2));
    coordinates[2]->setText(tr("z: %1").arg(record.Z[i], 0, 'f', 2));
    exposure->setValue((c & 0x2) ? tr("Long") : tr("Short"));
}
