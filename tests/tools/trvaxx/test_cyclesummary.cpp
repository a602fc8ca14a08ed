// Summary lines of the trvaxx tool: figures taken from result records, and the JSON form.
#include "tools/trvaxx/cyclesummary.h"

#include "udp-transport/streamstatistics.h"

#include <gtest/gtest.h>

namespace {

ResultDataSP_TRVAXX record(const char* variant) {
    auto r = ResultDataSP_TRVAXX::create();
    r->sensorWidth = 64;
    r->sensorHeight = 16;
    r->cameraVariant = QString::fromLatin1(variant);
    r->softwareVersion = QStringLiteral("3.4.1");
    r->serialNumber = QStringLiteral("SIM42");
    r->info.insert(InfoKey_TRVAXX::FrameCounter, 1234u);
    for (int i = 0; i < TRVAXX_PIXEL_COUNT; ++i) {
        r->confidence[std::size_t(i)] = 0x0100; // valid (a class bit only)
        r->cameraAxisDistance[std::size_t(i)] = 5.0f;
    }
    return r;
}

TEST(CycleSummaryTest, ValidPixelsAndDistanceRangeIgnoreInvalidPixels) {
    auto r = record("DI");
    r->confidence[0] = 0x0001; // invalid: its extreme distance must not count
    r->cameraAxisDistance[0] = 99.0f;
    r->confidence[1] = 0x0007;
    r->cameraAxisDistance[1] = -4.0f;
    r->cameraAxisDistance[500] = 1.25f;
    r->cameraAxisDistance[1023] = 12.5f;
    const SummaryLine line = CycleSummary::describe(*r);
    EXPECT_EQ(*line.frameCounter, 1234u);
    EXPECT_EQ(*line.validPixels, 1022);
    EXPECT_FLOAT_EQ(*line.distanceMin, 1.25f);
    EXPECT_FLOAT_EQ(*line.distanceMax, 12.5f);
    EXPECT_FALSE(line.objects); // a DI sensor has neither objects nor lines
    EXPECT_FALSE(line.lines);
    EXPECT_EQ(line.variant, QStringLiteral("DI"));
}

TEST(CycleSummaryTest, AllInvalidFrameHasNoDistanceRangeAndOnlyUsedObjectsAndLinesCount) {
    auto od = record("OD ");
    od->confidence.fill(0x0001);
    od->objects.objects[0].id = 0;
    od->objects.objects[7].id = 12;
    const SummaryLine line = CycleSummary::describe(*od);
    EXPECT_EQ(*line.validPixels, 0);
    EXPECT_FALSE(line.distanceMin);
    EXPECT_TRUE(line.toJson().value(QStringLiteral("distance_max")).isNull());
    EXPECT_EQ(*line.objects, 2);
    EXPECT_EQ(line.variant, QStringLiteral("OD"));

    auto lg = record("LG");
    for (auto& l : lg->lines.lines)
        l.id = -1;
    lg->lines.lines[1].id = 3;
    EXPECT_EQ(*CycleSummary::describe(*lg).lines, 1);
    EXPECT_FALSE(CycleSummary::describe(*lg).objects);
}

TEST(CycleSummaryTest, JsonFigures) {
    CycleSummary summary;
    summary.addRecord(record("OD"));
    summary.addRecord(record("OD"));
    SummaryLine line = summary.takeLine(0.5);
    StreamStatistics s;
    s.dspPackets = 100;
    s.lrcErrors = 2;
    line.stats = CycleSummary::statisticsJson(s);
    const QJsonObject json = line.toJson();
    EXPECT_DOUBLE_EQ(json.value(QStringLiteral("cycles_per_s")).toDouble(), 4.0);
    EXPECT_EQ(json.value(QStringLiteral("frame_counter")).toInt(), 1234);
    EXPECT_EQ(json.value(QStringLiteral("objects")).toInt(), 0);
    EXPECT_TRUE(json.value(QStringLiteral("lines")).isNull());
    EXPECT_EQ(json.value(QStringLiteral("serial")).toString(), QStringLiteral("SIM42"));
    const QJsonObject stats = json.value(QStringLiteral("stats")).toObject();
    EXPECT_EQ(stats.value(QStringLiteral("dsp_datagrams")).toInt(), 100);
    EXPECT_EQ(stats.value(QStringLiteral("lrc_errors")).toInt(), 2);
    EXPECT_EQ(stats.value(QStringLiteral("can_beacons")).toInt(), 0);
    EXPECT_TRUE(line.toText().contains(QStringLiteral("lrc 2")));

    // The interval starts afresh: no cycles, no record figures.
    const QJsonObject empty = summary.takeLine(1.0).toJson();
    EXPECT_EQ(empty.value(QStringLiteral("cycles_per_s")).toDouble(), 0.0);
    EXPECT_TRUE(empty.value(QStringLiteral("frame_counter")).isNull());
    EXPECT_TRUE(empty.value(QStringLiteral("variant")).isNull());
    EXPECT_TRUE(empty.value(QStringLiteral("stats")).isNull());
}

} // namespace
