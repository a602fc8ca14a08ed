#include "tests/support/messagecapture.h"

#include "result/pointcloudcallbackobject_trvaxx.h"
#include "result/resultcache_trvaxx.h"
#include "result/resulttransformer_trvaxx.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <thread>

#include <cmath>

namespace {

// A 64 × 16 record whose camera-axis distance of pixel i is i / 100 m.
ResultDataSP_TRVAXX makeRecord(uint32_t frame = 1) {
    ResultDataSP_TRVAXX r(new ResultData_TRVAXX);
    r->sensorWidth = 64;
    r->sensorHeight = 16;
    for (int i = 0; i < TRVAXX_PIXEL_COUNT; ++i) {
        r->cameraAxisDistance[size_t(i)] = float(i) / 100.0f;
        r->normalizedAmplitude[size_t(i)] = float(i * 10);
        r->X[size_t(i)] = float(i);
    }
    r->info.insert(InfoKey_TRVAXX::FrameCounter, frame);
    return r;
}

struct Chain {
    ResultCache_TRVAXX cache;
    ResultTransformer_TRVAXX transformer{&cache};
    QList<PrimedResultSP_TRVAXX_t> primed;
    QList<QPair<uint, uint>> sizes;
    Chain() {
        QObject::connect(&transformer, &ResultTransformer_TRVAXX::processNewData,
                         [this](PrimedResultSP_TRVAXX_t p) { primed.append(p); });
        QObject::connect(&transformer, &ResultTransformer_TRVAXX::sizeChanged, [this](uint w, uint h) {
            sizes.append({w, h});
        });
    }
    void turn() { QCoreApplication::processEvents(); }
};

} // namespace

TEST(ResultTransformer, BurstOfResultsGivesOnePrimedResultWithTheNewestRecord) {
    Chain c;
    // Three results from a producer thread before the GUI thread runs.
    std::thread([&] {
        for (uint32_t f = 1; f <= 3; ++f)
            c.cache.setResult(makeRecord(f));
    }).join();
    for (int i = 0; i < 5; ++i)
        c.turn();
    ASSERT_EQ(c.primed.size(), 1);
    EXPECT_EQ(c.primed[0]->getResult()->frameCounter(), 3u);
    ASSERT_EQ(c.sizes.size(), 1);
    EXPECT_EQ(c.sizes[0], qMakePair(64u, 16u));
}

TEST(ResultTransformer, MaskBoundsAreInsideAndOnlyApplyWhileColouringByDistance) {
    Chain c;
    ResultDataSP_TRVAXX r = makeRecord();
    r->cameraAxisDistance[100] = 5.0f;    // exactly at max
    r->cameraAxisDistance[101] = 5.0001f; // just above
    r->cameraAxisDistance[102] = 1.0f;    // exactly at min
    r->cameraAxisDistance[103] = 0.9999f; // just below
    c.transformer.setMinMaxDistance(1.0, 5.0);
    c.cache.setResult(r);
    c.turn();
    ASSERT_EQ(c.primed.size(), 1);
    PrimedResult_TRVAXX& p = *c.primed.last();
    // Images are computed on first demand only, and once: asked again, the same image.
    EXPECT_FALSE(p.isDistanceImageComputed() || p.isMaskComputed());
    const QImage& first = p.getDistanceImage();
    EXPECT_TRUE(p.isMaskComputed());
    EXPECT_FALSE(p.isAmplitudeImageComputed());
    EXPECT_EQ(&p.getDistanceImage(), &first);
    EXPECT_EQ(p.getMask().mid(100, 4), (QVector<bool>{false, true, false, true}));
    EXPECT_EQ(qAlpha(p.getDistanceImage().pixel(100 % 64, 100 / 64)), 255);
    EXPECT_EQ(qAlpha(p.getDistanceImage().pixel(101 % 64, 101 / 64)), 0);
    EXPECT_EQ(qAlpha(p.getAmplitudeImage().pixel(101 % 64, 101 / 64)), 0);

    PointCloudCallBackObject_TRVAXX cloud;
    cloud.setPrimedResult(c.primed.last());
    EXPECT_EQ(cloud.getColor(100)[3], 1.0f);
    EXPECT_EQ(cloud.getColor(101)[3], 0.0f);

    // Colouring by amplitude: nothing is masked or hidden.
    c.transformer.setPointCloudColorSourceAmplitude();
    c.cache.setResult(r);
    c.turn();
    PrimedResult_TRVAXX& q = *c.primed.last();
    EXPECT_FALSE(q.getMask()[101]);
    EXPECT_EQ(qAlpha(q.getDistanceImage().pixel(101 % 64, 101 / 64)), 255);
    cloud.setPrimedResult(c.primed.last());
    EXPECT_EQ(cloud.getColor(101)[3], 1.0f);
}

TEST(ResultTransformer, ExtremesOverValidPixelsAndFallbacks) {
    Chain c;
    // Distance (true) or amplitude extremes; -7 where nothing is written.
    const auto extremes = [&](bool distance) {
        qreal min = -7, max = -7;
        distance ? c.transformer.calcMinMaxDistance(min, max) : c.transformer.calcMinMaxAmplitude(min, max);
        return std::make_pair(double(min), double(max));
    };
    {
        MessageCapture capture;
        EXPECT_EQ(extremes(true), std::make_pair(-7.0, -7.0));
        EXPECT_EQ(extremes(false), std::make_pair(-7.0, -7.0));
        EXPECT_EQ(capture.count("Called calcMinMaxDistance, but there is no result data"), 1);
        EXPECT_EQ(capture.count("Called calcMinMaxAmplitude, but there is no result data"), 1);
    }
    ResultDataSP_TRVAXX r = makeRecord();
    r->confidence.fill(1); // every pixel invalid
    c.cache.setResult(r);
    c.turn();
    EXPECT_EQ(extremes(true), std::make_pair(0.0, 30.0));
    EXPECT_EQ(extremes(false), std::make_pair(0.0, 65535.0));

    ResultDataSP_TRVAXX s = makeRecord();
    s->confidence.fill(1);
    s->confidence[200] = 0;
    s->confidence[300] = 6; // bit 0 clear: valid
    s->cameraAxisDistance[300] = -2.5f;
    c.cache.setResult(s);
    c.turn();
    EXPECT_EQ(extremes(true), std::make_pair(-2.5, 2.0));
    EXPECT_EQ(extremes(false), std::make_pair(2000.0, 3000.0));
}

TEST(ResultTransformer, CanListsTakePrecedenceOverTheRecord) {
    Chain c;
    ResultDataSP_TRVAXX r = makeRecord();
    r->objects.objects[0].id = 5;
    r->lines.lines[0].id = 6;
    c.cache.setResult(r);
    c.turn();
    EXPECT_EQ(c.primed.last()->getObjectList().objects[0].id, 5);
    EXPECT_EQ(c.primed.last()->getLineList().lines[0].id, 6);

    DetectedObjectData_TRVAXX_t objects(new DetectedObjectData_TRVAXX);
    objects->objects[0].id = 77;
    DetectedLineData_TRVAXX_t lines(new DetectedLineData_TRVAXX);
    lines->lines[0].id = 88;
    c.cache.setCANDetectedObjectData(objects);
    c.cache.setCANDetectedLineGuidanceData(lines);
    c.turn();
    EXPECT_EQ(c.primed.last()->getObjectList().objects[0].id, 77);
    EXPECT_EQ(c.primed.last()->getLineList().lines[0].id, 88);
    EXPECT_EQ(c.primed.last()->getResult(), r);
}

TEST(ResultTransformer, NoRecordGivesBlankImagesAndWrongSizeKeepsTheImageSize) {
    Chain c;
    c.transformer.triggerRepaint();
    c.turn();
    ASSERT_EQ(c.primed.size(), 1);
    PrimedResult_TRVAXX& blank = *c.primed[0];
    EXPECT_TRUE(blank.isDistanceImageComputed() && blank.isAmplitudeImageComputed() &&
                blank.isLogarithmicAmplitudeImageComputed() && blank.isConfidenceImageComputed() &&
                blank.isMaskComputed());
    EXPECT_EQ(blank.getConfidenceImage().size(), QSize(64, 16));
    EXPECT_EQ(blank.getDistanceImage().pixel(3, 3), 0u);
    EXPECT_EQ(blank.getMask().size(), 1024);
    EXPECT_EQ(blank.getObjectList().objects[0].id, -1);
    EXPECT_TRUE(c.sizes.isEmpty());

    c.cache.setResult(makeRecord());
    c.turn();
    ResultDataSP_TRVAXX odd = makeRecord();
    odd->sensorWidth = 32;
    c.cache.setResult(odd);
    c.turn();
    EXPECT_EQ(c.sizes.size(), 1);
    EXPECT_EQ(c.transformer.getWidth(), 64u);
    EXPECT_EQ(c.primed.last()->getDistanceImage().size(), QSize(64, 16));

    // Disabled: nothing is produced; enabling produces again.
    c.transformer.disable();
    const int before = c.primed.size();
    c.cache.setResult(makeRecord());
    c.turn();
    EXPECT_EQ(c.primed.size(), before);
    c.transformer.enable();
    c.turn();
    EXPECT_EQ(c.primed.size(), before + 1);
    EXPECT_EQ(c.sizes.size(), 1) << "the same size again does not repeat sizeChanged";
}

TEST(PointCloudCallBack, HidesFlaggedClassesAndPicksTheColourSource) {
    Chain c;
    ResultDataSP_TRVAXX r = makeRecord();
    r->confidence[1] = 0x100; // ground
    r->confidence[2] = 0x40;  // spray
    r->confidence[3] = 0x20;  // flagged
    c.cache.setResult(r);
    c.turn();
    PointCloudCallBackObject_TRVAXX cloud;
    unsigned w = 9, h = 9;
    cloud.getSize(w, h);
    EXPECT_EQ(w, 0u);
    EXPECT_EQ(cloud.getColor(0)[3], 0.0f);
    cloud.setPrimedResult(c.primed.last());
    cloud.getSize(w, h);
    EXPECT_EQ(w, 64u);
    EXPECT_EQ(h, 16u);
    EXPECT_EQ(cloud.getPoint(7)[0], 7.0f);
    EXPECT_EQ(cloud.getColor(1)[3], 1.0f); // ground visible by default
    EXPECT_EQ(cloud.getColor(3)[3], 0.0f); // flagged pixels hidden by default
    cloud.setGroundVisible(false);
    cloud.setSprayVisible(false);
    cloud.setHideFlaggedPixels(false);
    EXPECT_EQ(cloud.getColor(1)[3], 0.0f);
    EXPECT_EQ(cloud.getColor(2)[3], 0.0f);
    EXPECT_EQ(cloud.getColor(3)[3], 1.0f);
}

TEST(ResultCache, GlobalInformationSourcesAndCanSignals) {
    ResultCache_TRVAXX cache;
    int emitted = 0;
    QObject::connect(&cache, &ResultCache_TRVAXX::receivedNewResultData, [&] { ++emitted; });
    EXPECT_EQ(cache.getGlobalInformation(), ResultCache_TRVAXX::decodeGlobalInformation(0));
    cache.setGlobalInformationMessage(0x81);
    EXPECT_EQ(emitted, 0);
    GlobalInformation_TRVAXX_t flags = cache.getGlobalInformation();
    EXPECT_TRUE(flags[0] && flags[7] && !flags[1]);
    // Once Ethernet results arrive their "available" value wins.
    ResultDataSP_TRVAXX r(new ResultData_TRVAXX);
    r->info.insert(InfoKey_TRVAXX::Available, 0x04u);
    cache.setResult(r);
    cache.setDataAvailable();
    flags = cache.getGlobalInformation();
    EXPECT_TRUE(flags[2] && !flags[0]);
    cache.setCANBasicFunctionsData(BasicFunctionsData_TRVAXX_t(new BasicFunctionsData_TRVAXX));
    EXPECT_EQ(emitted, 2);
    EXPECT_TRUE(cache.getCANBasicFunctionsData());
    EXPECT_FALSE(cache.getCANDetectedObjectData());
}
