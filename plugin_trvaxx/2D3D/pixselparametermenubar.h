#pragma once

#include "result/primedresult_trvaxx.h"

#include <QColor>
#include <QLabel>
#include <QWidget>

class QGroupBox;

// A value as text on a coloured field; the text switches between black and white for contrast.
class ValueViewer : public QWidget {
    Q_OBJECT
public:
    explicit ValueViewer(QWidget* parent = nullptr);
    void setValue(const QString& text, const QColor& color = QColor());
    QString text() const { return value; }
    QColor color() const { return background; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString value;
    QColor background;
};

// A value 0..255 as a marker on a black-to-white bar, with the number beside it; -1 shows none.
class GradientValueIndicator : public QWidget {
    Q_OBJECT
public:
    explicit GradientValueIndicator(QWidget* parent = nullptr);
    void setValue(int value);
    int value() const { return current; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int current = -1;
};

// The "Pixel Properties" panel: position, Cartesian coordinates, distance, amplitude and exposure
// of the selected pixel, and the legend of the confidence colours. It reads the primed result only
// while it is visible and the image is at least 64 × 16.
class PixSelParameterMenuBar : public QWidget {
    Q_OBJECT
public:
    explicit PixSelParameterMenuBar(QWidget* parent = nullptr);

    // The viewers, for the screens that rearrange the panel and for tests.
    const ValueViewer* distanceViewer() const { return distance; }
    const ValueViewer* exposureViewer() const { return exposure; }
    const GradientValueIndicator* amplitudeIndicator() const { return amplitude; }
    QString positionText() const { return position->text(); }
    QString coordinateText(int axis) const { return coordinates[axis]->text(); }
    bool isAmplitudeLogarithmic() const { return logarithmic; }

public slots:
    void processNewData(PrimedResultSP_TRVAXX_t primedResult);
    void setPos(int column, int row);
    void setAmplitudeLogarithmic(bool enable);

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void retranslateUi();
    void refresh();
    void clearValues();

    PrimedResultSP_TRVAXX_t primed;
    int column = -1;
    int row = -1;
    int linearIndex = -1;
    int width = 0;
    int height = 0;
    bool logarithmic = false;

    QLabel* title;
    QGroupBox* positionBox;
    QGroupBox* coordinateBox;
    QGroupBox* distanceBox;
    QGroupBox* amplitudeBox;
    QGroupBox* exposureBox;
    QGroupBox* legendBox;
    QLabel* position;
    QLabel* coordinates[3];
    ValueViewer* distance;
    GradientValueIndicator* amplitude;
    ValueViewer* exposure;
    QList<QLabel*> legendTexts;
};
