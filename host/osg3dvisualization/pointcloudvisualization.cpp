#include "osg3dvisualization/pointcloudvisualization.h"

#include <osg/LineWidth>
#include <osg/Point>
#include <osg/StateSet>

PointCloudVisualization::PointCloudVisualization(const PointVisParam& param,
                                                 PointCloudCallBackObject* callback)
    : param(param), callback(callback), geometry(new osg::Geometry),
      indices(new osg::DrawElementsUInt(GL_POINTS)) {
    geometry->setDataVariance(osg::Object::DYNAMIC);
    geometry->setUseDisplayList(false);
    geometry->setUseVertexBufferObjects(true);
    geometry->addPrimitiveSet(indices.get());
    allocate(0);
    osg::StateSet* state = geometry->getOrCreateStateSet();
    state->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
    state->setAttribute(new osg::Point(param.pointSize));
    state->setAttribute(new osg::LineWidth(param.lineWidth));
    addDrawable(geometry.get());
}

void PointCloudVisualization::allocate(unsigned int count) {
    vertices = new osg::Vec3Array(count);
    colors = new osg::Vec4Array(count);
    vertices->setDataVariance(osg::Object::DYNAMIC);
    colors->setDataVariance(osg::Object::DYNAMIC);
    geometry->setVertexArray(vertices.get());
    geometry->setColorArray(colors.get(), osg::Array::BIND_PER_VERTEX);
    // The largest index list (mesh: six per cell) fits without growing later.
    indices->reserve(std::size_t(count) * 6);
}

void PointCloudVisualization::processData() {
    unsigned int w = 0, h = 0;
    if (callback)
        callback->getSize(w, h);
    // A grid beyond any sensor's size is a broken source; draw nothing rather than allocate it.
    if (w > 4096 || h > 4096)
        w = h = 0;
    const unsigned int count = w * h;
    if (count != vertices->size())
        allocate(count);
    width = w;
    height = h;
    for (unsigned int i = 0; i < count; ++i) {
        const std::array<float, 3> p = callback->getPoint(i);
        const std::array<float, 4> c = callback->getColor(i);
        (*vertices)[i].set(p[0], p[1], p[2]);
        (*colors)[i].set(c[0], c[1], c[2], c[3]);
    }
    vertices->dirty();
    colors->dirty();
    rebuildIndices();
}

void PointCloudVisualization::setGeometryType(PointVisParam::GeometryType type) {
    param.geometryType = type;
    rebuildIndices();
}

namespace {
void append(osg::DrawElementsUInt& list, std::initializer_list<GLuint> values) {
    for (GLuint v : values)
        list.push_back(v);
}
} // namespace

void PointCloudVisualization::rebuildIndices() {
    osg::DrawElementsUInt& list = *indices;
    list.clear();
    const unsigned int count = width * height;
    switch (param.geometryType) {
    case PointVisParam::Points:
        list.setMode(GL_POINTS);
        for (unsigned int i = 0; i < count; ++i)
            if (visible(i))
                list.push_back(i);
        break;
    case PointVisParam::Lines:
        list.setMode(GL_LINES);
        for (unsigned int y = 0; y < height; ++y)
            for (unsigned int x = 0; x < width; ++x) {
                const unsigned int i = y * width + x;
                if (!visible(i))
                    continue;
                if (x + 1 < width && visible(i + 1))
                    append(list, {i, i + 1});
                if (y + 1 < height && visible(i + width))
                    append(list, {i, i + width});
            }
        break;
    case PointVisParam::Mesh:
        list.setMode(GL_TRIANGLES);
        for (unsigned int y = 0; y + 1 < height; ++y)
            for (unsigned int x = 0; x + 1 < width; ++x) {
                const unsigned int a = y * width + x, b = a + 1, c = a + width, d = c + 1;
                if (visible(a) && visible(b) && visible(c))
                    append(list, {a, c, b});
                if (visible(b) && visible(c) && visible(d))
                    append(list, {b, c, d});
            }
        break;
    }
    list.dirty();
    geometry->dirtyBound();
}
