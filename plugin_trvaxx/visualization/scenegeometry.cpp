#include "visualization/scenegeometry.h"

#include "osg3dvisualization/scenestyle.h"

#include <osg/BlendFunc>
#include <osg/Depth>
#include <osg/LineWidth>

namespace {
osg::Vec4Array* overallColor(osg::Geometry* geometry) {
    osg::ref_ptr<osg::Vec4Array> color = new osg::Vec4Array(1);
    geometry->setColorArray(color.get(), osg::Array::BIND_OVERALL);
    return color.get();
}

void setOverall(osg::Geometry* geometry, const osg::Vec4& color) {
    auto* array = static_cast<osg::Vec4Array*>(geometry->getColorArray());
    (*array)[0] = color;
    array->dirty();
}

osg::Vec4 overall(const osg::Geometry* geometry) {
    return (*static_cast<const osg::Vec4Array*>(geometry->getColorArray()))[0];
}

osg::Geometry* dynamicGeometry() {
    auto* geometry = new osg::Geometry;
    geometry->setDataVariance(osg::Object::DYNAMIC);
    geometry->setUseDisplayList(false);
    geometry->setUseVertexBufferObjects(true);
    geometry->getOrCreateStateSet()->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
    return geometry;
}

void setPolyline(osg::Geometry* geometry, osg::Vec3Array* array, osg::DrawArrays* range,
                 const std::vector<osg::Vec3>& points) {
    array->assign(points.begin(), points.end());
    array->dirty();
    range->setCount(GLsizei(points.size()));
    range->dirty();
    geometry->dirtyBound();
}
} // namespace

void makeTranslucent(osg::StateSet* state) {
    state->setMode(GL_BLEND, osg::StateAttribute::ON);
    state->setAttributeAndModes(new osg::BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA));
    state->setAttributeAndModes(new osg::Depth(osg::Depth::LESS, 0.0, 1.0, false));
    state->setRenderingHint(osg::StateSet::TRANSPARENT_BIN);
}

BoxGeometry::BoxGeometry()
    : faces(dynamicGeometry()), edges(dynamicGeometry()), corners(new osg::Vec3Array(8)) {
    static const GLuint faceIndices[] = {0, 1, 2, 0, 2, 3, 4, 6, 5, 4, 7, 6, 0, 4, 5, 0, 5, 1,
                                         1, 5, 6, 1, 6, 2, 2, 6, 7, 2, 7, 3, 3, 7, 4, 3, 4, 0};
    static const GLuint edgeIndices[] = {0, 1, 1, 2, 2, 3, 3, 0, 4, 5, 5, 6,
                                         6, 7, 7, 4, 0, 4, 1, 5, 2, 6, 3, 7};
    faces->setVertexArray(corners.get());
    edges->setVertexArray(corners.get());
    faces->addPrimitiveSet(new osg::DrawElementsUInt(GL_TRIANGLES, 36, faceIndices));
    edges->addPrimitiveSet(new osg::DrawElementsUInt(GL_LINES, 24, edgeIndices));
    overallColor(faces.get());
    overallColor(edges.get());
    makeTranslucent(faces->getOrCreateStateSet());
    edges->getOrCreateStateSet()->setAttribute(new osg::LineWidth(2.0f));
    addDrawable(faces.get());
    addDrawable(edges.get());
}

void BoxGeometry::setBox(const osg::Vec3& c, const osg::Vec3& h) {
    center = c;
    halfExtents = h;
    const float sx[] = {-1, 1, 1, -1}, sy[] = {-1, -1, 1, 1};
    for (int i = 0; i < 4; ++i) {
        (*corners)[i] = c + osg::Vec3(sx[i] * h.x(), sy[i] * h.y(), -h.z());
        (*corners)[i + 4] = c + osg::Vec3(sx[i] * h.x(), sy[i] * h.y(), h.z());
    }
    corners->dirty();
    faces->dirtyBound();
    edges->dirtyBound();
}

void BoxGeometry::setColor(const osg::Vec4& color) {
    setOverall(edges.get(), color);
    setOverall(faces.get(), osg::Vec4(color.r(), color.g(), color.b(), color.a() * 0.35f));
}

osg::Vec4 BoxGeometry::getColor() const {
    return overall(edges.get());
}

LineGeometry::LineGeometry(GLenum mode, float width)
    : geometry(dynamicGeometry()), points(new osg::Vec3Array), range(new osg::DrawArrays(mode, 0, 0)) {
    geometry->setVertexArray(points.get());
    geometry->addPrimitiveSet(range.get());
    overallColor(geometry.get());
    geometry->getOrCreateStateSet()->setAttribute(new osg::LineWidth(width));
    addDrawable(geometry.get());
}

void LineGeometry::setPoints(const std::vector<osg::Vec3>& p) {
    setPolyline(geometry.get(), points.get(), range.get(), p);
}

void LineGeometry::setColor(const osg::Vec4& color) {
    setOverall(geometry.get(), color);
}

osg::Vec4 LineGeometry::getColor() const {
    return overall(geometry.get());
}

PolygonGeometry::PolygonGeometry()
    : geometry(dynamicGeometry()), points(new osg::Vec3Array),
      range(new osg::DrawArrays(GL_TRIANGLE_FAN, 0, 0)) {
    geometry->setVertexArray(points.get());
    geometry->addPrimitiveSet(range.get());
    overallColor(geometry.get());
    makeTranslucent(geometry->getOrCreateStateSet());
    geometry->getOrCreateStateSet()->setMode(GL_CULL_FACE, osg::StateAttribute::OFF);
    addDrawable(geometry.get());
}

void PolygonGeometry::setPoints(const std::vector<osg::Vec3>& p) {
    setPolyline(geometry.get(), points.get(), range.get(), p);
}

void PolygonGeometry::setColor(const osg::Vec4& color) {
    setOverall(geometry.get(), color);
}

osg::Vec4 PolygonGeometry::getColor() const {
    return overall(geometry.get());
}

osg::ref_ptr<osgText::Text> makeSceneText(float size, const osg::Vec4& color) {
    osg::ref_ptr<osgText::Text> text = new osgText::Text;
    text->setDataVariance(osg::Object::DYNAMIC);
    text->setFont(sceneFont());
    text->setCharacterSize(size);
    text->setAxisAlignment(osgText::Text::SCREEN);
    text->setAlignment(osgText::Text::CENTER_BOTTOM);
    text->setColor(color);
    return text;
}
