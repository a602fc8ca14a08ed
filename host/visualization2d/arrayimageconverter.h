#pragma once

#include <QColor>
#include <QImage>
#include <QVector>
#include <QtGlobal>

#include <array>
#include <cstddef>

#if defined(HOST_VISUALIZATION2D_LIBRARY)
#define HOST_VISUALIZATION2D_EXPORT Q_DECL_EXPORT
#else
#define HOST_VISUALIZATION2D_EXPORT Q_DECL_IMPORT
#endif

// How an ArrayImageConverter maps values to colours.
struct HOST_VISUALIZATION2D_EXPORT ConverterParams {
    enum ColorMap {
        // Perceptually uniform blue-green-yellow ramp from lowerBound (dark) to upperBound (bright);
        // for distances, where equal steps in value must look like equal steps in colour.
        MAP_PERCEPTUAL = 0,
        // Black to white; for amplitudes.
        MAP_GREY = 1,
        // One distinct colour per confidence class (the value is a confidence word, not a number).
        MAP_CONFIDENCE = 2,
    };

    ColorMap colorMap = MAP_PERCEPTUAL;
    // Values at or below lowerBound get the first colour of the map, values at or above upperBound
    // the last one. A range of zero width maps everything to the first colour.
    float lowerBound = 0.0f;
    float upperBound = 30.0f;
    // Spreads the lower end of the range: position = log(1 + v - lower) / log(1 + upper - lower).
    // Amplitudes span several decades, so dark regions stay readable.
    bool logarithmic = false;
    // Swaps the ends of the map (near = bright instead of dark).
    bool inverted = false;
    // Colour of values that are not numbers (NaN); transparent by default.
    QRgb notANumberColor = 0x00000000u;

    bool operator==(const ConverterParams& other) const;
    bool operator!=(const ConverterParams& other) const { return !(*this == other); }
};

// Confidence classes of the sensor's per-pixel confidence word, in the order in which they take
// precedence when several bits are set. The legend of the 2D view uses the same colours.
enum ConfidenceClass {
    CONFIDENCE_INTERFERENCE = 0, // bit 3
    CONFIDENCE_SPRAY = 1,        // bits 6 and 7 (spray, fog, dust)
    CONFIDENCE_GROUND = 2,       // bit 8 (estimated as ground)
    CONFIDENCE_CLIPPING_BOX = 3, // bit 5 (outside the spatial filter box)
    CONFIDENCE_RANGE = 4,        // bit 4 (filtered by range)
    CONFIDENCE_INVALID = 5,      // bit 0
    CONFIDENCE_VALID = 6,        // none of the above
    CONFIDENCE_CLASS_COUNT = 7
};

// Turns arrays of per-pixel values into ARGB32 images of a fixed size. The converter keeps the
// image size, the current parameters and a transparency map (pixels flagged true come out fully
// transparent), so a caller sets what changed and then converts. Colour tables are computed once
// per parameter change, so a conversion is one table look-up per pixel.
//
// Not thread-safe: one converter belongs to one thread (the GUI thread in the plug-in).
class HOST_VISUALIZATION2D_EXPORT ArrayImageConverter {
public:
    explicit ArrayImageConverter(const ConverterParams& params = ConverterParams());

    void setSize(unsigned int width, unsigned int height);
    unsigned int getWidth() const { return width; }
    unsigned int getHeight() const { return height; }
    int getPixelCount() const { return int(width * height); }

    void setParams(const ConverterParams& value);
    const ConverterParams& getParams() const { return params; }

    // `count` flags, pixel by pixel, row by row; true makes the pixel transparent. Fewer flags than
    // pixels leave the remaining pixels opaque; a null pointer or 0 clears the map.
    void setTransparencyMap(const bool* mask, std::size_t count);
    void setTransparencyMap(const QVector<bool>& mask) { setTransparencyMap(mask.constData(), mask.size()); }
    void clearTransparencyMap() { transparency.clear(); }

    // Converts `count` values into an image of the converter's size. Pixels for which no value is
    // given stay transparent; extra values are ignored. A 0 × 0 converter gives a null image.
    QImage convert(const float* values, std::size_t count) const;
    // Confidence words: classified with MAP_CONFIDENCE whatever the current map, since a
    // confidence word is a set of flags and not a magnitude.
    QImage convert(const quint16* confidence, std::size_t count) const;

    // The colour of one value under the current parameters (ignoring the transparency map).
    QRgb colorOf(float value) const;

    static ConfidenceClass classifyConfidence(quint16 confidenceWord);
    static QRgb confidenceClassColor(ConfidenceClass cls);
    static QRgb confidenceColor(quint16 confidenceWord) {
        return confidenceClassColor(classifyConfidence(confidenceWord));
    }
    // The end colours of a map, for legends and gradient bars.
    static QRgb mapColor(ConverterParams::ColorMap map, float position);

private:
    static constexpr int TABLE_SIZE = 1024;
    void rebuildTable();
    int tableIndex(float value) const;
    QImage blankImage() const;

    ConverterParams params;
    unsigned int width = 0;
    unsigned int height = 0;
    QVector<bool> transparency;
    std::array<QRgb, TABLE_SIZE> table{};
    // Precomputed scale for the linear and logarithmic position.
    float scale = 0.0f;
};
