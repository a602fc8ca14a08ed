#pragma once
// The windrow (heap) of line guidance in cross-section: the ground, the smallest heap the sensor
// still follows (minimum height and width) and the widest it accepts, with their measures.
// GUI thread.

#include <QColor>
#include <QWidget>

class WindrowVisualization : public QWidget {
    Q_OBJECT
    Q_PROPERTY(qreal height READ windrowMinHeight WRITE setWindrowMinHeight)
    Q_PROPERTY(qreal width READ windrowMinWidth WRITE setWindrowMaxWidth)
    Q_PROPERTY(QColor backgroundColor MEMBER backgroundColor)
    Q_PROPERTY(QColor borderColor MEMBER borderColor)
    Q_PROPERTY(qreal borderWidth MEMBER borderWidth)
    Q_PROPERTY(QColor groundColor MEMBER groundColor)
public:
    explicit WindrowVisualization(QWidget* parent = nullptr);

    qreal windrowMinHeight() const { return minHeight; }
    qreal windrowMinWidth() const { return minWidth; }
    qreal windrowMaxWidth() const { return maxWidth; }

    QSize sizeHint() const override { return {260, 160}; }

public slots:
    void setWindrowMinHeight(qreal metres);
    void setWindrowMaxWidth(qreal metres);
    void setWindrowMinWidth(qreal metres);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    qreal minHeight = 0.3, minWidth = 0.8, maxWidth = 2.5;
    QColor backgroundColor, borderColor, groundColor;
    qreal borderWidth = 2;
};
