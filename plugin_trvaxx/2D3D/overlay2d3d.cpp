#include "2D3D/overlay2d3d.h"

#include "common/styleproxy.h"

#include <QPainter>

namespace {

QColor styleColour(const char* name, const QColor& fallback) {
    return StyleProxy::getProperty(name, fallback).value<QColor>();
}

} // namespace

Overlay2D3D::Overlay2D3D(QGraphicsItem* parent) : Overlay2D(parent) {}

void Overlay2D3D::setCameraModel(const Calibration2d_TRVAXX& calibration) {
    model.setModel(calibration);
    gridPath.clear();
    update();
}

void Overlay2D3D::setPictureOffset(QPointF offset) {
    model.setPictureOffset(offset);
    gridPath.clear();
    update();
}

void Overlay2D3D::setRectified(bool enable) {
    if (rectified != enable)
        gridPath.clear();
    rectified = enable;
    update();
}

void Overlay2D3D::setLayerEnabled(Layer layer, bool enabled) {
    layers = enabled ? (layers | layer) : (layers & ~layer);
    update();
}

void Overlay2D3D::setResult(const PrimedResultSP_TRVAXX_t& primed) {
    result = primed;
    update();
}

bool Overlay2D3D::project(double x, double y, double z, QPointF& picturePoint) const {
    return model.project(x, y, z, rectified, picturePoint);
}

void Overlay2D3D::addLine(QPainterPath& path, const std::array<float, 3>& from,
                          const std::array<float, 3>& to, double step) const {
    const double dx = to[0] - from[0], dy = to[1] - from[1], dz = to[2] - from[2];
    const int steps = std::max(1, int(std::ceil(std::sqrt(dx * dx + dy * dy + dz * dz) / step)));
    bool drawing = false;
    for (int i = 0; i <= steps; ++i) {
        const double t = double(i) / steps;
        QPointF p;
        if (!project(from[0] + t * dx, from[1] + t * dy, from[2] + t * dz, p)) {
            drawing = false;
            continue;
        }
        if (drawing)
            path.lineTo(p);
        else
            path.moveTo(p);
        drawing = true;
    }
}

void Overlay2D3D::paintObjects(QPainter* painter, bool retro) const {
    const DetectedObjectData_TRVAXX& objects = result->getObjectList();
    painter->setPen(
        QPen(styleColour(retro ? "retroColor" : "objectColor", retro ? Qt::magenta : Qt::green), 2));
    for (const DetectedObject_TRVAXX& o : objects.objects) {
        if (o.id < 0 || (o.type == TRVAXX_RETRO_OBJECT_TYPE) != retro)
            continue;
        QPainterPath box;
        const float xs[2] = {o.x1, o.x2}, ys[2] = {o.y1, o.y2}, zs[2] = {o.zMin, o.zMax};
        // The twelve edges: along x, along y, along z.
        for (int a = 0; a < 2; ++a)
            for (int b = 0; b < 2; ++b) {
                addLine(box, {xs[0], ys[a], zs[b]}, {xs[1], ys[a], zs[b]}, 0.25);
                addLine(box, {xs[a], ys[0], zs[b]}, {xs[a], ys[1], zs[b]}, 0.25);
                addLine(box, {xs[a], ys[b], zs[0]}, {xs[a], ys[b], zs[1]}, 0.25);
            }
        painter->drawPath(box);
        QPointF label;
        if (project((o.x1 + o.x2) / 2, (o.y1 + o.y2) / 2, o.zMax + 0.1, label))
            painter->drawText(label, QString::number(o.id));
    }
}

void Overlay2D3D::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    if (!model.isValid() || !result || !result->hasResult())
        return;
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setClipRect(boundingRect()); // lines may leave the picture; the overlay may not
    const ResultData_TRVAXX& record = *result->getResult();

    if (layers & Grid) {
        // The ground grid depends on the model alone: built once per model and picture kind.
        if (gridPath.isEmpty()) {
            for (int x = 0; x <= 30; ++x)
                addLine(gridPath, {float(x), -10.0f, 0.0f}, {float(x), 10.0f, 0.0f}, 0.5);
            for (int y = -10; y <= 10; ++y)
                addLine(gridPath, {0.0f, float(y), 0.0f}, {30.0f, float(y), 0.0f}, 0.5);
        }
        painter->setPen(QPen(styleColour("jointGridColor", Qt::white), 1));
        painter->drawPath(gridPath);
    }
    if (layers & Pixels) {
        // Square dots without antialiasing: 1024 of them per result.
        const QImage& colours = result->getDistanceImage();
        const int width = record.sensorWidth, height = record.sensorHeight;
        painter->setRenderHint(QPainter::Antialiasing, false);
        for (int row = 0; row < height; ++row)
            for (int column = 0; column < width; ++column) {
                const std::size_t i = std::size_t(row) * width + column;
                if (i >= record.X.size() || (record.confidence[i] & 0x1))
                    continue;
                QPointF p;
                if (!project(record.X[i], record.Y[i], record.Z[i], p))
                    continue;
                const QRgb colour =
                    colours.valid(column, row) ? colours.pixel(column, row) : qRgb(255, 255, 255);
                if (qAlpha(colour) != 0)
                    painter->fillRect(QRectF(p.x() - 1.5, p.y() - 1.5, 3, 3), QColor(colour));
            }
        painter->setRenderHint(QPainter::Antialiasing);
    }
    if (layers & FieldOfView) {
        const FieldOfView_TRVAXX& fov = record.fieldOfView;
        const CameraCalibration_TRVAXX& c = record.cameraCalibration;
        const std::array<float, 3> origin{c.transX, c.transY, c.transZ};
        QPainterPath edges;
        for (const auto& corner : {fov.upperLeft, fov.upperRight, fov.lowerRight, fov.lowerLeft})
            addLine(edges, origin,
                    {origin[0] + 10 * corner[0], origin[1] + 10 * corner[1], origin[2] + 10 * corner[2]},
                    0.5);
        painter->setPen(QPen(styleColour("jointFovColor", Qt::yellow), 1, Qt::DashLine));
        painter->drawPath(edges);
    }
    if (layers & Objects)
        paintObjects(painter, false);
    if (layers & RetroObjects)
        paintObjects(painter, true);
}
