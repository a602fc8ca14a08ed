#include "2D3D/cameramodel2d3d.h"

#include "2D3D/viewslog_trvaxx.h"

#include <cmath>
#include <cstring>

void CameraModel2D3D::setModel(const Calibration2d_TRVAXX& c) {
    k1 = c.intrCalib_k1;
    k2 = c.intrCalib_k2;
    k3 = c.intrCalib_k3;
    k4 = c.intrCalib_k4;
    k5 = c.intrCalib_k5;
    mx = c.intrCalib_2D_mx;
    my = c.intrCalib_2D_my;
    fx = c.intrCalib_2D_fx;
    fy = c.intrCalib_2D_fy;
    alpha = c.intrCalib_alpha;
    tx = double(c.extrCalib_center_tx) + double(c.extrCalib_delta_tx);
    ty = double(c.extrCalib_center_ty) + double(c.extrCalib_delta_ty);
    tz = double(c.extrCalib_center_tz) + double(c.extrCalib_delta_tz);
    rx = c.extrCalib_rot_x;
    ry = c.extrCalib_rot_y;
    rz = c.extrCalib_rot_z;

    // R = Rx(a) * Ry(b) * Rz(c), kept in single precision as the sensor computes it.
    const float sa = std::sin(float(rx)), ca = std::cos(float(rx));
    const float sb = std::sin(float(ry)), cb = std::cos(float(ry));
    const float sc = std::sin(float(rz)), cc = std::cos(float(rz));
    rotation = {cc * cb,
                -cb * sc,
                sb,
                sc * ca + sb * cc * sa,
                cc * ca - sb * sa * sc,
                -cb * sa,
                sa * sc - cc * ca * sb,
                sc * sb * ca + cc * sa,
                ca * cb};
    // Set with every result: an unusable model is reported once, until a usable one comes.
    if (isValid())
        invalidModelLogged = false;
    else if (!invalidModelLogged)
        qCCritical(lcViews) << "invalid 2D camera calibration (fx or fy is 0)";
    invalidModelLogged = !isValid();
}

QPointF CameraModel2D3D::distort(double xn, double yn) const {
    const double r2 = xn * xn + yn * yn;
    const double radial = 1 + k1 * r2 + k2 * r2 * r2 + k5 * r2 * r2 * r2;
    const double xd = xn * radial + 2 * k3 * xn * yn + k4 * (r2 + 2 * xn * xn);
    const double yd = yn * radial + k3 * (r2 + 2 * yn * yn) + 2 * k4 * xn * yn;
    return {fx * (xd + alpha * yd) + mx, fy * yd + my};
}

bool CameraModel2D3D::project(double x, double y, double z, bool rectified, QPointF& picturePoint) const {
    if (!isValid())
        return false;
    const double d[3] = {x - tx, y - ty, z - tz};
    const auto& r = rotation;
    // q = R^T d: the columns of R against d.
    const double qx = r[0] * d[0] + r[3] * d[1] + r[6] * d[2];
    const double qy = r[1] * d[0] + r[4] * d[1] + r[7] * d[2];
    const double qz = r[2] * d[0] + r[5] * d[1] + r[8] * d[2];
    if (!(qz > 0))
        return false;
    const double xn = qx / qz, yn = qy / qz;
    if (rectified)
        picturePoint = {fx * xn + mx, fy * yn + my};
    else
        picturePoint = distort(xn, yn) - QPointF(0.5, 0.5);
    picturePoint -= pictureOffset;
    return true;
}

bool CameraModel2D3D::prepareRectification(int width, int height) {
    const std::array<double, 10> intrinsics{k1, k2, k3, k4, k5, mx, my, fx, fy, alpha};
    if (!lookupTable.empty() && width == tableWidth && height == tableHeight && intrinsics == tableIntrinsics)
        return true;
    lookupTable.clear();
    tableWidth = tableHeight = 0;
    if (!isValid() || width < 2 || height < 2)
        return false;

    lookupTable.resize(std::size_t(width) * std::size_t(height));
    TableEntry* entry = lookupTable.data();
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column, ++entry) {
            const QPointF source = distort((column - mx) / fx, (row - my) / fy);
            double u = source.x(), v = source.y();
            if (!(u >= 0 && u <= width - 1 && v >= 0 && v <= height - 1))
                continue; // stays all zero: black
            // A source on the last column or row samples it through the neighbour to its left or
            // above with the full weight, so that no read passes the picture's edge.
            int iu = std::min(int(u), width - 2);
            int iv = std::min(int(v), height - 2);
            const double fu = u - iu, fv = v - iv;
            entry->sourceIndex = iv * width + iu;
            entry->weights = {uint8_t(std::lround((1 - fu) * (1 - fv) * 255)),
                              uint8_t(std::lround(fu * (1 - fv) * 255)),
                              uint8_t(std::lround((1 - fu) * fv * 255)), uint8_t(std::lround(fu * fv * 255))};
        }
    }
    tableWidth = width;
    tableHeight = height;
    tableIntrinsics = intrinsics;
    return true;
}

QImage CameraModel2D3D::rectify(const QImage& picture) {
    if (picture.isNull())
        return picture;
    const QImage source =
        picture.format() == QImage::Format_RGB888 ? picture : picture.convertToFormat(QImage::Format_RGB888);
    const int width = source.width(), height = source.height();
    if (!prepareRectification(width, height)) {
        if (isValid()) // an invalid model has said so already
            qCCritical(lcViews) << "m_rectPixelTable is NULL and the lookup table can't be created";
        return picture;
    }
    // The table indexes pixels as row x width + column: read from rows without line padding.
    const qsizetype packedLine = qsizetype(width) * 3;
    std::vector<uchar> packed;
    const uchar* pixels = source.constBits();
    if (source.bytesPerLine() != packedLine) {
        packed.resize(std::size_t(packedLine) * std::size_t(height));
        for (int row = 0; row < height; ++row)
            std::memcpy(packed.data() + row * packedLine, source.constScanLine(row), std::size_t(packedLine));
        pixels = packed.data();
    }
    QImage target(width, height, QImage::Format_RGB888);
    const TableEntry* entry = lookupTable.data();
    for (int row = 0; row < height; ++row) {
        uchar* out = target.scanLine(row);
        for (int column = 0; column < width; ++column, ++entry, out += 3) {
            const uchar* top = pixels + qsizetype(entry->sourceIndex) * 3;
            const uchar* bottom = top + packedLine;
            const unsigned w0 = entry->weights[0], w1 = entry->weights[1], w2 = entry->weights[2],
                           w3 = entry->weights[3];
            for (int c = 0; c < 3; ++c)
                out[c] = uchar((top[c] * w0 + top[c + 3] * w1 + bottom[c] * w2 + bottom[c + 3] * w3) >> 8);
        }
    }
    return target;
}
