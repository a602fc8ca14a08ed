#pragma once

#include "result/resultdata_trvaxx.h"

#include <QElapsedTimer>
#include <QFrame>

#include <functional>

class QFormLayout;
class QLabel;

// A small panel over the 3D scene: a title, label/value rows and a close button that hides it.
class PropertyPanel_TRVAXX : public QFrame {
    Q_OBJECT
public:
    PropertyPanel_TRVAXX(const QString& title, const QStringList& rowLabels, QWidget* parent);
    QString valueText(int row) const;
    QLabel* titleLabel() const { return title; }

protected:
    QLabel* valueLabel(int row) const { return values.at(row); }

private:
    QLabel* title;
    QList<QLabel*> values;
};

// The values of the picked guidance line.
class LineGuidancePropertyView_TRVAXX : public PropertyPanel_TRVAXX {
    Q_OBJECT
public:
    enum Row { LineId, Offset, Angle, Height, Area, Quality };
    explicit LineGuidancePropertyView_TRVAXX(QWidget* parent = nullptr);
    using QWidget::show;
    // Fills the rows from the first line with this id and shows the panel; an id that is not in
    // the list keeps the previous values.
    void show(int lineId, const DetectedLineData_TRVAXX& lines);
};

// The five crash predictor values the collision panel shows, in the record's order.
struct CrashPredictorBlock_TRVAXX {
    quint8 valid = 0;
    int crashObjectID = 0;
    float crashPredictTime = 0;
    float relImpactVelocity = 0;
    int crashPredicted = 0;

    static CrashPredictorBlock_TRVAXX from(const DetectedObjectData_TRVAXX& objects);
};

// The crash predictor's state. While a crash is predicted the title and the status carry the
// style class "warning" and the application beeps, at most once a second.
class CollisionAvoidancePropertyView_TRVAXX : public PropertyPanel_TRVAXX {
    Q_OBJECT
public:
    enum Row { Status, ImpactVelocity, TimeToCollision, ObjectId };
    using Clock = std::function<qint64()>; // milliseconds, monotonic
    using Beeper = std::function<void()>;

    explicit CollisionAvoidancePropertyView_TRVAXX(QWidget* parent = nullptr);
    void update(const CrashPredictorBlock_TRVAXX& block);
    // For tests: a clock and a beeper in place of the elapsed timer and QApplication::beep().
    void setClock(Clock clock) { now = std::move(clock); }
    void setBeeper(Beeper beeper) { beep = std::move(beeper); }
    bool isWarning() const;

private:
    void setWarning(bool on);

    Clock now;
    Beeper beep;
    QElapsedTimer elapsed;
    qint64 lastBeep = 0;
    bool beeped = false;
};
