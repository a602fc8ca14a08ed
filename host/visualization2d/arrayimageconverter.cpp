#include "visualization2d/arrayimageconverter.h"

#include <algorithm>
#include <cmath>

namespace {

struct ColorStop {
    float position;
    int r, g, b;
};

// A perceptually uniform ramp from dark blue-violet over teal and green to yellow: lightness grows
// monotonically, so it stays readable in grey print and for common colour-vision deficiencies.
const ColorStop perceptualStops[] = {
    {0.000f, 68, 1, 84},    {0.125f, 71, 44, 122},  {0.250f, 59, 81, 139},
    {0.375f, 44, 113, 142}, {0.500f, 33, 144, 141}, {0.625f, 39, 173, 129},
    {0.750f, 92, 200, 99},  {0.875f, 170, 220, 50}, {1.000f, 253, 231, 37},
};

QRgb interpolate(const ColorStop* stops, int count, float position) {
    position = std::clamp(position, 0.0f, 1.0f);
    for (int i = 1; i < count; ++i) {
        if (position <= stops[i].position) {
            const ColorStop& a = stops[i - 1];
            const ColorStop& b = stops[i];
            const float t = (position - a.position) / (b.position - a.position);
            return qRgb(int(std::lround(a.r + (b.r - a.r) * t)), int(std::lround(a.g + (b.g - a.g) * t)),
                        int(std::lround(a.b + (b.b - a.b) * t)));
        }
    }
    const ColorStop& last = stops[count - 1];
    return qRgb(last.r, last.g, last.b);
}

} // namespace

bool ConverterParams::operator==(const ConverterParams& other) const {
    return colorMap == other.colorMap && lowerBound == other.lowerBound && upperBound == other.upperBound &&
           logarithmic == other.logarithmic && inverted == other.inverted &&
           notANumberColor == other.notANumberColor;
}

ArrayImageConverter::ArrayImageConverter(const ConverterParams& value) : params(value) {
    rebuildTable();
}

void ArrayImageConverter::setSize(unsigned int w, unsigned int h) {
    // Guard against sizes whose pixel count does not fit an image.
    if (quint64(w) * quint64(h) > quint64(1) << 26) {
        w = 0;
        h = 0;
    }
    width = w;
    height = h;
}

void ArrayImageConverter::setParams(const ConverterParams& value) {
    if (value == params)
        return;
    params = value;
    rebuildTable();
}

void ArrayImageConverter::setTransparencyMap(const bool* mask, std::size_t count) {
    if (mask == nullptr || count == 0) {
        transparency.clear();
        return;
    }
    transparency.resize(int(count));
    std::copy(mask, mask + count, transparency.begin());
}

QRgb ArrayImageConverter::mapColor(ConverterParams::ColorMap map, float position) {
    switch (map) {
    case ConverterParams::MAP_GREY: {
        const int g = int(std::lround(std::clamp(position, 0.0f, 1.0f) * 255.0f));
        return qRgb(g, g, g);
    }
    case ConverterParams::MAP_CONFIDENCE:
        // A confidence "position" has no meaning; show the valid colour.
        return confidenceClassColor(CONFIDENCE_VALID);
    case ConverterParams::MAP_PERCEPTUAL:
    default:
        return interpolate(perceptualStops, int(std::size(perceptualStops)), position);
    }
}

void ArrayImageConverter::rebuildTable() {
    for (int i = 0; i < TABLE_SIZE; ++i) {
        float position = float(i) / float(TABLE_SIZE - 1);
        if (params.inverted)
            position = 1.0f - position;
        table[size_t(i)] = mapColor(params.colorMap, position);
    }
    const float range = params.upperBound - params.lowerBound;
    if (!(range > 0.0f) || !std::isfinite(range))
        scale = 0.0f;
    else if (params.logarithmic)
        scale = float(TABLE_SIZE - 1) / std::log1p(range);
    else
        scale = float(TABLE_SIZE - 1) / range;
}

int ArrayImageConverter::tableIndex(float value) const {
    float offset = value - params.lowerBound;
    if (!(offset > 0.0f))
        return 0; // at or below the lower bound (also when the range is empty)
    const float position = params.logarithmic ? std::log1p(offset) * scale : offset * scale;
    if (!(position < float(TABLE_SIZE - 1)))
        return TABLE_SIZE - 1;
    return int(position);
}

QRgb ArrayImageConverter::colorOf(float value) const {
    if (std::isnan(value))
        return params.notANumberColor;
    if (params.colorMap == ConverterParams::MAP_CONFIDENCE)
        return confidenceColor(quint16(std::clamp(value, 0.0f, 65535.0f)));
    return table[size_t(tableIndex(value))];
}

QImage ArrayImageConverter::blankImage() const {
    if (width == 0 || height == 0)
        return QImage();
    QImage image(int(width), int(height), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    return image;
}

QImage ArrayImageConverter::convert(const float* values, std::size_t count) const {
    QImage image = blankImage();
    if (image.isNull() || values == nullptr)
        return image;
    const std::size_t pixels = std::min<std::size_t>(count, std::size_t(width) * height);
    const std::size_t masked = std::min<std::size_t>(pixels, std::size_t(transparency.size()));
    QRgb* out = reinterpret_cast<QRgb*>(image.bits());
    for (std::size_t i = 0; i < pixels; ++i)
        out[i] = (i < masked && transparency[int(i)]) ? 0u : colorOf(values[i]);
    return image;
}

QImage ArrayImageConverter::convert(const quint16* confidence, std::size_t count) const {
    QImage image = blankImage();
    if (image.isNull() || confidence == nullptr)
        return image;
    const std::size_t pixels = std::min<std::size_t>(count, std::size_t(width) * height);
    const std::size_t masked = std::min<std::size_t>(pixels, std::size_t(transparency.size()));
    QRgb* out = reinterpret_cast<QRgb*>(image.bits());
    for (std::size_t i = 0; i < pixels; ++i)
        out[i] = (i < masked && transparency[int(i)]) ? 0u : confidenceColor(confidence[i]);
    return image;
}

ConfidenceClass ArrayImageConverter::classifyConfidence(quint16 c) {
    if (c & 0x0008)
        return CONFIDENCE_INTERFERENCE;
    if (c & 0x00C0)
        return CONFIDENCE_SPRAY;
    if (c & 0x0100)
        return CONFIDENCE_GROUND;
    if (c & 0x0020)
        return CONFIDENCE_CLIPPING_BOX;
    if (c & 0x0010)
        return CONFIDENCE_RANGE;
    if (c & 0x0001)
        return CONFIDENCE_INVALID;
    return CONFIDENCE_VALID;
}

QRgb ArrayImageConverter::confidenceClassColor(ConfidenceClass cls) {
    switch (cls) {
    case CONFIDENCE_INTERFERENCE:
        return qRgb(220, 40, 40); // red
    case CONFIDENCE_SPRAY:
        return qRgb(90, 180, 255); // light blue
    case CONFIDENCE_GROUND:
        return qRgb(150, 100, 45); // brown
    case CONFIDENCE_CLIPPING_BOX:
        return qRgb(170, 80, 200); // violet
    case CONFIDENCE_RANGE:
        return qRgb(255, 160, 0); // orange
    case CONFIDENCE_INVALID:
        return qRgb(60, 60, 60); // dark grey
    case CONFIDENCE_VALID:
    default:
        return qRgb(40, 180, 70); // green
    }
}
