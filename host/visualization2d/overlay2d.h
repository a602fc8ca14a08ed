#pragma once

#include <QGraphicsObject>

// Base of the items that a View2D draws over its image. An overlay works in image pixel
// coordinates; the view tells it the image size whenever the background changes size, and an
// overlay may be given another size explicitly (the sensor's size before the first image).
class Overlay2D : public QGraphicsObject {
    Q_OBJECT
public:
    explicit Overlay2D(QGraphicsItem* parent = nullptr);

    void setImageSize(int width, int height);
    int imageWidth() const { return width; }
    int imageHeight() const { return height; }

    // The image pixel that contains `pos` (item coordinates), clamped into the image; (-1, -1)
    // while the size is 0.
    QPoint pixelAt(const QPointF& pos) const;

    QRectF boundingRect() const override;

protected:
    // Called after the size changed, before the item is repainted.
    virtual void imageSizeChanged() {}

private:
    int width = 0;
    int height = 0;
};
