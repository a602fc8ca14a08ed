// The point-cloud node draws exactly the visible points, refills its arrays in place and
// reallocates them only for a new grid size; the illumination vector and the scene font.

#include "osg3dvisualization/illumination.h"
#include "osg3dvisualization/pointcloudvisualization.h"
#include "osg3dvisualization/scenestyle.h"

#include <gtest/gtest.h>

#include <QColor>

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

std::multiset<unsigned int> indices(const PointCloudVisualization& cloud) {
    const osg::DrawElementsUInt* list = cloud.getIndices();
    return std::multiset<unsigned int>(list->begin(), list->end());
}

} // namespace

TEST(PointCloudVisualization, DrawsOnlyVisiblePointsInEachMode) {
    // On the 3 × 3 grid.
    struct Case {
        PointVisParam::GeometryType type;
        std::set<unsigned int> hidden;
        GLenum mode;
        size_t count; // indices
    } cases[] = {
        {PointVisParam::Points, {4}, GL_POINTS, 8},
        // 12 neighbour pairs, 4 of them touch the centre.
        {PointVisParam::Lines, {4}, GL_LINES, 2 * 8},
        // Of 8 triangles only the two that miss the centre (0-3-1, 5-7-8) stay.
        {PointVisParam::Mesh, {4}, GL_TRIANGLES, 2 * 3},
        // Two triangles per cell; a hidden corner removes exactly the one that uses it.
        {PointVisParam::Mesh, {}, GL_TRIANGLES, 8 * 3},
        {PointVisParam::Mesh, {0}, GL_TRIANGLES, 7 * 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.type) << ", " << c.hidden.size() << " hidden");
        GridSource source;
        source.hidden = c.hidden;
        PointVisParam param;
        param.geometryType = c.type;
        PointCloudVisualization cloud(param, &source);
        cloud.processData();
        EXPECT_EQ(cloud.getIndices()->getMode(), c.mode);
        EXPECT_EQ(cloud.getIndices()->size(), c.count);
        for (unsigned int i : c.hidden)
            EXPECT_EQ(indices(cloud).count(i), 0u) << i;
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
    struct Case {
        double rx, ry, rz;
        osg::Vec3d offset, expected;
    } cases[] = {
        {0, 0, 0, {0.1, 0.2, 0.3}, {0.1, 0.2, 0.3}},
        {0, 0, q, {1, 0, 0}, {0, 1, 0}},
        {q, 0, 0, {0, 1, 0}, {0, 0, 1}},
        {0, q, 0, {0, 0, 1}, {1, 0, 0}},
        // z first, then x: x → y → z (x first would give y).
        {q, 0, q, {1, 0, 0}, {0, 0, 1}},
    };
    for (const Case& c : cases) {
        const osg::Vec3d v = illuminationSideVector(c.rx, c.ry, c.rz, c.offset);
        EXPECT_NEAR((v - c.expected).length(), 0.0, 1e-9) << v.x() << " " << v.y() << " " << v.z();
    }
}

TEST(SceneStyle, ColoursAndTheDefaultFont) {
    const osg::Vec4 c = toSceneColor(QColor(255, 0, 51, 102));
    EXPECT_FLOAT_EQ(c.r(), 1.0f);
    EXPECT_FLOAT_EQ(c.b(), 0.2f);
    EXPECT_FLOAT_EQ(c.a(), 0.4f);
    EXPECT_TRUE(findFontFile(QStringLiteral("DejaVu Sans")).endsWith(QLatin1String("DejaVuSans.ttf")));
    EXPECT_TRUE(sceneFont().valid());
}
