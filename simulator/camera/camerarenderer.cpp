#include "simulator/camera/camerarenderer.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace trvsim {

QRgb CameraRenderer::objectColour(int objectId) {
    static const QRgb palette[] = {qRgb(230, 30, 30),  qRgb(30, 200, 40),  qRgb(40, 60, 230),
                                   qRgb(240, 200, 20), qRgb(200, 40, 200), qRgb(20, 200, 210),
                                   qRgb(250, 120, 0),  qRgb(120, 40, 10)};
    return palette[unsigned(objectId) % (sizeof palette / sizeof palette[0])];
}

void CameraRenderer::prepareRays(const std::array<float, 19>& c) {
    if (!rays.empty() && c == raysFor)
        return;
    raysFor = c;
    const double fx = c[0], fy = c[1], mx = c[2], my = c[3], alpha = c[4];
    const double k1 = c[5], k2 = c[6], k3 = c[7], k4 = c[8], k5 = c[9];
    origin = {double(c[10]) + c[13], double(c[11]) + c[14], double(c[12]) + c[15]};
    // Camera axes in the vehicle frame: the columns of Rx(a) Ry(b) Rz(g).
    const double a = c[16], b = c[17], g = c[18];
    const double rx[3][3] = {{1, 0, 0}, {0, std::cos(a), -std::sin(a)}, {0, std::sin(a), std::cos(a)}};
    const double ry[3][3] = {{std::cos(b), 0, std::sin(b)}, {0, 1, 0}, {-std::sin(b), 0, std::cos(b)}};
    const double rz[3][3] = {{std::cos(g), -std::sin(g), 0}, {std::sin(g), std::cos(g), 0}, {0, 0, 1}};
    double rxy[3][3] = {}, r[3][3] = {};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                rxy[i][j] += rx[i][k] * ry[k][j];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                r[i][j] += rxy[i][k] * rz[k][j];

    rays.resize(std::size_t(kWidth) * kHeight);
    for (int row = 0; row < kHeight; ++row)
        for (int column = 0; column < kWidth; ++column) {
            // The pixel's centre in distorted normalised coordinates, then the lens undone by a
            // fixed-point iteration (the distortion is mild, it converges in a few steps).
            const double yd = (row + 1.0 - my) / fy;
            const double xd = (column + 1.0 - mx) / fx - alpha * yd;
            double x = xd, y = yd;
            for (int i = 0; i < 20; ++i) {
                const double r2 = x * x + y * y;
                const double radial = 1 + k1 * r2 + k2 * r2 * r2 + k5 * r2 * r2 * r2;
                const double dx = 2 * k3 * x * y + k4 * (r2 + 2 * x * x);
                const double dy = k3 * (r2 + 2 * y * y) + 2 * k4 * x * y;
                x = (xd - dx) / radial;
                y = (yd - dy) / radial;
            }
            auto& ray = rays[std::size_t(row) * kWidth + column];
            for (int i = 0; i < 3; ++i)
                ray[i] = float(r[i][0] * x + r[i][1] * y + r[i][2]);
        }
}

QImage CameraRenderer::render(const FrameTruth& truth) {
    prepareRays(truth.hasCalibration2d ? truth.calibration2d : cameraCalibration2d(truth.cameraCalibration));
    struct Box {
        float lo[3], hi[3];
        QRgb colour;
    };
    std::vector<Box> boxes;
    for (int i = 0; i < std::min(truth.numberOfObjects, kObjectSlots); ++i) {
        const ObjectTruth& o = truth.objects[std::size_t(i)];
        if (o.id < 0)
            continue;
        boxes.push_back({{std::min(o.x1, o.x2), std::min(o.y1, o.y2), o.zMin},
                         {std::max(o.x1, o.x2), std::max(o.y1, o.y2), o.zMax},
                         objectColour(o.id)});
    }
    const float o[3] = {float(origin[0]), float(origin[1]), float(origin[2])};
    QImage picture(kWidth, kHeight, QImage::Format_RGB888);
    for (int row = 0; row < kHeight; ++row) {
        uchar* out = picture.scanLine(row);
        for (int column = 0; column < kWidth; ++column, out += 3) {
            const auto& d = rays[std::size_t(row) * kWidth + column];
            float nearest = std::numeric_limits<float>::max();
            QRgb colour = skyColour();
            if (d[2] < 0) { // the ground plane z = 0
                nearest = -o[2] / d[2];
                const float gx = o[0] + nearest * d[0], gy = o[1] + nearest * d[1];
                colour = groundColour((int(std::floor(gx)) + int(std::floor(gy))) & 1);
            }
            for (const Box& box : boxes) {
                float tNear = 0, tFar = nearest;
                bool hit = true;
                for (int k = 0; k < 3 && hit; ++k) {
                    if (std::fabs(d[k]) < 1e-9f) {
                        hit = o[k] >= box.lo[k] && o[k] <= box.hi[k];
                        continue;
                    }
                    float t0 = (box.lo[k] - o[k]) / d[k], t1 = (box.hi[k] - o[k]) / d[k];
                    if (t0 > t1)
                        std::swap(t0, t1);
                    tNear = std::max(tNear, t0);
                    tFar = std::min(tFar, t1);
                    hit = tNear <= tFar;
                }
                if (hit && tNear < nearest) {
                    nearest = tNear;
                    colour = box.colour;
                }
            }
            out[0] = uchar(qRed(colour));
            out[1] = uchar(qGreen(colour));
            out[2] = uchar(qBlue(colour));
        }
    }
    return picture;
}

} // namespace trvsim
