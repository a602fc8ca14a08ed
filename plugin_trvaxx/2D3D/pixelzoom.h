#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QWidget>

// The 3 × 3 magnifier: the selected pixel and its eight neighbours drawn large in a framed box that
// floats over the panes near the selection. Clicking a neighbour moves the selection there
// (pixelPosChanged). The frame is a gradient from beginFrameColor to endFrameColor with an outer
// stroke in strokeFrameColor; the cells are separated by smallFrameColor, and the centre pixel is
// marked with a cross in the colour of the pane the cut comes from.
class PixelZoom : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QColor smallFrameColor MEMBER smallFrame)
    Q_PROPERTY(QColor strokeFrameColor MEMBER strokeFrame)
    Q_PROPERTY(QColor beginFrameColor MEMBER beginFrame)
    Q_PROPERTY(QColor endFrameColor MEMBER endFrame)
public:
    explicit PixelZoom(QWidget* parent = nullptr);

    // The 3 × 3 cut to show (other sizes are scaled to 3 × 3 cells) and the centre cross colour.
    void setSubImage(const QImage& image, const QColor& crossColor);
    const QImage& subImage() const { return image; }
    QColor crossColor() const { return cross; }
    QPoint localPos() const { return local; }

    static constexpr int CELL = 28;
    static constexpr int FRAME = 6;
    QSize sizeHint() const override;

signals:
    void pixelZoomShow();
    void pixelPosChanged(int column, int row);

public slots:
    // Places the magnifier's top-left corner at this position of the parent (kept inside it).
    void setGlobalPos(int x, int y);
    // The pixel in the centre of the cut (column, row).
    void setLocalPos(int column, int row);
    void hideSlot();
    void showSlot();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QRect cellRect(int cx, int cy) const;

    QImage image;
    QColor cross;
    QPoint local{-1, -1};
    QColor smallFrame;
    QColor strokeFrame;
    QColor beginFrame;
    QColor endFrame;
};
