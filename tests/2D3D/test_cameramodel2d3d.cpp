// The joint view's camera model against values worked out by hand.

#include "2D3D/cameramodel2d3d.h"
#include "tests/support/messagecapture.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// Aggregate order: fx, fy, mx, my, alpha (skew), k1 to k5, then the extrinsics.
using Cal = Calibration2d_TRVAXX;

TEST(CameraModel2D3D, ProjectionWithAndWithoutDistortion) {
    const Cal plain{500, 400, 320, 240};
    // x' = 0.1, y' = 0.2 through every distortion term and the skew (worked out by hand).
    const Cal distorted{500, 400, 320, 240, 0.01f, 0.1f, 0.01f, 0.001f, 0.002f, 0.0001f};
    // The camera at (0, 0, 1) turned by 90 degrees about z: sensor +x is the camera's -y.
    Cal turned{100, 100, 50, 50};
    turned.extrCalib_center_tz = 0.5f;
    turned.extrCalib_delta_tz = 0.5f;
    turned.extrCalib_rot_z = float(M_PI / 2);
    CameraModel2D3D model;
    for (const auto& [what, calibration, pictureOffset, x, y, z, rectified, expected] :
         {std::tuple{"rectified", distorted, QPointF(), 0.5, 1.0, 5.0, true, QPointF(370, 320)},
          {"distorted", distorted, {}, 0.5, 1.0, 5, false, {370.8473256375, 319.986001}},
          {"principal point, shifted", plain, {10, 20}, 0, 0, 5, true, {310, 220}},
          {"camera's own picture: half a pixel up-left", plain, {10, 20}, 0, 0, 5, false, {309.5, 219.5}},
          {"turned", turned, {}, 1, 0, 3, true, {50, 0}}}) { // "behind the camera" below needs it last
        model.setModel(calibration);
        model.setPictureOffset(pictureOffset);
        QPointF p(-1e9, -1e9);
        EXPECT_TRUE(model.project(x, y, z, rectified, p)) << what;
        EXPECT_NEAR(p.x(), expected.x(), 1e-4) << what;
        EXPECT_NEAR(p.y(), expected.y(), 1e-4) << what;
    }
    QPointF unused;
    EXPECT_FALSE(model.project(0, 0, 0.5, true, unused)) << "behind the camera";
    model.setModel(Cal{0, 400, 320, 240});
    EXPECT_FALSE(model.project(0, 0, 5, true, unused)) << "no focal length";
}

QImage noise(int width, int height) {
    QImage picture(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.setPixel(x, y, qRgb((x * 37 + y * 11) & 255, (x * 5 + y * 73) & 255, (x * y + 90) & 255));
    return picture;
}

// What one full-weight sample of a pixel gives after the table's >> 8.
QRgb fullWeight(QRgb in) {
    return qRgb(qRed(in) * 255 >> 8, qGreen(in) * 255 >> 8, qBlue(in) * 255 >> 8);
}

TEST(CameraModel2D3D, RectificationSamplesEdgesKeepsColoursAndBlackensOutside) {
    // Without distortion every target pixel reads its own source pixel, the last column and row
    // included; colours stay in their places. 7 columns: RGB888 lines are padded.
    CameraModel2D3D model;
    model.setModel(Cal{100, 100, 3, 2});
    const QImage picture = noise(7, 5);
    const QImage straight = model.rectify(picture);
    ASSERT_EQ(straight.size(), picture.size());
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x)
            ASSERT_EQ(straight.pixel(x, y), fullWeight(picture.pixel(x, y))) << x << "," << y;

    // A skew of 0.25 moves row 2 half a pixel right: two neighbours at weight 128 each.
    model.setModel(Cal{100, 100, 0, 0, 0.25f});
    const QImage half = model.rectify(picture);
    EXPECT_EQ(qGreen(half.pixel(1, 2)),
              (qGreen(picture.pixel(1, 2)) + qGreen(picture.pixel(2, 2))) * 128 >> 8);
    EXPECT_EQ(half.pixel(6, 2), qRgb(0, 0, 0)) << "source half a pixel beyond the last column";

    // Strong barrel distortion pulls the corners from outside the picture: black; the centre
    // stays.
    model.setModel(Cal{4, 4, 3, 2, 0, 0.5f});
    const QImage bent = model.rectify(picture);
    EXPECT_EQ(bent.pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(bent.pixel(6, 4), qRgb(0, 0, 0));
    EXPECT_EQ(bent.pixel(3, 2), fullWeight(picture.pixel(3, 2)));
}

TEST(CameraModel2D3D, TableFollowsSizeAndIntrinsicsAndAnInvalidModelSaysSoOnce) {
    CameraModel2D3D model;
    Cal c{100, 100, 3, 2};
    model.setModel(c);
    ASSERT_TRUE(model.prepareRectification(4, 3));
    EXPECT_EQ(model.table().size(), 12u);
    ASSERT_TRUE(model.prepareRectification(8, 6));
    EXPECT_EQ(model.table().size(), 48u);
    const auto before = model.table()[0].weights;
    c.intrCalib_alpha = 0.25f;
    c.intrCalib_2D_my = 0; // row 0 of the skewed model stays; row 1 moves a quarter pixel
    model.setModel(c);
    ASSERT_TRUE(model.prepareRectification(8, 6));
    EXPECT_EQ(model.table()[0].weights, before);
    EXPECT_NE(model.table()[8 + 1].weights, before) << "new intrinsics rebuild the table";

    MessageCapture messages;
    const QImage picture = noise(8, 6);
    for (int result = 0; result < 2; ++result) { // every result sets the model again
        model.setModel(Cal{0, 100, 3, 2});
        EXPECT_EQ(model.rectify(picture), picture);
    }
    EXPECT_EQ(messages.count("invalid 2D camera calibration (fx or fy is 0)"), 1);
    EXPECT_EQ(messages.all().size(), 1);
    EXPECT_TRUE(model.table().empty());
}

} // namespace
