#include "visualization/propertyviews_trvaxx.h"

#include "common/unittext.h"

#include <QApplication>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include <cmath>

PropertyPanel_TRVAXX::PropertyPanel_TRVAXX(const QString& titleText, const QStringList& rowLabels,
                                           QWidget* parent)
    : QFrame(parent), title(new QLabel(titleText, this)) {
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(this);
    auto* header = new QHBoxLayout;
    auto* close = new QPushButton(QStringLiteral("×"), this);
    close->setFlat(true);
    close->setFixedSize(20, 20);
    connect(close, SIGNAL(clicked()), this, SLOT(hide()));
    header->addWidget(title, 1);
    header->addWidget(close);
    layout->addLayout(header);
    auto* form = new QFormLayout;
    for (const QString& label : rowLabels) {
        auto* value = new QLabel(this);
        values.append(value);
        form->addRow(label, value);
    }
    layout->addLayout(form);
}

QString PropertyPanel_TRVAXX::valueText(int row) const {
    return values.at(row)->text();
}

LineGuidancePropertyView_TRVAXX::LineGuidancePropertyView_TRVAXX(QWidget* parent)
    : PropertyPanel_TRVAXX(tr("Line Information"),
                           {tr("Line ID:"), tr("Offset to reference point:"),
                            tr("Angular offset to driving direction:"), tr("Height of line structure:"),
                            tr("Area of line structure:"), tr("Line quality:")},
                           parent) {}

void LineGuidancePropertyView_TRVAXX::show(int lineId, const DetectedLineData_TRVAXX& lines) {
    const int count = std::clamp<int>(lines.count, 0, TRVAXX_LINE_COUNT);
    const DetectedLine_TRVAXX* line = nullptr;
    for (int i = 0; i < count && !line; ++i)
        if (lines.lines[size_t(i)].id == lineId)
            line = &lines.lines[size_t(i)];
    if (line) {
        valueLabel(LineId)->setText(QString::number(line->id));
        valueLabel(Offset)->setText(unitText(line->offset, Unit::Meter, 2));
        valueLabel(Angle)->setText(unitText(line->alpha * 180.0 / M_PI, Unit::Degree, 0));
        valueLabel(Height)->setText(unitText(line->heap_height, Unit::Meter, 2));
        valueLabel(Area)->setText(unitText(line->heap_area, Unit::SquareMeter, 2));
        valueLabel(Quality)->setText(unitText(line->quality * 100.0, Unit::Percent, 0));
    }
    adjustSize();
    QWidget::show();
}

CrashPredictorBlock_TRVAXX CrashPredictorBlock_TRVAXX::from(const DetectedObjectData_TRVAXX& o) {
    return {quint8(o.crashPredictorValid & 0xFF), o.crashObjectID, o.crashPredictTime, o.relImpactVelocity,
            o.crashPredicted};
}

CollisionAvoidancePropertyView_TRVAXX::CollisionAvoidancePropertyView_TRVAXX(QWidget* parent)
    : PropertyPanel_TRVAXX(tr("Collision Avoidance:"),
                           {tr("Collision status:"), tr("Predicted impact velocity of collision:"),
                            tr("Predicted time to collision:"), tr("ID of object causing the collision:")},
                           parent),
      beep([] { QApplication::beep(); }) {
    elapsed.start();
    now = [this] { return elapsed.elapsed(); };
}

void CollisionAvoidancePropertyView_TRVAXX::update(const CrashPredictorBlock_TRVAXX& b) {
    QString status;
    switch (b.crashPredicted) {
    case -2:
        status = tr("Not available");
        break;
    case 1:
        status = tr("Crash predicted");
        break;
    case 2:
        status = tr("Error");
        break;
    default:
        status = tr("Crash was predicted");
        break;
    }
    valueLabel(Status)->setText(status);
    setWarning(b.crashPredicted == 1);
    if (b.crashPredicted == 1) {
        const qint64 t = now();
        if (!beeped || t - lastBeep > 1000) {
            beep();
            lastBeep = t;
            beeped = true;
        }
    }
    if (b.valid && b.crashPredicted == 1) {
        valueLabel(ImpactVelocity)->setText(unitText(b.relImpactVelocity, Unit::MeterPerSecond, 2));
        valueLabel(TimeToCollision)->setText(unitText(b.crashPredictTime, Unit::Second, 2));
    } else if (b.crashPredicted < -1 || b.crashPredicted > 1) {
        valueLabel(ImpactVelocity)->setText(tr("Not available"));
        valueLabel(TimeToCollision)->setText(tr("Not available"));
    }
    valueLabel(ObjectId)->setText(QString::number(b.crashObjectID));
}

void CollisionAvoidancePropertyView_TRVAXX::setWarning(bool on) {
    for (QWidget* w : {static_cast<QWidget*>(titleLabel()), static_cast<QWidget*>(valueLabel(Status))}) {
        if (w->property("class").toString() == (on ? QStringLiteral("warning") : QString()))
            continue;
        w->setProperty("class", on ? QVariant(QStringLiteral("warning")) : QVariant());
        w->style()->unpolish(w);
        w->style()->polish(w);
    }
}

bool CollisionAvoidancePropertyView_TRVAXX::isWarning() const {
    return titleLabel()->property("class").toString() == QLatin1String("warning");
}
