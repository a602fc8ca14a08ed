#pragma once
// The 2D camera model of the joint view: projects sensor points into the picture of the camera
// mounted with the sensor, and removes the picture's lens distortion through a lookup table.
// The model comes with every result (its 2D calibration); the table is built once per picture size
// and intrinsics, so rectifying costs one table read and twelve integer multiplications per pixel.
// GUI thread (or any one thread at a time); no widgets.

#include "result/resultdata_trvaxx.h"

#include <QImage>
#include <QPointF>

#include <array>
#include <cstdint>
#include <vector>

class CameraModel2D3D {
public:
    // One table entry per target pixel: the top-left source pixel and the bilinear weights of the
    // top-left, top-right, bottom-left and bottom-right source pixels (0..255). All zero: black.
    struct TableEntry {
        int32_t sourceIndex = 0;
        std::array<uint8_t, 4> weights{};
    };
    static_assert(sizeof(TableEntry) == 8);

    // An unusable model (fx or fy 0) is logged once, until a usable one is set.
    void setModel(const Calibration2d_TRVAXX& calibration);
    // Position of the shown picture inside the camera's picture, subtracted from projections.
    void setPictureOffset(QPointF offset) { pictureOffset = offset; }

    // Without a focal length the model maps nothing.
    bool isValid() const { return fx != 0 && fy != 0; }

    // Picture coordinates of the sensor point (x, y, z) in metres; `rectified` for the corrected
    // picture, else for the camera's own (distorted) picture. False when the point lies in the
    // camera's plane or behind it, or the model is invalid.
    bool project(double x, double y, double z, bool rectified, QPointF& picturePoint) const;

    // Builds the table for a width x height picture unless the current one fits; false when the
    // model is invalid or the picture smaller than 2 x 2 pixels.
    bool prepareRectification(int width, int height);
    // The corrected picture (RGB888). Colours are kept as they are: grabbers deliver RGB888, so
    // rectified and unrectified pictures show the same colours. Without a table (invalid model)
    // the picture is returned unchanged and one log line says why.
    QImage rectify(const QImage& picture);

    const std::vector<TableEntry>& table() const { return lookupTable; }

private:
    // Distorted, unshifted picture position of the normalised point (x', y').
    QPointF distort(double xn, double yn) const;

    // In the order the model is stored: distortion, principal point, focal lengths, skew, then the
    // camera's position and rotation in sensor coordinates.
    double k1 = 0, k2 = 0, k3 = 0, k4 = 0, k5 = 0;
    double mx = 0, my = 0, fx = 0, fy = 0, alpha = 0;
    double tx = 0, ty = 0, tz = 0, rx = 0, ry = 0, rz = 0;
    std::array<float, 9> rotation{1, 0, 0, 0, 1, 0, 0, 0, 1}; // row-major, single precision
    QPointF pictureOffset;

    std::vector<TableEntry> lookupTable;
    int tableWidth = 0, tableHeight = 0;
    std::array<double, 10> tableIntrinsics{}; // what the table was built from
    bool invalidModelLogged = false;
};
