#pragma once
// Pixel checks of rendered pictures: whether two colours agree within a tolerance per channel
// (pictures that went through JPEG or bilinear sampling are never exact).

#include <QRgb>

#include <cstdlib>

inline bool coloursNear(QRgb a, QRgb b, int tolerance) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}
