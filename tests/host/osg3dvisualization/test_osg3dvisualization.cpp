// The point-cloud node's indices and arrays, the illumination vector, scene colours and font.

#include "osg3dvisualization/illumination.h"
#include "osg3dvisualization/pointcloudvisualization.h"
#include "osg3dvisualization/scenestyle.h"

#include <gtest/gtest.h>

#include <QColor>

#include <algorithm>
#include <set>

namespace {

// A w × h grid at (x, y, index); points listed in `hidden` have alpha 0.
class GridSource : public PointCloudCallBackObject {
public:
    unsigned int w = 3, h = 3;
    std::set<unsigned int> hidden;
    float shade = 0.5f;
    void getSize(unsigned int& width, unsigned int& height) override {
        width = w;
        height = h;
    }
    std::array<float, 3> getPoint(unsigned int i) override { return {float(i % w), float(i / w), float(i)}; }
    std::array<float, 4> getColor(unsigned int i) override {
        return {shade, 0.25f, 0.0f, hidden.count(i) ? 0.0f : 1.0f};
    }
};

} // namespace

TEST(PointCloudVisualization, DrawsOnlyVisiblePointsInEachMode) {
    for (const auto& [type, hidden, mode, count] :
         {std::tuple{PointVisParam::Points, std::set<unsigned int>{4}, GLenum(GL_POINTS), size_t(8)},
          // 12 neighbour pairs, 4 of them touch the centre.
          {PointVisParam::Lines, {4}, GL_LINES, 2 * 8},
          // Of 8 triangles only the two that miss the centre (0-3-1, 5-7-8) stay.
          {PointVisParam::Mesh, {4}, GL_TRIANGLES, 2 * 3},
          // Two triangles per cell; a hidden corner removes exactly the one that uses it.
          {PointVisParam::Mesh, {}, GL_TRIANGLES, 8 * 3},
          {PointVisParam::Mesh, {0}, GL_TRIANGLES, 7 * 3}}) {
        SCOPED_TRACE(testing::Message() << int(type) << ", " << hidden.size() << " hidden");
        GridSource source;
        source.hidden = hidden;
        PointVisParam param;
        param.geometryType = type;
        PointCloudVisualization cloud(param, &source);
        cloud.processData();
        EXPECT_EQ(cloud.getIndices()->getMode(), mode);
        EXPECT_EQ(cloud.getIndices()->size(), count);
        for (unsigned int i : hidden)
            EXPECT_EQ(std::count(cloud.getIndices()->begin(), cloud.getIndices()->end(), i), 0) << i;
    }
}

TEST(PointCloudVisualization, RefillsArraysInPlaceUntilTheSizeChanges) {
    GridSource source;
    PointCloudVisualization cloud(PointVisParam(), &source);
    cloud.processData();
    const osg::Vec3Array* vertices = cloud.getVertices();
    const osg::Vec4Array* colors = cloud.getColors();
    const unsigned int modified = vertices->getModifiedCount();
    ASSERT_EQ(vertices->size(), 9u);
    EXPECT_EQ((*vertices)[5], osg::Vec3(2, 1, 5));

    source.shade = 0.75f;
    source.hidden = {4};
    cloud.processData();
    EXPECT_EQ(cloud.getIndices()->size(), 8u) << "the index list is rebuilt, not appended to";
    EXPECT_EQ(cloud.getVertices(), vertices);
    EXPECT_EQ(cloud.getColors(), colors);
    EXPECT_GT(vertices->getModifiedCount(), modified); // the buffer object is told to upload
    EXPECT_FLOAT_EQ((*cloud.getColors())[0].r(), 0.75f);
    EXPECT_EQ(cloud.getGeometry()->getVertexArray(), vertices);

    source.w = 4;
    cloud.processData();
    EXPECT_NE(cloud.getVertices(), vertices);
    EXPECT_EQ(cloud.getVertices()->size(), 12u);
    EXPECT_EQ(cloud.getGeometry()->getVertexArray(), cloud.getVertices());

    // An absurd size from a broken source draws nothing instead of allocating it.
    source.w = 100000;
    cloud.processData();
    EXPECT_EQ(cloud.getVertices()->size(), 0u);
    EXPECT_EQ(cloud.getIndices()->size(), 0u);
}

TEST(Illumination, SideVectorTurnsWithTheCameraAngles) {
    const double q = M_PI / 2;
    for (const auto& [rx, ry, rz, offset, expected] :
         {std::tuple{0.0, 0.0, 0.0, osg::Vec3d(0.1, 0.2, 0.3), osg::Vec3d(0.1, 0.2, 0.3)},
          {0, 0, q, {1, 0, 0}, {0, 1, 0}},
          {q, 0, 0, {0, 1, 0}, {0, 0, 1}},
          {0, q, 0, {0, 0, 1}, {1, 0, 0}},
          // z first, then x: x → y → z (x first would give y).
          {q, 0, q, {1, 0, 0}, {0, 0, 1}}}) {
        const osg::Vec3d v = illuminationSideVector(rx, ry, rz, offset);
        EXPECT_NEAR((v - expected).length(), 0.0, 1e-9) << v.x() << " " << v.y() << " " << v.z();
    }
}

TEST(SceneStyle, ColoursAndTheDefaultFont) {
    EXPECT_NEAR((toSceneColor(QColor(255, 0, 51, 102)) - osg::Vec4(1, 0, 0.2f, 0.4f)).length(), 0, 1e-6);
    EXPECT_TRUE(findFontFile(QStringLiteral("DejaVu Sans")).endsWith(QLatin1String("DejaVuSans.ttf")));
    EXPECT_TRUE(sceneFont().valid());
}
