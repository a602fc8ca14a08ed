#pragma once

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/PrimitiveSet>
#include <osg/ref_ptr>

#include <array>

// What the point-cloud node asks of its data source for every processed result: the grid size,
// then each point and its colour (RGBA 0..1). A point whose colour has alpha 0 is hidden.
class PointCloudCallBackObject {
public:
    virtual ~PointCloudCallBackObject() = default;
    virtual void getSize(unsigned int& width, unsigned int& height) = 0;
    virtual std::array<float, 3> getPoint(unsigned int index) = 0;
    virtual std::array<float, 4> getColor(unsigned int index) = 0;
};

// How the cloud is drawn.
struct PointVisParam {
    enum GeometryType { Points, Lines, Mesh };
    GeometryType geometryType = Points;
    float pointSize = 3.0f;
    float lineWidth = 1.0f;
};

// The point-cloud node: one geometry whose vertex and colour arrays hold one entry per grid point.
// processData() refills them in place (they are reallocated only when the grid size changes) and
// rebuilds the index list of the chosen drawing mode from the visible points: points draw every
// visible point, lines join visible horizontal and vertical neighbours, mesh draws two triangles
// per grid cell wherever all three corners are visible. GUI thread only.
class PointCloudVisualization : public osg::Geode {
public:
    PointCloudVisualization(const PointVisParam& param, PointCloudCallBackObject* callback);

    // Asks the callback for the current cloud and updates the geometry.
    void processData();
    void setGeometryType(PointVisParam::GeometryType type);
    const PointVisParam& getParam() const { return param; }

    osg::Geometry* getGeometry() const { return geometry.get(); }
    const osg::Vec3Array* getVertices() const { return vertices.get(); }
    const osg::Vec4Array* getColors() const { return colors.get(); }
    // Indices drawn in the current mode (points, line pairs or triangles).
    const osg::DrawElementsUInt* getIndices() const { return indices.get(); }
    unsigned int getWidth() const { return width; }
    unsigned int getHeight() const { return height; }

private:
    void allocate(unsigned int count);
    void rebuildIndices();
    bool visible(unsigned int index) const { return (*colors)[index].a() > 0.0f; }

    PointVisParam param;
    PointCloudCallBackObject* callback;
    osg::ref_ptr<osg::Geometry> geometry;
    osg::ref_ptr<osg::Vec3Array> vertices;
    osg::ref_ptr<osg::Vec4Array> colors;
    osg::ref_ptr<osg::DrawElementsUInt> indices;
    unsigned int width = 0;
    unsigned int height = 0;
};
