#include "visualization2d/arrayimageconverter.h"

#include <gtest/gtest.h>

#include <QColor>

#include <cmath>
#include <limits>
#include <set>

namespace {

ConverterParams params(ConverterParams::ColorMap map, float lower, float upper, bool logarithmic = false) {
    ConverterParams p;
    p.colorMap = map;
    p.lowerBound = lower;
    p.upperBound = upper;
    p.logarithmic = logarithmic;
    return p;
}

// Luma of the gamma-encoded colour: a close stand-in for perceived lightness.
double lightness(QRgb c) {
    return 0.299 * qRed(c) + 0.587 * qGreen(c) + 0.114 * qBlue(c);
}

} // namespace

TEST(ArrayImageConverter, PerceptualMapRisesInLightnessAndClampsAtTheBounds) {
    ArrayImageConverter converter(params(ConverterParams::MAP_PERCEPTUAL, 2.0f, 12.0f));
    double previous = -1;
    for (float v = 2.0f; v <= 12.0f; v += 0.25f) {
        const double l = lightness(converter.colorOf(v));
        EXPECT_GE(l + 0.5, previous) << v;
        previous = l;
    }
    EXPECT_EQ(converter.colorOf(-100.0f), converter.colorOf(2.0f));
    EXPECT_EQ(converter.colorOf(100.0f), converter.colorOf(12.0f));
    EXPECT_NE(converter.colorOf(2.0f), converter.colorOf(12.0f));
    EXPECT_EQ(qAlpha(converter.colorOf(7.0f)), 255);
    EXPECT_EQ(converter.colorOf(std::numeric_limits<float>::quiet_NaN()), 0u);
    // Inverted swaps the ends.
    ConverterParams inverted = converter.getParams();
    inverted.inverted = true;
    ArrayImageConverter flipped(inverted);
    EXPECT_EQ(flipped.colorOf(2.0f), converter.colorOf(12.0f));
}

TEST(ArrayImageConverter, GreyMapIsNeutralAndLogarithmicSpreadsTheLowEnd) {
    ArrayImageConverter linear(params(ConverterParams::MAP_GREY, 0.0f, 1000.0f));
    ArrayImageConverter logarithmic(params(ConverterParams::MAP_GREY, 0.0f, 1000.0f, true));
    const QRgb mid = linear.colorOf(500.0f);
    EXPECT_TRUE(qRed(mid) == qGreen(mid) && qGreen(mid) == qBlue(mid));
    EXPECT_EQ(qRed(linear.colorOf(0.0f)), 0);
    EXPECT_EQ(qRed(linear.colorOf(1000.0f)), 255);
    EXPECT_EQ(qRed(logarithmic.colorOf(1000.0f)), 255);
    EXPECT_NEAR(qRed(mid), 128, 2);
    // log(1 + 30) / log(1001) ≈ 0.5: a dim value is shown half bright.
    EXPECT_NEAR(qRed(logarithmic.colorOf(30.0f)), 127, 3);
    // An empty range maps everything to the first colour instead of dividing by zero.
    ArrayImageConverter empty(params(ConverterParams::MAP_GREY, 5.0f, 5.0f));
    EXPECT_EQ(qRed(empty.colorOf(6.0f)), 0);
}

TEST(ArrayImageConverter, ConfidenceClassesHaveDistinctColours) {
    std::set<QRgb> colours;
    for (int c = 0; c < CONFIDENCE_CLASS_COUNT; ++c)
        colours.insert(ArrayImageConverter::confidenceClassColor(ConfidenceClass(c)));
    EXPECT_EQ(colours.size(), size_t(CONFIDENCE_CLASS_COUNT));
    // Exposure bits alone are valid; where flags combine, spray wins over invalid and interference
    // over ground (ground and flagged pixels alone are met by the point cloud's tests).
    for (const auto& [word, expected] : {std::pair{0x0006, CONFIDENCE_VALID},
                                         {0x0001, CONFIDENCE_INVALID},
                                         {0x0081, CONFIDENCE_SPRAY},
                                         {0x0010, CONFIDENCE_RANGE},
                                         {0x0108, CONFIDENCE_INTERFERENCE}})
        EXPECT_EQ(ArrayImageConverter::classifyConfidence(word), expected) << word;
}

TEST(ArrayImageConverter, ConvertHonoursSizeAndTransparencyMap) {
    ArrayImageConverter converter(params(ConverterParams::MAP_PERCEPTUAL, 0.0f, 10.0f));
    const float values[6] = {0, 2, 4, 6, 8, 10};
    EXPECT_TRUE(converter.convert(values, 6).isNull()); // no size yet
    converter.setSize(3, 2);
    const bool mask[6] = {false, true, false, false, false, true};
    converter.setTransparencyMap(mask, 6);
    QImage image = converter.convert(values, 6);
    ASSERT_EQ(image.size(), QSize(3, 2));
    EXPECT_EQ(image.pixel(0, 0), converter.colorOf(0.0f));
    EXPECT_EQ(qAlpha(image.pixel(1, 0)), 0);
    EXPECT_EQ(qAlpha(image.pixel(2, 1)), 0);
    EXPECT_EQ(image.pixel(1, 1), converter.colorOf(8.0f));
    // Fewer values than pixels: the rest stays transparent; a shorter mask leaves the rest opaque.
    converter.setTransparencyMap(mask, 2);
    image = converter.convert(values, 4);
    EXPECT_EQ(qAlpha(image.pixel(2, 1)), 0);
    EXPECT_EQ(image.pixel(2, 0), converter.colorOf(4.0f));
    EXPECT_EQ(image.pixel(0, 1), converter.colorOf(6.0f));
    // Confidence words through the same mask.
    const quint16 words[6] = {0, 1, 0x40, 0x100, 0x20, 0};
    converter.setTransparencyMap(mask, 6);
    image = converter.convert(words, 6);
    EXPECT_EQ(image.pixel(0, 0), ArrayImageConverter::confidenceColor(0));
    EXPECT_EQ(qAlpha(image.pixel(1, 0)), 0);
    EXPECT_EQ(image.pixel(2, 0), ArrayImageConverter::confidenceClassColor(CONFIDENCE_SPRAY));
    // An absurd size is refused rather than allocated.
    converter.setSize(1u << 20, 1u << 20);
    EXPECT_EQ(converter.getPixelCount(), 0);
}
