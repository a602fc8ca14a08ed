// The synthetic scene: what it reports matches what its rays see.

#include "simulator/scene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using namespace trvsim;

namespace {

SceneSettings settings(Variant variant, uint32_t seed = 3) {
    SceneSettings s;
    s.variant = variant;
    s.seed = seed;
    s.pose = defaultCameraPose();
    s.carriesCalibration2d = variant == Variant::OD;
    return s;
}

std::unique_ptr<FrameTruth> render(const Scene& scene, uint32_t frame) {
    auto t = std::make_unique<FrameTruth>();
    scene.render(frame, *t);
    return t;
}

} // namespace

TEST(SimulatorScene, PixelsAgreeWithTheirRaysAndConfidenceBits) {
    const Scene scene(settings(Variant::DI));
    const auto t = render(scene, 10);
    int ground = 0, invalid = 0;
    for (int i = 0; i < kPixelCount; ++i) {
        const uint16_t c = t->confidence[i];
        if (c & confidence::kInvalid) {
            ++invalid;
            EXPECT_EQ(t->distanceData[i], 0);
            EXPECT_EQ(t->amplitude[i], 0);
            continue;
        }
        // The radial distance in millimetres is the point's distance from the camera.
        const CameraPose& p = t->cameraCalibration;
        EXPECT_NEAR(
            t->distanceData[i] / 1000.0,
            std::hypot(double(t->X[i] - p.transX), double(t->Y[i] - p.transY), double(t->Z[i] - p.transZ)),
            0.0011)
            << i;
        EXPECT_LE(t->distanceData[i], 30000 + 100);
        const int exposure = (c & confidence::kExposureMask) >> confidence::kExposureShift;
        const float d = t->distanceData[i] / 1000.0f;
        EXPECT_EQ(exposure, d < 5 ? 0 : d < 10 ? 1 : d < 20 ? 2 : 3) << i;
        if (c & confidence::kGround) {
            ++ground;
            EXPECT_NEAR(t->Z[i], 0.0f, 0.05f) << i;
        }
    }
    EXPECT_GT(ground, 300);
    EXPECT_GT(invalid, 0); // the top rows look beyond the range
}

TEST(SimulatorScene, ObjectsAreTheBoxesAndThePostInView) {
    const Scene scene(settings(Variant::OD));
    bool crash = false, clipping = false;
    int postFrames = 0, frames = 0;
    for (uint32_t frame = 0; frame < 1500; frame += 25) {
        const auto t = render(scene, frame);
        ASSERT_TRUE(t->hasObjects);
        ++frames;
        float lastX = -1e9f;
        bool post = false;
        for (int k = 0; k < kObjectSlots; ++k) {
            const ObjectTruth& o = t->objects[k];
            if (k >= t->numberOfObjects) {
                EXPECT_EQ(o.id, -1);
                continue;
            }
            EXPECT_GE(o.x1, lastX); // nearest first
            lastX = o.x1;
            EXPECT_LT(o.x1, o.x2);
            EXPECT_LT(o.y1, o.y2);
            post = post || o.type == 2;
            // Some pixel sees the object's footprint.
            bool seen = false;
            for (int i = 0; i < kPixelCount && !seen; ++i)
                seen = t->X[i] >= o.x1 - 0.05f && t->X[i] <= o.x2 + 0.05f && t->Y[i] >= o.y1 - 0.05f &&
                       t->Y[i] <= o.y2 + 0.05f && t->Z[i] > 0.02f;
            EXPECT_TRUE(seen) << "object " << o.id << " frame " << frame;
        }
        postFrames += post;
        if (t->crashPredictor.crashPredicted == 1) {
            crash = true;
            EXPECT_GT(t->crashPredictor.crashPredictTime, 0.0f);
            EXPECT_LT(t->crashPredictor.crashPredictTime, 2.0f);
        }
        clipping = clipping || (t->available & available::kClipping);
    }
    EXPECT_GT(postFrames, frames / 2) << "the post is in view unless a box passes in front of it";
    EXPECT_TRUE(crash) << "a box closes in on the vehicle now and then";
    EXPECT_TRUE(clipping) << "the retro-reflector saturates";
}

TEST(SimulatorScene, WindrowGivesALineForLineGuidance) {
    const Scene scene(settings(Variant::LG));
    const auto t = render(scene, 200);
    ASSERT_TRUE(t->hasLines);
    ASSERT_EQ(t->numberOfLines, 1);
    const LineTruth& l = t->lines[0];
    EXPECT_GT(l.foresight, 5.0f);
    // Pixels near the line's centre stand up to the heap height above the ground.
    float highest = 0;
    for (int i = 0; i < kPixelCount; ++i)
        if (!(t->confidence[i] & confidence::kInvalid) &&
            std::fabs(t->Y[i] - (l.offset + std::tan(l.alpha) * t->X[i])) < 0.1f)
            highest = std::max(highest, t->Z[i]);
    EXPECT_NEAR(highest, l.heap_height, 0.08f);
    EXPECT_TRUE(t->available & available::kLineList);
}

TEST(SimulatorScene, SprayComesAndGoes) {
    const Scene scene(settings(Variant::DI));
    int sprayFrames = 0;
    for (uint32_t frame = 0; frame < 500; frame += 5) {
        const auto t = render(scene, frame);
        int sprayPixels = 0;
        for (uint16_t c : t->confidence)
            sprayPixels += (c & confidence::kSpray) != 0;
        EXPECT_EQ(t->sprayActive, sprayPixels > 0) << frame;
        EXPECT_EQ(bool(t->available & available::kSprayDetected), t->sprayActive);
        sprayFrames += t->sprayActive;
    }
    EXPECT_TRUE(sprayFrames > 0 && sprayFrames < 100) << "comes and goes: " << sprayFrames;
}
